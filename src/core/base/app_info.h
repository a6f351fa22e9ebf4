#pragma once

#include <array>
#include <string>
#include <vector>

namespace taskbell {

struct ChangelogEntry
{
    std::array<unsigned char, 16> id; // fresh random UUID per run
    std::string version;
    std::string date;
    std::vector<std::string> changes;
};

namespace AppInfo {

// The running bundle's CFBundleShortVersionString, else the version fixed at build time, else the
// newest changelog entry's version, else "1.0.0".
std::string version();
// The running bundle's CFBundleVersion, else the build number fixed at build time, else "1".
std::string build();
// Newest first; built once on first use.
const std::vector<ChangelogEntry>& changelog();

// The fallback rules on their own, for callers and tests that supply the Info values themselves.
std::string versionFrom(const std::string* infoVersion, const std::vector<ChangelogEntry>& log);
std::string buildFrom(const std::string* infoBuild);

} // namespace AppInfo
} // namespace taskbell
