#include "ua/crypto/securitypolicy.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>

#include <memory>

#include "test_utils.h"

namespace veze6::ua::crypto {
namespace {

using test::clientIdentity;
using test::serverIdentity;

Bytes pattern(std::size_t size, std::uint8_t start = 1) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(start + i * 7);
  return bytes;
}

// P_SHA256 as the library's own TLS 1.2 PRF computes it (with the whole seed
// passed as one piece): an implementation independent of ours.
Bytes referencePSha256(const Bytes& secret, const Bytes& seed, std::size_t length) {
  std::unique_ptr<EVP_KDF, decltype(&EVP_KDF_free)> kdf(EVP_KDF_fetch(nullptr, "TLS1-PRF", nullptr),
                                                        EVP_KDF_free);
  std::unique_ptr<EVP_KDF_CTX, decltype(&EVP_KDF_CTX_free)> ctx(EVP_KDF_CTX_new(kdf.get()),
                                                                EVP_KDF_CTX_free);
  char digest[] = "SHA256";
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SECRET,
                                        const_cast<std::uint8_t*>(secret.data()), secret.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SEED, const_cast<std::uint8_t*>(seed.data()),
                                        seed.size()),
      OSSL_PARAM_END};
  Bytes out(length);
  EXPECT_EQ(EVP_KDF_derive(ctx.get(), out.data(), out.size(), params), 1);
  return out;
}

Bytes referenceAesCbc(const EVP_CIPHER* cipher, const SymmetricKeys& keys, const Bytes& in) {
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                      EVP_CIPHER_CTX_free);
  EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, keys.encryptingKey.data(),
                     keys.initializationVector.data());
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  Bytes out(in.size());
  int length = 0;
  EVP_EncryptUpdate(ctx.get(), out.data(), &length, in.data(), static_cast<int>(in.size()));
  return out;
}

TEST(SecurityPolicy, FromUri) {
  for (const std::string_view uri : SecurityPolicy::supportedUris())
    EXPECT_EQ(SecurityPolicy::fromUri(uri)->uri(), uri);
  EXPECT_TRUE(SecurityPolicy::fromUri(SecurityPolicy::kNoneUri)->isNone());
  EXPECT_FALSE(SecurityPolicy::fromUri("http://opcfoundation.org/UA/SecurityPolicy#Basic128Rsa15"));
  EXPECT_FALSE(SecurityPolicy::fromUri(""));
}

TEST(SecurityPolicy, PSha256MatchesIndependentComputation) {
  const Bytes secret = pattern(32, 3);
  const Bytes seed = pattern(32, 99);
  // Lengths below, at and across the 32-byte HMAC block.
  for (const std::size_t length : {1u, 32u, 33u, 64u, 80u})
    EXPECT_EQ(pSha256(secret, seed, length), referencePSha256(secret, seed, length)) << length;
}

TEST(SecurityPolicy, ChannelKeysComeFromTheNoncesInTheirRoles) {
  const SecurityPolicy policy = SecurityPolicy::aes128Sha256RsaOaep();
  const Bytes clientNonce = pattern(32, 1);
  const Bytes serverNonce = pattern(32, 50);
  const ChannelKeys keys = policy.deriveChannelKeys(clientNonce, serverNonce);

  // Client keys: server nonce as secret, client nonce as seed; signing key,
  // encrypting key and IV follow each other in the output.
  const Bytes client = referencePSha256(serverNonce, clientNonce, 32 + 16 + 16);
  EXPECT_EQ(keys.client.signingKey, Bytes(client.begin(), client.begin() + 32));
  EXPECT_EQ(keys.client.encryptingKey, Bytes(client.begin() + 32, client.begin() + 48));
  EXPECT_EQ(keys.client.initializationVector, Bytes(client.begin() + 48, client.end()));
  const Bytes server = referencePSha256(clientNonce, serverNonce, 64);
  EXPECT_EQ(keys.server.signingKey, Bytes(server.begin(), server.begin() + 32));

  const ChannelKeys wide =
      SecurityPolicy::basic256Sha256().deriveChannelKeys(clientNonce, serverNonce);
  EXPECT_EQ(wide.client.encryptingKey.size(), 32u);
  const Bytes wideClient = referencePSha256(serverNonce, clientNonce, 80);
  EXPECT_EQ(wide.client.initializationVector, Bytes(wideClient.begin() + 64, wideClient.end()));

  // A nonce of the wrong length would weaken every key: refused.
  EXPECT_THROW(policy.deriveChannelKeys(clientNonce, pattern(16)), CryptoError);
  EXPECT_THROW(policy.deriveChannelKeys(Bytes{}, serverNonce), CryptoError);
}

TEST(SecurityPolicy, NoncesAreRandomAndOfThePolicyLength) {
  const SecurityPolicy policy = SecurityPolicy::basic256Sha256();
  const Bytes a = policy.createNonce();
  EXPECT_EQ(a.size(), 32u);
  EXPECT_NE(a, policy.createNonce());
  EXPECT_TRUE(SecurityPolicy::none().createNonce().empty());
}

TEST(SecurityPolicy, HmacSignAndVerify) {
  const SecurityPolicy policy = SecurityPolicy::basic256Sha256();
  const SymmetricKeys keys = policy.deriveKeys(pattern(32), pattern(32, 9));
  const Bytes data = pattern(1000);
  const Bytes signature = policy.symmetricSign(keys, data);

  unsigned int length = 0;
  Bytes expected(32);
  HMAC(EVP_sha256(), keys.signingKey.data(), static_cast<int>(keys.signingKey.size()), data.data(),
       data.size(), expected.data(), &length);
  EXPECT_EQ(signature, expected);
  EXPECT_EQ(signature.size(), policy.symmetricSignatureSize());

  EXPECT_TRUE(policy.symmetricVerify(keys, data, signature));
  Bytes tampered = data;
  tampered[500] ^= 1;
  EXPECT_FALSE(policy.symmetricVerify(keys, tampered, signature));
  EXPECT_FALSE(policy.symmetricVerify(keys, data, ByteView(signature).first(31)));
  EXPECT_FALSE(policy.symmetricVerify(keys, data, {}));
}

TEST(SecurityPolicy, AesCbcInPlaceMatchesReferenceAndRoundTrips) {
  struct Case {
    SecurityPolicy policy;
    const EVP_CIPHER* cipher;
  };
  for (const Case& c : {Case{SecurityPolicy::basic256Sha256(), EVP_aes_256_cbc()},
                        Case{SecurityPolicy::aes128Sha256RsaOaep(), EVP_aes_128_cbc()}}) {
    const SymmetricKeys keys = c.policy.deriveKeys(pattern(32), pattern(32, 77));
    for (const std::size_t size : {16u, 48u, 8192u}) {
      const Bytes plain = pattern(size);
      Bytes data = plain;
      c.policy.symmetricEncrypt(keys, data);
      EXPECT_EQ(data, referenceAesCbc(c.cipher, keys, plain)) << c.policy.uri() << " " << size;
      c.policy.symmetricDecrypt(keys, data);
      EXPECT_EQ(data, plain);
    }
    // The channel pads; anything not block-aligned is its fault, not ours to pad.
    Bytes ragged = pattern(17);
    EXPECT_THROW(c.policy.symmetricEncrypt(keys, ragged), CryptoError);
    SymmetricKeys shortKey = keys;
    shortKey.encryptingKey.pop_back();
    Bytes block = pattern(16);
    EXPECT_THROW(c.policy.symmetricDecrypt(shortKey, block), CryptoError);
  }
}

TEST(SecurityPolicy, AsymmetricSignAndVerify) {
  const SecurityPolicy policy = SecurityPolicy::basic256Sha256();
  const CertificateAndKey& client = clientIdentity();
  const Bytes data = pattern(777);
  const Bytes signature = policy.asymmetricSign(client.key, data);
  EXPECT_EQ(signature.size(), policy.asymmetricSignatureSize(client.key));
  EXPECT_EQ(signature.size(), 256u);

  EXPECT_TRUE(policy.asymmetricVerify(client.certificate, data, signature));
  // Same algorithms in the other policy.
  EXPECT_TRUE(
      SecurityPolicy::aes128Sha256RsaOaep().asymmetricVerify(client.certificate, data, signature));
  Bytes tampered = data;
  tampered.back() ^= 0x80;
  EXPECT_FALSE(policy.asymmetricVerify(client.certificate, tampered, signature));
  EXPECT_FALSE(policy.asymmetricVerify(serverIdentity().certificate, data, signature));
  EXPECT_FALSE(policy.asymmetricVerify(client.certificate, data, ByteView(signature).first(255)));
}

TEST(SecurityPolicy, AsymmetricEncryptionAtBlockBoundaries) {
  const SecurityPolicy policy = SecurityPolicy::aes128Sha256RsaOaep();
  const CertificateAndKey& server = serverIdentity();
  const std::size_t plainBlock = policy.asymmetricPlainTextBlockSize(server.certificate);
  const std::size_t cipherBlock = policy.asymmetricCipherTextBlockSize(server.certificate);
  EXPECT_EQ(plainBlock, 256u - 42u);
  EXPECT_EQ(cipherBlock, 256u);

  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, plainBlock - 1, plainBlock,
                                 plainBlock + 1, 2 * plainBlock, 2 * plainBlock + 1}) {
    const Bytes plain = pattern(size);
    const Bytes cipher = policy.asymmetricEncrypt(server.certificate, plain);
    EXPECT_EQ(cipher.size(), (size + plainBlock - 1) / plainBlock * cipherBlock) << size;
    EXPECT_EQ(policy.asymmetricDecrypt(server.key, cipher), plain) << size;
  }

  const Bytes cipher = policy.asymmetricEncrypt(server.certificate, pattern(plainBlock));
  EXPECT_THROW(policy.asymmetricDecrypt(server.key, ByteView(cipher).first(cipherBlock - 1)),
               CryptoError);
  EXPECT_THROW(policy.asymmetricDecrypt(clientIdentity().key, cipher), CryptoError);
  Bytes tampered = cipher;
  tampered[10] ^= 1;
  EXPECT_THROW(policy.asymmetricDecrypt(server.key, tampered), CryptoError);
}

TEST(SecurityPolicy, UserPasswordSecretLayout) {
  const SecurityPolicy policy = SecurityPolicy::basic256Sha256();
  const std::string password = "pässwörd";
  const ByteView secret(reinterpret_cast<const std::uint8_t*>(password.data()), password.size());
  const Bytes nonce = pattern(32, 200);
  const Bytes encrypted = policy.encryptSecret(serverIdentity().certificate, secret, nonce);
  EXPECT_EQ(policy.secretEncryptionAlgorithmUri(), "http://www.w3.org/2001/04/xmlenc#rsa-oaep");

  const Bytes plain = policy.asymmetricDecrypt(serverIdentity().key, encrypted);
  const std::size_t length = password.size() + nonce.size();
  ASSERT_EQ(plain.size(), 4 + length);
  EXPECT_EQ(plain[0], length & 0xFF);
  EXPECT_EQ(plain[1], 0);
  EXPECT_EQ(plain[2], 0);
  EXPECT_EQ(plain[3], 0);
  EXPECT_EQ(Bytes(plain.begin() + 4, plain.begin() + 4 + static_cast<long>(password.size())),
            Bytes(secret.begin(), secret.end()));
  EXPECT_EQ(Bytes(plain.end() - 32, plain.end()), nonce);

  // A long secret spans several RSA blocks and still comes back whole.
  const Bytes longSecret = pattern(500);
  EXPECT_EQ(policy.asymmetricDecrypt(
                serverIdentity().key,
                policy.encryptSecret(serverIdentity().certificate, longSecret, nonce)),
            legacySecretPlainText(longSecret, nonce));
  EXPECT_EQ(legacySecretPlainText(longSecret, nonce)[1], (500 + 32) >> 8);

  // Without a policy the secret travels as it is.
  EXPECT_EQ(SecurityPolicy::none().encryptSecret(serverIdentity().certificate, secret, nonce),
            Bytes(secret.begin(), secret.end()));
  EXPECT_TRUE(SecurityPolicy::none().secretEncryptionAlgorithmUri().empty());
}

TEST(SecurityPolicy, NoneHasNoAlgorithms) {
  const SecurityPolicy none = SecurityPolicy::none();
  const CertificateAndKey& server = serverIdentity();
  EXPECT_EQ(none.asymmetricCipherTextBlockSize(server.certificate), 0u);
  EXPECT_EQ(none.symmetricSignatureSize(), 0u);
  EXPECT_THROW(none.asymmetricSign(server.key, pattern(3)), CryptoError);
  EXPECT_THROW(none.asymmetricEncrypt(server.certificate, pattern(3)), CryptoError);
  EXPECT_THROW(none.deriveKeys(pattern(32), pattern(32)), CryptoError);
  Bytes block = pattern(16);
  EXPECT_THROW(none.symmetricEncrypt(SymmetricKeys{}, block), CryptoError);
}

TEST(SecurityPolicy, AcceptsOnlyRsaKeysOfAllowedSize) {
  const SecurityPolicy policy = SecurityPolicy::basic256Sha256();
  EXPECT_TRUE(policy.acceptsKey(serverIdentity().certificate));
  const CertificateAndKey small =
      createApplicationCertificate("urn:veze6:test:small", "small", "", 1, 1024);
  EXPECT_FALSE(policy.acceptsKey(small.certificate));
  EXPECT_TRUE(SecurityPolicy::none().acceptsKey(small.certificate));
}

}  // namespace
}  // namespace veze6::ua::crypto
