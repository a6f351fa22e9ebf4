#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

// Small file helpers shared by every concern group: one self-closing descriptor, one bounded whole-file
// read, one atomic replacement.
namespace taskbell {

// $XDG_CONFIG_HOME, or ~/.config when that is unset or not an absolute path.
std::filesystem::path xdgConfigHome();
// $XDG_STATE_HOME, or ~/.local/state when that is unset or not an absolute path.
std::filesystem::path xdgStateHome();

// Creates the folder (and its parents) when missing and takes group and other access from it, so that what
// we keep inside stays private; a folder reached through a symbolic link is left as it is. Throws
// std::system_error ("Could not create <folder>") when it cannot be made or is no folder.
void ensurePrivateFolder(const std::filesystem::path& folder);

// Owns a file descriptor and closes it when it goes out of scope.
class FileDescriptor
{
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    // Closes now so that a failing close (a late write error) can be reported; 0 when nothing was open.
    int close();

private:
    int fd_ = -1;
};

// The outcome of readFileBounded: the bytes, or why there are none.
struct FileBytes
{
    enum class State { read, missing, failed };
    State state = State::missing;
    std::string bytes;

    explicit operator bool() const { return state == State::read; }
};

// The whole content of a regular file. missing when nothing is at the path; failed when it is no regular
// file (a FIFO planted there does not block), cannot be read, holds more than maxBytes or, with
// followFinalLink false, is a symbolic link.
FileBytes readFileBounded(const std::filesystem::path& file, std::size_t maxBytes, bool followFinalLink = true);

// Writes all bytes, retrying after interruptions. False on any other failure (errno says which).
bool writeAll(int fd, std::string_view bytes);

// Temporary file in the same folder with the given mode, fsync, rename over the target, fsync of the
// folder: a reader sees either the old or the whole new file, and a crash leaves one of them intact. A
// symbolic link at the target is replaced, never followed. Throws std::system_error ("Could not write
// <target>") with the failing call's error code; the temporary file is removed again.
void replaceFileAtomically(const std::filesystem::path& target, std::string_view bytes, unsigned mode);

} // namespace taskbell
