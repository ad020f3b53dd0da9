// Groups on another computer: calls on loopback to a host in a child qopcd
// process (serving the simulation server), each beside what it is compared
// with.
//
//   BM_RemoteSyncRead10     IOPCSyncIO::Read of 10 items through the proxy.
//   BM_BareCapnpRead10      the floor: the same request and answer (10
//                           handles out; 10 item states and 10 errors back)
//                           as one plain Cap'n Proto call to a server on its
//                           own thread that answers ready-made states.
//   BM_RemoteDataChanges    10,000 items of one group refreshed, four
//                           refreshes in flight: the updates reaching the
//                           component's OnDatachange (items/s).
//   BM_AddItemsRemote       100,000 items in one AddItems on the host's
//   BM_AddItemsInProcess    server, and the same on a server in this process.
//
// The summary prints the ratios the transport is held to: SyncRead at most
// 1.5 times the bare call, AddItems at most 3 times in-process, and at least
// 5 M item updates a second.
#include <benchmark/benchmark.h>
#include <capnp/rpc-twoparty.h>
#include <fcntl.h>
#include <kj/async-io.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "benchmain.h"
#include "core/qOPC.h"
#include "opc/OPCDA.h"
#include "opc/classregistry.h"
#include "opc/remote/remote.capnp.h"
#include "opc/taskmem.h"
#include "simulator/simulator.h"

extern char** environ;

namespace {

namespace sim = veze6::sim;
namespace wire = opc::remote::wire;
using namespace std::chrono_literals;

/// Seconds per iteration and items per second of each benchmark, by name.
struct Figures {
  std::map<std::string, double> seconds;
  std::map<std::string, double> itemsPerSecond;
};
Figures& figures() {
  static Figures f;
  return f;
}

class RatioReporter final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred || r.run_type != Run::RT_Iteration) continue;
      std::string name = r.benchmark_name();
      name = name.substr(0, name.find('/'));
      figures().seconds[name] =
          r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
      const auto it = r.counters.find("items_per_second");
      if (it != r.counters.end()) figures().itemsPerSecond[name] = it->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

void summary() {
  const auto& f = figures();
  const auto ratio = [&](const char* a, const char* b) {
    const auto x = f.seconds.find(a);
    const auto y = f.seconds.find(b);
    return x == f.seconds.end() || y == f.seconds.end() || y->second == 0 ? 0.0
                                                                          : x->second / y->second;
  };
  std::printf("\nSyncRead of 10 items, remote / bare call: %.2fx (goal at most 1.5x)\n",
              ratio("BM_RemoteSyncRead10", "BM_BareCapnpRead10"));
  std::printf("AddItems of 100,000 items, remote / in-process: %.2fx (goal at most 3x)\n",
              ratio("BM_AddItemsRemote", "BM_AddItemsInProcess"));
  const auto changes = f.itemsPerSecond.find("BM_RemoteDataChanges");
  std::printf("Item updates reaching OnDatachange: %.2f M/s (goal at least 5 M/s)\n",
              changes == f.itemsPerSecond.end() ? 0.0 : changes->second / 1e6);
}

const bool installed = [] {
  static RatioReporter reporter;
  veze6::bench::mainHooks().reporter = &reporter;
  veze6::bench::mainHooks().summary = summary;
  return true;
}();

/// A free loopback port (bound, read and released; qopcd takes it next).
std::uint16_t freePort() {
  auto io = kj::setupAsyncIo();
  auto address = io.provider->getNetwork().parseAddress("127.0.0.1", 0).wait(io.waitScope);
  auto listener = address->listen();
  return std::uint16_t(listener->getPort());
}

/// qopcd in a child process for the whole run.
class Daemon {
 public:
  static Daemon& instance() {
    static Daemon daemon;
    return daemon;
  }
  std::u16string computer() const { return computer_; }

 private:
  Daemon() {
    // ProgIDs are resolved on the client's computer.
    sim::registerSimulationServer();
    const std::uint16_t port = freePort();
    const std::string portText = std::to_string(port);
    const char* args[] = {VEZE6_QOPCD, "--port", portText.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Its output goes nowhere: it must not hold the bench's pipes open.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn(&pid_, VEZE6_QOPCD, &actions, nullptr, const_cast<char**>(args), environ);
    posix_spawn_file_actions_destroy(&actions);
    computer_ = u"127.0.0.1:" + opc::utf8ToUtf16(portText);
    // Ready once a client gets through.
    for (int attempt = 0; attempt < 200; ++attempt) {
      if (SUCCEEDED(create(sim::CLSID_Veze6Simulation, computer_).hr)) break;
      std::this_thread::sleep_for(20ms);
    }
  }
  ~Daemon() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

 public:
  struct Made {
    HRESULT hr;
    ComPtr<IOPCServer> server;
  };
  static Made create(REFCLSID clsid, const std::u16string& computer) {
    opc::Bstr name(computer);
    COSERVERINFO info{0, name.get(), nullptr, 0};
    MULTI_QI qi{&IID_IOPCServer, nullptr, S_OK};
    const HRESULT hr =
        CoCreateInstanceEx(clsid, nullptr, 0, computer.empty() ? nullptr : &info, 1, &qi);
    return {FAILED(hr) ? hr : qi.hr, ComPtr<IOPCServer>::attach(static_cast<IOPCServer*>(qi.pItf))};
  }

 private:
  pid_t pid_ = -1;
  std::u16string computer_;
};

/// A group of `ids` on `server`; the handles in order.
ComPtr<IOPCItemMgt> addGroup(IOPCServer* server, const std::vector<std::u16string>& ids,
                             std::vector<OPCHANDLE>& handles) {
  OPCHANDLE serverGroup = 0;
  DWORD rate = 0;
  ComPtr<IOPCItemMgt> items;
  server->AddGroup(u"bench", TRUE, 1000, 1, nullptr, nullptr, 0, &serverGroup, &rate,
                   IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(items.put()));
  if (!items || ids.empty()) return items;
  std::vector<OPCITEMDEF> defs(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    defs[i] = OPCITEMDEF{};
    defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
    defs[i].hClient = OPCHANDLE(i);
  }
  opc::TaskOut<OPCITEMRESULT> results;
  opc::TaskOut<HRESULT> errors;
  items->AddItems(DWORD(defs.size()), defs.data(), results.put(), errors.put());
  handles.clear();
  if (results) {
    for (std::size_t i = 0; i < ids.size(); ++i) handles.push_back(results[i].hServer);
  }
  return items;
}

std::vector<std::u16string> readIds() {
  return {u"Static.Int4",    u"Static.Real8", u"Static.Int2",  u"Static.Real4", u"Static.UInt4",
          u"Static.Boolean", u"Static.Int1",  u"Static.UInt2", u"Static.Int8",  u"Static.Money"};
}

void BM_RemoteSyncRead10(benchmark::State& state) {
  auto made = Daemon::create(sim::CLSID_Veze6Simulation, Daemon::instance().computer());
  if (!made.server) return state.SkipWithError("no host");
  std::vector<OPCHANDLE> handles;
  const auto items = addGroup(made.server.get(), readIds(), handles);
  const auto io = items.as<IOPCSyncIO>();
  for (auto _ : state) {
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    if (FAILED(io->Read(OPC_DS_CACHE, DWORD(handles.size()), handles.data(), &states, &errors)))
      return state.SkipWithError("read failed");
    for (std::size_t i = 0; i < handles.size(); ++i) VariantClear(&states[i].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
  }
  state.SetItemsProcessed(state.iterations() * 10);
}

/// Answers every read with 10 ready-made states (values as the simulator's).
class BareReader final : public wire::OpcSyncIo::Server {
 protected:
  kj::Promise<void> read(ReadContext context) override {
    const unsigned n = context.getParams().getServerHandles().size();
    auto r = context.getResults();
    r.setHr(S_OK);
    auto states = r.initStates(n);
    for (unsigned i = 0; i < n; ++i) {
      states[i].setClientHandle(i);
      states[i].setTimeStamp(133000000000000000ULL);
      states[i].setQuality(OPC_QUALITY_GOOD);
      auto v = states[i].initValue();
      v.setVt(VT_R8);
      v.setBits(0x405EDD2F1A9FBE77ULL);
    }
    auto errors = r.initErrors(n);
    for (unsigned i = 0; i < n; ++i) errors.set(i, S_OK);
    return kj::READY_NOW;
  }
};

void BM_BareCapnpRead10(benchmark::State& state) {
  int stop[2];
  if (pipe(stop) != 0) return state.SkipWithError("no pipe");
  std::promise<std::uint16_t> port;
  auto listening = port.get_future();
  std::thread server([&] {
    auto io = kj::setupAsyncIo();
    auto address = io.provider->getNetwork().parseAddress("127.0.0.1", 0).wait(io.waitScope);
    auto listener = address->listen();
    port.set_value(std::uint16_t(listener->getPort()));
    capnp::TwoPartyServer rpc(kj::heap<BareReader>());
    auto serving = rpc.listen(*listener);
    auto stopped = io.lowLevelProvider->wrapInputFd(stop[0]);
    kj::byte b = 0;
    stopped->read(&b, 1).exclusiveJoin(kj::mv(serving)).wait(io.waitScope);
  });
  {
    auto io = kj::setupAsyncIo();
    auto address =
        io.provider->getNetwork().parseAddress("127.0.0.1", listening.get()).wait(io.waitScope);
    auto stream = address->connect().wait(io.waitScope);
    capnp::TwoPartyClient rpc(*stream);
    auto reader = rpc.bootstrap().castAs<wire::OpcSyncIo>();
    for (auto _ : state) {
      auto request = reader.readRequest();
      request.setSource(OPC_DS_CACHE);
      auto handles = request.initServerHandles(10);
      for (unsigned i = 0; i < 10; ++i) handles.set(i, i + 1);
      auto answer = request.send().wait(io.waitScope);
      benchmark::DoNotOptimize(answer.getStates().size());
    }
  }
  (void)!write(stop[1], "x", 1);
  server.join();
  close(stop[0]);
  close(stop[1]);
  state.SetItemsProcessed(state.iterations() * 10);
}

void BM_RemoteDataChanges(benchmark::State& state) {
  constexpr int kItems = 10000;
  constexpr int kInFlight = 4;
  TqOPCServer component;
  std::int64_t updates = 0;
  int arrived = 0;
  component.OnDatachange = [&](QObject*, TqOPCItemList* list) {
    updates += list->Count();
    ++arrived;
  };
  component.Connect(QStringLiteral("Veze6.Simulation.1"),
                    QString::fromStdU16String(Daemon::instance().computer()));
  if (!component.Active()) return state.SkipWithError("no host");
  component.OPCGroupDefault()->UpdateRate = 3600000;  // changes only when refreshed
  TqOPCGroup* group = component.OPCGroups()->Add("bench");
  component.SetBatchMode(true);
  for (int i = 0; i < kItems; ++i) group->OPCItems()->AddItem("Random.Real8");
  component.SetBatchMode(false);
  group->OPCItems()->OPCAddAllItems();
  const auto waitFor = [&](int count) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (arrived < count && std::chrono::steady_clock::now() < deadline)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return arrived >= count;
  };
  waitFor(1);  // the first report of every item
  updates = 0;
  for (auto _ : state) {
    const int target = arrived + kInFlight;
    for (int i = 0; i < kInFlight; ++i) group->Refresh(true);
    if (!waitFor(target)) return state.SkipWithError("refreshes did not arrive");
  }
  state.SetItemsProcessed(updates);
}

void addItemsOnce(benchmark::State& state, const std::u16string& computer) {
  constexpr int kItems = 100000;
  auto made = Daemon::create(sim::CLSID_Veze6Simulation, computer);
  if (!made.server) return state.SkipWithError("no server");
  std::vector<OPCHANDLE> none;
  const auto items = addGroup(made.server.get(), {}, none);
  std::vector<OPCITEMDEF> defs(kItems);
  for (int i = 0; i < kItems; ++i) {
    defs[i] = OPCITEMDEF{};
    defs[i].szItemID = const_cast<LPWSTR>(u"Static.Int4");
    defs[i].hClient = OPCHANDLE(i);
  }
  for (auto _ : state) {
    opc::TaskOut<OPCITEMRESULT> results;
    opc::TaskOut<HRESULT> errors;
    if (FAILED(items->AddItems(kItems, defs.data(), results.put(), errors.put())))
      return state.SkipWithError("AddItems failed");
    state.PauseTiming();
    std::vector<OPCHANDLE> handles(kItems);
    for (int i = 0; i < kItems; ++i) handles[i] = results[i].hServer;
    opc::TaskOut<HRESULT> removed;
    items->RemoveItems(kItems, handles.data(), removed.put());
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kItems);
}

void BM_AddItemsRemote(benchmark::State& state) {
  addItemsOnce(state, Daemon::instance().computer());
}
void BM_AddItemsInProcess(benchmark::State& state) {
  Daemon::instance();  // registers the class here too
  addItemsOnce(state, u"");
}

BENCHMARK(BM_RemoteSyncRead10)->UseRealTime();
BENCHMARK(BM_BareCapnpRead10)->UseRealTime();
BENCHMARK(BM_RemoteDataChanges)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddItemsRemote)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddItemsInProcess)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
