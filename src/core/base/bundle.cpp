#include "core/base/bundle.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include <plist/plist.h>

namespace taskbell::bundle {
namespace {

constexpr std::uintmax_t kMaxPlistBytes = 1 << 20;

std::optional<std::filesystem::path> runningExecutable()
{
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return std::nullopt;
    }
    return path;
}

} // namespace

std::optional<std::filesystem::path> runningBundle()
{
    auto exe = runningExecutable();
    if (!exe) {
        return std::nullopt;
    }
    for (auto dir = exe->parent_path(); dir.has_relative_path(); dir = dir.parent_path()) {
        std::error_code ec;
        if (dir.extension() == ".app" && std::filesystem::is_regular_file(dir / "Contents" / "Info.plist", ec)) {
            return dir;
        }
    }
    return std::nullopt;
}

std::optional<std::string> infoString(const std::filesystem::path& plistPath, const std::string& key)
{
    std::error_code ec;
    auto size = std::filesystem::file_size(plistPath, ec);
    if (ec || size > kMaxPlistBytes) {
        return std::nullopt;
    }
    std::ifstream in(plistPath, std::ios::binary);
    std::string data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.good() && !in.eof()) {
        return std::nullopt;
    }
    plist_t root = nullptr;
    plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &root);
    std::unique_ptr<void, decltype(&plist_free)> owner(root, &plist_free);
    if (!PLIST_IS_DICT(root)) {
        return std::nullopt;
    }
    plist_t item = plist_dict_get_item(root, key.c_str());
    if (!PLIST_IS_STRING(item)) {
        return std::nullopt;
    }
    char* value = nullptr;
    plist_get_string_val(item, &value);
    if (value == nullptr) {
        return std::nullopt;
    }
    std::string result(value);
    std::free(value);
    return result;
}

std::optional<std::string> runningInfoString(const std::string& key)
{
    auto bundle = runningBundle();
    if (!bundle) {
        return std::nullopt;
    }
    return infoString(*bundle / "Contents" / "Info.plist", key);
}

} // namespace taskbell::bundle
