#pragma once

#include <string>
#include <tuple>

// The certificates TLS connections trust, parsed once per process. libcurl would otherwise parse the whole CA
// bundle again for every transfer slot (its cache lives in each multi handle), which costs several
// megabytes with a few connections open.
namespace taskbell::http {

// Where the trusted certificates come from: a bundle file and an optional folder of hashed certificates.
struct TrustSource
{
    std::string file;
    std::string folder;
    bool operator<(const TrustSource& other) const
    {
        return std::tie(file, folder) < std::tie(other.file, other.folder);
    }
};

// The system's trust: the bundle and folder libcurl was built with, each replaced by SSL_CERT_FILE or
// SSL_CERT_DIR when set (as for every OpenSSL program).
TrustSource systemTrust(const char* builtInFile, const char* builtInFolder);

// True when every block of the bundle is a certificate that the folder holds too, by OpenSSL's hashed names:
// the folder alone then trusts the same certificates (Debian's bundle and /etc/ssl/certs are made from the
// same files). False when either cannot be read, or the bundle is empty.
bool folderHoldsBundle(const TrustSource& source);

// Makes an OpenSSL SSL_CTX (libcurl's, before its handshake) verify against the shared store for `source`.
// False when the certificates cannot be read: the connection must then fail rather than trust nothing.
bool installTrust(void* sslContext, const TrustSource& source);

} // namespace taskbell::http
