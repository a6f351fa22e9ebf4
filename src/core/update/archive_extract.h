#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace taskbell::update {

// Ceilings that stop a hostile or broken archive before it fills the disk.
struct UnpackLimits
{
    std::size_t maxEntries = 100'000;
    std::uint64_t maxBytes = std::uint64_t{1} << 30; // total uncompressed size of all files
};

// Extracts the zip archive into a new "unpacked" folder beside it and returns the first top-level folder
// (in directory listing order) whose extension is "app". Extraction is confined to that folder: absolute
// paths, "..", entries that would replace or pass through another entry, hard links, devices and
// symbolic links whose target is absolute or climbs with ".." are refused; owners are never taken from
// the archive and set-user-id, set-group-id and sticky bits and group/other write permission are dropped.
// Throws UpdateError::badDownload ("could not unzip (...)", "no .app inside the archive") or
// std::system_error when the folder cannot be created, or Cancelled once the flag is set; LibraryError
// when libarchive cannot be opened (it is opened with the first call).
std::filesystem::path unpack(const std::filesystem::path& archive, const UnpackLimits& limits = {},
                             const std::atomic<bool>* cancel = nullptr);

// Opens libarchive now rather than with the first unpack. Throws LibraryError.
void loadArchiveLibrary();

} // namespace taskbell::update
