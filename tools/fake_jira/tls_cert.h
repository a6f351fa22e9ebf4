#pragma once

#include <string>

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace taskbell::test {

// A throw-away self-signed certificate for 127.0.0.1, ::1 and localhost, made at test time.
class SelfSignedCertificate
{
public:
    SelfSignedCertificate();
    ~SelfSignedCertificate();
    SelfSignedCertificate(const SelfSignedCertificate&) = delete;
    SelfSignedCertificate& operator=(const SelfSignedCertificate&) = delete;

    X509* certificate() const { return certificate_; }
    EVP_PKEY* key() const { return key_; }
    std::string pem() const; // the certificate, for clients that choose to trust it

private:
    X509* certificate_ = nullptr;
    EVP_PKEY* key_ = nullptr;
};

} // namespace taskbell::test
