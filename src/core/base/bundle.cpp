#include "core/base/bundle.h"

#include <cstdlib>
#include <memory>

#include <plist/plist.h>

#include "core/base/file_io.h"

namespace taskbell::bundle {
namespace {

constexpr std::size_t kMaxPlistBytes = 1 << 20;

} // namespace

std::optional<std::filesystem::path> bundleContaining(const std::filesystem::path& executable)
{
    for (auto dir = executable.parent_path(); dir.has_relative_path(); dir = dir.parent_path()) {
        std::error_code ec;
        if (dir.extension() == ".app" && std::filesystem::is_regular_file(dir / "Contents" / "Info.plist", ec)) {
            return dir;
        }
    }
    return std::nullopt;
}

std::optional<std::string> infoString(const std::filesystem::path& plistPath, const std::string& key)
{
    FileBytes data = readFileBounded(plistPath, kMaxPlistBytes);
    if (!data) {
        return std::nullopt;
    }
    plist_t root = nullptr;
    plist_from_memory(data.bytes.data(), static_cast<uint32_t>(data.bytes.size()), &root);
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

std::optional<std::string> bundleInfoString(const std::filesystem::path& bundle, const std::string& key)
{
    return infoString(bundle / "Contents" / "Info.plist", key);
}

} // namespace taskbell::bundle
