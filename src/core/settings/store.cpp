#include "core/settings/store.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace taskbell {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kSettingsDepthLimit = 64;

std::string errnoText(int error)
{
    return std::generic_category().message(error);
}

[[noreturn]] void failSave(const fs::path& file, int error)
{
    throw SettingsError("Could not save the settings to " + file.string() + " \u2014 " + errnoText(error) + ".");
}

fs::path homeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home == '/') {
        return home;
    }
    // No usable HOME (started by a service manager, say): ask the password database.
    struct passwd entry
    {
    };
    struct passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir) {
        return found->pw_dir;
    }
    return "/";
}

// Closes a descriptor when it goes out of scope.
class Descriptor
{
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now so that a failing close (a late write error) can be reported.
    int close()
    {
        int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

enum class FileState { missing, valid, damaged };

struct FileContents
{
    FileState state = FileState::missing;
    Json object = Json::object();
};

// Damaged covers a file that exists but cannot be read, is not a regular file, is too large, does not
// parse or is not a JSON object: none of these may be silently replaced.
FileContents readSettingsFile(const fs::path& file)
{
    // O_NONBLOCK keeps a FIFO planted at the path from blocking the open.
    Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        return {errno == ENOENT || errno == ENOTDIR ? FileState::missing : FileState::damaged};
    }
    struct stat info
    {
    };
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return {FileState::damaged};
    }
    std::string text;
    char buffer[65536];
    while (text.size() <= SettingsStore::kMaxFileBytes) {
        ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return {FileState::damaged};
        }
        if (count == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(count));
    }
    if (text.size() > SettingsStore::kMaxFileBytes) {
        return {FileState::damaged};
    }
    std::optional<Json> parsed = parseJson(text, kSettingsDepthLimit);
    if (!parsed || !parsed->is_object()) {
        return {FileState::damaged};
    }
    return {FileState::valid, std::move(*parsed)};
}

void ensurePrivateFolder(const fs::path& folder)
{
    std::error_code ec;
    fs::create_directories(folder.parent_path(), ec);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        failSave(folder, errno);
    }
    struct stat info
    {
    };
    if (::stat(folder.c_str(), &info) != 0) {
        failSave(folder, errno);
    }
    if (!S_ISDIR(info.st_mode)) {
        failSave(folder, ENOTDIR);
    }
    // mkdir honours the umask and an older folder may be wider: the settings stay private either way.
    // Only group and other bits go; the owner's own choice (a read-only folder, say) and the special bits
    // are respected. A folder reached through a symbolic link is someone else's arrangement: left alone.
    struct stat own
    {
    };
    if (::lstat(folder.c_str(), &own) != 0 || S_ISLNK(own.st_mode)) {
        return;
    }
    if ((info.st_mode & 077) != 0 && ::chmod(folder.c_str(), info.st_mode & 07700) != 0) {
        failSave(folder, errno);
    }
}

// An exclusive flock on the lock file for as long as the object lives.
class FolderLock
{
public:
    explicit FolderLock(const fs::path& lockFile)
        : fd_(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600))
    {
        if (fd_.get() < 0) {
            failSave(lockFile, errno);
        }
        while (::flock(fd_.get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                failSave(lockFile, errno);
            }
        }
    }

private:
    Descriptor fd_;
};

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

} // namespace

void replaceFileAtomically(const fs::path& target, std::string_view bytes, unsigned mode)
{
    std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    Descriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        failSave(target, errno);
    }
    int error = 0;
    if (::fchmod(fd.get(), static_cast<mode_t>(mode)) != 0 || !writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0 ||
        fd.close() != 0 || ::rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno ? errno : EIO;
        ::unlink(temporary.c_str());
        failSave(target, error);
    }
    Descriptor folder(::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) {
        ::fsync(folder.get());
    }
}

namespace {

std::optional<std::int64_t> wholeNumber(const Json& value)
{
    if (value.is_number_unsigned()) {
        auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(number);
    }
    if (value.is_number_integer()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_float()) {
        double number = value.get<double>();
        // 2^63 itself is not representable, hence the strict upper bound.
        if (std::isfinite(number) && std::trunc(number) == number && number >= -9223372036854775808.0 &&
            number < 9223372036854775808.0) {
            return static_cast<std::int64_t>(number);
        }
        return std::nullopt;
    }
    if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        std::int64_t number = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (error == std::errc() && end == text.data() + text.size() && !text.empty()) {
            return number;
        }
    }
    return std::nullopt;
}

} // namespace

fs::path xdgConfigHome()
{
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/') {
        return config;
    }
    return homeFolder() / ".config";
}

SettingsValues::SettingsValues(Json object) : object_(object.is_object() ? std::move(object) : Json::object()) {}

const Json* SettingsValues::find(std::string_view key) const
{
    auto it = object_.find(key);
    return it == object_.end() ? nullptr : &*it;
}

std::optional<std::string> SettingsValues::text(std::string_view key) const
{
    const Json* value = find(key);
    if (!value) {
        return std::nullopt;
    }
    if (value->is_string()) {
        return value->get<std::string>();
    }
    if (value->is_number()) {
        return dumpJson(*value);
    }
    return std::nullopt;
}

std::optional<std::int64_t> SettingsValues::integer(std::string_view key) const
{
    const Json* value = find(key);
    return value ? wholeNumber(*value) : std::nullopt;
}

std::optional<Json> SettingsValues::object(std::string_view key) const
{
    const Json* value = find(key);
    return value ? std::optional<Json>(*value) : std::nullopt;
}

void SettingsValues::setText(std::string_view key, std::string_view value)
{
    object_[std::string(key)] = std::string(value);
}

void SettingsValues::setInteger(std::string_view key, std::int64_t value)
{
    object_[std::string(key)] = value;
}

void SettingsValues::setBoolean(std::string_view key, bool value)
{
    object_[std::string(key)] = value;
}

SettingsStore::SettingsStore() : SettingsStore(xdgConfigHome() / "com.quillet.taskbell") {}

SettingsStore::SettingsStore(fs::path folder) : folder_(std::move(folder)) {}

SettingsValues SettingsStore::load() const
{
    FileContents contents = readSettingsFile(filePath());
    return SettingsValues(contents.state == FileState::valid ? std::move(contents.object) : Json::object());
}

void SettingsStore::update(const std::function<void(SettingsValues&)>& change)
{
    ensurePrivateFolder(folder_);
    FolderLock lock(folder_ / kLockFileName);
    fs::path file = filePath();
    FileContents current = readSettingsFile(file);
    if (current.state == FileState::damaged) {
        // Keep what the user had for inspection instead of overwriting it.
        if (::rename(file.c_str(), (folder_ / kCorruptFileName).c_str()) != 0) {
            failSave(file, errno);
        }
    }
    SettingsValues values(current.state == FileState::valid ? std::move(current.object) : Json::object());
    change(values);
    std::string text = values.json().dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    replaceFileAtomically(file, text, 0600);
}

} // namespace taskbell
