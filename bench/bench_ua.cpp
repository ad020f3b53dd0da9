// The OPC UA client: decoding a large Publish response, and against the
// node-opcua test server on loopback a 10,000-item subscription and a Read
// round trip, each beside the same figure of node-opcua's own client.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "testserver_process.h"
#include "ua/client.h"
#include "uapeer.h"

namespace {

using veze6bench::bankServer;
using veze6bench::peerFigure;

using namespace veze6::ua;
using namespace std::chrono_literals;

constexpr int kNotifications = 10000;

/// A PublishResponse body as a server sends it: one DataChangeNotification
/// with kNotifications Double values and their source time stamps.
std::vector<std::uint8_t> publishResponseBody() {
  std::vector<std::uint8_t> notification;
  BinaryEncoder n(notification);
  n.arrayLength(kNotifications);
  for (int i = 0; i < kNotifications; ++i) {
    n.u32(std::uint32_t(i));
    DataValue v;
    v.value = Variant::float64(i * 0.5);
    v.sourceTimestamp = now();
    n.dataValue(v);
  }
  n.arrayLength(0);
  std::vector<std::uint8_t> body;
  BinaryEncoder e(body);
  e.nodeId(NodeId(0, PublishResponse::kTypeId));
  e.dateTime(now());
  e.u32(1);
  e.statusCode(status::Good);
  e.diagnosticInfo({});
  e.arrayLength(0);
  e.extensionObject({});
  e.u32(1);          // subscription
  e.arrayLength(0);  // available sequence numbers
  e.boolean(false);
  e.u32(1);  // sequence number
  e.dateTime(now());
  e.arrayLength(1);
  e.extensionObject({NodeId(0, typeids::DataChangeNotification), ExtensionObject::Encoding::Binary,
                     std::string(notification.begin(), notification.end())});
  e.arrayLength(0);
  e.arrayLength(0);
  return body;
}

void BM_DecodePublishResponse(benchmark::State& state) {
  const auto body = publishResponseBody();
  std::vector<MonitoredItemNotification> items;
  for (auto _ : state) {
    BinaryDecoder d(body.data(), body.size());
    d.nodeId();
    PublishResponse r;
    decode(d, r);
    items.clear();
    const auto& x = r.message.notificationData[0];
    BinaryDecoder n(reinterpret_cast<const std::uint8_t*>(x.body.data()), x.body.size());
    decodeDataChange(n, items);
    benchmark::DoNotOptimize(items.data());
  }
  state.counters["per_notification"] = benchmark::Counter(
      kNotifications, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DecodePublishResponse)->Unit(benchmark::kMicrosecond);

// The floor: a bare loop copying the same values (handle, value, status,
// time stamp) from one array to another.
void BM_CopyNotificationValues(benchmark::State& state) {
  struct Plain {
    std::uint32_t handle;
    double value;
    std::uint32_t status;
    std::int64_t time;
  };
  std::vector<Plain> from(kNotifications), to(kNotifications);
  for (int i = 0; i < kNotifications; ++i) from[i] = {std::uint32_t(i), i * 0.5, 0, now()};
  for (auto _ : state) {
    for (int i = 0; i < kNotifications; ++i) to[i] = from[i];
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.counters["per_notification"] = benchmark::Counter(
      kNotifications, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CopyNotificationValues)->Unit(benchmark::kMicrosecond);

void BM_Subscription10kAt100ms(benchmark::State& state) {
  auto* server = bankServer();
  if (!server) {
    state.SkipWithError("the node-opcua test server did not start");
    return;
  }
  constexpr auto kSeconds = 5s;
  double ours = 0;
  for (auto _ : state) {
    Client client;
    ConnectOptions o;
    o.endpointUrl = server->url();
    if (isBad(client.connect(o))) {
      state.SkipWithError("connect failed");
      return;
    }
    std::atomic<std::uint64_t> updates{0};
    std::atomic<bool> counting{false};
    std::uint32_t id = 0;
    client.createSubscription(
        {100, 1000, 10},
        [&](std::uint32_t, const auto& items) {
          if (counting) updates += items.size();
        },
        id);
    std::vector<MonitoredItemCreateRequest> items(kNotifications);
    for (int i = 0; i < kNotifications; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "ns=2;s=Bank.%04d", i);
      items[i].itemToMonitor = {*NodeId::parse(name)};
      items[i].requestedParameters.clientHandle = std::uint32_t(i);
      items[i].requestedParameters.samplingInterval = 100;
    }
    std::vector<MonitoredItemCreateResult> results;
    client.createMonitoredItems(id, items, results, TimestampsToReturn::Neither);
    std::this_thread::sleep_for(1s);  // let the initial values go by, as the peer does
    counting = true;
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(kSeconds);
    counting = false;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ours = double(updates) / elapsed;
    client.disconnect();
  }
  state.counters["updates_per_second"] = ours;
  state.counters["peer_updates_per_second"] =
      peerFigure(server->url() + " subscribe " + std::to_string(kNotifications) + " 100 5",
                 "updates_per_second");
}
BENCHMARK(BM_Subscription10kAt100ms)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

void BM_Read10RoundTrip(benchmark::State& state) {
  auto* server = bankServer();
  if (!server) {
    state.SkipWithError("the node-opcua test server did not start");
    return;
  }
  Client client;
  ConnectOptions o;
  o.endpointUrl = server->url();
  if (isBad(client.connect(o))) {
    state.SkipWithError("connect failed");
    return;
  }
  std::vector<ReadValueId> nodes;
  for (const char* type : {"Boolean", "Byte", "Int16", "Int32", "UInt32", "Float", "Double",
                           "String", "DateTime", "Guid"})
    nodes.emplace_back(*NodeId::parse(std::string("ns=2;s=Scalar.") + type));
  std::vector<DataValue> values;
  for (auto _ : state) {
    if (isBad(client.read(nodes, values))) state.SkipWithError("read failed");
  }
  client.disconnect();
  state.counters["peer_read10_mean_us"] =
      peerFigure(server->url() + " read10 1000", "read10_mean_us");
}
BENCHMARK(BM_Read10RoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
