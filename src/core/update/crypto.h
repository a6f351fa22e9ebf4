#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>

namespace taskbell {

// The functions of libcrypto that checksums and bundle signatures use. The library is opened with the first
// of them rather than at start: only updates need it.
struct Crypto
{
    decltype(&::EVP_MD_CTX_new) EVP_MD_CTX_new;
    decltype(&::EVP_MD_CTX_free) EVP_MD_CTX_free;
    decltype(&::EVP_DigestInit_ex) EVP_DigestInit_ex;
    decltype(&::EVP_DigestUpdate) EVP_DigestUpdate;
    decltype(&::EVP_DigestFinal_ex) EVP_DigestFinal_ex;
    decltype(&::EVP_sha256) EVP_sha256;
    decltype(&::EVP_PKEY_free) EVP_PKEY_free;
    decltype(&::EVP_PKEY_get_id) EVP_PKEY_get_id;
    decltype(&::EVP_PKEY_get_raw_public_key) EVP_PKEY_get_raw_public_key;
    decltype(&::EVP_PKEY_new_raw_public_key) EVP_PKEY_new_raw_public_key;
    decltype(&::EVP_PKEY_Q_keygen) EVP_PKEY_Q_keygen;
    decltype(&::EVP_DigestSignInit) EVP_DigestSignInit;
    decltype(&::EVP_DigestSign) EVP_DigestSign;
    decltype(&::EVP_DigestVerifyInit) EVP_DigestVerifyInit;
    decltype(&::EVP_DigestVerify) EVP_DigestVerify;
    decltype(&::BIO_new) BIO_new;
    decltype(&::BIO_new_mem_buf) BIO_new_mem_buf;
    decltype(&::BIO_s_mem) BIO_s_mem;
    decltype(&::BIO_free) BIO_free;
    decltype(&::BIO_ctrl) BIO_ctrl;
    decltype(&::PEM_read_bio_PrivateKey) PEM_read_bio_PrivateKey;
    decltype(&::PEM_write_bio_PrivateKey) PEM_write_bio_PrivateKey;
};

// Opens libcrypto on the first call. Throws LibraryError.
const Crypto& crypto();

} // namespace taskbell
