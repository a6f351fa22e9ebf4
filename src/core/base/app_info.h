#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/base/encoding.h"

namespace taskbell {

struct ChangelogEntry
{
    Uuid id; // fresh random UUID per run
    std::string version;
    std::string date;
    std::vector<std::string> changes;
};

namespace AppInfo {

// Newest first; built once on first use.
const std::vector<ChangelogEntry>& changelog();

// Inside a bundle: its Info.plist's CFBundleShortVersionString, else the newest changelog entry's
// version, else "1.0.0". Outside one (no bundle): builtIn (by default the version fixed at build time),
// else the same fallbacks. platform::runningVersion() applies this to the running bundle.
std::string versionOf(const std::optional<std::filesystem::path>& bundle);
std::string versionOf(const std::optional<std::filesystem::path>& bundle, const std::string& builtIn);
// Inside a bundle: its CFBundleVersion, else "1". Outside one: builtIn (by default the build number fixed
// at build time), else "1".
std::string buildOf(const std::optional<std::filesystem::path>& bundle);
std::string buildOf(const std::optional<std::filesystem::path>& bundle, const std::string& builtIn);

} // namespace AppInfo
} // namespace taskbell
