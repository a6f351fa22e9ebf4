#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>

#include <sys/types.h>

#include "core/update/manifest.h"

// The update engine: every step of a check and an install as a plain synchronous function, so the
// observable updater only sequences them and turns their errors into its state.
namespace taskbell::update {

// The feed: one GET, no cache, 20-second time-out, body capped at 64 KiB. A text that is not an http(s)
// URL fails with badFeed "bad feed URL", a status other than 200 with badFeed "HTTP <code>", the body with
// ManifestDecodeError; transport failures throw http::TransferError.
UpdateManifest fetchManifest(const std::string& feedURL, const std::atomic<bool>* cancel = nullptr);

enum class CheckOutcome { offer, latest };
// offer when the manifest's version orders strictly after the running one.
CheckOutcome checkOutcome(const UpdateManifest& manifest, std::string_view runningVersion);

// TMPDIR when set and not empty, else /tmp.
std::filesystem::path userTemporaryDirectory();

// Downloads the archive into tempRoot/"TaskbellUpdate-<UUID>"/"update.zip" and returns that path. The
// folder is new (created 0700, never reused); on failure it is removed again. Only https URLs are fetched
// (plain http to this machine's loopback address is allowed for local serving). Fails with badDownload
// "bad download URL" or "HTTP <code>", http::TransferError, or std::system_error.
std::filesystem::path download(const UpdateManifest& manifest, const std::filesystem::path& tempRoot,
                               const std::atomic<bool>* cancel = nullptr);

// Compares the archive's SHA-256 with the manifest's, ignoring letter case; skipped when the manifest has
// none or an empty one. Fails with checksumMismatch, or std::system_error when the file cannot be read.
void verifyChecksum(const std::filesystem::path& archive, const UpdateManifest& manifest,
                    const std::atomic<bool>* cancel = nullptr);

// The bundle's CFBundleShortVersionString must equal expected exactly. Fails with badDownload
// "unreadable Info.plist in the downloaded bundle" or versionMismatch(found, expected).
void verifyVersion(const std::filesystem::path& bundle, const std::string& expected);

// An install never goes backwards: the offered version must still order after the running one, or the
// install fails with notNewer(offered, running).
void verifyNotOlder(const UpdateManifest& manifest, const std::string& runningVersion);

// Checksum, unpack, signature, version and direction of one downloaded archive; returns the new bundle.
// Throws Cancelled (core/base/cancel.h) once the flag is set.
std::filesystem::path verifyDownload(const std::filesystem::path& archive, const UpdateManifest& manifest,
                                     const std::string& runningVersion, std::string_view trustedPublicKey,
                                     const std::atomic<bool>* cancel = nullptr);

// Deletes the update folder that holds the archive, ignoring errors.
void removeUpdateFolder(const std::filesystem::path& archive);

// The install script for the process pid: wait for it to end, move the installed bundle ($2) aside, move
// the new one ($1) in (moving the old one back on failure), and relaunch. No move ever goes into a folder
// that appeared at the target's name meanwhile: the swap then stops and starts nothing. The previous
// bundle stays as "$2.old" until the relaunched program removes it (removeStaging); a relaunch that ends
// within 10 seconds with a failure or a signal before that is undone: the new bundle goes back to $1, the
// previous one is put back and started.
std::string installScript(pid_t pid);

// Stages the verified bundle beside the installed one (stageBundle in staging.h: a hidden sibling folder on
// the same file system, so the script only renames), proves there that its program starts (verifyStarts in
// start_check.h), writes install.sh into that folder and starts it detached with /bin/sh; the caller then
// quits so the script can swap the bundles. The update folder is no longer needed afterwards
// (removeUpdateFolder). Fails with notWritable when the installed bundle's folder is not writable,
// unsafeFolder when it is not the user's own or others may write to it, noSpace when the disk is full,
// cannotStart, or std::system_error (nothing staged is left behind then). Returns the
// script's process id. The updater's whole install is: download, verifyDownload, swapAndRelaunch, quit.
pid_t swapAndRelaunch(const std::filesystem::path& newBundle, const std::filesystem::path& installedBundle);
// The same for another process to wait for.
pid_t swapAndRelaunch(const std::filesystem::path& newBundle, const std::filesystem::path& installedBundle,
                      pid_t waitFor);

} // namespace taskbell::update
