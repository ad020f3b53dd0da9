#include "ua/crypto/certificatestore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "test_utils.h"
#include "ua/crypto/securitypolicy.h"

namespace veze6::ua::crypto {
namespace {

using namespace std::chrono_literals;
using test::clientIdentity;
using test::serverIdentity;
namespace fs = std::filesystem;

class CertificateStoreTest : public ::testing::Test {
 protected:
  test::TempFolder folder;
  CertificateStore store{folder.path() / "pki"};
};

TEST_F(CertificateStoreTest, UntrustedIsRejectedUntilTheUserMovesIt) {
  const Certificate& server = serverIdentity().certificate;
  EXPECT_EQ(store.verify(server), status::BadCertificateUntrusted);
  const fs::path rejected = store.rejectedFolder() / (server.thumbprintHex() + ".der");
  ASSERT_TRUE(fs::exists(rejected));
  EXPECT_EQ(Certificate::fromFile(rejected), server);
  EXPECT_EQ(store.verify(server), status::BadCertificateUntrusted);  // again, same file

  fs::create_directories(store.trustedFolder());
  fs::rename(rejected, store.trustedFolder() / rejected.filename());
  EXPECT_EQ(store.verify(server.toDer()), status::Good);
  // Trusting one server trusts no other.
  EXPECT_EQ(store.verify(clientIdentity().certificate), status::BadCertificateUntrusted);
}

TEST_F(CertificateStoreTest, TimeAndGarbage) {
  const Certificate expired = test::reissue(serverIdentity(), -48h, -24h);
  const Certificate future = test::reissue(serverIdentity(), 24h, 48h);
  // Trust comes first: an unknown expired certificate is untrusted and
  // offered for trust like any other.
  EXPECT_EQ(store.verify(expired), status::BadCertificateUntrusted);
  store.trust(expired);
  store.trust(future);
  EXPECT_EQ(store.verify(expired), status::BadCertificateTimeInvalid);
  EXPECT_EQ(store.verify(future), status::BadCertificateTimeInvalid);

  EXPECT_EQ(store.verify(Bytes{0x30, 0x03, 0x02, 0x01, 0x01}), status::BadCertificateInvalid);
  EXPECT_EQ(store.verify(Bytes{}), status::BadCertificateInvalid);
  // A tampered self-signed certificate is invalid, trusted or not.
  Bytes tampered = serverIdentity().certificate.toDer();
  tampered[tampered.size() - 5] ^= 0x01;  // inside the signature
  EXPECT_EQ(store.verify(tampered), status::BadCertificateInvalid);
  store.trust(serverIdentity().certificate);
  EXPECT_EQ(store.verify(tampered), status::BadCertificateInvalid);

  // Junk in the trust folder is ignored.
  { std::ofstream(store.trustedFolder() / "README") << "not a certificate"; }
  EXPECT_EQ(store.verify(serverIdentity().certificate), status::Good);
}

TEST_F(CertificateStoreTest, TrustedIssuerVouchesForItsCertificates) {
  const CertificateAndKey ca{test::reissue(clientIdentity(), -1h, 24h, nullptr, true),
                             clientIdentity().key};
  const Certificate issued = test::reissue(serverIdentity(), -1h, 24h, &ca);
  EXPECT_EQ(store.verify(issued), status::BadCertificateUntrusted);
  store.trust(ca.certificate);
  EXPECT_EQ(store.verify(issued), status::Good);
  // Sent with its issuer, as peers do.
  Bytes chain = issued.toDer();
  const Bytes caDer = ca.certificate.toDer();
  chain.insert(chain.end(), caDer.begin(), caDer.end());
  EXPECT_EQ(store.verify(chain), status::Good);

  const Certificate expiredIssued = test::reissue(serverIdentity(), -48h, -24h, &ca);
  EXPECT_EQ(store.verify(expiredIssued), status::BadCertificateTimeInvalid);
}

TEST_F(CertificateStoreTest, OwnCertificateIsMadeOnceAndKeptPrivate) {
  const CertificateAndKey first =
      store.ownCertificate("urn:veze6:test:me", "me", "me.example", 10, 1024);
  EXPECT_EQ(first.certificate.applicationUri(), "urn:veze6:test:me");
  EXPECT_TRUE(first.key.matches(first.certificate));
  struct stat st {};
  ASSERT_EQ(::stat((store.ownFolder() / "private.pem").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(store.ownFolder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // Loaded, not made again, by a new store on the same folder.
  CertificateStore again(store.root());
  EXPECT_EQ(again.ownCertificate("urn:veze6:test:me").certificate, first.certificate);
  // Another application URI gets a certificate of its own.
  const CertificateAndKey other = again.ownCertificate("urn:veze6:test:other", "o", "h", 10, 1024);
  EXPECT_EQ(other.certificate.applicationUri(), "urn:veze6:test:other");
  EXPECT_TRUE(PrivateKey::fromFile(store.ownFolder() / "private.pem").matches(other.certificate));
}

// The channel checks certificates and protects messages on its I/O thread
// while other clients do the same: nothing may be shared unguarded.
TEST_F(CertificateStoreTest, ConcurrentChecksAndMessages) {
  store.trust(serverIdentity().certificate);
  const SecurityPolicy policy = SecurityPolicy::basic256Sha256();
  const ChannelKeys keys = policy.deriveChannelKeys(policy.createNonce(), policy.createNonce());
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10; ++i) {
        if (store.verify(serverIdentity().certificate) != status::Good) ++failures;
        if (store.verify(clientIdentity().certificate) != status::BadCertificateUntrusted)
          ++failures;
        Bytes data(64, static_cast<std::uint8_t>(i));
        const Bytes plain = data;
        policy.symmetricEncrypt(keys.client, data);
        policy.symmetricDecrypt(keys.client, data);
        if (data != plain ||
            !policy.symmetricVerify(keys.client, data, policy.symmetricSign(keys.client, data)))
          ++failures;
        const Bytes secret = policy.asymmetricEncrypt(serverIdentity().certificate, plain);
        if (policy.asymmetricDecrypt(serverIdentity().key, secret) != plain) ++failures;
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
}

TEST(CertificateStore, DefaultRootFollowsXdg) {
  const char* oldData = std::getenv("XDG_DATA_HOME");
  const std::string saved = oldData ? oldData : "";
  ::setenv("XDG_DATA_HOME", "/tmp/xdg-data", 1);
  EXPECT_EQ(CertificateStore::defaultRoot(), fs::path("/tmp/xdg-data/veze6/pki"));
  ::setenv("XDG_DATA_HOME", "relative", 1);
  EXPECT_EQ(CertificateStore::defaultRoot(),
            fs::path(std::getenv("HOME")) / ".local/share/veze6/pki");
  if (oldData)
    ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else
    ::unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace veze6::ua::crypto
