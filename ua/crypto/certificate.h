// X.509 application instance certificates and RSA private keys.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ua/crypto/cryptoerror.h"

// The cryptographic library's own objects, opaque to users of this header.
struct x509_st;
struct evp_pkey_st;

namespace veze6::ua::crypto {

/// An X.509 certificate. A value: copies share one immutable certificate, so
/// copying is cheap and copies may be used from any thread.
class Certificate {
 public:
  /// Parses DER bytes. OPC UA peers may send their certificate followed by
  /// its issuers' (a chain of concatenated DER certificates): the first one
  /// is kept, the rest must also be well-formed certificates and are
  /// available from chain(). Throws CryptoError for anything else.
  static Certificate fromDer(ByteView der);
  /// Parses the first PEM "CERTIFICATE" block of text. Throws CryptoError.
  static Certificate fromPem(std::string_view pem);
  /// DER or PEM, whichever the bytes hold. Throws CryptoError.
  static Certificate fromBytes(ByteView bytes);
  /// Reads a DER or PEM file. Throws CryptoError when it cannot be read or
  /// holds no certificate.
  static Certificate fromFile(const std::filesystem::path& file);

  /// The certificate as DER (without the issuers given to fromDer()).
  Bytes toDer() const;
  /// The certificate as a PEM block.
  std::string toPem() const;
  /// The issuer certificates that followed this one in fromDer()'s input.
  const std::vector<Certificate>& chain() const;

  /// SHA-1 of the DER form, 20 bytes: the thumbprint OPC UA messages carry
  /// to name a receiver's certificate.
  Bytes thumbprint() const;
  /// The thumbprint as 40 upper-case hex digits (file names, logs).
  std::string thumbprintHex() const;

  /// Size of the public key's modulus in bits (0 for a key that is not RSA).
  int publicKeyBits() const;
  /// Whether the public key is an RSA key, the only kind the supported
  /// security policies use.
  bool isRsa() const;
  /// Subject name in one line, most significant part last ("CN=x,O=y").
  std::string subject() const;
  /// Issuer name, same form as subject().
  std::string issuer() const;
  /// The first URI entry of the subject alternative name: the OPC UA
  /// application URI. Empty when there is none.
  std::string applicationUri() const;
  /// The DNS entries of the subject alternative name.
  std::vector<std::string> dnsNames() const;

  std::chrono::system_clock::time_point notBefore() const;
  std::chrono::system_clock::time_point notAfter() const;
  /// Whether `at` lies in [notBefore, notAfter].
  bool isTimeValid(
      std::chrono::system_clock::time_point at = std::chrono::system_clock::now()) const;
  /// Whether subject equals issuer and the certificate's signature verifies
  /// with its own public key.
  bool isSelfSigned() const;

  /// Same DER bytes.
  friend bool operator==(const Certificate& a, const Certificate& b);

  /// The underlying certificate object, owned by this value; for this
  /// library's internals.
  x509_st* native() const noexcept;

 private:
  struct Impl;
  explicit Certificate(std::shared_ptr<const Impl> impl);
  std::shared_ptr<const Impl> d_;
};

/// An RSA private key. A value like Certificate: copies share one immutable
/// key.
class PrivateKey {
 public:
  /// A new RSA key from the system's secure random source. Throws
  /// CryptoError.
  static PrivateKey generateRsa(int bits = 2048);
  /// Parses an unencrypted PEM private key (PKCS#8 or traditional RSA).
  /// Throws CryptoError.
  static PrivateKey fromPem(std::string_view pem);
  /// Reads an unencrypted PEM key file. Throws CryptoError.
  static PrivateKey fromFile(const std::filesystem::path& file);

  /// The key as unencrypted PKCS#8 PEM.
  std::string toPem() const;
  /// Writes toPem() to `file` with permissions 0600 (owner read/write only),
  /// replacing it atomically: the key is never readable by others, not even
  /// for a moment, and a crash leaves either the old or the new file.
  /// Throws CryptoError.
  void saveToFile(const std::filesystem::path& file) const;

  /// Size of the modulus in bits.
  int bits() const;
  /// Whether `certificate` carries this key's public half.
  bool matches(const Certificate& certificate) const;

  /// The underlying key object, owned by this value; for this library's
  /// internals.
  evp_pkey_st* native() const noexcept;

 private:
  struct Impl;
  explicit PrivateKey(std::shared_ptr<const Impl> impl);
  std::shared_ptr<const Impl> d_;
};

/// A certificate with its private key: an application's identity.
struct CertificateAndKey {
  Certificate certificate;
  PrivateKey key;
};

/// Creates a self-signed OPC UA application instance certificate and its new
/// RSA key: subject CN=`commonName`, SHA-256 signature, valid from an hour
/// ago (tolerating peers whose clocks run slightly behind) for `days` days,
/// subject alternative name with `applicationUri` as URI and `hostname` as
/// DNS name (or IP address when it is a numeric address; left out when
/// empty), key usage digitalSignature, nonRepudiation, keyEncipherment,
/// dataEncipherment and keyCertSign, extended key usage serverAuth and
/// clientAuth, subject and authority key identifiers, a random serial.
/// Throws CryptoError (also for an empty URI, days < 1 or bits < 1024).
CertificateAndKey createApplicationCertificate(const std::string& applicationUri,
                                               const std::string& commonName,
                                               const std::string& hostname, int days,
                                               int bits = 2048);

}  // namespace veze6::ua::crypto
