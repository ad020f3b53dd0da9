// OPC UA security policies: the algorithms a secure channel and a user
// identity token use, and their sizes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ua/crypto/certificate.h"
#include "ua/crypto/cryptoerror.h"

namespace veze6::ua::crypto {

/// How the messages of a secure channel are protected.
enum class MessageSecurityMode { Invalid = 0, None = 1, Sign = 2, SignAndEncrypt = 3 };

/// The keys one side of a secure channel signs and encrypts its messages
/// with (the other side verifies and decrypts with the same keys).
struct SymmetricKeys {
  Bytes signingKey;
  Bytes encryptingKey;
  Bytes initializationVector;
};

/// Both sides' keys of a secure channel, derived from the two nonces of an
/// OpenSecureChannel exchange. The client sends with `client` and checks
/// what it receives with `server`.
struct ChannelKeys {
  SymmetricKeys client;
  SymmetricKeys server;
};

/// One security policy, created from its URI. A small immutable value: copy
/// it freely; every function is const and safe to call from any thread.
///
/// Asymmetric operations (OpenSecureChannel, signatures over nonces, the user
/// token secret) use RSA: signatures are PKCS#1 v1.5 with SHA-256, encryption
/// is OAEP with SHA-1. Symmetric operations (every message after the
/// OpenSecureChannel exchange) use HMAC-SHA256 and AES-CBC with keys derived
/// by P_SHA256.
///
/// The policy None has no algorithms: its sizes and lengths are 0, its
/// algorithm URIs empty, it accepts any key, and its cryptographic
/// operations throw CryptoError (a channel with policy None never calls
/// them), except encryptSecret(), which hands the secret back unchanged.
class SecurityPolicy {
 public:
  static constexpr std::string_view kNoneUri = "http://opcfoundation.org/UA/SecurityPolicy#None";
  static constexpr std::string_view kBasic256Sha256Uri =
      "http://opcfoundation.org/UA/SecurityPolicy#Basic256Sha256";
  static constexpr std::string_view kAes128Sha256RsaOaepUri =
      "http://opcfoundation.org/UA/SecurityPolicy#Aes128_Sha256_RsaOaep";

  /// The policy with this URI, or nullopt for one this client does not
  /// support (the caller answers BadSecurityPolicyRejected).
  static std::optional<SecurityPolicy> fromUri(std::string_view uri);
  /// The URIs fromUri() accepts, strongest first.
  static std::vector<std::string_view> supportedUris();
  /// The policy None.
  SecurityPolicy();
  static SecurityPolicy none();
  static SecurityPolicy basic256Sha256();
  static SecurityPolicy aes128Sha256RsaOaep();

  std::string_view uri() const;
  bool isNone() const;

  // --- Asymmetric algorithms -------------------------------------------

  /// URI of the asymmetric signature algorithm, for the SignatureData of
  /// CreateSession and ActivateSession.
  std::string_view asymmetricSignatureAlgorithmUri() const;
  /// URI of the asymmetric encryption algorithm: the EncryptionAlgorithm of
  /// an encrypted UserName token.
  std::string_view asymmetricEncryptionAlgorithmUri() const;
  /// Smallest and largest RSA key sizes, in bits, the policy allows for
  /// application instance certificates.
  int minAsymmetricKeyBits() const;
  int maxAsymmetricKeyBits() const;
  /// Whether a certificate's key is RSA and of an allowed size.
  bool acceptsKey(const Certificate& certificate) const;

  /// Bytes of plain text that fit one encrypted block for `receiver`'s key:
  /// key bytes - 42 (OAEP with SHA-1).
  std::size_t asymmetricPlainTextBlockSize(const Certificate& receiver) const;
  /// Bytes of one encrypted block for `receiver`'s key: the key size in
  /// bytes.
  std::size_t asymmetricCipherTextBlockSize(const Certificate& receiver) const;
  /// Bytes of a signature made with `signer`'s key (the key size in bytes).
  std::size_t asymmetricSignatureSize(const PrivateKey& signer) const;
  /// Bytes of a signature the holder of `signer`'s key makes.
  std::size_t asymmetricSignatureSize(const Certificate& signer) const;

  /// Signs `data` with the private key. Throws CryptoError.
  Bytes asymmetricSign(const PrivateKey& key, ByteView data) const;
  /// Whether `signature` is a valid signature of `data` by the certificate's
  /// key. Never throws for a bad signature.
  bool asymmetricVerify(const Certificate& signer, ByteView data, ByteView signature) const;
  /// Encrypts `plainText` for the certificate's key: split into blocks of
  /// asymmetricPlainTextBlockSize(), each encrypted separately into
  /// asymmetricCipherTextBlockSize() bytes and concatenated. Empty input
  /// gives empty output. The secure channel pads its chunks to whole blocks
  /// itself; a short last block is still encrypted. Throws CryptoError.
  Bytes asymmetricEncrypt(const Certificate& receiver, ByteView plainText) const;
  /// Reverses asymmetricEncrypt(). `cipherText` must be a whole number of
  /// the key's blocks; throws CryptoError otherwise or when a block does not
  /// decrypt (wrong key, tampered data).
  Bytes asymmetricDecrypt(const PrivateKey& key, ByteView cipherText) const;

  // --- Symmetric algorithms --------------------------------------------

  /// URIs of the symmetric algorithms, for logs and diagnostics.
  std::string_view symmetricSignatureAlgorithmUri() const;
  std::string_view symmetricEncryptionAlgorithmUri() const;
  /// Derived key lengths in bytes: signing key 32 for both policies,
  /// encrypting key 32 (Basic256Sha256) or 16 (Aes128_Sha256_RsaOaep).
  std::size_t signingKeyLength() const;
  std::size_t encryptingKeyLength() const;
  /// AES block size, 16: the IV length and what encrypted message bodies are
  /// padded to.
  std::size_t encryptingBlockSize() const;
  /// Bytes of a symmetric signature (HMAC-SHA256): 32.
  std::size_t symmetricSignatureSize() const;
  /// Length of the nonces of OpenSecureChannel, CreateSession and
  /// ActivateSession: 32 (0 for None).
  std::size_t nonceLength() const;

  /// A new nonce of nonceLength() bytes from the secure random source.
  Bytes createNonce() const;

  /// The keys for one side: P_SHA256(secret, seed) cut into signing key,
  /// encrypting key and IV, in that order.
  SymmetricKeys deriveKeys(ByteView secret, ByteView seed) const;
  /// Both sides' keys: the client's from secret = server nonce and seed =
  /// client nonce, the server's from secret = client nonce and seed = server
  /// nonce. Throws CryptoError when either nonce is not nonceLength() bytes:
  /// a short nonce from the peer would weaken every key of the channel (the
  /// caller answers BadNonceInvalid).
  ChannelKeys deriveChannelKeys(ByteView clientNonce, ByteView serverNonce) const;

  /// HMAC-SHA256 of `data` with keys.signingKey. Throws CryptoError.
  Bytes symmetricSign(const SymmetricKeys& keys, ByteView data) const;
  /// Whether `signature` is the HMAC of `data`, compared in constant time.
  bool symmetricVerify(const SymmetricKeys& keys, ByteView data, ByteView signature) const;
  /// AES-CBC with keys.encryptingKey and keys.initializationVector, in place
  /// and without padding: `data` must be a whole number of
  /// encryptingBlockSize() blocks (the channel pads). Throws CryptoError.
  void symmetricEncrypt(const SymmetricKeys& keys, MutableByteView data) const;
  /// Reverses symmetricEncrypt(), in place. Throws CryptoError.
  void symmetricDecrypt(const SymmetricKeys& keys, MutableByteView data) const;

  // --- User identity token secrets --------------------------------------

  /// URI for the EncryptionAlgorithm field of a UserName (or issued)
  /// identity token encrypted by encryptSecret(); empty for None, where the
  /// secret travels unencrypted.
  std::string_view secretEncryptionAlgorithmUri() const;
  /// The token's secret field: the length of password and nonce (4 bytes,
  /// little-endian), the password bytes and the last server nonce of the
  /// session, encrypted for the server's certificate. For None, the
  /// password itself. Throws CryptoError.
  Bytes encryptSecret(const Certificate& server, ByteView secret, ByteView serverNonce) const;

  friend bool operator==(const SecurityPolicy& a, const SecurityPolicy& b) {
    return a.info_ == b.info_;
  }

  struct Info;  // internal

 private:
  explicit SecurityPolicy(const Info* info) : info_(info) {}
  const Info* info_;
};

/// `length` bytes from the system's cryptographically secure random source.
/// Throws CryptoError when the source fails.
Bytes randomBytes(std::size_t length);

/// The pseudo-random function P_SHA256 (HMAC-SHA256 based), `length` bytes
/// of output for `secret` and `seed`.
Bytes pSha256(ByteView secret, ByteView seed, std::size_t length);

/// The plain text of a legacy encrypted token secret, before encryption:
/// length (4 bytes, little-endian) of secret plus nonce, the secret, the
/// nonce.
Bytes legacySecretPlainText(ByteView secret, ByteView serverNonce);

}  // namespace veze6::ua::crypto
