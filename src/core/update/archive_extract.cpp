#include "core/update/archive_extract.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>
#include <sys/stat.h>

#include "core/base/cancel.h"
#include "core/base/system_library.h"
#include "core/update/code_resources.h"
#include "core/update/manifest.h"

namespace taskbell::update {
namespace {

namespace fs = std::filesystem;

// libarchive and the compression and XML libraries it brings are opened with the first update, not at start.
struct Archive
{
    decltype(&::archive_error_string) archive_error_string;
    decltype(&::archive_read_data_block) archive_read_data_block;
    decltype(&::archive_write_data_block) archive_write_data_block;
    decltype(&::archive_entry_pathname) archive_entry_pathname;
    decltype(&::archive_entry_filetype) archive_entry_filetype;
    decltype(&::archive_entry_hardlink) archive_entry_hardlink;
    decltype(&::archive_entry_symlink) archive_entry_symlink;
    decltype(&::archive_entry_set_pathname) archive_entry_set_pathname;
    decltype(&::archive_entry_perm) archive_entry_perm;
    decltype(&::archive_entry_set_perm) archive_entry_set_perm;
    decltype(&::archive_entry_size_is_set) archive_entry_size_is_set;
    decltype(&::archive_entry_size) archive_entry_size;
    decltype(&::archive_write_header) archive_write_header;
    decltype(&::archive_write_finish_entry) archive_write_finish_entry;
    decltype(&::archive_read_new) archive_read_new;
    decltype(&::archive_read_free) archive_read_free;
    decltype(&::archive_write_disk_new) archive_write_disk_new;
    decltype(&::archive_write_free) archive_write_free;
    decltype(&::archive_read_support_format_zip) archive_read_support_format_zip;
    decltype(&::archive_write_disk_set_options) archive_write_disk_set_options;
    decltype(&::archive_read_open_filename) archive_read_open_filename;
    decltype(&::archive_read_next_header) archive_read_next_header;
    decltype(&::archive_write_close) archive_write_close;
};

Archive loadArchive()
{
    SystemLibrary library("libarchive.so.13", "installing updates");
    Archive api{};
    TASKBELL_BIND(library, api, archive_error_string);
    TASKBELL_BIND(library, api, archive_read_data_block);
    TASKBELL_BIND(library, api, archive_write_data_block);
    TASKBELL_BIND(library, api, archive_entry_pathname);
    TASKBELL_BIND(library, api, archive_entry_filetype);
    TASKBELL_BIND(library, api, archive_entry_hardlink);
    TASKBELL_BIND(library, api, archive_entry_symlink);
    TASKBELL_BIND(library, api, archive_entry_set_pathname);
    TASKBELL_BIND(library, api, archive_entry_perm);
    TASKBELL_BIND(library, api, archive_entry_set_perm);
    TASKBELL_BIND(library, api, archive_entry_size_is_set);
    TASKBELL_BIND(library, api, archive_entry_size);
    TASKBELL_BIND(library, api, archive_write_header);
    TASKBELL_BIND(library, api, archive_write_finish_entry);
    TASKBELL_BIND(library, api, archive_read_new);
    TASKBELL_BIND(library, api, archive_read_free);
    TASKBELL_BIND(library, api, archive_write_disk_new);
    TASKBELL_BIND(library, api, archive_write_free);
    TASKBELL_BIND(library, api, archive_read_support_format_zip);
    TASKBELL_BIND(library, api, archive_write_disk_set_options);
    TASKBELL_BIND(library, api, archive_read_open_filename);
    TASKBELL_BIND(library, api, archive_read_next_header);
    TASKBELL_BIND(library, api, archive_write_close);
    return api;
}

const Archive& libarchive()
{
    static const Archive api = loadArchive();
    return api;
}

} // namespace

void loadArchiveLibrary()
{
    libarchive();
}

namespace {

using ArchivePtr = std::unique_ptr<archive, int (*)(archive*)>;

[[noreturn]] void fail(const std::string& message)
{
    throw UpdateError::badDownload("could not unzip (" + message + ")");
}

[[noreturn]] void failWith(archive* source)
{
    const char* message = libarchive().archive_error_string(source);
    fail(message != nullptr ? message : "unknown archive error");
}

// Splits an entry name into its components, dropping empty and "." ones. Nothing when the name is
// absolute, climbs with "..", or names nothing.
std::optional<std::vector<std::string>> safeComponents(const char* name)
{
    if (name == nullptr || *name == '\0' || *name == '/') {
        return std::nullopt;
    }
    std::vector<std::string> parts;
    std::string text(name);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('/', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string part = text.substr(start, end - start);
        if (part == "..") {
            return std::nullopt;
        }
        if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }
    if (parts.empty()) {
        return std::nullopt;
    }
    return parts;
}

// A link target may not leave the link's own folder tree: no absolute target and no "..". Without ".."
// every hop of a chain of links only goes deeper, so no chain can reach outside the extraction folder.
bool isContainedLinkTarget(const char* target)
{
    return safeComponents(target).has_value();
}

// Remembers what every path of the archive became, so no entry can replace an earlier one or be written
// through a non-folder (a file or a link) that an earlier entry created.
class PathLedger
{
public:
    void claim(const std::vector<std::string>& parts, mode_t type)
    {
        std::string path;
        for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
            path += (i == 0 ? "" : "/") + parts[i];
            auto [it, added] = kinds_.emplace(path, AE_IFDIR);
            if (!added && it->second != AE_IFDIR) {
                fail("entry \"" + path + "\" is used as a folder");
            }
        }
        path += (parts.size() == 1 ? "" : "/") + parts.back();
        auto [it, added] = kinds_.emplace(path, type);
        if (!added && (it->second != AE_IFDIR || type != AE_IFDIR)) {
            fail("duplicate entry \"" + path + "\"");
        }
    }

private:
    std::map<std::string, mode_t> kinds_;
};

void copyData(archive* reader, archive* writer, std::uint64_t& total, std::uint64_t maxBytes,
              const std::atomic<bool>* cancel)
{
    for (;;) {
        throwIfCancelled(cancel);
        const void* block = nullptr;
        std::size_t size = 0;
        la_int64_t offset = 0;
        int status = libarchive().archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF) {
            return;
        }
        if (status < ARCHIVE_WARN) {
            failWith(reader);
        }
        total += size;
        if (total > maxBytes) {
            fail("unpacked size exceeds " + std::to_string(maxBytes) + " bytes");
        }
        if (libarchive().archive_write_data_block(writer, block, size, offset) < ARCHIVE_WARN) {
            failWith(writer);
        }
    }
}

// Checks one entry, rewrites it to an absolute path below root with safe permissions, and writes it.
void extractEntry(archive* reader, archive* writer, archive_entry* entry, const fs::path& root, PathLedger& ledger,
                  std::uint64_t& total, const UnpackLimits& limits, const std::atomic<bool>* cancel)
{
    const char* name = libarchive().archive_entry_pathname(entry);
    auto parts = safeComponents(name);
    if (!parts) {
        fail("unsafe path \"" + std::string(name != nullptr ? name : "") + "\"");
    }
    mode_t type = libarchive().archive_entry_filetype(entry);
    if (libarchive().archive_entry_hardlink(entry) != nullptr) {
        fail("hard link \"" + std::string(name) + "\" is not allowed");
    }
    if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) {
        fail("unsupported entry type for \"" + std::string(name) + "\"");
    }
    if (type == AE_IFLNK && !isContainedLinkTarget(libarchive().archive_entry_symlink(entry))) {
        fail("symbolic link \"" + std::string(name) + "\" points outside the archive");
    }
    ledger.claim(*parts, type);

    fs::path target = root;
    for (const auto& part : *parts) {
        target /= part;
    }
    libarchive().archive_entry_set_pathname(entry, target.c_str());
    mode_t permissions = libarchive().archive_entry_perm(entry) & resources::kSealableModeBits;
    libarchive().archive_entry_set_perm(entry, type == AE_IFDIR ? (permissions | 0700) : permissions);
    // The declared size counts before anything is written: libarchive extends a file to it when the entry
    // ends, even when its data stopped short.
    if (type == AE_IFREG && libarchive().archive_entry_size_is_set(entry)) {
        auto declared = static_cast<std::uint64_t>(std::max<la_int64_t>(libarchive().archive_entry_size(entry), 0));
        if (declared > limits.maxBytes - std::min(total, limits.maxBytes) || total > limits.maxBytes) {
            fail("unpacked size exceeds " + std::to_string(limits.maxBytes) + " bytes");
        }
    }

    if (libarchive().archive_write_header(writer, entry) < ARCHIVE_WARN) {
        failWith(writer);
    }
    if (type == AE_IFREG) {
        copyData(reader, writer, total, limits.maxBytes, cancel);
    }
    if (libarchive().archive_write_finish_entry(writer) < ARCHIVE_WARN) {
        failWith(writer);
    }
}

// libarchive turns entry names into the current locale's character set; under the C locale a name
// outside ASCII then reads as nothing. This thread reads and writes names as UTF-8 while it unpacks,
// whatever the process locale is.
class Utf8Names
{
public:
    Utf8Names() : utf8_(::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr)))
    {
        if (utf8_ == static_cast<locale_t>(nullptr)) {
            utf8_ = ::newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(nullptr));
        }
        if (utf8_ != static_cast<locale_t>(nullptr)) {
            previous_ = ::uselocale(utf8_);
        }
    }
    ~Utf8Names()
    {
        if (utf8_ != static_cast<locale_t>(nullptr)) {
            ::uselocale(previous_);
            ::freelocale(utf8_);
        }
    }
    Utf8Names(const Utf8Names&) = delete;
    Utf8Names& operator=(const Utf8Names&) = delete;

private:
    locale_t utf8_;
    locale_t previous_ = LC_GLOBAL_LOCALE;
};

void extractAll(const fs::path& archivePath, const fs::path& root, const UnpackLimits& limits,
                const std::atomic<bool>* cancel)
{
    Utf8Names names;
    ArchivePtr reader(libarchive().archive_read_new(), libarchive().archive_read_free);
    ArchivePtr writer(libarchive().archive_write_disk_new(), libarchive().archive_write_free);
    if (!reader || !writer) {
        fail("out of memory");
    }
    libarchive().archive_read_support_format_zip(reader.get());
    // Our own checks above come first; these make libarchive refuse the same things once more.
    libarchive().archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                                  ARCHIVE_EXTRACT_SECURE_SYMLINKS);
    if (libarchive().archive_read_open_filename(reader.get(), archivePath.c_str(), 1 << 16) != ARCHIVE_OK) {
        failWith(reader.get());
    }
    PathLedger ledger;
    std::uint64_t total = 0;
    std::size_t count = 0;
    for (;;) {
        throwIfCancelled(cancel);
        archive_entry* entry = nullptr;
        int status = libarchive().archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF) {
            break;
        }
        if (status < ARCHIVE_WARN) {
            failWith(reader.get());
        }
        if (++count > limits.maxEntries) {
            fail("more than " + std::to_string(limits.maxEntries) + " entries");
        }
        extractEntry(reader.get(), writer.get(), entry, root, ledger, total, limits, cancel);
    }
    if (libarchive().archive_write_close(writer.get()) != ARCHIVE_OK) {
        failWith(writer.get());
    }
}

fs::path firstBundle(const fs::path& root)
{
    std::error_code ec;
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        // A link named *.app is never taken: the bundle must be a real folder inside the work folder.
        if (it->path().extension() == ".app" && it->is_directory(ec) && !it->is_symlink(ec)) {
            return it->path();
        }
    }
    if (ec) {
        throw std::system_error(ec, "Could not list " + root.string());
    }
    throw UpdateError::badDownload("no .app inside the archive");
}

} // namespace

fs::path unpack(const fs::path& archive, const UnpackLimits& limits, const std::atomic<bool>* cancel)
{
    fs::path unpacked = fs::absolute(archive).parent_path() / "unpacked";
    if (::mkdir(unpacked.c_str(), 0700) != 0) {
        throw std::system_error(errno, std::generic_category(), "Could not create " + unpacked.string());
    }
    // Resolved once so that libarchive's link checks never trip over a linked temporary folder above us.
    fs::path root = fs::canonical(unpacked);
    extractAll(archive, root, limits, cancel);
    return firstBundle(root);
}

} // namespace taskbell::update
