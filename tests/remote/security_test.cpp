// A host with TLS: who it admits, who it refuses (before any object is
// made for them) and what a client hears in either case.
#include <gtest/gtest.h>

#include "hostfixture.h"
#include "opc/OPCDA.h"
#include "opc/com.h"
#include "qopcdprocess.h"
#include "testcerts.h"

namespace veze6::test {
namespace {

class TlsHost : public InProcessHostTest {
 protected:
  static void SetUpTestSuite() {
    InProcessHostTest::SetUpTestSuite();
    certs = new TestCerts;
  }
  static void TearDownTestSuite() {
    delete certs;
    certs = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(certs->ok()) << "the openssl command could not make the test certificates";
    InProcessHostTest::SetUp();
    host.reset();
    opc::remote::HostTlsOptions tls;
    tls.certificateFile = certs->crt("host");
    tls.keyFile = certs->key("host");
    tls.clientAuthorityFile = certs->crt("ca");
    start(tls);
  }

  void start(const opc::remote::HostTlsOptions& tls) {
    opc::remote::HostOptions options;
    options.port = 0;
    options.tls = tls;
    options.log = [this](const std::string& line) { log.add(line); };
    host = std::make_unique<opc::remote::Host>(options);
    ASSERT_EQ(host->listen(), S_OK) << host->errorText();
    computer = u"127.0.0.1:" + opc::utf8ToUtf16(std::to_string(host->port()));
  }

  HRESULT status() {
    ComPtr<IOPCServer> server;
    const HRESULT hr = createOn(computer, sim::CLSID_Veze6Simulation, server);
    if (FAILED(hr)) return hr;
    opc::TaskOut<OPCSERVERSTATUS> status;
    const HRESULT got = server->GetStatus(status.put());
    if (SUCCEEDED(got)) CoTaskMemFree(status.get()->szVendorInfo);
    return got;
  }

  static inline TestCerts* certs = nullptr;
};

TEST_F(TlsHost, AdmitsAClientTheAuthorityIssued) {
  ClientFiles files(certs->crt("ca"), certs->crt("client"), certs->key("client"));
  EXPECT_EQ(status(), S_OK);
  EXPECT_EQ(log.count("connected: /CN=client"), 1u);
  EXPECT_TRUE(pumpUntil([&] { return log.count("released") == 1; }));
}

TEST_F(TlsHost, RefusesClientsWithoutValidCredentialsBeforeMakingAnything) {
  {
    ClientFiles files(certs->crt("ca"));  // no certificate of its own
    EXPECT_EQ(status(), E_ACCESSDENIED);
  }
  {
    ClientFiles files(certs->crt("ca"), certs->crt("rogue"), certs->key("rogue"));
    EXPECT_EQ(status(), E_ACCESSDENIED);
  }
  {
    ClientFiles files({});  // no TLS at all
    EXPECT_EQ(status(), E_ACCESSDENIED);
  }
  EXPECT_TRUE(pumpUntil([&] { return log.count("refused") == 3; }));
  EXPECT_EQ(log.count("refused: no client certificate"), 1u);
  EXPECT_EQ(log.count("refused: /CN=rogue"), 1u);
  EXPECT_EQ(log.count("refused: a client without TLS"), 1u);
  EXPECT_EQ(log.count("created"), 0u);
  EXPECT_EQ(log.count("connected"), 0u);
}

TEST_F(TlsHost, AdmitsAnAllowListedFingerprintWithoutAnAuthority) {
  host.reset();
  opc::remote::HostTlsOptions tls;
  tls.certificateFile = certs->crt("host");
  tls.keyFile = certs->key("host");
  tls.allowedFingerprints = {certs->fingerprint("rogue")};
  start(tls);
  {
    ClientFiles files(certs->crt("ca"), certs->crt("rogue"), certs->key("rogue"));
    EXPECT_EQ(status(), S_OK);
  }
  {
    // The authority's own client is not on the list.
    ClientFiles files(certs->crt("ca"), certs->crt("client"), certs->key("client"));
    EXPECT_EQ(status(), E_ACCESSDENIED);
  }
  EXPECT_EQ(log.count("(allow-listed)"), 1u);
  EXPECT_TRUE(pumpUntil([&] { return log.count("refused: /CN=client") == 1; }));
}

TEST_F(TlsHost, ClientRefusesAHostItCannotVerify) {
  {
    ClientFiles files(certs->crt("rogue-ca"), certs->crt("client"), certs->key("client"));
    EXPECT_EQ(status(), opc::remote::CERT_E_UNTRUSTEDROOT);
  }
  {
    // The host's certificate names 127.0.0.1, not another address of it.
    ClientFiles files(certs->crt("ca"), certs->crt("client"), certs->key("client"));
    computer = u"127.0.0.2:" + opc::utf8ToUtf16(std::to_string(host->port()));
    host.reset();
    opc::remote::HostTlsOptions tls;
    tls.certificateFile = certs->crt("host");
    tls.keyFile = certs->key("host");
    tls.clientAuthorityFile = certs->crt("ca");
    opc::remote::HostOptions options;
    options.address = "127.0.0.2";
    options.port = 0;
    options.tls = tls;
    host = std::make_unique<opc::remote::Host>(options);
    ASSERT_EQ(host->listen(), S_OK) << host->errorText();
    computer = u"127.0.0.2:" + opc::utf8ToUtf16(std::to_string(host->port()));
    EXPECT_EQ(status(), opc::remote::CERT_E_CN_NO_MATCH);
  }
}

TEST_F(TlsHost, WillNotStartBeyondLoopbackWithoutTlsOrWithoutClientAdmission) {
  opc::remote::HostOptions open;
  open.address = "0.0.0.0";
  open.port = 0;
  opc::remote::Host plain(open);
  EXPECT_EQ(plain.listen(), E_ACCESSDENIED);
  EXPECT_NE(plain.errorText().find("needs TLS"), std::string::npos) << plain.errorText();

  open.tls.certificateFile = certs->crt("host");
  open.tls.keyFile = certs->key("host");
  opc::remote::Host anyone(open);
  EXPECT_EQ(anyone.listen(), E_INVALIDARG);
  EXPECT_NE(anyone.errorText().find("admit clients"), std::string::npos) << anyone.errorText();

  open.tls.allowedFingerprints = {"12:34"};
  opc::remote::Host badList(open);
  EXPECT_EQ(badList.listen(), E_INVALIDARG);
}

TEST_F(TlsHost, QopcdLogsEachRefusalOnOneLine) {
  QopcdProcess daemon;
  ASSERT_TRUE(daemon.start({"--tls-cert", QString::fromStdString(certs->crt("host")), "--tls-key",
                            QString::fromStdString(certs->key("host")), "--allow-fingerprint",
                            QString::fromStdString(certs->fingerprint("client"))}))
      << daemon.log().toStdString();
  computer = daemon.computer();
  {
    ClientFiles files(certs->crt("ca"), certs->crt("rogue"), certs->key("rogue"));
    EXPECT_EQ(status(), E_ACCESSDENIED);
  }
  {
    ClientFiles files(certs->crt("ca"), certs->crt("client"), certs->key("client"));
    EXPECT_EQ(status(), S_OK);
  }
  EXPECT_TRUE(pumpUntil([&] { return daemon.count("released") == 1; }))
      << daemon.log().toStdString();
  const QStringList refusals = daemon.log().split('\n').filter("refused");
  ASSERT_EQ(refusals.size(), 1) << daemon.log().toStdString();
  EXPECT_TRUE(refusals.front().contains("/CN=rogue")) << refusals.front().toStdString();
  EXPECT_EQ(daemon.count("created"), 1);
}

}  // namespace
}  // namespace veze6::test
