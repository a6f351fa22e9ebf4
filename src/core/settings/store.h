#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/base/json_util.h"

namespace taskbell {

// A save that could not be completed; what() is the text shown to the user. The previous file is left
// as it was.
class SettingsError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The stored settings as one JSON object, with the lookups and setters of the user defaults.
class SettingsValues
{
public:
    SettingsValues() = default;
    explicit SettingsValues(Json object);

    // Strings as they are; numbers give their decimal text.
    std::optional<std::string> text(std::string_view key) const;
    // Whole numbers, and strings holding one; anything else (or out of range) gives nothing.
    std::optional<std::int64_t> integer(std::string_view key) const;
    // The stored value with its JSON type.
    std::optional<Json> object(std::string_view key) const;

    void setText(std::string_view key, std::string_view value);
    void setInteger(std::string_view key, std::int64_t value);
    void setBoolean(std::string_view key, bool value);

    const Json& json() const { return object_; }

private:
    Json object_ = Json::object();
    const Json* find(std::string_view key) const;
};

// The settings file <folder>/settings.json. Reading never writes anything; every save is an atomic
// read-modify-write, serialized across threads and processes by a lock file in the folder.
class SettingsStore
{
public:
    static constexpr std::string_view kFileName = "settings.json";
    static constexpr std::string_view kCorruptFileName = "settings.json.corrupt";
    static constexpr std::string_view kLockFileName = "settings.lock";
    // A larger file is treated like one that does not parse.
    static constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;

    // The application's own folder, $XDG_CONFIG_HOME/com.quillet.taskbell.
    SettingsStore();
    explicit SettingsStore(std::filesystem::path folder);

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path filePath() const { return folder_ / kFileName; }

    // What is stored; nothing when the file is missing, unreadable or not a JSON object.
    SettingsValues load() const;

    // Reads the file under the lock, lets `change` edit the values and writes the result atomically
    // (file 0600, folder 0700). A file that does not parse is first kept aside as settings.json.corrupt.
    // Throws SettingsError.
    void update(const std::function<void(SettingsValues&)>& change);

private:
    std::filesystem::path folder_;
};

} // namespace taskbell
