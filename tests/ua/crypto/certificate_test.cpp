#include "ua/crypto/certificate.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <fstream>

#include "test_utils.h"

namespace veze6::ua::crypto {
namespace {

using test::clientIdentity;
using test::serverIdentity;

TEST(Certificate, ApplicationCertificateHasWhatPeersCheck) {
  const CertificateAndKey& id = serverIdentity();
  const Certificate& cert = id.certificate;
  EXPECT_EQ(cert.applicationUri(), "urn:veze6:test:server");
  EXPECT_EQ(cert.dnsNames(), std::vector<std::string>{"server.example"});
  EXPECT_EQ(cert.subject(), "CN=test server");
  EXPECT_EQ(cert.issuer(), cert.subject());
  EXPECT_EQ(cert.publicKeyBits(), 2048);
  EXPECT_TRUE(cert.isRsa());
  EXPECT_TRUE(cert.isSelfSigned());
  EXPECT_TRUE(cert.isTimeValid());
  EXPECT_FALSE(cert.isTimeValid(std::chrono::system_clock::now() + std::chrono::hours(24 * 31)));
  EXPECT_TRUE(id.key.matches(cert));
  EXPECT_FALSE(id.key.matches(clientIdentity().certificate));

  X509* x = cert.native();
  EXPECT_EQ(X509_get_version(x), X509_VERSION_3);
  const uint32_t usage = X509_get_key_usage(x);
  EXPECT_EQ(usage & (KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION | KU_KEY_ENCIPHERMENT |
                     KU_DATA_ENCIPHERMENT | KU_KEY_CERT_SIGN),
            uint32_t(KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION | KU_KEY_ENCIPHERMENT |
                     KU_DATA_ENCIPHERMENT | KU_KEY_CERT_SIGN));
  EXPECT_EQ(X509_get_extended_key_usage(x) & (XKU_SSL_SERVER | XKU_SSL_CLIENT),
            uint32_t(XKU_SSL_SERVER | XKU_SSL_CLIENT));
  EXPECT_EQ(X509_get_signature_nid(x), NID_sha256WithRSAEncryption);

  // The thumbprint names the DER form.
  const Bytes der = cert.toDer();
  Bytes sha1(20);
  EVP_Digest(der.data(), der.size(), sha1.data(), nullptr, EVP_sha1(), nullptr);
  EXPECT_EQ(cert.thumbprint(), sha1);
  EXPECT_EQ(cert.thumbprintHex().size(), 40u);

  // A numeric host goes in as an address, not a name.
  const CertificateAndKey byAddress =
      createApplicationCertificate("urn:a,b", "by address", "127.0.0.1", 1, 1024);
  EXPECT_TRUE(byAddress.certificate.dnsNames().empty());
  EXPECT_EQ(byAddress.certificate.applicationUri(), "urn:a,b");

  EXPECT_THROW(createApplicationCertificate("", "x", "h", 1), CryptoError);
  EXPECT_THROW(createApplicationCertificate("urn:x", "x", "h", 0), CryptoError);
}

TEST(Certificate, ParsesDerPemAndChains) {
  const Certificate& server = serverIdentity().certificate;
  const Certificate& client = clientIdentity().certificate;
  EXPECT_EQ(Certificate::fromDer(server.toDer()), server);
  EXPECT_EQ(Certificate::fromPem(server.toPem()), server);
  const std::string pem = server.toPem();
  EXPECT_EQ(Certificate::fromBytes(
                ByteView(reinterpret_cast<const std::uint8_t*>(pem.data()), pem.size())),
            server);

  // A peer's certificate followed by its issuer's.
  Bytes chain = server.toDer();
  const Bytes issuer = client.toDer();
  chain.insert(chain.end(), issuer.begin(), issuer.end());
  const Certificate leaf = Certificate::fromDer(chain);
  EXPECT_EQ(leaf, server);
  EXPECT_EQ(leaf.toDer(), server.toDer());
  ASSERT_EQ(leaf.chain().size(), 1u);
  EXPECT_EQ(leaf.chain().front(), client);

  const Bytes der = server.toDer();
  EXPECT_THROW(Certificate::fromDer({}), CryptoError);
  EXPECT_THROW(Certificate::fromDer(ByteView(der).first(der.size() - 1)), CryptoError);
  Bytes trailing = der;
  trailing.push_back(0);
  EXPECT_THROW(Certificate::fromDer(trailing), CryptoError);
  EXPECT_THROW(
      Certificate::fromPem("-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n"),
      CryptoError);
}

TEST(Certificate, PrivateKeyFileIsOwnerOnlyAndLoadsBack) {
  test::TempFolder folder;
  const auto file = folder.path() / "key.pem";
  { std::ofstream(file) << "old"; }
  ::chmod(file.c_str(), 0644);
  serverIdentity().key.saveToFile(file);

  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(PrivateKey::fromFile(file).matches(serverIdentity().certificate));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                          std::filesystem::directory_iterator()),
            1);  // no temporary file left behind

  EXPECT_THROW(PrivateKey::fromFile(folder.path() / "missing.pem"), CryptoError);
  EXPECT_THROW(PrivateKey::fromPem(serverIdentity().certificate.toPem()), CryptoError);
}

}  // namespace
}  // namespace veze6::ua::crypto
