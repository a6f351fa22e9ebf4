#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>

// Proof that a verified bundle starts on this system, taken before the install script may replace anything.
namespace taskbell::update {

// Starts the bundle's executable in a clean environment (no variables of ours; HOME and the XDG folders in a
// new folder under `scratch`) twice: with --mcp, where it must answer `initialize`, and with --check-module,
// where it must load its desktop module with every library and symbol resolved. Each run has `limit`. Fails
// with cannotStart and the first line the loader (or the program) wrote; throws Cancelled once *cancel is
// set, std::system_error when the scratch folder cannot be made.
void verifyStarts(const std::filesystem::path& bundle, const std::filesystem::path& scratch,
                  std::chrono::milliseconds limit = std::chrono::seconds(10),
                  const std::atomic<bool>* cancel = nullptr);

} // namespace taskbell::update
