#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace taskbell::test {

// A fresh private folder under $TMPDIR (or /tmp), removed with its contents on destruction.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& content);
// Every path below root (files, folders, links), relative, sorted.
std::vector<std::string> listTree(const std::filesystem::path& root);
// The permission bits of a path, special bits included, without following a last link.
unsigned modeOf(const std::filesystem::path& path);

} // namespace taskbell::test
