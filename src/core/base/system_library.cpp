#include "core/base/system_library.h"

#include <dlfcn.h>

namespace taskbell {

SystemLibrary::SystemLibrary(const char* soname, const char* feature) : soname_(soname), feature_(feature)
{
    // A name with a slash would be opened as a path; only plain sonames go through the search.
    if (soname_.find('/') != std::string::npos) {
        throw LibraryError("Taskbell refuses to load " + soname_ + ": only installed libraries are used.");
    }
    handle_ = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* reason = ::dlerror();
        throw LibraryError("Taskbell cannot load " + soname_ + ", which it needs for " + feature_ + " (" +
                           (reason != nullptr ? reason : "unknown reason") + ").");
    }
}

void* SystemLibrary::address(const char* name) const
{
    ::dlerror();
    void* symbol = ::dlsym(handle_, name);
    if (symbol == nullptr) {
        throw LibraryError("The installed " + soname_ + " lacks " + name + ", which Taskbell needs for " + feature_ +
                           "; a newer version of the library is needed.");
    }
    return symbol;
}

} // namespace taskbell
