#include "core/update/staging.h"

#include <cerrno>
#include <optional>
#include <string>
#include <system_error>

#include <sys/stat.h>

#include "core/base/file_io.h"
#include "core/update/code_resources.h"
#include "core/update/manifest.h"

namespace taskbell::update {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSealPath = "Contents/_CodeSignature";

// Seal files are small; anything larger is no seal of ours.
constexpr std::size_t kMaxSealFileBytes = std::size_t{16} << 20;

std::optional<std::string> readWhole(const fs::path& file)
{
    FileBytes read = readFileBounded(file, kMaxSealFileBytes, /*followFinalLink=*/false);
    return read ? std::optional(std::move(read.bytes)) : std::nullopt;
}

// The copy carries the same seal files, and exactly the sealed files with the sealed digests and modes.
bool copyMatchesSeal(const fs::path& original, const fs::path& copy)
{
    for (const char* name : {"CodeResources", "Signature", "TeamIdentifier"}) {
        auto mine = readWhole(original / kSealPath / name);
        if (!mine || readWhole(copy / kSealPath / name) != mine) {
            return false;
        }
    }
    auto text = readWhole(copy / kSealPath / "CodeResources");
    auto sealed = text ? resources::parse(*text) : std::nullopt;
    if (!sealed) {
        return false;
    }
    try {
        return !resources::firstDifference(sealed->items, copy, resources::scan(copy, true));
    } catch (const std::exception&) {
        return false;
    }
}

std::uintmax_t treeBytes(const fs::path& root)
{
    std::uintmax_t total = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file(ec)) {
            total += it->file_size(ec);
        }
    }
    return total;
}

// ENOSPC or EDQUOT, or the EIO the library reports for a file it could only partly write, while the
// destination has less room left than the whole bundle needs.
bool diskFull(const std::error_code& ec, const fs::path& from, const fs::path& to)
{
    if (ec == std::errc::no_space_on_device || ec.value() == EDQUOT) {
        return true;
    }
    std::error_code ignored;
    auto space = fs::space(to.parent_path(), ignored);
    return ec == std::errc::io_error && !ignored && space.available < treeBytes(from);
}

void copyBundle(const fs::path& from, const fs::path& to)
{
    try {
        fs::copy(from, to, fs::copy_options::recursive);
    } catch (const fs::filesystem_error& error) {
        if (diskFull(error.code(), from, to)) {
            throw UpdateError::noSpace();
        }
        throw;
    }
    if (!copyMatchesSeal(from, to)) {
        throw std::system_error(EIO, std::generic_category(), "Could not copy the update to " + to.string());
    }
}

} // namespace

fs::path stagingFolder(const fs::path& installedBundle)
{
    fs::path installed = fs::absolute(installedBundle);
    return installed.parent_path() / ("." + installed.filename().string() + ".update");
}

fs::path stageBundle(const fs::path& verifiedBundle, const fs::path& installedBundle)
{
    fs::path folder = stagingFolder(installedBundle);
    fs::remove_all(folder); // a link is removed, never followed
    if (::mkdir(folder.c_str(), 0700) != 0) {
        throw std::system_error(errno, std::generic_category(), "Could not create " + folder.string());
    }
    fs::path staged = folder / fs::absolute(verifiedBundle).filename();
    try {
        std::error_code ec;
        fs::rename(verifiedBundle, staged, ec);
        if (ec == std::errc::cross_device_link) {
            copyBundle(verifiedBundle, staged);
        } else if (ec) {
            throw std::system_error(ec, "Could not move the update to " + staged.string());
        }
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        throw;
    }
    return staged;
}

void removeStaging(const fs::path& installedBundle) noexcept
{
    std::error_code ignored;
    fs::path folder = stagingFolder(installedBundle);
    // The previous bundle is renamed away in one step before it is deleted, so an install script watching
    // this start never finds a half-deleted copy to put back.
    fs::path previous = installedBundle;
    previous += ".old";
    if (fs::is_directory(fs::symlink_status(previous, ignored))) {
        ::mkdir(folder.c_str(), 0700); // an existing folder is fine; a failed rename leaves the copy whole
        fs::rename(previous, folder / "previous", ignored);
    }
    fs::remove_all(folder, ignored);
}

} // namespace taskbell::update
