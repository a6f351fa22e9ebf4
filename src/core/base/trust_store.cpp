#include "core/base/trust_store.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string_view>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
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
    decltype(&::BIO_new_file) BIO_new_file;
    decltype(&::BIO_free) BIO_free;
    decltype(&::PEM_read_bio) PEM_read_bio;
    decltype(&::d2i_X509) d2i_X509;
    decltype(&::X509_free) X509_free;
    decltype(&::X509_subject_name_hash) X509_subject_name_hash;
    decltype(&::CRYPTO_free) CRYPTO_free;
    decltype(&::ERR_set_mark) ERR_set_mark;
    decltype(&::ERR_pop_to_mark) ERR_pop_to_mark;
    decltype(&::ERR_peek_last_error) ERR_peek_last_error;
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
        TASKBELL_BIND(crypto, loaded, BIO_new_file);
        TASKBELL_BIND(crypto, loaded, BIO_free);
        TASKBELL_BIND(crypto, loaded, PEM_read_bio);
        TASKBELL_BIND(crypto, loaded, d2i_X509);
        TASKBELL_BIND(crypto, loaded, X509_free);
        TASKBELL_BIND(crypto, loaded, X509_subject_name_hash);
        TASKBELL_BIND(crypto, loaded, CRYPTO_free);
        TASKBELL_BIND(crypto, loaded, ERR_set_mark);
        TASKBELL_BIND(crypto, loaded, ERR_pop_to_mark);
        TASKBELL_BIND(crypto, loaded, ERR_peek_last_error);
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

// One PEM block of a file read block by block: its type ("CERTIFICATE") and its DER bytes.
class PemBlocks
{
public:
    explicit PemBlocks(const std::string& path) : file_(ssl().BIO_new_file(path.c_str(), "r")) {}
    ~PemBlocks()
    {
        release();
        if (file_ != nullptr) {
            ssl().BIO_free(file_);
        }
    }
    PemBlocks(const PemBlocks&) = delete;
    PemBlocks& operator=(const PemBlocks&) = delete;

    bool opened() const { return file_ != nullptr; }
    // False at the end of the file, or at text that is not a PEM block.
    bool next()
    {
        release();
        return file_ != nullptr && ssl().PEM_read_bio(file_, &name_, &header_, &data_, &length_) == 1;
    }
    // True once the file was read to its end, not stopped by a damaged block.
    bool ended() const
    {
        unsigned long last = ssl().ERR_peek_last_error();
        return ERR_GET_LIB(last) == ERR_LIB_PEM && ERR_GET_REASON(last) == PEM_R_NO_START_LINE;
    }
    std::string_view name() const { return name_; }
    std::string_view der() const { return {reinterpret_cast<const char*>(data_), static_cast<std::size_t>(length_)}; }

private:
    void release()
    {
        ssl().CRYPTO_free(name_, __FILE__, __LINE__);
        ssl().CRYPTO_free(header_, __FILE__, __LINE__);
        ssl().CRYPTO_free(data_, __FILE__, __LINE__);
        name_ = header_ = nullptr;
        data_ = nullptr;
        length_ = 0;
    }

    BIO* file_;
    char* name_ = nullptr;
    char* header_ = nullptr;
    unsigned char* data_ = nullptr;
    long length_ = 0;
};

// True when the folder's files named "<subject hash>.N" hold the certificate `der` as a plain certificate
// where OpenSSL looks it up: N counts from 0, and the search ends at a file that is missing, holds no
// certificate or cannot be read to its end.
bool folderHolds(const std::string& folder, std::string_view der, unsigned long subjectHash)
{
    for (int n = 0;; ++n) {
        std::array<char, 32> name{};
        std::snprintf(name.data(), name.size(), "/%08lx.%d", subjectHash, n);
        PemBlocks file(folder + name.data());
        bool certificates = false;
        while (file.next()) {
            if (file.name() == PEM_STRING_X509 && file.der() == der) {
                return true;
            }
            certificates = certificates || file.name() == PEM_STRING_X509 || file.name() == PEM_STRING_X509_OLD ||
                           file.name() == PEM_STRING_X509_TRUSTED;
        }
        if (!certificates || !file.ended()) {
            return false;
        }
    }
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
    // The folder is searched by subject hash when a chain is built, so adding it reads nothing yet. A bundle
    // the folder holds whole adds nothing to it and is not kept parsed: about 1.3 MB for the system's.
    bool bundleNeeded = !source.file.empty() && (source.folder.empty() || !folderHoldsBundle(source));
    if ((bundleNeeded && ssl().X509_STORE_load_file(store, source.file.c_str()) != 1) ||
        (!source.folder.empty() && ssl().X509_STORE_load_path(store, source.folder.c_str()) != 1)) {
        ssl().X509_STORE_free(store);
        return nullptr;
    }
    // What libcurl sets on its own stores: a trusted certificate ends the chain even when it is not a root.
    ssl().X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
    return store;
}

} // namespace

bool folderHoldsBundle(const TrustSource& source)
{
    ssl().ERR_set_mark(); // the end of each file leaves an error behind; libcurl reads the queue after us
    PemBlocks bundle(source.file);
    int held = 0;
    bool all = bundle.opened();
    while (all && bundle.next()) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(bundle.der().data());
        auto size = static_cast<long>(bundle.der().size());
        X509* certificate = bundle.name() == PEM_STRING_X509 ? ssl().d2i_X509(nullptr, &bytes, size) : nullptr;
        // Anything but a plain certificate (trust settings, a revocation list) is only read from the bundle.
        all = certificate != nullptr &&
              folderHolds(source.folder, bundle.der(), ssl().X509_subject_name_hash(certificate));
        ssl().X509_free(certificate);
        held += all ? 1 : 0;
    }
    // Read to its end: a damaged block makes the bundle unusable as a whole.
    bool ended = all && bundle.ended();
    ssl().ERR_pop_to_mark();
    return ended && held > 0;
}

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
