// The apartment rule of the live server: whatever thread scans, each sink is
// called on the thread that advised it, and calls queued for a sink that has
// gone do nothing. Run these under the thread sanitizer as well.
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

#include "live_utils.h"

namespace veze6::sim::test {
namespace {

using namespace std::chrono_literals;
using Kind = SinkCall::Kind;

using Threads = LiveTest;

TEST_F(Threads, ScansOnAnotherThreadDeliverOnTheAdvisingThread) {
  auto g = group(u"g", 100, 1);
  const auto h = add(g.get(), {{u"Ramp.Real8", 1}, {u"Static.String", 2}});
  auto callback = opc::makeCom<CallbackSink>();
  auto streams = opc::makeCom<StreamSink>();
  advise(g.get(), callback.get());
  DWORD connection = 0;
  ASSERT_EQ(dadvise(g.get(), streams.get(), OPCSTMFORMATDATATIME, &connection), S_OK);
  DWORD cancelId = 0;
  opc::TaskOut<HRESULT> errors;
  ASSERT_EQ(
      g.as<IOPCAsyncIO2>()->Read(1, const_cast<OPCHANDLE*>(h.data()), 9, &cancelId, errors.put()),
      S_OK);

  std::thread worker([&] { control->advance(300ms); });
  worker.join();
  EXPECT_TRUE(callback->calls.empty()) << "posted, not called on the scanning thread";
  EXPECT_TRUE(streams->calls.empty());
  EXPECT_EQ(apartment->pendingCount(), 7u);

  apartment->runPending();
  ASSERT_EQ(callback->calls.size(), 4u);
  EXPECT_EQ(callback->calls[0].kind, Kind::ReadComplete);
  EXPECT_EQ(callback->calls[0].transactionId, 9u);
  EXPECT_EQ(callback->calls[1].clients(), (std::vector<OPCHANDLE>{1, 2}));
  EXPECT_EQ(callback->calls[1].find(2)->value, OleVariant(u"Hello, OPC"));
  EXPECT_NEAR(callback->calls[3].find(1)->value.get().dblVal, 3.0, 1e-9);
  ASSERT_EQ(streams->calls.size(), 3u);
  for (const auto& c : streams->calls) EXPECT_EQ(c.streamError, "");
  EXPECT_EQ(streams->calls[0].find(2)->value, OleVariant(u"Hello, OPC"));
  for (const auto* sink : {&callback->calls, &streams->calls}) {
    for (const auto& c : *sink) EXPECT_EQ(c.thread, std::this_thread::get_id());
  }
}

TEST_F(Threads, CallsQueuedForAGoneSinkDoNothing) {
  auto g = group(u"g", 100, 1);
  add(g.get(), {{u"Static.String", 1}, {u"Static.ArrayOfString", 2}});
  auto callback = opc::makeCom<CallbackSink>();
  auto streams = opc::makeCom<StreamSink>();
  const DWORD cookie = advise(g.get(), callback.get());
  DWORD connection = 0;
  ASSERT_EQ(dadvise(g.get(), streams.get(), OPCSTMFORMATDATATIME, &connection), S_OK);

  std::thread([&] { control->runScan(); }).join();
  ASSERT_EQ(apartment->pendingCount(), 2u);
  ASSERT_EQ(unadvise(g.get(), cookie), S_OK);
  ASSERT_EQ(g.as<IDataObject>()->DUnadvise(connection), S_OK);
  EXPECT_EQ(callback->refCount(), 1u) << "let go at once, queued calls or not";
  EXPECT_EQ(streams->refCount(), 1u);
  EXPECT_EQ(apartment->runPending(), 2u);
  EXPECT_TRUE(callback->calls.empty());
  EXPECT_TRUE(streams->calls.empty());

  // The same for a group that goes, and its server with it.
  advise(g.get(), callback.get());
  std::thread([&] { control->runScan(); }).join();
  ASSERT_EQ(apartment->pendingCount(), 1u);
  g.reset();
  control.reset();
  server.reset();
  EXPECT_EQ(liveServerCount(), 0u);
  EXPECT_EQ(callback->refCount(), 1u);
  apartment->runPending();
  EXPECT_TRUE(callback->calls.empty());
}

TEST_F(Threads, TheScanThreadDrivesGroupsAtTheirRate) {
  SimulationOptions options;
  options.baseScanRateMs = 10;
  createServer(options);  // the system clock and the server's own scan thread
  EXPECT_FALSE(control->manualScan());
  auto g = group(u"g", 10, 1);
  const auto h = add(g.get(), {{u"Random.Real8", 1}});
  auto callback = advisedSink(g.get());
  const auto dataChanges = [&] {
    return std::count_if(callback->calls.begin(), callback->calls.end(),
                         [](const SinkCall& c) { return c.kind == Kind::DataChange; });
  };
  ASSERT_TRUE(pumpUntil(*apartment, [&] { return dataChanges() >= 3; }));

  DWORD cancelId = 0;
  opc::TaskOut<HRESULT> errors;
  ASSERT_EQ(
      g.as<IOPCAsyncIO2>()->Read(1, const_cast<OPCHANDLE*>(h.data()), 5, &cancelId, errors.put()),
      S_OK);
  ASSERT_TRUE(pumpUntil(*apartment, [&] {
    return std::any_of(callback->calls.begin(), callback->calls.end(),
                       [](const SinkCall& c) { return c.kind == Kind::ReadComplete; });
  }));
  for (const auto& c : callback->calls) EXPECT_EQ(c.thread, std::this_thread::get_id());

  // Scans by hand from now on: the thread rests, a pass in flight aside.
  control->setManualScan(true);
  EXPECT_TRUE(control->manualScan());
  control->runScan();
  apartment->runPending();
}

TEST_F(Threads, ShutdownGoesToTheThreadThatAdvised) {
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(
      server.as<IConnectionPointContainer>()->FindConnectionPoint(IID_IOPCShutdown, point.put()),
      S_OK);
  auto here = opc::makeCom<ShutdownSink>();
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(here->unknown(), &cookie), S_OK);

  // Another thread with its own apartment advises its own sink.
  auto there = opc::makeCom<ShutdownSink>();
  std::promise<void> advised;
  std::promise<void> requested;
  std::thread::id otherThread;
  std::thread other([&] {
    auto own = std::make_shared<opc::ManualApartment>();
    opc::Apartment::setCurrent(own);
    otherThread = std::this_thread::get_id();
    DWORD c = 0;
    EXPECT_EQ(point->Advise(there->unknown(), &c), S_OK);
    advised.set_value();
    requested.get_future().wait();
    own->runPending();
    EXPECT_EQ(point->Unadvise(c), S_OK);
    opc::Apartment::setCurrent(nullptr);
  });
  advised.get_future().wait();
  EXPECT_EQ(control->requestShutdown(u"maintenance"), 2u);
  ASSERT_EQ(here->reasons.size(), 1u) << "the advising thread's own call is direct";
  EXPECT_EQ(here->threads[0], std::this_thread::get_id());
  EXPECT_TRUE(there->reasons.empty()) << "posted to the other thread";
  requested.set_value();
  other.join();
  ASSERT_EQ(there->reasons.size(), 1u);
  EXPECT_EQ(there->reasons[0], u"maintenance");
  EXPECT_EQ(there->threads[0], otherThread);
}

}  // namespace
}  // namespace veze6::sim::test
