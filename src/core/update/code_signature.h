#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace taskbell::update {

// The developer team whose signature an update must carry, and the identity of our bundle.
inline constexpr std::string_view kTeamIdentifier = "7QK4ZR2W9M";
inline constexpr std::string_view kBundleIdentifier = "com.quillet.taskbell";

// A bundle's seal lives in Contents/_CodeSignature:
//   TeamIdentifier  the team id, nothing else
//   CodeResources   the sealed listing (text, below)
//   Signature       the 64-byte Ed25519 signature of the exact bytes of CodeResources
//
// CodeResources is UTF-8 text of lines ending in a line feed:
//   taskbell-code-resources 1
//   team <team id>
//   dir <path>
//   file <mode> <sha256> <path>
// followed by one "dir" or "file" line for every folder and regular file of the bundle except
// Contents/_CodeSignature and its three files, sorted by path (byte order, each path once). <path> is
// relative to the bundle, '/'-separated, and runs to the end of the line (it may hold spaces but no
// control characters); <mode> is the permission bits as four octal digits; <sha256> is 64 lower-case
// hexadecimal digits. Symbolic links and other file types cannot be sealed.

// The release key fixed at build time (TASKBELL_RELEASE_PUBLIC_KEY); empty when the build has none, in
// which case no update verifies.
std::string releasePublicKey();

// Checks the seal strictly: the team must be kTeamIdentifier, the signature must verify with
// trustedPublicKey (Base64 of the 32-byte Ed25519 public key), every listed file must be present and
// unchanged, nothing unlisted may exist, no symbolic link may exist anywhere, and Info.plist must name
// kBundleIdentifier. Throws UpdateError::signature with a short message such as
// "Contents/bin/taskbell: modified".
void verifySignature(const std::filesystem::path& bundle, std::string_view trustedPublicKey);

// Signing could not be done (bad key, bad team, something in the bundle that cannot be sealed). what() is
// the message.
class SigningError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct SigningKey
{
    std::string privateKeyPem; // PKCS#8 PEM
    std::string publicKey;     // Base64 of the raw 32-byte public key
};

// A fresh Ed25519 key pair.
SigningKey generateSigningKey();
// The Base64 public key belonging to a PEM private key. Throws SigningError.
std::string publicKeyOf(std::string_view privateKeyPem);

// Seals the bundle for the given team, replacing an earlier seal. Throws SigningError (bad key,
// symbolic link or unsupported file in the bundle) or std::system_error.
void signBundle(const std::filesystem::path& bundle, std::string_view privateKeyPem,
                std::string_view team = kTeamIdentifier);

} // namespace taskbell::update
