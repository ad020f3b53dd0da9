// Groups on another computer: calls on loopback to hosts in child processes,
// each beside what it is compared with.
//
//   BM_SyncRead10           IOPCSyncIO::Read of 10 items (cache) through the
//                           proxy to the simulation server in qopcd: the
//                           calling thread hands the call to the RPC thread,
//                           which sends it, and gets the answer handed back.
//                           Each iteration also makes the floor's call, and
//                           the two are timed apart (the benchmark's time is
//                           the remote read's), so that both see the same
//                           load on a shared machine. The floor: the same
//                           request and the same answer (10 handles out; 10
//                           item states and their errors back, in the form
//                           the transport sends) as one plain Cap'n Proto
//                           call to a server in a child process that
//                           answers ready-made states, with the same thread
//                           hops: the calling thread hands each call to a
//                           client thread running its own event loop (a
//                           queue under a mutex, an eventfd that wakes the
//                           loop, a condition variable back). Counters: the
//                           floor's mean, and the medians of both.
//   BM_RemoteDataChanges    subscription traffic: a host in a child process
//                           serves a simulation server whose 10,000 random
//                           analog items all change on every scan at the
//                           fastest rate the simulator offers (1 ms, so 10 M
//                           updates a second are offered); one active group
//                           of them, update rate 1 ms, in a server component
//                           here whose OnDatachange handler reads every
//                           listed item's value and time stamp. items/s is
//                           the updates reaching the handler; what the
//                           client cannot take in time the host coalesces
//                           per item, as it does for any slow client.
//   BM_AddItemsRemote       100,000 items in one AddItems on the host's
//   BM_AddItemsInProcess    server, and the same on a server in this process.
//
// The summary prints the ratios the transport is held to: SyncRead at most
// 1.5 times the bare call, AddItems at most 3 times in-process, and at least
// 5 M item updates a second.
#include <benchmark/benchmark.h>
#include <capnp/rpc-twoparty.h>
#include <errno.h>
#include <fcntl.h>
#include <kj/async-io.h>
#include <kj/async-unix.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "benchmain.h"
#include "benchserver.h"
#include "core/qOPC.h"
#include "opc/OPCDA.h"
#include "opc/classregistry.h"
#include "opc/remote/host.h"
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
  double readRatio = 0;  ///< remote / bare SyncRead, means and medians
  double readMedianRatio = 0;
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
  std::printf(
      "\nSyncRead of 10 items, remote / bare call, taken in turn: %.2fx of the means, %.2fx of "
      "the medians (goal at most 1.5x)\n",
      f.readRatio, f.readMedianRatio);
  std::printf("AddItems of 100,000 items, remote / in-process: %.2fx (goal at most 3x)\n",
              ratio("BM_AddItemsRemote", "BM_AddItemsInProcess"));
  const auto changes = f.itemsPerSecond.find("BM_RemoteDataChanges");
  std::printf("Item updates reaching OnDatachange: %.2f M/s (goal at least 5 M/s)\n",
              changes == f.itemsPerSecond.end() ? 0.0 : changes->second / 1e6);
}

// ---- the child host ------------------------------------------------------------

/// Set in the environment of the child that serves.
constexpr const char* kServeVariable = "VEZE6_BENCH_REMOTE_SERVE";

constexpr int kChangeItems = 10000;
constexpr DWORD kFastestRateMs = 1;

/// The child's simulation server for data changes: Bench.Item0 .. 9999,
/// random analog values, each changing on every scan.
/// {5B1F0E64-2C7A-4D3B-9E86-71A0C4D2F913}
constexpr CLSID kChangingServer{
    0x5B1F0E64, 0x2C7A, 0x4D3B, {0x9E, 0x86, 0x71, 0xA0, 0xC4, 0xD2, 0xF9, 0x13}};

QString registerChangingServer() {
  return bench::registerServer(kChangingServer, u"veze6 benchmark: changing analog items", [] {
    sim::SimulationOptions options;
    options.defaultItems = false;
    options.baseScanRateMs = kFastestRateMs;
    options.extendAddressSpace = [](sim::AddressSpace& space) {
      bench::addRandomItems(space, kChangeItems);
    };
    return options;
  });
}

/// Answers every read with ready-made states (values as the simulator's),
/// in the form the group stub answers.
class BareReader final : public wire::OpcSyncIo::Server {
 protected:
  kj::Promise<void> read(ReadContext context) override {
    const unsigned n = context.getParams().getServerHandles().size();
    auto r = context.getResults();
    r.setHr(S_OK);
    // Side by side, as the compact form has them.
    auto states = r.initItemStates();
    const auto fill = [n](capnp::Data::Builder to, auto value) {
      for (unsigned i = 0; i < n; ++i)
        std::memcpy(to.begin() + i * sizeof value, &value, sizeof value);
    };
    auto handles = states.initClientHandles(4 * n);
    for (unsigned i = 0; i < n; ++i) std::memcpy(handles.begin() + 4 * i, &i, 4);
    fill(states.initTimeStamps(8 * n), std::uint64_t(133000000000000000ULL));
    fill(states.initQualities(2 * n), std::uint16_t(OPC_QUALITY_GOOD));
    fill(states.initErrors(4 * n), std::int32_t(S_OK));
    fill(states.initTypes(2 * n), std::uint16_t(VT_R8));
    fill(states.initScalars(8 * n), std::uint64_t(0x405EDD2F1A9FBE77ULL));
    return kj::READY_NOW;
  }
};

/// The child: a host serving this process's classes (the simulation server
/// and the changing one) and the bare reader, each on a free loopback port,
/// printed on standard output; it ends when its standard input closes.
int serve() {
  sim::registerSimulationServer();
  registerChangingServer();
  opc::remote::HostOptions options;
  options.port = 0;
  opc::remote::Host host(options);
  if (FAILED(host.listen())) return 1;

  int stop[2];
  if (pipe(stop) != 0) return 1;
  std::promise<std::uint16_t> barePort;
  auto listening = barePort.get_future();
  std::thread bare([&] {
    auto io = kj::setupAsyncIo();
    auto address = io.provider->getNetwork().parseAddress("127.0.0.1", 0).wait(io.waitScope);
    auto listener = address->listen();
    barePort.set_value(std::uint16_t(listener->getPort()));
    capnp::TwoPartyServer rpc(kj::heap<BareReader>());
    auto serving = rpc.listen(*listener);
    auto stopped = io.lowLevelProvider->wrapInputFd(stop[0]);
    kj::byte b = 0;
    stopped->read(&b, 1).exclusiveJoin(kj::mv(serving)).wait(io.waitScope);
  });
  std::printf("%u %u\n", unsigned(host.port()), unsigned(listening.get()));
  std::fflush(stdout);
  char c = 0;
  while (read(0, &c, 1) > 0) {
  }
  (void)!write(stop[1], "x", 1);
  bare.join();
  close(stop[0]);
  close(stop[1]);
  return 0;
}

const bool installed = [] {
  static RatioReporter reporter;
  auto& hooks = veze6::bench::mainHooks();
  hooks.reporter = &reporter;
  hooks.summary = summary;
  hooks.instead = []() -> std::optional<int> {
    if (!std::getenv(kServeVariable)) return std::nullopt;
    return serve();
  };
  return true;
}();

/// This program again, serving (see serve()), for the whole run.
class ChildHost {
 public:
  static ChildHost& instance() {
    static ChildHost child;
    return child;
  }
  bool ok() const { return hostPort_ != 0; }
  std::u16string computer() const {
    return u"127.0.0.1:" + opc::utf8ToUtf16(std::to_string(hostPort_));
  }
  std::uint16_t barePort() const { return barePort_; }

 private:
  ChildHost() {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.push_back(std::string(kServeVariable) + "=1");
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char self[] = "bench_remote";
    char* args[] = {self, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // This program as it was started (not /proc/self/exe, which is the
    // tool's own under valgrind).
    const int spawned =
        posix_spawn(&pid_, program_invocation_name, &actions, nullptr, args, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    toChild_ = in[1];
    if (spawned != 0) {
      pid_ = -1;
      close(out[0]);
      return;
    }
    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    unsigned host = 0;
    unsigned bare = 0;
    if (std::sscanf(line.c_str(), "%u %u", &host, &bare) == 2) {
      hostPort_ = std::uint16_t(host);
      barePort_ = std::uint16_t(bare);
    }
  }
  ~ChildHost() {
    if (toChild_ >= 0) close(toChild_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }

  pid_t pid_ = -1;
  int toChild_ = -1;
  std::uint16_t hostPort_ = 0;
  std::uint16_t barePort_ = 0;
};

// ---- qopcd -----------------------------------------------------------------------

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

// ---- SyncRead ----------------------------------------------------------------------

/// A client thread with its own event loop, reached as the transport reaches
/// its RPC thread: a task queued under a mutex, an eventfd the loop watches,
/// and the caller waiting on a condition variable for the answer.
class ClientLoop {
 public:
  explicit ClientLoop(std::uint16_t port) : wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    std::promise<void> ready;
    auto started = ready.get_future();
    thread_ = std::thread([this, port, &ready] { run(port, ready); });
    started.wait();
  }
  ~ClientLoop() {
    post([this] { stop_ = true; });
    thread_.join();
    close(wake_);
  }

  /// One read of `count` handles there; false when it failed.
  bool read(unsigned count) {
    Waiter waiter;
    post([this, count, &waiter] {
      auto request = reader_->readRequest();
      request.setSource(OPC_DS_CACHE);
      auto handles = request.initServerHandles(count);
      for (unsigned i = 0; i < count; ++i) handles.set(i, i + 1);
      tasks_->add(request.send().then(
          [&waiter, count](auto&& answer) {
            waiter.finish(answer.getItemStates().getClientHandles().size() == 4 * count);
          },
          [&waiter](kj::Exception&&) { waiter.finish(false); }));
    });
    return waiter.wait();
  }

 private:
  struct Waiter {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool ok = false;
    void finish(bool result) {
      {
        std::lock_guard lock(mutex);
        done = true;
        ok = result;
      }
      cv.notify_all();
    }
    bool wait() {
      std::unique_lock lock(mutex);
      cv.wait(lock, [this] { return done; });
      return ok;
    }
  };
  class DropErrors final : public kj::TaskSet::ErrorHandler {
   public:
    void taskFailed(kj::Exception&&) override {}
  };

  void post(std::function<void()> task) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(task));
    }
    const std::uint64_t one = 1;
    (void)!::write(wake_, &one, sizeof one);
  }

  bool runQueued() {
    std::uint64_t count = 0;
    (void)!::read(wake_, &count, sizeof count);
    bool ran = false;
    for (;;) {
      std::function<void()> task;
      {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) break;
        task = std::move(queue_.front());
        queue_.pop_front();
      }
      ran = true;
      task();
    }
    return ran;
  }

  void run(std::uint16_t port, std::promise<void>& ready) {
    auto io = kj::setupAsyncIo();
    auto address = io.provider->getNetwork().parseAddress("127.0.0.1", port).wait(io.waitScope);
    auto stream = address->connect().wait(io.waitScope);
    capnp::TwoPartyClient rpc(*stream);
    auto reader = rpc.bootstrap().castAs<wire::OpcSyncIo>();
    DropErrors dropErrors;
    kj::TaskSet tasks(dropErrors);
    reader_ = &reader;
    tasks_ = &tasks;
    kj::UnixEventPort::FdObserver wake(io.unixEventPort, wake_,
                                       kj::UnixEventPort::FdObserver::OBSERVE_READ);
    ready.set_value();
    while (!stop_) {
      if (!runQueued()) wake.whenBecomesReadable().wait(io.waitScope);
      io.waitScope.poll();
    }
  }

  int wake_;
  std::mutex mutex_;
  std::deque<std::function<void()>> queue_;  // guarded by mutex_
  bool stop_ = false;                        // loop thread only
  wire::OpcSyncIo::Client* reader_ = nullptr;
  kj::TaskSet* tasks_ = nullptr;
  std::thread thread_;
};

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
  return v[v.size() / 2];
}

void BM_SyncRead10(benchmark::State& state) {
  auto made = Daemon::create(sim::CLSID_Veze6Simulation, Daemon::instance().computer());
  if (!made.server) return state.SkipWithError("no host");
  if (!ChildHost::instance().ok()) return state.SkipWithError("no child host");
  std::vector<OPCHANDLE> handles;
  const auto items = addGroup(made.server.get(), readIds(), handles);
  const auto io = items.as<IOPCSyncIO>();
  ClientLoop bare(ChildHost::instance().barePort());
  std::vector<double> remoteTimes;
  std::vector<double> bareTimes;
  using Clock = std::chrono::steady_clock;
  const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
  for (auto _ : state) {
    const auto start = Clock::now();
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    if (FAILED(io->Read(OPC_DS_CACHE, DWORD(handles.size()), handles.data(), &states, &errors)))
      return state.SkipWithError("read failed");
    for (std::size_t i = 0; i < handles.size(); ++i) VariantClear(&states[i].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    const auto remoteEnd = Clock::now();
    if (!bare.read(10)) return state.SkipWithError("bare read failed");
    const auto bareEnd = Clock::now();
    remoteTimes.push_back(seconds(remoteEnd - start));
    bareTimes.push_back(seconds(bareEnd - remoteEnd));
    state.SetIterationTime(remoteTimes.back());
  }
  double remoteSum = 0;
  double bareSum = 0;
  for (double t : remoteTimes) remoteSum += t;
  for (double t : bareTimes) bareSum += t;
  const double n = double(std::max<std::size_t>(remoteTimes.size(), 1));
  state.counters["bare_us"] = bareSum / n * 1e6;
  state.counters["median_us"] = median(remoteTimes) * 1e6;
  state.counters["bare_median_us"] = median(bareTimes) * 1e6;
  figures().readRatio = bareSum > 0 ? remoteSum / bareSum : 0;
  const double bareMedian = median(bareTimes);
  figures().readMedianRatio = bareMedian > 0 ? median(remoteTimes) / bareMedian : 0;
  state.SetItemsProcessed(state.iterations() * 10);
}

// ---- data changes ------------------------------------------------------------------

void BM_RemoteDataChanges(benchmark::State& state) {
  if (!ChildHost::instance().ok()) return state.SkipWithError("no child host");
  opc::TaskString clsid;
  StringFromCLSID(kChangingServer, clsid.put());
  TqOPCServer component;
  std::int64_t updates = 0;
  component.OnDatachange = [&](QObject*, TqOPCItemList* list) {
    double sum = 0.0;
    TDateTime latest = 0;
    for (int i = 0; i < list->Count(); ++i) {
      const TqOPCItem* item = list->Items(i);
      sum += item->Value().get().dblVal;
      latest = std::max(latest, item->TimeStamp());
    }
    benchmark::DoNotOptimize(sum);
    benchmark::DoNotOptimize(latest);
    updates += list->Count();
  };
  component.Connect(QString::fromStdU16String(std::u16string(clsid.get())),
                    QString::fromStdU16String(ChildHost::instance().computer()));
  if (!component.Active()) return state.SkipWithError("no host");
  component.OPCGroupDefault()->UpdateRate = kFastestRateMs;
  TqOPCGroup* group = component.OPCGroups()->Add("bench");
  component.SetBatchMode(true);
  for (int i = 0; i < kChangeItems; ++i)
    group->OPCItems()->AddItem(QString::fromStdU16String(bench::itemId(i)));
  component.SetBatchMode(false);
  group->OPCItems()->OPCAddAllItems();
  // The component's thread runs its event loop as an application's does,
  // asleep while nothing arrives.
  const auto pumpFor = [](std::chrono::milliseconds span) {
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
  };
  // Past the first reports, into the steady flow.
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (updates < 2 * kChangeItems && std::chrono::steady_clock::now() < deadline) pumpFor(10ms);
  if (updates < 2 * kChangeItems) return state.SkipWithError("no data changes arrived");
  updates = 0;
  for (auto _ : state) pumpFor(100ms);
  state.SetItemsProcessed(updates);
}

// ---- AddItems ----------------------------------------------------------------------

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

BENCHMARK(BM_SyncRead10)->UseManualTime();
BENCHMARK(BM_RemoteDataChanges)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddItemsRemote)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddItemsInProcess)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
