// fontconfig keeps its configuration and caches for the life of the process; LeakSanitizer is
// told so here, so the sanitized program runs clean in the tests.
extern "C" char const* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
