#include "core/update/crypto.h"

#include "core/base/system_library.h"

namespace taskbell {
namespace {

Crypto load()
{
    SystemLibrary library("libcrypto.so.3", "checking updates");
    Crypto api{};
    TASKBELL_BIND(library, api, EVP_MD_CTX_new);
    TASKBELL_BIND(library, api, EVP_MD_CTX_free);
    TASKBELL_BIND(library, api, EVP_DigestInit_ex);
    TASKBELL_BIND(library, api, EVP_DigestUpdate);
    TASKBELL_BIND(library, api, EVP_DigestFinal_ex);
    TASKBELL_BIND(library, api, EVP_sha256);
    TASKBELL_BIND(library, api, EVP_PKEY_free);
    TASKBELL_BIND(library, api, EVP_PKEY_get_id);
    TASKBELL_BIND(library, api, EVP_PKEY_get_raw_public_key);
    TASKBELL_BIND(library, api, EVP_PKEY_new_raw_public_key);
    TASKBELL_BIND(library, api, EVP_PKEY_Q_keygen);
    TASKBELL_BIND(library, api, EVP_DigestSignInit);
    TASKBELL_BIND(library, api, EVP_DigestSign);
    TASKBELL_BIND(library, api, EVP_DigestVerifyInit);
    TASKBELL_BIND(library, api, EVP_DigestVerify);
    TASKBELL_BIND(library, api, BIO_new);
    TASKBELL_BIND(library, api, BIO_new_mem_buf);
    TASKBELL_BIND(library, api, BIO_s_mem);
    TASKBELL_BIND(library, api, BIO_free);
    TASKBELL_BIND(library, api, BIO_ctrl);
    TASKBELL_BIND(library, api, PEM_read_bio_PrivateKey);
    TASKBELL_BIND(library, api, PEM_write_bio_PrivateKey);
    return api;
}

} // namespace

const Crypto& crypto()
{
    static const Crypto api = load();
    return api;
}

} // namespace taskbell
