#include "core/update/sha256.h"

#include <array>
#include <cerrno>
#include <memory>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "core/base/cancel.h"
#include "core/base/file_io.h"
#include "core/update/crypto.h"

namespace taskbell {
namespace {

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&::EVP_MD_CTX_free)>;

DigestContext newDigest()
{
    DigestContext context(crypto().EVP_MD_CTX_new(), crypto().EVP_MD_CTX_free);
    if (!context || crypto().EVP_DigestInit_ex(context.get(), crypto().EVP_sha256(), nullptr) != 1) {
        throw std::system_error(ENOTSUP, std::generic_category(), "SHA-256 is not available");
    }
    return context;
}

std::string finishHex(EVP_MD_CTX* context)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (crypto().EVP_DigestFinal_ex(context, digest.data(), &length) != 1) {
        throw std::system_error(EIO, std::generic_category(), "SHA-256 failed");
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(std::size_t{length} * 2);
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kHex[digest[i] >> 4]);
        hex.push_back(kHex[digest[i] & 0x0F]);
    }
    return hex;
}

} // namespace

std::string sha256Hex(std::string_view bytes)
{
    auto context = newDigest();
    crypto().EVP_DigestUpdate(context.get(), bytes.data(), bytes.size());
    return finishHex(context.get());
}

std::string sha256HexOfFile(const std::filesystem::path& path, const std::atomic<bool>* cancel)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.isOpen()) {
        throw std::system_error(errno, std::generic_category(), "Could not read " + path.string());
    }
    auto context = newDigest();
    std::array<char, 1 << 16> buffer{};
    for (;;) {
        throwIfCancelled(cancel);
        ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw std::system_error(errno, std::generic_category(), "Could not read " + path.string());
        }
        if (got == 0) {
            break;
        }
        crypto().EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(got));
    }
    return finishHex(context.get());
}

} // namespace taskbell
