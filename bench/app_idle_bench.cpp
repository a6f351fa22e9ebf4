// The real program, idle with 900 issues loaded (300 per section from the fake Jira site): it starts on
// the offscreen platform, a second start asks it to show its panel (which loads the sections), and then
// its resident memory and CPU use are read from /proc while it idles. Run under scripts/with-keyring.sh
// (the token is stored in the private keyring). Prints figures only. Takes --https, --system-trust and
// --descriptions.

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include <openssl/pem.h>
#include <openssl/x509.h>
#include <unistd.h>

#include "adf_builder.h"
#include "child_process.h"
#include "fake_jira.h"
#include "temp_dir.h"

using namespace taskbell::test;
using namespace std::chrono_literals;

namespace {

constexpr int kPerSection = 300;

long residentKilobytes(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// User plus system time of the process, in clock ticks.
long cpuTicks(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14) {
            utime = std::stol(field);
        } else if (index == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return utime + stime;
}

// Resident kilobytes by mapping name (a library's path, "[heap]", "[anon]" for unnamed), from smaps.
std::map<std::string, long> residentByMapping(int pid)
{
    std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps");
    std::map<std::string, long> sizes;
    std::string line;
    std::string name;
    while (std::getline(smaps, line)) {
        std::istringstream fields(line);
        std::string first;
        fields >> first;
        if (first.find('-') != std::string::npos && first.back() != ':') {
            std::string skip;
            fields >> skip >> skip >> skip >> skip; // permissions, offset, device, inode
            name.clear();                           // an unnamed mapping leaves the stream at its end
            std::getline(fields >> std::ws, name);
            if (name.empty()) {
                name = "[anon]";
            }
        } else if (first == "Rss:") {
            long kb = 0;
            fields >> kb;
            sizes[name] += kb;
        }
    }
    return sizes;
}

void printLargestMappings(int pid)
{
    std::vector<std::pair<long, std::string>> sizes;
    long files = 0;
    for (const auto& [name, kb] : residentByMapping(pid)) {
        sizes.emplace_back(kb, name);
        if (name.front() == '/') {
            files += kb;
        }
    }
    std::sort(sizes.rbegin(), sizes.rend());
    // BENCH_MAPPINGS=N lists the N largest mappings (12 by default).
    const char* wanted = std::getenv("BENCH_MAPPINGS");
    std::size_t count = wanted ? std::strtoul(wanted, nullptr, 10) : 12;
    std::cout << "of which file-backed:                       " << files / 1024.0 << " MB; largest:";
    for (std::size_t i = 0; i < sizes.size() && i < count; ++i) {
        std::cout << " " << sizes[i].second.substr(sizes[i].second.rfind('/') + 1) << " " << sizes[i].first << " kB";
    }
    std::cout << "\n";
}

bool storeToken(const std::string& token)
{
    ProcessOptions options;
    options.input = token;
    auto result = runProcess(
        {"/usr/bin/secret-tool", "store", "--label=Taskbell", "service", "com.quillet.taskbell", "account", "apiToken"},
        options);
    return result.exitCode == 0;
}

// The system's certificates with one added as update-ca-certificates adds a local one: a copy of the bundle
// with it appended, and a folder of the system's hashed files with it linked by its subject hash.
std::pair<std::filesystem::path, std::filesystem::path> systemTrustWith(const std::filesystem::path& certificate,
                                                                        const std::filesystem::path& where)
{
    const std::filesystem::path system = "/etc/ssl/certs";
    auto folder = where / "certs";
    std::filesystem::create_directory(folder);
    for (const auto& entry : std::filesystem::directory_iterator(system)) {
        std::filesystem::create_symlink(entry.path(), folder / entry.path().filename());
    }
    auto bundle = where / "ca-certificates.crt";
    std::ofstream(bundle) << std::ifstream(system / "ca-certificates.crt").rdbuf()
                          << std::ifstream(certificate).rdbuf();
    FILE* file = std::fopen(certificate.c_str(), "r");
    X509* parsed = file != nullptr ? PEM_read_X509(file, nullptr, nullptr, nullptr) : nullptr;
    if (file != nullptr) {
        std::fclose(file);
    }
    for (int n = 0; parsed != nullptr; ++n) {
        std::array<char, 32> name{};
        std::snprintf(name.data(), name.size(), "%08lx.%d", X509_subject_name_hash(parsed), n);
        if (!std::filesystem::exists(folder / name.data())) {
            std::filesystem::create_symlink(certificate, folder / name.data());
            break;
        }
    }
    X509_free(parsed);
    return {bundle, folder};
}

} // namespace

int main(int argc, char** argv)
{
    // --https: the site over TLS, as Jira Cloud always is; the program trusts the fake's certificate through
    // SSL_CERT_FILE. --system-trust: over TLS too, the program trusting the system's certificates with the
    // fake's added. --descriptions: every issue has a description of a few paragraphs and a list.
    bool https = false;
    bool systemTrust = false;
    bool descriptions = false;
    for (int i = 1; i < argc; ++i) {
        systemTrust = systemTrust || std::string(argv[i]) == "--system-trust";
        https = https || systemTrust || std::string(argv[i]) == "--https";
        descriptions = descriptions || std::string(argv[i]) == "--descriptions";
    }
    FakeJira::Options options;
    options.https = https;
    FakeJira jira(options);
    for (const char* status : {"10000", "3", "10002"}) {
        for (int i = 0; i < kPerSection; ++i) {
            FakeIssue issue;
            issue.summary = "Task " + std::to_string(i) + " of a section with a summary of ordinary length";
            issue.statusId = status;
            issue.assigneeAccountId = jira.accountId();
            if (descriptions) {
                issue.description = adf::doc(
                    {adf::paragraph({adf::text("What the task is about, in a sentence or two of ordinary length, "
                                               "with enough words to wrap onto a second line.")}),
                     adf::bulletList({"The first step", "The second step", "A third step with more words"}),
                     adf::paragraph({adf::text("Notes from the last meeting."), adf::hardBreak(),
                                     adf::text("Another line of notes.")})});
            }
            if (std::string(status) == "10002") {
                issue.resolutiondate = jira.now();
            }
            jira.addIssue(issue);
        }
    }
    TempDir config;
    TempDir runtime;
    std::filesystem::permissions(runtime.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    std::filesystem::create_directories(config / "com.quillet.taskbell");
    std::ofstream(config / "com.quillet.taskbell" / "settings.json")
        << R"({"baseURL": ")" << jira.baseUrl() << R"(", "email": ")" << jira.email()
        << R"(", "refreshMinutes": 0, "autoUpdate": false})";
    if (!storeToken(jira.token())) {
        std::cerr << "app_idle_bench: cannot store the token; run it under scripts/with-keyring.sh\n";
        return 1;
    }
    std::map<std::string, std::optional<std::string>> env = {{"QT_QPA_PLATFORM", "offscreen"},
                                                             {"XDG_CONFIG_HOME", config.path().string()},
                                                             {"XDG_RUNTIME_DIR", runtime.path().string()}};
    if (systemTrust) {
        auto [bundle, folder] = systemTrustWith(jira.certificateFile(), config.path());
        env["SSL_CERT_FILE"] = bundle.string();
        env["SSL_CERT_DIR"] = folder.string();
    } else if (https) {
        env["SSL_CERT_FILE"] = jira.certificateFile().string();
    }
    ChildProcess app({TASKBELL_EXE}, env);
    auto socket = runtime / "com.quillet.taskbell.instance";
    for (int i = 0; i < 200 && !std::filesystem::exists(socket); ++i) {
        std::this_thread::sleep_for(50ms);
    }
    long startedRss = residentKilobytes(app.pid());
    ProcessOptions second;
    second.env = env;
    runProcess({TASKBELL_EXE}, second); // shows the panel, which loads the sections
    if (!jira.waitForRequests(4, 30s)) {
        std::cerr << "app_idle_bench: the panel did not load\n";
    }
    // Wait until the three searches have paged through all 900 issues and the panel has settled.
    std::size_t seen = 0;
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(200ms);
        std::size_t now = jira.requests().size();
        if (now == seen && i > 5) {
            break;
        }
        seen = now;
    }
    std::this_thread::sleep_for(2s);
    long rss = residentKilobytes(app.pid());
    long ticksBefore = cpuTicks(app.pid());
    auto idleStart = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(10s);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - idleStart).count();
    double cpu = (cpuTicks(app.pid()) - ticksBefore) / double(sysconf(_SC_CLK_TCK)) / seconds * 100;
    // Idle pool threads end after 30 s; the figure after that is what a long-running session sees.
    std::this_thread::sleep_for(30s);
    long settledRss = residentKilobytes(app.pid());
    std::cout << "taskbell started (tray only):            " << startedRss / 1024.0 << " MB resident\n";
    std::cout << "idle with 900 issues, panel on In Progress: " << rss / 1024.0
              << " MB resident (goal <= 45 MB on All)\n";
    std::cout << "the same 40 s later:                        " << settledRss / 1024.0 << " MB resident\n";
    std::cout << "CPU while idle for " << seconds << " s:            " << cpu << " %\n";
    printLargestMappings(app.pid());
    ::kill(app.pid(), SIGTERM);
    app.wait(10s);
    return 0;
}
