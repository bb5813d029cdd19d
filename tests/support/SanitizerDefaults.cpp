// fontconfig keeps its configuration and caches for the life of the process; LeakSanitizer is
// told so here, so every test binary runs clean without options from its environment.
extern "C" char const* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
