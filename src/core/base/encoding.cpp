#include "core/base/encoding.h"

#include <random>

namespace taskbell {
namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

std::string base64Encode(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        unsigned group = 0;
        for (std::size_t j = 0; j < 3; ++j) {
            group = group << 8 | (j < count ? static_cast<unsigned char>(bytes[i + j]) : 0u);
        }
        for (std::size_t j = 0; j < 4; ++j) {
            out += j <= count ? kAlphabet[(group >> (18 - 6 * j)) & 63] : '=';
        }
    }
    return out;
}

std::optional<std::string> base64Decode(std::string_view text)
{
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = text.ends_with("==") ? 2 : (text.ends_with('=') ? 1 : 0);
    std::string out;
    out.reserve(text.size() / 4 * 3);
    unsigned group = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool isPadding = i >= text.size() - padding;
        std::size_t value = isPadding ? 0 : kAlphabet.find(text[i]);
        if (value == std::string_view::npos) {
            return std::nullopt;
        }
        group = group << 6 | static_cast<unsigned>(value);
        if (i % 4 == 3) {
            out += {static_cast<char>(group >> 16), static_cast<char>((group >> 8) & 0xFF),
                    static_cast<char>(group & 0xFF)};
            group = 0;
        }
    }
    out.resize(out.size() - padding);
    return out;
}

Uuid randomUuid()
{
    std::random_device source;
    Uuid bytes{};
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        auto word = source();
        for (std::size_t j = 0; j < 4; ++j) {
            bytes[i + j] = static_cast<unsigned char>(word >> (8 * j));
        }
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    return bytes;
}

std::string uuidText(const Uuid& uuid)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < uuid.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text.push_back('-');
        }
        text.push_back(kHex[uuid[i] >> 4]);
        text.push_back(kHex[uuid[i] & 0x0F]);
    }
    return text;
}

} // namespace taskbell
