// Evolution Data Server's client library keeps its registry's D-Bus objects for the life of the
// process (made on a thread of its own); LeakSanitizer is told so here, so the sanitized service
// runs clean in the tests. The allocations are found by library only on whole stacks, which GLib's
// code without frame pointers gives only to the slow unwinder.
extern "C" char const* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" char const* __lsan_default_suppressions()
{
    return "leak:libedataserver-1.2.so\nleak:libedata-book-1.2.so\nleak:libebook-1.2.so\n";
}
