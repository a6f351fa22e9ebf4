#include "core/base/file_io.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace taskbell {
namespace {

namespace fs = std::filesystem;

fs::path homeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home == '/') {
        return home;
    }
    // No usable HOME (started by a service manager, say): ask the password database.
    struct passwd entry
    {
    };
    struct passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir) {
        return found->pw_dir;
    }
    return "/";
}

} // namespace

fs::path xdgConfigHome()
{
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/') {
        return config;
    }
    return homeFolder() / ".config";
}

fs::path xdgStateHome()
{
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/') {
        return state;
    }
    return homeFolder() / ".local" / "state";
}

void ensurePrivateFolder(const fs::path& folder)
{
    auto fail = [&](int error) {
        throw std::system_error(error, std::generic_category(), "Could not create " + folder.string());
    };
    std::error_code ec;
    fs::create_directories(folder.parent_path(), ec);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        fail(errno);
    }
    struct stat info
    {
    };
    if (::stat(folder.c_str(), &info) != 0) {
        fail(errno);
    }
    if (!S_ISDIR(info.st_mode)) {
        fail(ENOTDIR);
    }
    // mkdir honours the umask and an older folder may be wider. Only group and other bits go; the owner's
    // own choice (a read-only folder, say) and the special bits are respected. A folder reached through a
    // symbolic link is someone else's arrangement: left alone.
    struct stat own
    {
    };
    if (::lstat(folder.c_str(), &own) != 0 || S_ISLNK(own.st_mode)) {
        return;
    }
    if ((info.st_mode & 077) != 0 && ::chmod(folder.c_str(), info.st_mode & 07700) != 0) {
        fail(errno);
    }
}

FileDescriptor::~FileDescriptor()
{
    close();
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

int FileDescriptor::close()
{
    if (fd_ < 0) {
        return 0;
    }
    int result = ::close(fd_);
    fd_ = -1;
    return result;
}

FileBytes readFileBounded(const std::filesystem::path& file, std::size_t maxBytes, bool followFinalLink)
{
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followFinalLink ? 0 : O_NOFOLLOW);
    FileDescriptor fd(::open(file.c_str(), flags));
    if (!fd.isOpen()) {
        bool missing = errno == ENOENT || errno == ENOTDIR;
        return {missing ? FileBytes::State::missing : FileBytes::State::failed, {}};
    }
    struct stat info
    {
    };
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return {FileBytes::State::failed, {}};
    }
    std::string bytes;
    char buffer[1 << 16];
    for (;;) {
        ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 || bytes.size() + static_cast<std::size_t>(count) > maxBytes) {
            return {FileBytes::State::failed, {}};
        }
        if (count == 0) {
            return {FileBytes::State::read, std::move(bytes)};
        }
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

void replaceFileAtomically(const std::filesystem::path& target, std::string_view bytes, unsigned mode)
{
    auto fail = [&target](int error) {
        throw std::system_error(error ? error : EIO, std::generic_category(), "Could not write " + target.string());
    };
    std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.isOpen()) {
        fail(errno);
    }
    if (::fchmod(fd.get(), static_cast<mode_t>(mode)) != 0 || !writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0 ||
        fd.close() != 0 || ::rename(temporary.c_str(), target.c_str()) != 0) {
        int error = errno;
        ::unlink(temporary.c_str());
        fail(error);
    }
    FileDescriptor folder(::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.isOpen()) {
        ::fsync(folder.get());
    }
}

} // namespace taskbell
