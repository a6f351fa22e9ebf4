// The running executable from /proc.
#include "core/platform/executable.h"

#include "core/base/app_info.h"
#include "core/base/bundle.h"

namespace taskbell::platform {

std::optional<std::filesystem::path> runningExecutable()
{
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || path.empty()) {
        return std::nullopt;
    }
    return path;
}

std::optional<std::filesystem::path> runningBundle()
{
    auto executable = runningExecutable();
    return executable ? bundle::bundleContaining(*executable) : std::nullopt;
}

const std::string& runningVersion()
{
    static const std::string value = AppInfo::versionOf(runningBundle());
    return value;
}

const std::string& runningBuild()
{
    static const std::string value = AppInfo::buildOf(runningBundle());
    return value;
}

} // namespace taskbell::platform
