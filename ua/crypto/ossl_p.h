// Internal to ua/crypto: not API. Owning handles for the cryptographic
// library's objects, and its error text.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

#include "ua/crypto/cryptoerror.h"

namespace veze6::ua::crypto::detail {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const noexcept { Free(p); }
};

inline void freeBio(BIO* b) { BIO_free_all(b); }
inline void freeGeneralNames(GENERAL_NAMES* n) { GENERAL_NAMES_free(n); }
inline void freeX509Stack(STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); }

using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using PKeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using PKeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, Deleter<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>>;
using MacPtr = std::unique_ptr<EVP_MAC, Deleter<EVP_MAC, EVP_MAC_free>>;
using MacCtxPtr = std::unique_ptr<EVP_MAC_CTX, Deleter<EVP_MAC_CTX, EVP_MAC_CTX_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, freeBio>>;
using X509StorePtr = std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>>;
using X509StoreCtxPtr =
    std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX, X509_STORE_CTX_free>>;
using X509StackPtr = std::unique_ptr<STACK_OF(X509), Deleter<STACK_OF(X509), freeX509Stack>>;
using GeneralNamesPtr = std::unique_ptr<GENERAL_NAMES, Deleter<GENERAL_NAMES, freeGeneralNames>>;
using X509ExtPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;

/// Empties the calling thread's library error queue into one line of text.
std::string takeErrors();

/// Throws CryptoError with `what` and the library's queued error text.
[[noreturn]] void fail(const std::string& what);

/// Clears the calling thread's error queue, so an expected failure (a bad
/// signature, a probe for PEM) does not show up in a later error text.
void clearErrors();

}  // namespace veze6::ua::crypto::detail
