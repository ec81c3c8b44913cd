// Sanitizer settings for test programs that run Qt WebEngine.
//
// Chromium inside libQt6WebEngineCore is not built with the sanitizers, and two of
// its habits trip them although this program is not involved:
//  - it frees some objects through a base type of another size (sized delete), which
//    AddressSanitizer reports as new-delete-type-mismatch inside the library;
//  - it keeps some process-wide objects to the end, which LeakSanitizer reports, and
//    so does the fontconfig state it loads for the pages' fonts.
// Leaks stay checked everywhere else: only those libraries' frames are excused from
// them. The sized-delete check cannot be limited to a library, so it is off for the
// whole of these test programs; the other test programs keep it.
extern "C" const char *__asan_default_options()
{
    return "new_delete_type_mismatch=0";
}

extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libQt6WebEngineCore.so\n"
           "leak:libfontconfig.so\n";
}
