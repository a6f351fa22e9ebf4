#pragma once

#include <stdexcept>
#include <string>

// Libraries that only some features need (the network stack, the keyring client) are opened when first used
// instead of at start: the desktop application's tray icon appears without waiting for the loader to map and
// relocate them, and a missing one costs that feature only, with a text saying why.
namespace taskbell {

// what() names the library, the feature that needs it and the loader's reason.
class LibraryError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// One library opened by its soname through the dynamic loader's usual search (the caller's RUNPATH, so a
// bundle's own Contents/lib, then the system's folders); never a path relative to the working directory.
// Every symbol of the library is bound at once, so a broken library fails here, not halfway through a call.
// The library stays loaded for the life of the process.
class SystemLibrary
{
public:
    // `feature` completes "Taskbell needs it for ...". Throws LibraryError.
    SystemLibrary(const char* soname, const char* feature);

    // Throws LibraryError when the library lacks the symbol.
    template <typename Function> Function get(const char* name) const
    {
        return reinterpret_cast<Function>(address(name));
    }

private:
    void* address(const char* name) const;

    void* handle_;
    std::string soname_;
    std::string feature_;
};

} // namespace taskbell

// Binds `api.name` to the library's function of the same name, typed by its declaration in the C header.
#define TASKBELL_BIND(library, api, name) (api).name = (library).get<decltype(&::name)>(#name)
