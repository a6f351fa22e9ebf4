#include "update_fixtures.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include "serve.h"
#include "temp_dir.h"

namespace taskbell::test {
namespace {

namespace fs = std::filesystem;

void check(int status, archive* a)
{
    if (status < ARCHIVE_WARN) {
        throw std::runtime_error(std::string("libarchive: ") + archive_error_string(a));
    }
}

void addEntry(archive* zip, const ZipEntry& spec)
{
    std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(), &archive_entry_free);
    archive_entry_set_pathname(entry.get(), spec.name.c_str());
    archive_entry_set_perm(entry.get(), spec.mode);
    switch (spec.type) {
    case ZipEntry::Type::folder:
        archive_entry_set_filetype(entry.get(), AE_IFDIR);
        break;
    case ZipEntry::Type::link:
        archive_entry_set_filetype(entry.get(), AE_IFLNK);
        archive_entry_set_symlink(entry.get(), spec.data.c_str());
        break;
    case ZipEntry::Type::file:
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_size(entry.get(), static_cast<la_int64_t>(spec.data.size() + spec.zeros));
        break;
    }
    check(archive_write_header(zip, entry.get()), zip);
    if (spec.type != ZipEntry::Type::file) {
        return;
    }
    if (!spec.data.empty()) {
        archive_write_data(zip, spec.data.data(), spec.data.size());
    }
    std::string chunk(std::size_t{1} << 20, '\0');
    for (std::size_t left = spec.zeros; left > 0;) {
        std::size_t n = std::min(left, chunk.size());
        archive_write_data(zip, chunk.data(), n);
        left -= n;
    }
}

} // namespace

void writeZip(const fs::path& path, const std::vector<ZipEntry>& entries)
{
    std::unique_ptr<archive, decltype(&archive_write_free)> zip(archive_write_new(), &archive_write_free);
    check(archive_write_set_format_zip(zip.get()), zip.get());
    check(archive_write_zip_set_compression_deflate(zip.get()), zip.get());
    check(archive_write_open_filename(zip.get(), path.c_str()), zip.get());
    for (const auto& entry : entries) {
        addEntry(zip.get(), entry);
    }
    check(archive_write_close(zip.get()), zip.get());
}

void zipFolder(const fs::path& zip, const fs::path& folder)
{
    std::vector<ZipEntry> entries;
    std::string top = folder.filename().string();
    entries.push_back({top + "/", ZipEntry::Type::folder, "", 0755, 0});
    for (const auto& relative : listTree(folder)) {
        fs::path full = folder / relative;
        auto status = fs::symlink_status(full);
        auto mode = static_cast<unsigned>(status.permissions()) & 07777;
        std::string name = top + "/" + relative;
        if (fs::is_symlink(status)) {
            entries.push_back({name, ZipEntry::Type::link, fs::read_symlink(full).string(), 0777, 0});
        } else if (fs::is_directory(status)) {
            entries.push_back({name + "/", ZipEntry::Type::folder, "", mode, 0});
        } else {
            entries.push_back({name, ZipEntry::Type::file, readFile(full), mode, 0});
        }
    }
    writeZip(zip, entries);
}

fs::path makeBundle(const fs::path& folder, const std::string& name, const BundleSpec& spec)
{
    fs::path bundle = folder / name;
    writeFile(bundle / "Contents" / "Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<plist version=\"1.0\">\n<dict>\n"
              "    <key>CFBundleIdentifier</key>\n    <string>" +
                  spec.identifier +
                  "</string>\n"
                  "    <key>CFBundleShortVersionString</key>\n    <string>" +
                  spec.version +
                  "</string>\n"
                  "    <key>CFBundleExecutable</key>\n    <string>taskbell</string>\n"
                  "</dict>\n</plist>\n");
    fs::path executable = bundle / "Contents" / "bin" / "taskbell";
    writeFile(executable, spec.executable);
    ::chmod(executable.c_str(), 0755);
    ::chmod((bundle / "Contents" / "Info.plist").c_str(), 0644);
    return bundle;
}

std::vector<std::string> listTree(const fs::path& root)
{
    std::vector<std::string> paths;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        paths.push_back(it->path().lexically_relative(root).generic_string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

WebServer::WebServer()
{
    server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(mutex_);
        ++hits_[request.path];
        auto it = answers_.find(request.path);
        if (it == answers_.end()) {
            response.status = 404;
            return;
        }
        response.status = it->second.status;
        response.set_content(it->second.body, it->second.contentType.c_str());
    });
    // One request per connection: a pooled keep-alive connection would hold stop() for its whole time-out.
    server_.set_keep_alive_max_count(1);
    // bind_to_any_port already listens, so clients can connect before the accept loop runs.
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("could not bind a loopback port");
    }
    thread_ = serveAfterBind(server_);
    // stop() only reaches a server whose accept loop has begun, so wait for that before handing it out.
    while (!server_.is_running()) {
        std::this_thread::yield();
    }
}

WebServer::~WebServer()
{
    server_.stop();
    thread_.join();
}

void WebServer::serve(const std::string& path, int status, std::string body, std::string contentType)
{
    std::lock_guard lock(mutex_);
    answers_[path] = Answer{status, std::move(body), std::move(contentType)};
}

std::string WebServer::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int WebServer::hits(const std::string& path) const
{
    std::lock_guard lock(mutex_);
    auto it = hits_.find(path);
    return it == hits_.end() ? 0 : it->second;
}

} // namespace taskbell::test
