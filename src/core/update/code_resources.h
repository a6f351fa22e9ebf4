#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// The sealed listing of a bundle (the CodeResources format is described in code_signature.h).
namespace taskbell::update::resources {

// The permission bits of a file that survive packing and the hardened unpack (no set-id or sticky bits,
// no group or other write); a seal holds only these, so a bundle verifies after the round trip.
inline constexpr unsigned kSealableModeBits = 0755;

struct Item
{
    bool isDirectory = false;
    unsigned mode = 0;  // files: permission bits
    std::string sha256; // files: lower-case hex; empty in a scan, which hashes only on demand
};

// Path relative to the bundle -> item, in byte order.
using Listing = std::map<std::string, Item>;

struct Sealed
{
    std::string team;
    Listing items;
};

// A bundle holds something that cannot be sealed; what() is the short message ("<path>: symbolic link").
class ScanError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Every folder and file of the bundle except the seal itself. With hashFiles the files' digests are filled
// in. Throws ScanError (links, special files, names with control characters) or std::system_error.
Listing scan(const std::filesystem::path& bundle, bool hashFiles);

std::string render(std::string_view team, const Listing& listing);
// Nothing when the text is not exactly in the format render produces.
std::optional<Sealed> parse(std::string_view text);

// The first difference between the seal and the bundle in path order, as "<path>: missing", "<path>: added",
// "<path>: modified" or "<path>: permissions changed"; nothing when they agree.
std::optional<std::string> firstDifference(const Listing& sealed, const std::filesystem::path& bundle,
                                           const Listing& onDisk, const std::atomic<bool>* cancel = nullptr);

} // namespace taskbell::update::resources
