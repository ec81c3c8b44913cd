# libFuzzer harnesses, built only in the fuzzing tree (scripts/fuzz.sh configures
# ./build-fuzz with clang and BRENNIC_FUZZ=ON; every other tree leaves them out).
#
# brennic_add_fuzzer(NAME fuzz_x SOURCES ... LIBS ...)
# The harness's starting corpus is the folder data/fuzz/<NAME> beside its sources,
# which scripts/fuzz.sh copies into a working corpus before each run.
option(BRENNIC_FUZZ "Build the libFuzzer harnesses (clang only)" OFF)

if(BRENNIC_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "BRENNIC_FUZZ needs clang (CMAKE_CXX_COMPILER=clang++)")
  endif()
  # Coverage for every library the harnesses link; the harness itself gets libFuzzer's main.
  # Undefined behaviour ends the run, as a finding, instead of being printed and passed over.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

function(brennic_add_fuzzer)
  if(NOT BRENNIC_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${F_NAME} ${F_SOURCES})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY BRENNIC_FUZZERS ${F_NAME})
  set_property(GLOBAL APPEND PROPERTY BRENNIC_FUZZ_CORPORA "${F_NAME}=${CMAKE_CURRENT_SOURCE_DIR}/data/fuzz/${F_NAME}")
endfunction()

# Written once every folder is added: the harnesses and their corpus folders, for scripts/fuzz.sh.
function(brennic_write_fuzzer_list)
  if(NOT BRENNIC_FUZZ)
    return()
  endif()
  get_property(corpora GLOBAL PROPERTY BRENNIC_FUZZ_CORPORA)
  string(REPLACE ";" "\n" lines "${corpora}")
  file(WRITE ${CMAKE_BINARY_DIR}/fuzzers.txt "${lines}\n")
endfunction()
