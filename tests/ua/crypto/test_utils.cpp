#include "test_utils.h"

#include <openssl/x509v3.h>
#include <stdlib.h>

#include <memory>
#include <stdexcept>

namespace veze6::ua::crypto::test {

const CertificateAndKey& serverIdentity() {
  static const CertificateAndKey identity =
      createApplicationCertificate("urn:veze6:test:server", "test server", "server.example", 30);
  return identity;
}

const CertificateAndKey& clientIdentity() {
  static const CertificateAndKey identity =
      createApplicationCertificate("urn:veze6:test:client", "test client", "client.example", 30);
  return identity;
}

Certificate reissue(const CertificateAndKey& subject, std::chrono::seconds notBeforeFromNow,
                    std::chrono::seconds notAfterFromNow, const CertificateAndKey* issuer,
                    bool ca) {
  const CertificateAndKey& signer = issuer ? *issuer : subject;
  std::unique_ptr<X509, decltype(&X509_free)> x(X509_dup(subject.certificate.native()), X509_free);
  X509_gmtime_adj(X509_getm_notBefore(x.get()), static_cast<long>(notBeforeFromNow.count()));
  X509_gmtime_adj(X509_getm_notAfter(x.get()), static_cast<long>(notAfterFromNow.count()));
  X509_set_issuer_name(x.get(), X509_get_subject_name(signer.certificate.native()));
  // Key identifiers would tie the copy to its original issuer.
  for (const int nid : {NID_authority_key_identifier, NID_basic_constraints})
    if (const int at = X509_get_ext_by_NID(x.get(), nid, -1); at >= 0)
      X509_EXTENSION_free(X509_delete_ext(x.get(), at));
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, signer.certificate.native(), x.get(), nullptr, nullptr, 0);
  X509_EXTENSION* bc = X509V3_EXT_conf_nid(nullptr, &ctx, NID_basic_constraints,
                                           ca ? "critical,CA:TRUE" : "CA:FALSE");
  X509_add_ext(x.get(), bc, -1);
  X509_EXTENSION_free(bc);
  if (X509_sign(x.get(), signer.key.native(), EVP_sha256()) <= 0)
    throw std::runtime_error("cannot re-sign certificate");
  unsigned char* der = nullptr;
  const int length = i2d_X509(x.get(), &der);
  const Bytes bytes(der, der + length);
  OPENSSL_free(der);
  return Certificate::fromDer(bytes);
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "veze6-crypto-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace veze6::ua::crypto::test
