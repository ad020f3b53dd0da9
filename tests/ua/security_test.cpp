// Secure channels and user names against the node-opcua test server, with
// a certificate store made for the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "ua/client.h"
#include "uatestserver.h"

namespace veze6::ua {
namespace {

namespace fs = std::filesystem;

class SecurityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = veze6test::sharedUaServer();
    if (!server_) GTEST_SKIP() << veze6test::uaServerSkipReason();
    ASSERT_TRUE(server_->running()) << server_->error() << server_->serverErrors();
    folder_ = fs::temp_directory_path() / ("veze6-ua-pki-" + std::to_string(::getpid()));
    fs::remove_all(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  ConnectOptions options(const std::string& policy, MessageSecurityMode mode) {
    ConnectOptions o;
    o.endpointUrl = server_->url();
    o.securityPolicy = policy;
    o.securityMode = mode;
    o.certificateFolder = folder_.string();
    o.user = UserIdentity{"operator", "secret-for-tests"};
    return o;
  }
  /// Connects once to have the server's certificate rejected, then trusts it.
  void trustServer() {
    Client client;
    std::string error;
    ASSERT_EQ(
        client.connect(options("Basic256Sha256", MessageSecurityMode::SignAndEncrypt), &error),
        status::BadCertificateUntrusted);
    EXPECT_NE(error.find("rejected"), std::string::npos) << error;
    std::vector<fs::path> rejected;
    for (const auto& e : fs::directory_iterator(folder_ / "rejected")) rejected.push_back(e.path());
    ASSERT_EQ(rejected.size(), 1u);
    fs::rename(rejected[0], folder_ / "trusted" / rejected[0].filename());
  }

  veze6test::TestServerProcess* server_ = nullptr;
  fs::path folder_;
};

TEST_F(SecurityTest, UntrustedServerFailsUntilItsCertificateIsMovedToTrusted) {
  trustServer();
  for (auto [policy, mode] : {std::pair{"Basic256Sha256", MessageSecurityMode::SignAndEncrypt},
                              std::pair{"Aes128_Sha256_RsaOaep", MessageSecurityMode::Sign}}) {
    Client client;
    std::string error;
    ASSERT_EQ(client.connect(options(policy, mode), &error), status::Good)
        << policy << ": " << error;
    EXPECT_EQ(client.endpoint().securityMode, mode);
    // Large enough to need several encrypted chunks each way.
    std::vector<ReadValueId> nodes(
        100, ReadValueId(*NodeId::parse(veze6test::testNode("Scalar.String"))));
    std::vector<DataValue> values;
    ASSERT_EQ(client.read(nodes, values), status::Good);
    EXPECT_EQ(values[99].value.toString(), "Grüße, veze6");
    std::vector<BrowseResult> browsed;
    ASSERT_EQ(client.browse({{*NodeId::parse(veze6test::testNode("Many"))}}, browsed),
              status::Good);
    EXPECT_EQ(browsed[0].references.size(), 1500u);
    client.disconnect();
  }
  EXPECT_TRUE(fs::exists(folder_ / "own" / "cert.der"));
}

TEST_F(SecurityTest, WrongPasswordAndUnknownPolicyAreRefused) {
  trustServer();
  Client client;
  auto o = options("Basic256Sha256", MessageSecurityMode::SignAndEncrypt);
  o.user->password = "wrong";
  std::string error;
  const StatusCode s = client.connect(o, &error);
  EXPECT_TRUE(s == status::BadUserAccessDenied || s == status::BadIdentityTokenRejected)
      << statusName(s) << ": " << error;
  EXPECT_FALSE(client.isConnected());
  EXPECT_EQ(client.connect(options("Basic128Rsa15", MessageSecurityMode::Sign), &error),
            status::BadSecurityPolicyRejected);
  EXPECT_EQ(client.connect(options("Basic256Sha256", MessageSecurityMode::None), &error),
            status::BadSecurityModeRejected);
}

TEST_F(SecurityTest, UserNameOnAnUnsecuredChannelIsEncryptedForTheServer) {
  Client client;
  std::string error;
  ASSERT_EQ(client.connect(options("None", MessageSecurityMode::None), &error), status::Good)
      << error;
  std::vector<DataValue> values;
  EXPECT_EQ(client.read({{NodeId(0, nodes::Server_ServerStatus_State)}}, values), status::Good);
}

}  // namespace
}  // namespace veze6::ua
