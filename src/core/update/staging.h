#pragma once

#include <filesystem>

// Where a verified update waits for the install script: beside the installed bundle, so that the script's
// moves are renames on one file system and a failed swap can always put the old bundle back.
namespace taskbell::update {

// The hidden sibling folder of the installed bundle: "<parent>/.<name>.update".
std::filesystem::path stagingFolder(const std::filesystem::path& installedBundle);

// Moves the verified bundle into a fresh staging folder (removing one left by an earlier install first)
// and returns the staged bundle's path. Across file systems the bundle is copied and the copy checked
// against the bundle's seal, so the bytes that were verified are the bytes that get installed. On failure
// the staging folder is removed again and the installed bundle is never touched. Throws UpdateError
// noSpace when the disk is full, else std::system_error.
std::filesystem::path stageBundle(const std::filesystem::path& verifiedBundle,
                                  const std::filesystem::path& installedBundle);

// Removes what the last install left: the staging folder (its script, a bundle that failed to start) and the
// previous bundle ("<installed>.old"), which the install script keeps until the relaunched program runs.
// Called when the application starts: a finished install has relaunched it, and a failed one has put the old
// bundle back.
void removeStaging(const std::filesystem::path& installedBundle) noexcept;

} // namespace taskbell::update
