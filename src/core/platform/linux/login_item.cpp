// Launch at login as an XDG autostart entry.
#include "core/platform/login_item.h"

#include <array>
#include <fstream>
#include <system_error>

#include <unistd.h>

#include "core/settings/store.h"

namespace taskbell::LoginItem {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxEntryBytes = std::size_t{64} * 1024;

fs::path runningExecutable()
{
    std::array<char, 4096> buffer{};
    ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) {
        return {};
    }
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

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

// Desktop environments skip an entry whose main group says Hidden=true or X-GNOME-Autostart-enabled=false.
bool saysDisabled(std::string_view text)
{
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
        if (!inMainGroup || equals == std::string_view::npos) {
            continue;
        }
        std::string_view key = trimmed(line.substr(0, equals));
        std::string_view value = trimmed(line.substr(equals + 1));
        if ((key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return true;
        }
    }
    return false;
}

} // namespace

Location currentLocation()
{
    return {xdgConfigHome(), runningExecutable()};
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
    fs::path entry = entryPath(location);
    std::error_code ec;
    if (!fs::is_regular_file(entry, ec)) {
        return false;
    }
    std::ifstream in(entry, std::ios::binary);
    if (!in) {
        return false;
    }
    std::string text(kMaxEntryBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return !saysDisabled(text);
}

bool setEnabled(bool enabled, const Location& location)
{
    fs::path entry = entryPath(location);
    std::error_code ec;
    if (!enabled) {
        fs::remove(entry, ec);
        return !ec;
    }
    if (isRegistered(location)) {
        return true;
    }
    if (location.executable.empty()) {
        return false;
    }
    fs::create_directories(entry.parent_path(), ec);
    try {
        replaceFileAtomically(entry, desktopEntry(location.executable), 0644);
    } catch (const SettingsError&) {
        return false;
    }
    return true;
}

} // namespace taskbell::LoginItem
