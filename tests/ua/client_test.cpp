// The client against the node-opcua test server.
#include "ua/client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "uatestserver.h"

namespace veze6::ua {
namespace {

using namespace std::chrono_literals;
using veze6test::testNode;

NodeId node(const std::string& name) { return *NodeId::parse(testNode(name)); }

StatusCode connect(Client& client, const std::string& url, ConnectOptions options = {}) {
  options.endpointUrl = url;
  std::string error;
  const StatusCode s = client.connect(options, &error);
  EXPECT_EQ(s, status::Good) << statusName(s) << ": " << error;
  return s;
}

/// Collects what arrives on the I/O thread; waits for a condition with a
/// time limit.
template <class T>
class Inbox {
 public:
  void push(T v) {
    std::lock_guard lock(mutex_);
    items_.push_back(std::move(v));
    cv_.notify_all();
  }
  template <class Pred>
  bool waitFor(Pred pred, std::chrono::milliseconds limit = 10s) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit, [&] { return pred(items_); });
  }
  std::vector<T> items() {
    std::lock_guard lock(mutex_);
    return items_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<T> items_;
};

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = veze6test::sharedUaServer();
    if (!server_) GTEST_SKIP() << veze6test::uaServerSkipReason();
    ASSERT_TRUE(server_->running()) << server_->error() << server_->serverErrors();
    ASSERT_EQ(connect(client_, server_->url()), status::Good);
  }

  veze6test::TestServerProcess* server_ = nullptr;
  Client client_;
};

TEST_F(ClientTest, ReadsEveryKindOfValueAndTheServerFacts) {
  const auto ns = client_.namespaces();
  ASSERT_GE(ns.size(), 3u);
  EXPECT_EQ(ns[2], "urn:veze6:testserver");
  EXPECT_EQ(client_.operationLimits().maxNodesPerRead, 100u);
  EXPECT_EQ(client_.operationLimits().maxMonitoredItemsPerCall, 500u);

  std::vector<DataValue> v;
  ASSERT_EQ(client_.read({{node("Scalar.Double")},
                          {node("Scalar.String")},
                          {node("Scalar.UInt64")},
                          {node("Scalar.Guid")},
                          {node("Scalar.LocalizedText")},
                          {node("Array.Int32")},
                          {node("Array.Empty")},
                          {node("No.Such.Node")},
                          {node("Scalar.Float")}},
                         v),
            status::Good);
  ASSERT_EQ(v.size(), 9u);
  EXPECT_EQ(v[0].value.toDouble(), 3.141592653589793);
  EXPECT_EQ(v[1].value.toString(), "Grüße, veze6");
  EXPECT_EQ(std::get<std::uint64_t>(v[2].value.value), 18000000000000000000ull);
  EXPECT_EQ(v[3].value.toString(), "72962B91-FA75-4AE6-8D28-B404DC7DAF63");
  EXPECT_EQ(std::get<LocalizedText>(v[4].value.value), (LocalizedText{"en-US", "Hello"}));
  EXPECT_EQ(v[5].value.toString(), "[-2147483648, -1, 0, 1, 2147483647]");
  EXPECT_TRUE(v[6].value.isArray());
  EXPECT_EQ(v[7].status, status::BadNodeIdUnknown);
  EXPECT_EQ(v[8].value.type, BuiltinType::Float);
  EXPECT_NE(v[0].serverTimestamp, 0);

  ServerStatus st;
  ASSERT_EQ(client_.readServerStatus(st), status::Good);
  EXPECT_EQ(st.state, ServerState::Running);
  EXPECT_LE(st.startTime, st.currentTime);
  EXPECT_FALSE(st.buildInfo.productUri.empty());
}

TEST_F(ClientTest, SplitsReadsAtTheServersLimitAndKeepsTheOrder) {
  // 15 requests: more than are sent at once, answered in any order.
  std::vector<ReadValueId> nodes;
  for (int i = 0; i < 1500; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "Many.%04d", i);
    nodes.push_back({node(name)});
  }
  std::vector<DataValue> v;
  ASSERT_EQ(client_.read(nodes, v), status::Good);
  ASSERT_EQ(v.size(), 1500u);
  for (int i = 0; i < 1500; ++i) ASSERT_EQ(v[i].value.toDouble(), double(i)) << i;
  EXPECT_EQ(client_.read({}, v), status::BadNothingToDo);
}

TEST_F(ClientTest, WritesAndReportsRefusals) {
  std::vector<StatusCode> results;
  const int stamp = int(now() % 1000);
  ASSERT_EQ(client_.write(
                {{node("Access.ReadWrite"), attributes::Value, {}, {Variant::int32(stamp)}},
                 {node("Access.ReadOnly"), attributes::Value, {}, {Variant::int32(1)}},
                 {node("Access.Limited"), attributes::Value, {}, {Variant::int32(500)}},
                 {node("Access.ReadWriteString"), attributes::Value, {}, {Variant::float64(1)}}},
                results),
            status::Good);
  ASSERT_EQ(results.size(), 4u);
  EXPECT_EQ(results[0], status::Good);
  EXPECT_EQ(results[1] & 0xFFFF0000u, status::BadNotWritable);
  EXPECT_EQ(results[2] & 0xFFFF0000u, 0x803C0000u);  // BadOutOfRange
  EXPECT_EQ(results[3] & 0xFFFF0000u, status::BadTypeMismatch);
  std::vector<DataValue> v;
  ASSERT_EQ(client_.read({{node("Access.ReadWrite")}}, v), status::Good);
  EXPECT_EQ(v[0].value.toDouble(), stamp);
}

TEST_F(ClientTest, BrowsesThroughContinuationPointsAndTranslatesPaths) {
  std::vector<BrowseResult> results;
  ASSERT_EQ(client_.browse({{node("Many")}, {NodeId(0, nodes::ObjectsFolder)}}, results, 100),
            status::Good);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].references.size(), 1500u);
  EXPECT_TRUE(results[0].continuationPoint.empty());
  bool sawTree = false;
  for (const auto& r : results[1].references)
    sawTree |= r.browseName == QualifiedName{2, "Tree"} && r.nodeClass == NodeClass::Object;
  EXPECT_TRUE(sawTree);

  BrowsePath deep{NodeId(0, nodes::ObjectsFolder), {}};
  for (const char* name : {"Tree", "A", "B", "C", "Leaf"})
    deep.relativePath.push_back({{}, false, true, {2, name}});
  deep.relativePath[0].referenceTypeId = NodeId(0, nodes::HierarchicalReferences);
  for (auto& e : deep.relativePath) e.referenceTypeId = NodeId(0, nodes::HierarchicalReferences);
  BrowsePath missing{NodeId(0, nodes::ObjectsFolder),
                     {{NodeId(0, nodes::HierarchicalReferences), false, true, {2, "Nope"}}}};
  std::vector<BrowsePathResult> paths;
  ASSERT_EQ(client_.translateBrowsePaths({deep, missing}, paths), status::Good);
  ASSERT_EQ(paths.size(), 2u);
  ASSERT_EQ(paths[0].targets.size(), 1u);
  EXPECT_EQ(paths[0].targets[0].targetId.nodeId, node("Tree.A.B.C.Leaf"));
  EXPECT_TRUE(isBad(paths[1].status));
}

TEST_F(ClientTest, SubscriptionDeliversChangesAndHonoursDeadbands) {
  struct Change {
    std::uint32_t handle;
    double value;
  };
  Inbox<Change> inbox;
  std::uint32_t id = 0;
  SubscriptionSettings revised;
  ASSERT_EQ(client_.createSubscription(
                {100, 100, 10},
                [&](std::uint32_t, const std::vector<MonitoredItemNotification>& items) {
                  for (const auto& i : items)
                    inbox.push({i.clientHandle, i.value.value.toDouble().value_or(-1)});
                },
                id, &revised),
            status::Good);
  EXPECT_EQ(revised.publishingInterval, 100);

  std::vector<StatusCode> written;
  auto writeAnalog = [&](double v) {
    ASSERT_EQ(
        client_.write({{node("DA.Analog"), attributes::Value, {}, {Variant::float64(v)}}}, written),
        status::Good);
    ASSERT_EQ(written[0], status::Good);
  };
  writeAnalog(50);
  std::vector<MonitoredItemCreateRequest> items(3);
  items[0].itemToMonitor = {node("Dynamic.Counter")};
  items[0].requestedParameters.clientHandle = 1;
  items[1].itemToMonitor = {node("DA.Analog")};
  items[1].requestedParameters.clientHandle = 2;
  items[1].requestedParameters.filter = Client::deadbandFilter(DeadbandType::Absolute, 5);
  items[2].itemToMonitor = {node("DA.Analog")};
  items[2].requestedParameters.clientHandle = 3;
  items[2].requestedParameters.filter = Client::deadbandFilter(DeadbandType::Percent, 20);
  std::vector<MonitoredItemCreateResult> created;
  ASSERT_EQ(client_.createMonitoredItems(id, items, created), status::Good);
  ASSERT_EQ(created.size(), 3u);
  for (const auto& c : created) ASSERT_EQ(c.status, status::Good) << statusName(c.status);

  auto count = [&](std::uint32_t handle) {
    return [handle](const std::vector<Change>& all) {
      return std::count_if(all.begin(), all.end(),
                           [&](const Change& c) { return c.handle == handle; });
    };
  };
  ASSERT_TRUE(inbox.waitFor(
      [&](auto& all) { return count(1)(all) >= 3 && count(2)(all) >= 1 && count(3)(all) >= 1; }));
  // 50 -> 53: inside both dead bands; 53 -> 58: beyond 5 absolute, not 20%;
  // 58 -> 80: beyond both.
  writeAnalog(53);
  writeAnalog(58);
  ASSERT_TRUE(inbox.waitFor([&](auto& all) { return count(2)(all) >= 2; }));
  writeAnalog(80);
  ASSERT_TRUE(inbox.waitFor([&](auto& all) { return count(2)(all) >= 3 && count(3)(all) >= 2; }));
  std::vector<double> absolute, percent;
  for (const auto& c : inbox.items()) {
    if (c.handle == 2) absolute.push_back(c.value);
    if (c.handle == 3) percent.push_back(c.value);
  }
  EXPECT_EQ(absolute, (std::vector<double>{50, 58, 80}));
  EXPECT_EQ(percent, (std::vector<double>{50, 80}));

  // Counter values only grow.
  std::vector<double> counter;
  for (const auto& c : inbox.items())
    if (c.handle == 1) counter.push_back(c.value);
  EXPECT_TRUE(std::is_sorted(counter.begin(), counter.end()));

  std::vector<MonitoredItemModifyResult> modified;
  MonitoredItemModifyRequest slower{created[0].monitoredItemId, {}};
  slower.requestedParameters.clientHandle = 1;
  slower.requestedParameters.samplingInterval = 500;
  ASSERT_EQ(client_.modifyMonitoredItems(id, {slower}, modified), status::Good);
  EXPECT_EQ(modified[0].status, status::Good);
  std::vector<StatusCode> results;
  ASSERT_EQ(client_.setMonitoringMode(id, MonitoringMode::Disabled, {created[0].monitoredItemId},
                                      results),
            status::Good);
  EXPECT_EQ(results[0], status::Good);
  ASSERT_EQ(client_.modifySubscription(id, {200, 100, 10}, &revised), status::Good);
  EXPECT_EQ(revised.publishingInterval, 200);
  ASSERT_EQ(client_.setPublishingMode(false, {id}, results), status::Good);
  EXPECT_EQ(results[0], status::Good);
  ASSERT_EQ(client_.deleteMonitoredItems(id, {created[1].monitoredItemId, 999999}, results),
            status::Good);
  EXPECT_EQ(results[0], status::Good);
  EXPECT_TRUE(isBad(results[1]));
  ASSERT_EQ(client_.deleteSubscriptions({id, id + 1000}, results), status::Good);
  EXPECT_EQ(results[0], status::Good);
  EXPECT_EQ(results[1], status::BadSubscriptionIdInvalid);
}

TEST_F(ClientTest, RenewsTheChannelAndResolvesHostNames) {
  // "localhost" may resolve to ::1 first, where nothing listens: the next
  // address is tried. A short channel lifetime makes the renewal happen
  // while requests keep going.
  std::string url = server_->url();
  url.replace(url.find("127.0.0.1"), 9, "localhost");
  Client client;
  ConnectOptions o;
  o.channelLifetime = 1500ms;
  ASSERT_EQ(connect(client, url, o), status::Good);
  const auto until = std::chrono::steady_clock::now() + 4s;
  std::vector<DataValue> v;
  int reads = 0;
  while (std::chrono::steady_clock::now() < until) {
    ASSERT_EQ(client.read({{NodeId(0, nodes::Server_ServerStatus_State)}}, v), status::Good)
        << "after " << reads << " reads";
    ++reads;
  }
  EXPECT_TRUE(client.isConnected());
}

TEST(ClientErrors, RefusesBadUrlsAndUnreachableServers) {
  Client client;
  std::string error;
  ConnectOptions o;
  o.endpointUrl = "http://127.0.0.1:4840";
  EXPECT_EQ(client.connect(o, &error), status::BadTcpEndpointUrlInvalid);
  o.endpointUrl =
      "opc.tcp://127.0.0.1:" + std::to_string(veze6test::TestServerProcess::freeLoopbackPort());
  error.clear();
  EXPECT_TRUE(isBad(client.connect(o, &error)));
  EXPECT_FALSE(error.empty());
  std::vector<DataValue> v;
  EXPECT_EQ(client.read({{NodeId(0, 2255)}}, v), status::BadNotConnected);
}

}  // namespace
}  // namespace veze6::ua

namespace veze6::ua {
namespace {

TEST(ClientLoss, ShutdownAndLostConnectionAreReportedOnce) {
  VEZE6_REQUIRE_UA_SERVER(shared);  // skips without node; the test runs a server of its own
  veze6test::TestServerProcess server({});
  ASSERT_TRUE(server.running()) << server.error() << server.serverErrors();
  Inbox<LossEvent> watcherLosses, writerLosses;
  Client watcher, writer;
  watcher.setLossHandler([&](const LossEvent& e) { watcherLosses.push(e); });
  writer.setLossHandler([&](const LossEvent& e) { writerLosses.push(e); });
  ConnectOptions fast;
  fast.keepAliveInterval = 100ms;
  ASSERT_EQ(connect(watcher, server.url(), fast), status::Good);
  ASSERT_EQ(connect(writer, server.url()), status::Good);

  std::vector<StatusCode> results;
  ASSERT_EQ(
      writer.write({{node("Control.Shutdown"), attributes::Value, {}, {Variant::boolean(true)}}},
                   results),
      status::Good);
  // The watcher sees the Shutdown state during the server's delay; the
  // writer, whose keep-alive is slow, sees the connection go.
  ASSERT_TRUE(watcherLosses.waitFor([](auto& all) { return !all.empty(); }, 20s));
  EXPECT_EQ(watcherLosses.items()[0].reason, status::BadShutdown);
  EXPECT_FALSE(watcher.isConnected());
  ASSERT_TRUE(writerLosses.waitFor([](auto& all) { return !all.empty(); }, 30s));
  EXPECT_TRUE(isBad(writerLosses.items()[0].reason));
  std::vector<DataValue> v;
  EXPECT_TRUE(isBad(writer.read({{NodeId(0, 2255)}}, v)));
  EXPECT_EQ(watcherLosses.items().size(), 1u);
  EXPECT_EQ(writerLosses.items().size(), 1u);
}

}  // namespace
}  // namespace veze6::ua
