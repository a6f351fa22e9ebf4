#include "update_fixtures.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <unistd.h>

#include "temp_dir.h"

namespace taskbell::test {
namespace {

namespace fs = std::filesystem;

void check(int status, archive* a)
{
    if (status < ARCHIVE_WARN) {
        throw std::runtime_error(std::string("libarchive: ") + archive_error_string(a));
    }
}

void addEntry(archive* zip, const ZipEntry& spec)
{
    std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(), &archive_entry_free);
    archive_entry_set_pathname(entry.get(), spec.name.c_str());
    archive_entry_set_perm(entry.get(), spec.mode);
    const bool file = spec.type == ZipEntry::Type::file;
    archive_entry_set_filetype(entry.get(), file                                  ? AE_IFREG
                                            : spec.type == ZipEntry::Type::folder ? AE_IFDIR
                                                                                  : AE_IFLNK);
    if (spec.type == ZipEntry::Type::link) {
        archive_entry_set_symlink(entry.get(), spec.data.c_str());
    } else if (file) {
        archive_entry_set_size(entry.get(), static_cast<la_int64_t>(spec.data.size() + spec.zeros));
    }
    check(archive_write_header(zip, entry.get()), zip);
    if (file) {
        archive_write_data(zip, spec.data.data(), spec.data.size());
        std::string chunk(std::size_t{1} << 20, '\0');
        for (std::size_t left = spec.zeros, n; left > 0; left -= n) {
            n = std::min(left, chunk.size());
            archive_write_data(zip, chunk.data(), n);
        }
    }
}

} // namespace

void writeZip(const fs::path& path, const std::vector<ZipEntry>& entries)
{
    std::unique_ptr<archive, decltype(&archive_write_free)> zip(archive_write_new(), &archive_write_free);
    check(archive_write_set_format_zip(zip.get()), zip.get());
    check(archive_write_zip_set_compression_deflate(zip.get()), zip.get());
    check(archive_write_open_filename(zip.get(), path.c_str()), zip.get());
    for (const auto& entry : entries) {
        addEntry(zip.get(), entry);
    }
    check(archive_write_close(zip.get()), zip.get());
}

void zipFolder(const fs::path& zip, const fs::path& folder)
{
    std::string top = folder.filename().string();
    std::vector<ZipEntry> entries{{top + "/", ZipEntry::Type::folder, "", 0755}};
    for (const auto& relative : listTree(folder)) {
        fs::path full = folder / relative;
        auto status = fs::symlink_status(full);
        auto mode = static_cast<unsigned>(status.permissions()) & 07777;
        std::string name = top + "/" + relative;
        if (fs::is_symlink(status)) {
            entries.push_back({name, ZipEntry::Type::link, fs::read_symlink(full).string(), 0777});
        } else if (fs::is_directory(status)) {
            entries.push_back({name + "/", ZipEntry::Type::folder, "", mode});
        } else {
            entries.push_back({name, ZipEntry::Type::file, readFile(full), mode});
        }
    }
    writeZip(zip, entries);
}

fs::path makeBundle(const fs::path& folder, const std::string& name, const BundleSpec& spec)
{
    fs::path bundle = folder / name;
    writeFile(bundle / "Contents" / "Info.plist", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist "
                                                  "version=\"1.0\">\n<dict>\n"
                                                  "    <key>CFBundleIdentifier</key>\n    <string>" +
                                                      spec.identifier +
                                                      "</string>\n"
                                                      "    <key>CFBundleShortVersionString</key>\n    <string>" +
                                                      spec.version +
                                                      "</string>\n"
                                                      "    <key>CFBundleExecutable</key>\n    "
                                                      "<string>taskbell</string>\n</dict>\n</plist>\n");
    writeFile(bundle / "Contents" / "bin" / "taskbell", spec.executable);
    ::chmod((bundle / "Contents" / "bin" / "taskbell").c_str(), 0755);
    ::chmod((bundle / "Contents" / "Info.plist").c_str(), 0644);
    return bundle;
}

LaunchProbe::LaunchProbe(fs::path path) : path_(std::move(path))
{
    if (::mkfifo(path_.c_str(), 0600) != 0) {
        throw std::runtime_error("mkfifo failed");
    }
    reader_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/bin/sh", "-c", "exec 3<>\"$0\" && exec cat <&3", path_.string()});
}

std::string LaunchProbe::executable() const
{
    return kStartCheckAnswer + "echo \"$0\" > '" + path_.string() + "'\n";
}

} // namespace taskbell::test
