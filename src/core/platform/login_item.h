#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace taskbell::LoginItem {

// Where the autostart entry goes and what it starts; tests point both somewhere of their own.
struct Location
{
    std::filesystem::path configFolder; // the entry is <configFolder>/autostart/com.quillet.taskbell.desktop
    std::filesystem::path executable;
};

// $XDG_CONFIG_HOME (or ~/.config) and the running executable.
Location currentLocation();
std::filesystem::path entryPath(const Location& location);

// True when the wanted state was reached or already held; failures are not reported otherwise. Enabling
// writes the entry unless it is registered already (an entry for another executable is rewritten);
// disabling removes an enabled entry and leaves a missing or disabled one alone.
bool setEnabled(bool enabled, const Location& location = currentLocation());
// The entry exists, is not disabled (Hidden=true or X-GNOME-Autostart-enabled=false) and its Exec starts
// this location's executable.
bool isRegistered(const Location& location = currentLocation());

// The executable as one Exec= argument: quoted when it holds a reserved character, "%" doubled, and the
// string escapes of the file format applied on top.
std::string execValue(std::string_view executable);
std::string desktopEntry(const std::filesystem::path& executable);

} // namespace taskbell::LoginItem
