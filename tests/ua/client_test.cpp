// The client against the node-opcua test server.
#include "ua/client.h"

#include <gtest/gtest.h>

#include "uatestserver.h"

namespace veze6::ua {
namespace {

using veze6test::testNode;

NodeId node(const std::string& name) { return *NodeId::parse(testNode(name)); }

class ClientTest : public ::testing::Test {
 protected:
  StatusCode connect(Client& client, const std::string& url, ConnectOptions options = {}) {
    options.endpointUrl = url;
    std::string error;
    const StatusCode s = client.connect(options, &error);
    EXPECT_EQ(s, status::Good) << statusName(s) << ": " << error;
    return s;
  }
};

TEST_F(ClientTest, ReadsScalarsAndServerFacts) {
  VEZE6_REQUIRE_UA_SERVER(server);
  Client client;
  ASSERT_EQ(connect(client, server->url()), status::Good);
  const auto ns = client.namespaces();
  ASSERT_GE(ns.size(), 3u);
  EXPECT_EQ(ns[2], "urn:veze6:testserver");
  EXPECT_EQ(client.operationLimits().maxNodesPerRead, 100u);
  std::vector<DataValue> values;
  ASSERT_EQ(client.read({{node("Scalar.Double")}, {node("Scalar.String")}}, values), status::Good);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].value.toDouble(), 3.141592653589793);
  EXPECT_EQ(values[1].value.toString(), "Grüße, veze6");
  ServerStatus st;
  ASSERT_EQ(client.readServerStatus(st), status::Good);
  EXPECT_EQ(st.state, ServerState::Running);
  client.disconnect();
}

}  // namespace
}  // namespace veze6::ua
