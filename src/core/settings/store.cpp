#include "core/settings/store.h"

#include <cerrno>
#include <charconv>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/base/file_io.h"

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
    FileBytes text = readFileBounded(file, SettingsStore::kMaxFileBytes);
    if (!text) {
        return {text.state == FileBytes::State::missing ? FileState::missing : FileState::damaged};
    }
    std::optional<Json> parsed = parseJson(text.bytes, kSettingsDepthLimit);
    if (!parsed || !parsed->is_object()) {
        return {FileState::damaged};
    }
    return {FileState::valid, std::move(*parsed)};
}

void ensureSettingsFolder(const fs::path& folder)
{
    try {
        ensurePrivateFolder(folder);
    } catch (const std::system_error& error) {
        failSave(folder, error.code().value());
    }
}

// An exclusive flock on the lock file for as long as the object lives.
class FolderLock
{
public:
    explicit FolderLock(const fs::path& lockFile)
        : fd_(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600))
    {
        if (!fd_.isOpen()) {
            failSave(lockFile, errno);
        }
        while (::flock(fd_.get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                failSave(lockFile, errno);
            }
        }
    }

private:
    FileDescriptor fd_;
};

// The atomic replacement with the settings' own failure text.
void saveFile(const fs::path& target, std::string_view bytes, unsigned mode)
{
    try {
        replaceFileAtomically(target, bytes, mode);
    } catch (const std::system_error& error) {
        failSave(target, error.code().value());
    }
}

std::optional<std::int64_t> wholeNumber(const Json& value)
{
    if (!value.is_string()) {
        return jsonInt64(value);
    }
    const std::string& text = value.get_ref<const std::string&>();
    std::int64_t number = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error == std::errc() && end == text.data() + text.size() && !text.empty()) {
        return number;
    }
    return std::nullopt;
}

} // namespace

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
    ensureSettingsFolder(folder_);
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
    saveFile(file, text, 0600);
}

} // namespace taskbell
