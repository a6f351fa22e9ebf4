#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace taskbell {

// Standard Base64 (RFC 4648 alphabet, "=" padding).
std::string base64Encode(std::string_view bytes);
// Nothing unless the text is whole groups of four alphabet characters with padding only at the end.
std::optional<std::string> base64Decode(std::string_view text);

using Uuid = std::array<unsigned char, 16>;
// A random (version 4, RFC 4122 variant) UUID.
Uuid randomUuid();
// Upper-case 8-4-4-4-12 form.
std::string uuidText(const Uuid& uuid);

} // namespace taskbell
