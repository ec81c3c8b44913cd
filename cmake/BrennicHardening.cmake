# Debian's hardening flags, as dpkg-buildflags gives them for a package built with
# hardening=+all: fortified C library calls, a stack protector, and a read-only
# relocation table bound at start. Every target takes them through
# brennic_options; the sanitizer and fuzzing trees bring their own checks and
# build without them, and unoptimised builds leave out the fortified calls, which
# need the optimiser.
option(BRENNIC_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)" ON)

function(brennic_buildflags kind out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${BRENNIC_DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE flags
    OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  # The build type chooses optimisation and debug information; file paths stay as they are.
  list(FILTER flags EXCLUDE REGEX "^-(g|O.*|f(file|debug|macro)-prefix-map=.*)$")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

if(BRENNIC_HARDENING AND NOT BRENNIC_SANITIZE AND NOT BRENNIC_SANITIZE_THREAD AND NOT BRENNIC_FUZZ)
  find_program(BRENNIC_DPKG_BUILDFLAGS dpkg-buildflags)
  if(BRENNIC_DPKG_BUILDFLAGS)
    brennic_buildflags(CPPFLAGS _hardening_cpp)
    brennic_buildflags(CXXFLAGS _hardening_cxx)
    brennic_buildflags(LDFLAGS _hardening_ld)
    target_compile_options(brennic_options INTERFACE
      $<$<NOT:$<CONFIG:Debug>>:${_hardening_cpp}> ${_hardening_cxx})
    target_link_options(brennic_options INTERFACE ${_hardening_ld})
    message(STATUS "Hardening flags: ${_hardening_cpp} ${_hardening_cxx} ${_hardening_ld}")
  else()
    message(STATUS "dpkg-buildflags not found: building without Debian's hardening flags")
  endif()
endif()
