#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace taskbell {

// SHA-256 as 64 lower-case hexadecimal digits.
std::string sha256Hex(std::string_view bytes);
// Streams the file (never follows a final symbolic link). Throws std::system_error when it cannot be read.
std::string sha256HexOfFile(const std::filesystem::path& path);

} // namespace taskbell
