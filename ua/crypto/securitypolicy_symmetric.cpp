// The symmetric half of SecurityPolicy: key derivation, HMAC and AES-CBC.
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <climits>

#include "ua/crypto/ossl_p.h"
#include "ua/crypto/securitypolicy.h"
#include "ua/crypto/securitypolicyinfo_p.h"

namespace veze6::ua::crypto {

using namespace detail;

namespace {

// Algorithm objects fetched once: fetching by name on every message would
// cost more than signing a small one.
EVP_MAC* hmacAlgorithm() {
  static const MacPtr mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
  if (!mac) fail("HMAC unavailable");
  return mac.get();
}

const EVP_CIPHER* cipherAlgorithm(const char* name) {
  using CipherPtr = std::unique_ptr<EVP_CIPHER, Deleter<EVP_CIPHER, EVP_CIPHER_free>>;
  static const CipherPtr aes128(EVP_CIPHER_fetch(nullptr, "AES-128-CBC", nullptr));
  static const CipherPtr aes256(EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr));
  const EVP_CIPHER* cipher = std::string_view(name) == "AES-128-CBC" ? aes128.get() : aes256.get();
  if (!cipher) fail(std::string(name) + " unavailable");
  return cipher;
}

// HMAC-SHA256 of the concatenation of `parts`, into `out` (32 bytes).
void hmacSha256(ByteView key, std::initializer_list<ByteView> parts, std::uint8_t* out) {
  MacCtxPtr ctx(EVP_MAC_CTX_new(hmacAlgorithm()));
  char digest[] = "SHA256";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_END};
  // A zero-length key is legal for HMAC but the library wants a pointer.
  static const std::uint8_t kEmpty = 0;
  if (!ctx || EVP_MAC_init(ctx.get(), key.empty() ? &kEmpty : key.data(), key.size(), params) != 1)
    fail("cannot start HMAC");
  for (const ByteView part : parts)
    if (EVP_MAC_update(ctx.get(), part.data(), part.size()) != 1) fail("HMAC failed");
  std::size_t length = 0;
  if (EVP_MAC_final(ctx.get(), out, &length, 32) != 1 || length != 32) fail("HMAC failed");
}

}  // namespace

Bytes randomBytes(std::size_t length) {
  Bytes bytes(length);
  if (length > INT_MAX || (length > 0 && RAND_bytes(bytes.data(), static_cast<int>(length)) != 1))
    fail("secure random source failed");
  return bytes;
}

Bytes pSha256(ByteView secret, ByteView seed, std::size_t length) {
  // A(0) = seed, A(i) = HMAC(secret, A(i-1)); output HMAC(secret, A(i) + seed)...
  Bytes output;
  output.reserve(length + 32);
  std::uint8_t a[32];
  hmacSha256(secret, {seed}, a);
  while (output.size() < length) {
    std::uint8_t block[32];
    hmacSha256(secret, {ByteView(a), seed}, block);
    output.insert(output.end(), block, block + 32);
    hmacSha256(secret, {ByteView(a)}, a);
  }
  output.resize(length);
  return output;
}

Bytes SecurityPolicy::createNonce() const { return randomBytes(nonceLength()); }

std::string_view SecurityPolicy::symmetricSignatureAlgorithmUri() const {
  return info_->symmetricSignatureUri;
}
std::string_view SecurityPolicy::symmetricEncryptionAlgorithmUri() const {
  return info_->symmetricEncryptionUri;
}
std::size_t SecurityPolicy::signingKeyLength() const { return info_->signingKeyLength; }
std::size_t SecurityPolicy::encryptingKeyLength() const { return info_->encryptingKeyLength; }
std::size_t SecurityPolicy::encryptingBlockSize() const { return info_->blockSize; }
std::size_t SecurityPolicy::symmetricSignatureSize() const { return info_->symmetricSignatureSize; }
std::size_t SecurityPolicy::nonceLength() const { return info_->nonceLength; }

SymmetricKeys SecurityPolicy::deriveKeys(ByteView secret, ByteView seed) const {
  if (isNone()) throw CryptoError("security policy None derives no keys");
  const std::size_t sign = info_->signingKeyLength;
  const std::size_t encrypt = info_->encryptingKeyLength;
  const Bytes material = pSha256(secret, seed, sign + encrypt + info_->blockSize);
  const auto at = [&](std::size_t offset) { return material.begin() + offset; };
  return {Bytes(at(0), at(sign)), Bytes(at(sign), at(sign + encrypt)),
          Bytes(at(sign + encrypt), material.end())};
}

ChannelKeys SecurityPolicy::deriveChannelKeys(ByteView clientNonce, ByteView serverNonce) const {
  if (clientNonce.size() != nonceLength() || serverNonce.size() != nonceLength())
    throw CryptoError("nonce length does not match the security policy");
  return {deriveKeys(serverNonce, clientNonce), deriveKeys(clientNonce, serverNonce)};
}

Bytes SecurityPolicy::symmetricSign(const SymmetricKeys& keys, ByteView data) const {
  if (isNone()) throw CryptoError("security policy None does not sign");
  Bytes signature(32);
  hmacSha256(keys.signingKey, {data}, signature.data());
  return signature;
}

bool SecurityPolicy::symmetricVerify(const SymmetricKeys& keys, ByteView data,
                                     ByteView signature) const {
  if (isNone()) throw CryptoError("security policy None does not verify signatures");
  if (signature.size() != 32) return false;
  std::uint8_t expected[32];
  hmacSha256(keys.signingKey, {data}, expected);
  return CRYPTO_memcmp(expected, signature.data(), sizeof expected) == 0;
}

namespace {

void aesCbc(const SecurityPolicy::Info& info, const SymmetricKeys& keys, MutableByteView data,
            bool encrypt) {
  if (keys.encryptingKey.size() != info.encryptingKeyLength ||
      keys.initializationVector.size() != info.blockSize)
    throw CryptoError("symmetric key or IV of the wrong length");
  if (data.size() % info.blockSize != 0)
    throw CryptoError("data is not a whole number of cipher blocks");
  if (data.size() > INT_MAX) throw CryptoError("data too long to encrypt in one piece");
  CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  int length = 0;
  if (!ctx ||
      EVP_CipherInit_ex2(ctx.get(), cipherAlgorithm(info.cipherName), keys.encryptingKey.data(),
                         keys.initializationVector.data(), encrypt ? 1 : 0, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
      EVP_CipherUpdate(ctx.get(), data.data(), &length, data.data(),
                       static_cast<int>(data.size())) != 1 ||
      static_cast<std::size_t>(length) != data.size())
    fail(encrypt ? "AES encryption failed" : "AES decryption failed");
}

}  // namespace

void SecurityPolicy::symmetricEncrypt(const SymmetricKeys& keys, MutableByteView data) const {
  if (isNone()) throw CryptoError("security policy None does not encrypt");
  aesCbc(*info_, keys, data, true);
}

void SecurityPolicy::symmetricDecrypt(const SymmetricKeys& keys, MutableByteView data) const {
  if (isNone()) throw CryptoError("security policy None does not decrypt");
  aesCbc(*info_, keys, data, false);
}

}  // namespace veze6::ua::crypto
