// The client's certificate folders: its own identity and the servers it
// trusts or has rejected.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "ua/crypto/certificate.h"
#include "ua/crypto/statuscodes.h"

namespace veze6::ua::crypto {

/// A folder of certificates:
///
///     <root>/own/cert.der        the client's application instance certificate
///     <root>/own/private.pem     its key (mode 0600)
///     <root>/trusted/            server certificates (or their CAs) trusted
///     <root>/rejected/           server certificates met and not trusted
///
/// A server certificate that is not trusted is copied into rejected/ as
/// `<thumbprint>.der`; moving that file into trusted/ trusts the server from
/// the next connection on. trusted/ is read again on every verify(), so no
/// restart is needed. Files in trusted/ may be DER or PEM; files that hold no
/// certificate are ignored. Folders are created with mode 0700.
///
/// Safe to use from several threads: the operations on the folders are
/// serialized.
class CertificateStore {
 public:
  /// `$XDG_DATA_HOME/veze6/pki`, or `~/.local/share/veze6/pki` when
  /// XDG_DATA_HOME is unset, empty or not absolute.
  static std::filesystem::path defaultRoot();

  /// A store at `root` (defaultRoot() when empty). Creates nothing yet.
  explicit CertificateStore(std::filesystem::path root = {});
  ~CertificateStore();
  CertificateStore(const CertificateStore&) = delete;
  CertificateStore& operator=(const CertificateStore&) = delete;

  const std::filesystem::path& root() const;
  std::filesystem::path ownFolder() const;
  std::filesystem::path trustedFolder() const;
  std::filesystem::path rejectedFolder() const;

  /// The client's certificate and key from own/, created there first when
  /// missing, unreadable, not matching each other, expired, or made for
  /// another application URI (a server refuses a certificate whose URI is
  /// not the client's). A new certificate is self-signed with
  /// `applicationUri`, `commonName`, `hostname` (the machine's host name
  /// when empty), `days` of validity and an RSA key of `bits`. Throws
  /// CryptoError when the folder cannot be written or the key not made.
  CertificateAndKey ownCertificate(const std::string& applicationUri,
                                   const std::string& commonName = "veze6 OPC UA client",
                                   const std::string& hostname = {}, int days = 5 * 365,
                                   int bits = 2048);

  /// Checks a server certificate:
  /// - status::Good when it, or a CA that issued it, is in trusted/, and
  ///   every certificate of that chain is within its validity period now;
  /// - status::BadCertificateUntrusted when it is not trusted; the
  ///   certificate is then copied into rejected/ (a failure to copy does not
  ///   change the answer);
  /// - status::BadCertificateTimeInvalid when it is trusted but expired or
  ///   not yet valid (or a trusted issuer is);
  /// - status::BadCertificateInvalid when its signature does not verify.
  /// Trust is decided before time, so an expired unknown certificate is
  /// reported untrusted and lands in rejected/ like any other.
  std::uint32_t verify(const Certificate& serverCertificate);
  /// verify() for certificate bytes as received (DER, possibly followed by
  /// issuer certificates); status::BadCertificateInvalid when they are not a
  /// certificate.
  std::uint32_t verify(ByteView serverCertificate);

  /// Copies a certificate into trusted/ as `<thumbprint>.der` (a user's
  /// "trust this server" action, and the tests' set-up).
  void trust(const Certificate& certificate);

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace veze6::ua::crypto
