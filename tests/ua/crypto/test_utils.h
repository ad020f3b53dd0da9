// Shared helpers of the security tests.
#pragma once

#include <chrono>
#include <filesystem>

#include "ua/crypto/certificate.h"

namespace veze6::ua::crypto::test {

/// Identities made once per test run: RSA key generation is the slowest
/// thing these tests do.
const CertificateAndKey& serverIdentity();
const CertificateAndKey& clientIdentity();

/// A copy of `subject`'s certificate re-issued with other validity times,
/// and signed by `issuer` (itself when null) with a CA flag as asked.
Certificate reissue(const CertificateAndKey& subject, std::chrono::seconds notBeforeFromNow,
                    std::chrono::seconds notAfterFromNow, const CertificateAndKey* issuer = nullptr,
                    bool ca = false);

/// A fresh folder under the system's temporary folder, removed with
/// everything in it when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace veze6::ua::crypto::test
