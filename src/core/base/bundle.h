#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace taskbell::bundle {

// The nearest "*.app" folder above the executable that holds Contents/Info.plist; nothing when the
// executable does not run from a bundle.
std::optional<std::filesystem::path> bundleContaining(const std::filesystem::path& executable);

// A top-level string entry of a property list file (XML or binary). Nothing when the file is missing,
// does not parse, is not a dictionary, lacks the key, or the value is not a string.
std::optional<std::string> infoString(const std::filesystem::path& plist, const std::string& key);

// infoString of the bundle's Contents/Info.plist.
std::optional<std::string> bundleInfoString(const std::filesystem::path& bundle, const std::string& key);

} // namespace taskbell::bundle
