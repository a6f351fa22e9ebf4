#include "core/update/code_signature.h"

#include <memory>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "core/base/bundle.h"
#include "core/base/cancel.h"
#include "core/base/encoding.h"
#include "core/base/file_io.h"
#include "core/base/text_util.h"
#include "core/update/code_resources.h"
#include "core/update/crypto.h"
#include "core/update/manifest.h"

namespace taskbell::update {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kEd25519KeyBytes = 32;
constexpr std::size_t kEd25519SignatureBytes = 64;
constexpr std::size_t kMaxCodeResourcesBytes = std::size_t{32} << 20;

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&::EVP_PKEY_free)>;
using DigestPtr = std::unique_ptr<EVP_MD_CTX, decltype(&::EVP_MD_CTX_free)>;
using BioPtr = std::unique_ptr<BIO, decltype(&::BIO_free)>;

fs::path sealFolder(const fs::path& bundle)
{
    return bundle / "Contents" / "_CodeSignature";
}

KeyPtr loadPrivateKey(std::string_view pem)
{
    BioPtr bio(crypto().BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), crypto().BIO_free);
    KeyPtr key(bio ? crypto().PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr,
               crypto().EVP_PKEY_free);
    if (!key || crypto().EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
        throw SigningError("not an Ed25519 private key in PEM form");
    }
    return key;
}

std::string rawPublicKey(EVP_PKEY* key)
{
    unsigned char raw[kEd25519KeyBytes];
    std::size_t size = sizeof raw;
    if (crypto().EVP_PKEY_get_raw_public_key(key, raw, &size) != 1 || size != sizeof raw) {
        throw SigningError("could not read the public key");
    }
    return base64Encode(std::string_view(reinterpret_cast<const char*>(raw), size));
}

std::string signBytes(EVP_PKEY* key, std::string_view data)
{
    DigestPtr context(crypto().EVP_MD_CTX_new(), crypto().EVP_MD_CTX_free);
    std::string signature(kEd25519SignatureBytes, '\0');
    std::size_t size = signature.size();
    if (!context || crypto().EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key) != 1 ||
        crypto().EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                                reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1 ||
        size != kEd25519SignatureBytes) {
        throw SigningError("signing failed");
    }
    return signature;
}

bool verifyBytes(const std::string& rawKey, std::string_view data, std::string_view signature)
{
    KeyPtr key(crypto().EVP_PKEY_new_raw_public_key(
                   EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(rawKey.data()), rawKey.size()),
               crypto().EVP_PKEY_free);
    DigestPtr context(crypto().EVP_MD_CTX_new(), crypto().EVP_MD_CTX_free);
    return key && context && crypto().EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
           crypto().EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                                     signature.size(), reinterpret_cast<const unsigned char*>(data.data()),
                                     data.size()) == 1;
}

// Teams come from the downloaded bundle: keep what we echo short and printable.
std::string shownTeam(std::string_view team)
{
    std::string shown;
    for (char c : team.substr(0, 32)) {
        shown.push_back(static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F ? '?' : c);
    }
    return shown;
}

[[noreturn]] void reject(std::string message)
{
    throw UpdateError::signature(std::move(message));
}

// The seal's own files: the team, the listing and its signature, checked against the trusted key.
resources::Sealed readVerifiedSeal(const fs::path& bundle, std::string_view trustedPublicKey)
{
    auto folder = sealFolder(bundle);
    // The seal's files are read without following a final link.
    auto read = [&folder](const char* name, std::size_t maxBytes) -> std::optional<std::string> {
        FileBytes file = readFileBounded(folder / name, maxBytes, false);
        return file ? std::optional<std::string>(std::move(file.bytes)) : std::nullopt;
    };
    auto teamFile = read("TeamIdentifier", 256);
    auto listing = read("CodeResources", kMaxCodeResourcesBytes);
    auto signature = read("Signature", kEd25519SignatureBytes);
    if (!teamFile || !listing || !signature) {
        reject("bundle is not signed");
    }
    std::string team(trimWhitespaceAndNewlines(*teamFile));
    if (team != kTeamIdentifier) {
        reject("signed by team " + shownTeam(team) + ", not " + std::string(kTeamIdentifier));
    }
    auto rawKey = base64Decode(trimWhitespaceAndNewlines(trustedPublicKey));
    if (!rawKey || rawKey->size() != kEd25519KeyBytes) {
        reject("no trusted key to verify with");
    }
    if (signature->size() != kEd25519SignatureBytes || !verifyBytes(*rawKey, *listing, *signature)) {
        reject("invalid signature");
    }
    auto sealed = resources::parse(*listing);
    if (!sealed) {
        reject("Contents/_CodeSignature/CodeResources: malformed");
    }
    if (sealed->team != team) {
        reject("TeamIdentifier does not match the sealed team");
    }
    return std::move(*sealed);
}

} // namespace

void verifySignature(const fs::path& bundle, std::string_view trustedPublicKey, const std::atomic<bool>* cancel)
{
    throwIfCancelled(cancel);
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(bundle, ec))) {
        reject("bundle is not a folder");
    }
    // Scan first: a link anywhere (the seal folder included) is refused before any file is read through it.
    resources::Listing onDisk;
    try {
        onDisk = resources::scan(bundle, false);
    } catch (const resources::ScanError& error) {
        reject(error.what());
    } catch (const std::system_error&) {
        reject("bundle could not be read");
    }
    auto sealed = readVerifiedSeal(bundle, trustedPublicKey);
    if (auto difference = resources::firstDifference(sealed.items, bundle, onDisk, cancel)) {
        reject(std::move(*difference));
    }
    auto identifier = bundle::infoString(bundle / "Contents" / "Info.plist", "CFBundleIdentifier");
    if (identifier != kBundleIdentifier) {
        reject("bundle identifier is not " + std::string(kBundleIdentifier));
    }
}

SigningKey generateSigningKey()
{
    KeyPtr key(crypto().EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), crypto().EVP_PKEY_free);
    BioPtr bio(crypto().BIO_new(crypto().BIO_s_mem()), crypto().BIO_free);
    if (!key || !bio ||
        crypto().PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        throw SigningError("key generation failed");
    }
    char* data = nullptr;
    long size = crypto().BIO_ctrl(bio.get(), BIO_CTRL_INFO, 0, reinterpret_cast<char*>(&data));
    return SigningKey{std::string(data, static_cast<std::size_t>(size)), rawPublicKey(key.get())};
}

std::string publicKeyOf(std::string_view privateKeyPem)
{
    return rawPublicKey(loadPrivateKey(privateKeyPem).get());
}

namespace {

// The unpack drops set-id, sticky and group/other write bits; a seal naming them (a file made 0664 under
// a group-friendly umask, say) would be refused by every client. The files take the modes that survive.
void normaliseModes(const fs::path& bundle, resources::Listing& listing)
{
    for (auto& [path, item] : listing) {
        unsigned kept = item.mode & resources::kSealableModeBits;
        if (item.isDirectory || kept == item.mode) {
            continue;
        }
        fs::permissions(bundle / path, static_cast<fs::perms>(kept), fs::perm_options::replace);
        item.mode = kept;
    }
}

} // namespace

void signBundle(const fs::path& bundle, std::string_view privateKeyPem, std::string_view team)
{
    auto key = loadPrivateKey(privateKeyPem);
    if (team.empty() || team.find_first_of("\r\n") != std::string_view::npos) {
        throw SigningError("the team identifier must be one line of text");
    }
    resources::Listing listing;
    try {
        listing = resources::scan(bundle, true);
    } catch (const resources::ScanError& error) {
        throw SigningError(std::string("cannot sign ") + error.what());
    }
    normaliseModes(bundle, listing);
    std::string text = resources::render(team, listing);
    auto folder = sealFolder(bundle);
    fs::create_directories(folder);
    replaceFileAtomically(folder / "CodeResources", text, 0644);
    replaceFileAtomically(folder / "Signature", signBytes(key.get(), text), 0644);
    replaceFileAtomically(folder / "TeamIdentifier", team, 0644);
}

} // namespace taskbell::update
