#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>

namespace taskbell {

// SHA-256 as 64 lower-case hexadecimal digits.
std::string sha256Hex(std::string_view bytes);
// Streams the file (never follows a final symbolic link). Throws std::system_error when it cannot be read,
// Cancelled once the flag is set.
std::string sha256HexOfFile(const std::filesystem::path& path, const std::atomic<bool>* cancel = nullptr);

} // namespace taskbell
