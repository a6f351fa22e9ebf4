#include "core/update/manifest.h"

#include <utility>

namespace taskbell {
namespace {

// The decoder only refuses what it must: every key of the record is checked for its type, the rest of
// the object is never looked at.
std::optional<std::string> optionalText(const Json& object, const char* key)
{
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return std::nullopt;
    }
    if (!it->is_string()) {
        throw ManifestDecodeError(std::string("The update feed's \"") + key + "\" is not a string.");
    }
    return it->get<std::string>();
}

std::string requiredText(const Json& object, const char* key)
{
    auto value = optionalText(object, key);
    if (!value) {
        throw ManifestDecodeError(std::string("The update feed has no \"") + key + "\".");
    }
    return std::move(*value);
}

} // namespace

UpdateManifest decodeManifest(const Json& object)
{
    if (!object.is_object()) {
        throw ManifestDecodeError("The update feed is not a JSON object.");
    }
    UpdateManifest manifest;
    manifest.version = requiredText(object, "version");
    manifest.build = optionalText(object, "build");
    manifest.date = optionalText(object, "date");
    manifest.url = requiredText(object, "url");
    manifest.sha256 = optionalText(object, "sha256");
    manifest.notes = optionalText(object, "notes");
    manifest.minimumSystemVersion = optionalText(object, "minimumSystemVersion");
    return manifest;
}

UpdateManifest parseManifest(std::string_view body)
{
    auto json = parseJson(body, kResponseDepthLimit);
    if (!json) {
        throw ManifestDecodeError("The update feed is not valid JSON.");
    }
    return decodeManifest(*json);
}

UpdateError::UpdateError(Kind kind, std::string detail, std::string expected, std::string description)
    : kind_(kind), detail_(std::move(detail)), expected_(std::move(expected)), description_(std::move(description))
{
}

UpdateError UpdateError::badFeed(std::string reason)
{
    std::string text = "Update check failed: " + reason;
    return {Kind::badFeed, std::move(reason), {}, std::move(text)};
}

UpdateError UpdateError::badDownload(std::string reason)
{
    std::string text = "Download failed: " + reason;
    return {Kind::badDownload, std::move(reason), {}, std::move(text)};
}

UpdateError UpdateError::signature(std::string verifierMessage)
{
    std::string text = "Download rejected: not signed by the expected developer.\n" + verifierMessage;
    return {Kind::signature, std::move(verifierMessage), {}, std::move(text)};
}

UpdateError UpdateError::versionMismatch(std::string bundleVersion, std::string manifestVersion)
{
    std::string text =
        "Download rejected: bundle is v" + bundleVersion + ", manifest promised v" + manifestVersion + ".";
    return {Kind::versionMismatch, std::move(bundleVersion), std::move(manifestVersion), std::move(text)};
}

UpdateError UpdateError::notNewer(std::string offeredVersion, std::string runningVersion)
{
    std::string text =
        "Download rejected: v" + offeredVersion + " is not newer than the running v" + runningVersion + ".";
    return {Kind::notNewer, std::move(offeredVersion), std::move(runningVersion), std::move(text)};
}

UpdateError UpdateError::notWritable(std::string path)
{
    std::string text = "Can't replace " + path + " \u2014 no write permission.";
    return {Kind::notWritable, std::move(path), {}, std::move(text)};
}

UpdateError UpdateError::checksumMismatch()
{
    return {Kind::checksumMismatch, {}, {}, "Download rejected: checksum doesn't match the manifest."};
}

UpdateError UpdateError::unsafeFolder(std::string folder)
{
    std::string text =
        "Can't update Taskbell in " + folder +
        " \u2014 other users can change that folder. Install Taskbell in a folder only you can write to.";
    return {Kind::unsafeFolder, std::move(folder), {}, std::move(text)};
}

UpdateError UpdateError::noSpace()
{
    return {Kind::noSpace, {}, {}, "There isn't enough free space to install the update."};
}

UpdateError UpdateError::cannotStart(std::string loaderMessage)
{
    std::string text = "Download rejected: this version can't start on this system.\n" + loaderMessage;
    return {Kind::cannotStart, std::move(loaderMessage), {}, std::move(text)};
}

} // namespace taskbell
