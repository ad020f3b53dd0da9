#include "ua/crypto/securitypolicy.h"

#include <openssl/rsa.h>

#include <array>

#include "ua/crypto/ossl_p.h"
#include "ua/crypto/securitypolicyinfo_p.h"

namespace veze6::ua::crypto {

using namespace detail;

namespace {

constexpr std::string_view kRsaSha256 = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";
constexpr std::string_view kRsaOaep = "http://www.w3.org/2001/04/xmlenc#rsa-oaep";
constexpr std::string_view kHmacSha256 = "http://www.w3.org/2001/04/xmldsig-more#hmac-sha256";

// Overhead of OAEP padding with SHA-1: two digests and two bytes.
constexpr std::size_t kOaepSha1Overhead = 2 * 20 + 2;

const SecurityPolicy::Info kNone{
    SecurityPolicy::kNoneUri, {}, {}, {}, {}, nullptr, 0, 0, 0, 0, 0, 0, 0};
const SecurityPolicy::Info kBasic256Sha256{SecurityPolicy::kBasic256Sha256Uri,
                                           kRsaSha256,
                                           kRsaOaep,
                                           kHmacSha256,
                                           "http://www.w3.org/2001/04/xmlenc#aes256-cbc",
                                           "AES-256-CBC",
                                           32,
                                           32,
                                           16,
                                           32,
                                           32,
                                           2048,
                                           4096};
const SecurityPolicy::Info kAes128Sha256RsaOaep{SecurityPolicy::kAes128Sha256RsaOaepUri,
                                                kRsaSha256,
                                                kRsaOaep,
                                                kHmacSha256,
                                                "http://www.w3.org/2001/04/xmlenc#aes128-cbc",
                                                "AES-128-CBC",
                                                32,
                                                16,
                                                16,
                                                32,
                                                32,
                                                2048,
                                                4096};

const std::array<const SecurityPolicy::Info*, 3> kPolicies{&kBasic256Sha256, &kAes128Sha256RsaOaep,
                                                           &kNone};

std::size_t keyBytes(const EVP_PKEY* key) {
  return static_cast<std::size_t>(EVP_PKEY_get_size(key));
}

PKeyCtxPtr oaepContext(EVP_PKEY* key, bool encrypt) {
  PKeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
  if (!ctx ||
      (encrypt ? EVP_PKEY_encrypt_init(ctx.get()) : EVP_PKEY_decrypt_init(ctx.get())) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) != 1 ||
      EVP_PKEY_CTX_set_rsa_oaep_md(ctx.get(), EVP_sha1()) != 1 ||
      EVP_PKEY_CTX_set_rsa_mgf1_md(ctx.get(), EVP_sha1()) != 1)
    fail("cannot set up RSA-OAEP");
  return ctx;
}

EVP_PKEY* publicKeyOf(const Certificate& certificate) {
  EVP_PKEY* key = X509_get0_pubkey(certificate.native());
  if (!key || !EVP_PKEY_is_a(key, "RSA")) fail("certificate has no RSA public key");
  return key;
}

}  // namespace

std::optional<SecurityPolicy> SecurityPolicy::fromUri(std::string_view uri) {
  for (const Info* info : kPolicies)
    if (info->uri == uri) return SecurityPolicy(info);
  return std::nullopt;
}

std::vector<std::string_view> SecurityPolicy::supportedUris() {
  std::vector<std::string_view> uris;
  for (const Info* info : kPolicies) uris.push_back(info->uri);
  return uris;
}

SecurityPolicy::SecurityPolicy() : info_(&kNone) {}

SecurityPolicy SecurityPolicy::none() { return SecurityPolicy(&kNone); }
SecurityPolicy SecurityPolicy::basic256Sha256() { return SecurityPolicy(&kBasic256Sha256); }
SecurityPolicy SecurityPolicy::aes128Sha256RsaOaep() {
  return SecurityPolicy(&kAes128Sha256RsaOaep);
}

std::string_view SecurityPolicy::uri() const { return info_->uri; }
bool SecurityPolicy::isNone() const { return info_ == &kNone; }

std::string_view SecurityPolicy::asymmetricSignatureAlgorithmUri() const {
  return info_->asymmetricSignatureUri;
}
std::string_view SecurityPolicy::asymmetricEncryptionAlgorithmUri() const {
  return info_->asymmetricEncryptionUri;
}
int SecurityPolicy::minAsymmetricKeyBits() const { return info_->minKeyBits; }
int SecurityPolicy::maxAsymmetricKeyBits() const { return info_->maxKeyBits; }

bool SecurityPolicy::acceptsKey(const Certificate& certificate) const {
  if (isNone()) return true;
  const int bits = certificate.publicKeyBits();
  return certificate.isRsa() && bits >= info_->minKeyBits && bits <= info_->maxKeyBits;
}

std::size_t SecurityPolicy::asymmetricPlainTextBlockSize(const Certificate& receiver) const {
  if (isNone()) return 0;
  const std::size_t size = keyBytes(publicKeyOf(receiver));
  return size > kOaepSha1Overhead ? size - kOaepSha1Overhead : 0;
}

std::size_t SecurityPolicy::asymmetricCipherTextBlockSize(const Certificate& receiver) const {
  return isNone() ? 0 : keyBytes(publicKeyOf(receiver));
}

std::size_t SecurityPolicy::asymmetricSignatureSize(const PrivateKey& signer) const {
  return isNone() ? 0 : keyBytes(signer.native());
}

std::size_t SecurityPolicy::asymmetricSignatureSize(const Certificate& signer) const {
  return isNone() ? 0 : keyBytes(publicKeyOf(signer));
}

Bytes SecurityPolicy::asymmetricSign(const PrivateKey& key, ByteView data) const {
  if (isNone()) throw CryptoError("security policy None does not sign");
  MdCtxPtr ctx(EVP_MD_CTX_new());
  std::size_t length = 0;
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.native()) != 1 ||
      EVP_DigestSign(ctx.get(), nullptr, &length, data.data(), data.size()) != 1)
    fail("cannot sign");
  Bytes signature(length);
  if (EVP_DigestSign(ctx.get(), signature.data(), &length, data.data(), data.size()) != 1)
    fail("cannot sign");
  signature.resize(length);
  return signature;
}

bool SecurityPolicy::asymmetricVerify(const Certificate& signer, ByteView data,
                                      ByteView signature) const {
  if (isNone()) throw CryptoError("security policy None does not verify signatures");
  EVP_PKEY* key = publicKeyOf(signer);
  MdCtxPtr ctx(EVP_MD_CTX_new());
  const bool ok = ctx && signature.size() == keyBytes(key) &&
                  EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key) == 1 &&
                  EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), data.data(),
                                   data.size()) == 1;
  clearErrors();
  return ok;
}

Bytes SecurityPolicy::asymmetricEncrypt(const Certificate& receiver, ByteView plainText) const {
  if (isNone()) throw CryptoError("security policy None does not encrypt");
  EVP_PKEY* key = publicKeyOf(receiver);
  const std::size_t plainBlock = asymmetricPlainTextBlockSize(receiver);
  const std::size_t cipherBlock = keyBytes(key);
  if (plainBlock == 0) throw CryptoError("RSA key too small for OAEP");
  PKeyCtxPtr ctx = oaepContext(key, true);
  const std::size_t blocks = (plainText.size() + plainBlock - 1) / plainBlock;
  Bytes cipherText(blocks * cipherBlock);
  for (std::size_t i = 0; i < blocks; ++i) {
    const ByteView in = plainText.subspan(i * plainBlock)
                            .first(std::min(plainBlock, plainText.size() - i * plainBlock));
    std::size_t outLength = cipherBlock;
    if (EVP_PKEY_encrypt(ctx.get(), cipherText.data() + i * cipherBlock, &outLength, in.data(),
                         in.size()) != 1 ||
        outLength != cipherBlock)
      fail("RSA-OAEP encryption failed");
  }
  return cipherText;
}

Bytes SecurityPolicy::asymmetricDecrypt(const PrivateKey& key, ByteView cipherText) const {
  if (isNone()) throw CryptoError("security policy None does not decrypt");
  const std::size_t cipherBlock = keyBytes(key.native());
  if (cipherText.size() % cipherBlock != 0)
    throw CryptoError("cipher text is not a whole number of RSA blocks");
  PKeyCtxPtr ctx = oaepContext(key.native(), false);
  Bytes plainText(cipherText.size());  // an upper bound; trimmed below
  std::size_t total = 0;
  for (std::size_t offset = 0; offset < cipherText.size(); offset += cipherBlock) {
    std::size_t outLength = plainText.size() - total;
    if (EVP_PKEY_decrypt(ctx.get(), plainText.data() + total, &outLength,
                         cipherText.data() + offset, cipherBlock) != 1)
      fail("RSA-OAEP decryption failed");
    total += outLength;
  }
  plainText.resize(total);
  return plainText;
}

std::string_view SecurityPolicy::secretEncryptionAlgorithmUri() const {
  return info_->asymmetricEncryptionUri;
}

Bytes SecurityPolicy::encryptSecret(const Certificate& server, ByteView secret,
                                    ByteView serverNonce) const {
  if (isNone()) return Bytes(secret.begin(), secret.end());
  return asymmetricEncrypt(server, legacySecretPlainText(secret, serverNonce));
}

Bytes legacySecretPlainText(ByteView secret, ByteView serverNonce) {
  const std::size_t length = secret.size() + serverNonce.size();
  if (length > 0x7FFFFFFF) throw CryptoError("secret too long");
  Bytes plain;
  plain.reserve(4 + length);
  for (int shift = 0; shift < 32; shift += 8)
    plain.push_back(static_cast<std::uint8_t>(length >> shift));
  plain.insert(plain.end(), secret.begin(), secret.end());
  plain.insert(plain.end(), serverNonce.begin(), serverNonce.end());
  return plain;
}

}  // namespace veze6::ua::crypto
