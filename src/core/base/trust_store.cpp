#include "core/base/trust_store.h"

#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include "core/base/system_library.h"

namespace taskbell::http {
namespace {

struct OpenSsl
{
    decltype(&::X509_STORE_new) X509_STORE_new;
    decltype(&::X509_STORE_free) X509_STORE_free;
    decltype(&::X509_STORE_load_file) X509_STORE_load_file;
    decltype(&::X509_STORE_load_path) X509_STORE_load_path;
    decltype(&::X509_STORE_set_flags) X509_STORE_set_flags;
    decltype(&::SSL_CTX_set1_cert_store) SSL_CTX_set1_cert_store;
};

// Both libraries are loaded already: libcurl speaks TLS through them.
const OpenSsl& ssl()
{
    static const OpenSsl api = [] {
        SystemLibrary crypto("libcrypto.so.3", "network access");
        SystemLibrary tls("libssl.so.3", "network access");
        OpenSsl loaded{};
        TASKBELL_BIND(crypto, loaded, X509_STORE_new);
        TASKBELL_BIND(crypto, loaded, X509_STORE_free);
        TASKBELL_BIND(crypto, loaded, X509_STORE_load_file);
        TASKBELL_BIND(crypto, loaded, X509_STORE_load_path);
        TASKBELL_BIND(crypto, loaded, X509_STORE_set_flags);
        TASKBELL_BIND(tls, loaded, SSL_CTX_set1_cert_store);
        return loaded;
    }();
    return api;
}

// A bundle that changed on disk (a system update) is read again for new connections after a day, as
// libcurl's own cache would.
constexpr std::chrono::hours kReloadAfter{24};

struct Loaded
{
    X509_STORE* store = nullptr; // one reference held here; each SSL_CTX holds its own
    std::chrono::steady_clock::time_point at;
};

std::mutex storesMutex;
// Kept for the life of the process, never destroyed: connections may still be closing during exit.
std::map<TrustSource, Loaded>& stores()
{
    static auto* loaded = new std::map<TrustSource, Loaded>();
    return *loaded;
}

// Nothing when the bundle cannot be read or the folder cannot be added, as libcurl would refuse them too.
X509_STORE* load(const TrustSource& source)
{
    if (source.file.empty() && source.folder.empty()) {
        return nullptr;
    }
    X509_STORE* store = ssl().X509_STORE_new();
    if (store == nullptr) {
        return nullptr;
    }
    // The folder is searched by subject hash when a chain is built, so adding it reads nothing yet.
    if ((!source.file.empty() && ssl().X509_STORE_load_file(store, source.file.c_str()) != 1) ||
        (!source.folder.empty() && ssl().X509_STORE_load_path(store, source.folder.c_str()) != 1)) {
        ssl().X509_STORE_free(store);
        return nullptr;
    }
    // What libcurl sets on its own stores: a trusted certificate ends the chain even when it is not a root.
    ssl().X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
    return store;
}

} // namespace

TrustSource systemTrust(const char* builtInFile, const char* builtInFolder)
{
    // Each variable replaces its own default, as in OpenSSL.
    auto pick = [](const char* variable, const char* builtIn) {
        const char* value = std::getenv(variable);
        return std::string(value != nullptr && *value != '\0' ? value : (builtIn != nullptr ? builtIn : ""));
    };
    return {pick("SSL_CERT_FILE", builtInFile), pick("SSL_CERT_DIR", builtInFolder)};
}

bool installTrust(void* sslContext, const TrustSource& source)
{
    try {
        std::lock_guard lock(storesMutex);
        auto now = std::chrono::steady_clock::now();
        Loaded& loaded = stores()[source];
        if (loaded.store == nullptr || now - loaded.at > kReloadAfter) {
            X509_STORE* fresh = load(source);
            if (fresh == nullptr && loaded.store == nullptr) {
                return false;
            }
            if (fresh != nullptr && loaded.store != nullptr) {
                ssl().X509_STORE_free(loaded.store); // connections using it keep their own reference
            }
            // A bundle unreadable while it is being replaced keeps the one read before, for another day.
            loaded = {fresh != nullptr ? fresh : loaded.store, now};
        }
        ssl().SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslContext), loaded.store);
        return true;
    } catch (...) { // called from libcurl: nothing may pass through
        return false;
    }
}

} // namespace taskbell::http
