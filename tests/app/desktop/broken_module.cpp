// Application modules a release can carry but which never run the application, for the update round trip:
// built with TASKBELL_UNLINKABLE, one that needs a symbol no library has, so it fails when it is loaded, as a
// module built against another system's libraries would; otherwise one that loads and then ends at once
// with a failure.
#include <cstdio>

#ifdef TASKBELL_UNLINKABLE
extern "C" void taskbell_symbol_no_library_has();
extern "C" __attribute__((visibility("default"))) void taskbell_unlinkable()
{
    taskbell_symbol_no_library_has();
}
#endif

extern "C" __attribute__((visibility("default"))) int taskbell_app_main(int /*argc*/, char** /*argv*/)
{
    std::fputs("taskbell: this module ends at once.\n", stderr);
    return 1;
}
