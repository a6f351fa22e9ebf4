#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/base/json_util.h"

namespace taskbell {

// One entry of the update feed. Optional fields are absent when the feed omits them or sends null.
struct UpdateManifest
{
    std::string version;
    std::optional<std::string> build;
    std::optional<std::string> date;
    std::string url;
    std::optional<std::string> sha256;
    std::optional<std::string> notes;
    std::optional<std::string> minimumSystemVersion;

    bool operator==(const UpdateManifest&) const = default;
};

// The feed body could not be decoded as a manifest. what() is the decoder's own description.
class ManifestDecodeError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Strict decoding: version and url must be strings; the other five keys must be strings or null when
// present; any other key is ignored. Throws ManifestDecodeError.
UpdateManifest decodeManifest(const Json& object);
// Parses the feed body (depth-capped) and decodes it. Throws ManifestDecodeError.
UpdateManifest parseManifest(std::string_view body);

// The updater's own failures. what() is the text shown to the user, word for word.
class UpdateError : public std::exception
{
public:
    enum class Kind {
        badFeed,
        badDownload,
        signature,
        versionMismatch,
        notNewer,
        notWritable,
        checksumMismatch,
        unsafeFolder,
        noSpace,
        cannotStart
    };

    static UpdateError badFeed(std::string reason);
    static UpdateError badDownload(std::string reason);
    static UpdateError signature(std::string verifierMessage);
    static UpdateError versionMismatch(std::string bundleVersion, std::string manifestVersion);
    // The offered version does not order after the running one.
    static UpdateError notNewer(std::string offeredVersion, std::string runningVersion);
    static UpdateError notWritable(std::string path);
    static UpdateError checksumMismatch();
    // The installed bundle's folder belongs to someone else or others may write to it: another user could
    // put a program of theirs at the bundle's name while it is replaced.
    static UpdateError unsafeFolder(std::string folder);
    // The disk holding the installed bundle filled up while the update was copied beside it.
    static UpdateError noSpace();
    // The verified bundle's program does not start here; the payload is the loader's first line.
    static UpdateError cannotStart(std::string loaderMessage);

    Kind kind() const noexcept { return kind_; }
    // The payload: the reason, verifier message or path; for versionMismatch the bundle's version, for
    // notNewer the offered one.
    const std::string& detail() const noexcept { return detail_; }
    // versionMismatch: the version the manifest promised; notNewer: the running version.
    const std::string& expectedVersion() const noexcept { return expected_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    UpdateError(Kind kind, std::string detail, std::string expected, std::string description);

    Kind kind_;
    std::string detail_;
    std::string expected_;
    std::string description_;
};

} // namespace taskbell
