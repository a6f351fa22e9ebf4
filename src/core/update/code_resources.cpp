#include "core/update/code_resources.h"

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <vector>

#include "core/update/sha256.h"

namespace taskbell::update::resources {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHeader = "taskbell-code-resources 1";
constexpr std::string_view kSealFolder = "Contents/_CodeSignature";

bool isSealFile(const std::string& path)
{
    return path == "Contents/_CodeSignature/CodeResources" || path == "Contents/_CodeSignature/Signature" ||
           path == "Contents/_CodeSignature/TeamIdentifier";
}

bool hasControlCharacter(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

// Messages name paths, so control characters in hostile names must not reach the user's screen.
std::string printable(std::string text)
{
    std::replace_if(
        text.begin(), text.end(), [](char c) { return hasControlCharacter(std::string_view(&c, 1)); }, '?');
    return text;
}

// A canonical relative path: no empty, "." or ".." components, no control characters.
bool isCanonicalPath(std::string_view path)
{
    if (path.empty() || hasControlCharacter(path)) {
        return false;
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = std::min(path.find('/', start), path.size());
        std::string_view part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

bool isLowerHex(std::string_view text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::optional<unsigned> parseMode(std::string_view text)
{
    if (text.size() != 4 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '7'; })) {
        return std::nullopt;
    }
    unsigned mode = 0;
    for (char c : text) {
        mode = mode * 8 + static_cast<unsigned>(c - '0');
    }
    return mode;
}

// One "dir" or "file" line without its line feed.
std::optional<std::pair<std::string, Item>> parseItem(std::string_view line)
{
    Item item;
    std::string_view path;
    if (line.starts_with("dir ")) {
        item.isDirectory = true;
        path = line.substr(4);
    } else if (line.starts_with("file ") && line.size() > 5 + 5 + 65) {
        auto mode = parseMode(line.substr(5, 4));
        std::string_view digest = line.substr(10, 64);
        if (!mode || line[9] != ' ' || line[74] != ' ' || !isLowerHex(digest)) {
            return std::nullopt;
        }
        item.mode = *mode;
        item.sha256 = std::string(digest);
        path = line.substr(75);
    } else {
        return std::nullopt;
    }
    if (!isCanonicalPath(path)) {
        return std::nullopt;
    }
    return std::make_pair(std::string(path), std::move(item));
}

} // namespace

Listing scan(const fs::path& bundle, bool hashFiles)
{
    Listing listing;
    fs::recursive_directory_iterator it(bundle), end;
    for (; it != end; ++it) {
        std::string path = it->path().lexically_relative(bundle).generic_string();
        if (hasControlCharacter(path)) {
            throw ScanError(printable(path) + ": unsupported file name");
        }
        auto status = it->symlink_status();
        if (fs::is_symlink(status)) {
            throw ScanError(path + ": symbolic link");
        }
        if (path == kSealFolder || isSealFile(path)) {
            continue;
        }
        Item item;
        if (fs::is_directory(status)) {
            item.isDirectory = true;
        } else if (fs::is_regular_file(status)) {
            item.mode = static_cast<unsigned>(status.permissions()) & 07777;
            if (hashFiles) {
                item.sha256 = sha256HexOfFile(it->path());
            }
        } else {
            throw ScanError(path + ": unsupported file type");
        }
        listing.emplace(std::move(path), std::move(item));
    }
    return listing;
}

std::string render(std::string_view team, const Listing& listing)
{
    std::string text = std::string(kHeader) + "\nteam " + std::string(team) + "\n";
    for (const auto& [path, item] : listing) {
        if (item.isDirectory) {
            text += "dir " + path + "\n";
            continue;
        }
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", item.mode & 07777);
        text += "file " + std::string(mode) + " " + item.sha256 + " " + path + "\n";
    }
    return text;
}

std::optional<Sealed> parse(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            return std::nullopt; // every line ends in a line feed
        }
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    if (lines.size() < 2 || lines[0] != kHeader || !lines[1].starts_with("team ")) {
        return std::nullopt;
    }
    Sealed sealed;
    sealed.team = std::string(lines[1].substr(5));
    for (std::size_t i = 2; i < lines.size(); ++i) {
        auto item = parseItem(lines[i]);
        // Strictly increasing paths: one canonical text per bundle, no path listed twice.
        if (!item || (!sealed.items.empty() && !(sealed.items.rbegin()->first < item->first))) {
            return std::nullopt;
        }
        sealed.items.emplace_hint(sealed.items.end(), std::move(item->first), std::move(item->second));
    }
    return sealed;
}

std::optional<std::string> firstDifference(const Listing& sealed, const fs::path& bundle, const Listing& onDisk,
                                           const std::atomic<bool>* cancel)
{
    auto s = sealed.begin();
    auto d = onDisk.begin();
    while (s != sealed.end() || d != onDisk.end()) {
        if (d == onDisk.end() || (s != sealed.end() && s->first < d->first)) {
            return s->first + ": missing";
        }
        if (s == sealed.end() || d->first < s->first) {
            return d->first + ": added";
        }
        const auto& [path, want] = *s;
        const Item& have = d->second;
        if (want.isDirectory != have.isDirectory) {
            return path + ": modified";
        }
        if (!want.isDirectory) {
            if (want.mode != have.mode) {
                return path + ": permissions changed";
            }
            try {
                if (sha256HexOfFile(bundle / path, cancel) != want.sha256) {
                    return path + ": modified";
                }
            } catch (const std::system_error&) {
                return path + ": unreadable";
            }
        }
        ++s;
        ++d;
    }
    return std::nullopt;
}

} // namespace taskbell::update::resources
