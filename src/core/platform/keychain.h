#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace taskbell::Keychain {

// Attributes of the items, shared with the MCP mode and visible to `secret-tool`.
inline constexpr std::string_view kService = "com.quillet.taskbell";
inline constexpr std::string_view kTokenAccount = "apiToken";
// Upper bound for one conversation with the Secret Service (plus the wait for a concurrent one).
inline constexpr std::chrono::seconds kTimeout{5};

enum class ReadStatus {
    found,
    notStored,   // no item, or only items whose data is not UTF-8 text
    unreachable, // no session bus, no Secret Service on it, or no answer in time
    locked,      // only items in a locked collection; they are never unlocked (that would prompt)
};

struct ReadResult
{
    ReadStatus status = ReadStatus::notStored;
    std::string value; // set only when found
};

// Every call is synchronous, thread-safe, bounded in time and never prompts or starts a bus.
ReadResult read(std::string_view account);
// The stored text, or nothing for any reason.
std::optional<std::string> get(std::string_view account);
// Deletes every matching item, then stores `value` in the default collection unless it is empty.
// Returns whether that state was reached (callers may ignore it).
bool set(std::string_view value, std::string_view account);

// Opens the keyring library now rather than with the first conversation. Throws LibraryError. When it cannot
// be opened, the calls above behave as with no Secret Service: reads are unreachable, writes do nothing.
void loadLibrary();

// A session bus address exists (DBUS_SESSION_BUS_ADDRESS, or the $XDG_RUNTIME_DIR/bus socket).
bool sessionBusAvailable();

} // namespace taskbell::Keychain
