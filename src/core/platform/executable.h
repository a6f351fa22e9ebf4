#pragma once

#include <filesystem>
#include <optional>
#include <string>

// The running program: its executable, the bundle it runs from, and the version and build it reports.
namespace taskbell::platform {

// The absolute path of the running executable; nothing when the system cannot tell.
std::optional<std::filesystem::path> runningExecutable();

// bundle::bundleContaining of the running executable.
std::optional<std::filesystem::path> runningBundle();

// AppInfo::versionOf and AppInfo::buildOf of the running bundle, worked out once.
const std::string& runningVersion();
const std::string& runningBuild();

} // namespace taskbell::platform
