// Launch at login as an XDG autostart entry.
#include "core/platform/login_item.h"

#include <map>
#include <system_error>

#include "core/base/file_io.h"
#include "core/platform/executable.h"

namespace taskbell::LoginItem {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxEntryBytes = std::size_t{64} * 1024;

bool isReserved(char c)
{
    return std::string_view(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string_view::npos;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// The keys of the main group ("[Desktop Entry]"), the last one winning.
std::map<std::string, std::string, std::less<>> mainGroup(std::string_view text)
{
    std::map<std::string, std::string, std::less<>> keys;
    bool inMainGroup = false;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.starts_with('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        std::size_t equals = line.find('=');
        if (inMainGroup && equals != std::string_view::npos) {
            keys[std::string(trimmed(line.substr(0, equals)))] = std::string(trimmed(line.substr(equals + 1)));
        }
    }
    return keys;
}

// Desktop environments skip an entry whose main group says Hidden=true or X-GNOME-Autostart-enabled=false.
bool saysDisabled(const std::map<std::string, std::string, std::less<>>& keys)
{
    auto says = [&keys](std::string_view key, std::string_view value) {
        auto found = keys.find(key);
        return found != keys.end() && found->second == value;
    };
    return says("Hidden", "true") || says("X-GNOME-Autostart-enabled", "false");
}

enum class EntryState { missing, disabled, other, registered };

EntryState entryState(const Location& location)
{
    FileBytes text = readFileBounded(entryPath(location), kMaxEntryBytes);
    if (text.state == FileBytes::State::missing) {
        return EntryState::missing;
    }
    auto keys = mainGroup(text.bytes);
    if (saysDisabled(keys)) {
        return EntryState::disabled;
    }
    auto exec = keys.find("Exec");
    bool ours = text && !location.executable.empty() && exec != keys.end() &&
                exec->second == execValue(location.executable.string());
    return ours ? EntryState::registered : EntryState::other;
}

} // namespace

Location currentLocation()
{
    return {xdgConfigHome(), platform::runningExecutable().value_or(fs::path())};
}

fs::path entryPath(const Location& location)
{
    return location.configFolder / "autostart" / "com.quillet.taskbell.desktop";
}

std::string execValue(std::string_view executable)
{
    bool quote = false;
    for (char c : executable) {
        quote = quote || isReserved(c);
    }
    // First the argument quoting of the Exec key, with "%" doubled so it is no field code...
    std::string argument = quote ? "\"" : "";
    for (char c : executable) {
        if (c == '%') {
            argument += "%%";
            continue;
        }
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            argument += '\\';
        }
        argument += c;
    }
    if (quote) {
        argument += '"';
    }
    // ...then the escapes of a string value, which readers undo before they split the arguments.
    std::string value;
    for (char c : argument) {
        switch (c) {
        case '\\':
            value += "\\\\";
            break;
        case '\n':
            value += "\\n";
            break;
        case '\t':
            value += "\\t";
            break;
        case '\r':
            value += "\\r";
            break;
        default:
            value += c;
        }
    }
    return value;
}

std::string desktopEntry(const fs::path& executable)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Taskbell\n"
           "Comment=Your Jira Cloud tasks in the tray\n"
           "Exec=" +
           execValue(executable.string()) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool isRegistered(const Location& location)
{
    return entryState(location) == EntryState::registered;
}

bool setEnabled(bool enabled, const Location& location)
{
    EntryState state = entryState(location);
    fs::path entry = entryPath(location);
    std::error_code ec;
    if (!enabled) {
        // An entry that is missing or already disabled is left exactly as it is.
        if (state == EntryState::missing || state == EntryState::disabled) {
            return true;
        }
        fs::remove(entry, ec);
        return !ec;
    }
    if (state == EntryState::registered) {
        return true;
    }
    if (location.executable.empty()) {
        return false;
    }
    fs::create_directories(entry.parent_path(), ec);
    try {
        replaceFileAtomically(entry, desktopEntry(location.executable), 0644);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

} // namespace taskbell::LoginItem
