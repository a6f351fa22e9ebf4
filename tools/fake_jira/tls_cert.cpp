#include "tls_cert.h"

#include <stdexcept>

#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace taskbell::test {

SelfSignedCertificate::SelfSignedCertificate()
{
    key_ = EVP_EC_gen("P-256");
    certificate_ = X509_new();
    if (key_ == nullptr || certificate_ == nullptr) {
        throw std::runtime_error("could not create a test certificate");
    }
    X509_set_version(certificate_, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate_), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate_), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate_), 24 * 3600);
    X509_set_pubkey(certificate_, key_);
    X509_NAME* name = X509_get_subject_name(certificate_);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"), -1, -1,
                               0);
    X509_set_issuer_name(certificate_, name);

    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate_, certificate_, nullptr, nullptr, 0);
    auto addExtension = [&](int nid, const char* value) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
        if (extension == nullptr) {
            throw std::runtime_error("could not add a certificate extension");
        }
        X509_add_ext(certificate_, extension, -1);
        X509_EXTENSION_free(extension);
    };
    addExtension(NID_subject_alt_name, "IP:127.0.0.1,IP:::1,DNS:localhost");
    addExtension(NID_basic_constraints, "critical,CA:TRUE");
    addExtension(NID_key_usage, "critical,digitalSignature,keyCertSign");
    if (X509_sign(certificate_, key_, EVP_sha256()) == 0) {
        throw std::runtime_error("could not sign the test certificate");
    }
}

SelfSignedCertificate::~SelfSignedCertificate()
{
    X509_free(certificate_);
    EVP_PKEY_free(key_);
}

std::string SelfSignedCertificate::pem() const
{
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, certificate_);
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<std::size_t>(length));
    BIO_free(bio);
    return text;
}

} // namespace taskbell::test
