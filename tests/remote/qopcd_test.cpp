// A server component reaching the simulation server in a real qopcd process.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <thread>

#include "common/groups.h"
#include "common/leakcheck.h"
#include "common/pump.h"
#include "common/sinks.h"
#include "core/qOPC.h"
#include "core/qtapartment.h"
#include "hostfixture.h"
#include "qopcdprocess.h"

namespace veze6::test {
namespace {

using namespace std::chrono_literals;

/// The descriptors this process has open.
int openDescriptors() {
  int n = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir)) ++n;
    ::closedir(dir);
  }
  return n;
}

/// A host that takes every connection on the loopback port and ends it at
/// once, on a thread of its own (the client blocks in its connect meanwhile).
/// It ends them first, so the port is left with connections in TIME_WAIT.
class DroppingListener {
 public:
  explicit DroppingListener(quint16 port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok_ = fd_ >= 0 && ::pipe2(stop_, O_CLOEXEC) == 0 &&
          ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
          ::listen(fd_, 16) == 0;
    if (ok_) thread_ = std::thread([this] { run(); });
  }
  ~DroppingListener() {
    if (thread_.joinable()) {
      ::close(stop_[1]);
      thread_.join();
      ::close(stop_[0]);
    }
    ::close(fd_);
  }
  bool ok() const { return ok_; }
  int dropped() const { return dropped_.load(); }

 private:
  void run() {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    while (::poll(fds, 2, -1) > 0 && !fds[1].revents) {
      const int connection = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      ::shutdown(connection, SHUT_WR);
      char buffer[4096];
      pollfd peer{connection, POLLIN, 0};
      while (::poll(&peer, 1, 2000) > 0 && ::read(connection, buffer, sizeof buffer) > 0) {
      }
      ::close(connection);
      ++dropped_;
    }
  }

  int fd_ = -1;
  int stop_[2] = {-1, -1};
  bool ok_ = false;
  std::atomic<int> dropped_{0};
  std::thread thread_;
};

class QopcdTest : public LeakCheckedTest {
 protected:
  // The component resolves the ProgID in this process, as clients do.
  static void SetUpTestSuite() { sim::registerSimulationServer(); }
  void SetUp() override {
    installQtApartment();
    ASSERT_TRUE(daemon.start()) << daemon.log().toStdString();
    server = std::make_unique<TqOPCServer>();
    server->SetComputername(daemon.computerName());
    server->SetServer(QStringLiteral("Veze6.Simulation.1"));
  }
  void TearDown() override {
    server.reset();
    QCoreApplication::processEvents();
  }

  QopcdProcess daemon;
  std::unique_ptr<TqOPCServer> server;
};

TEST_F(QopcdTest, ComponentStatusBrowsePropertiesAndServerList) {
  server->SetActive(true);
  ASSERT_TRUE(server->Active());
  EXPECT_EQ(server->GetStatus().dwServerState, OPC_STATUS_RUNNING);

  TqOPCBrowser& browser = *server->Browser();
  browser.ShowBranches();
  EXPECT_TRUE(browser.Tags().contains("Random"));
  ASSERT_TRUE(browser.MoveDown("Static"));
  ASSERT_TRUE(browser.MoveDown("Nested Level"));
  browser.ShowLeafs(false);
  EXPECT_TRUE(browser.Tags().contains("Int4"));
  EXPECT_EQ(browser.GetItemId("Int4"), "Static.Nested Level.Int4");

  {
    TqOPCItemProperties properties(server.get(), QStringLiteral("Static.Nested Level.Int4"));
    properties.QueryAvailableProperties();
    ASSERT_GT(properties.Count(), 0);
    properties.GetItemProperties();
    bool sawType = false;
    for (int i = 0; i < properties.Count(); ++i) {
      const auto* p = properties.GetItem(i);
      if (p->PropertyID == OPC_PROP_CDT) sawType = p->Value.vt() != VT_EMPTY;
    }
    EXPECT_TRUE(sawType);
  }

  TqopcServerBrowser servers;
  servers.SetComputerName(daemon.computerName());
  servers.Execute();
  EXPECT_NE(servers.GetServer(QStringLiteral("{6DC45BF5-BEA8-441B-A0C1-C0F82FF66FDE}")), nullptr);

  server->Disconnect();
  // The daemon let go of both objects when the client did.
  EXPECT_TRUE(pumpUntil([&] {
    return daemon.count("released Veze6.Simulation.1") == 1 &&
           daemon.count("released OPC.ServerList") == 1;
  })) << daemon.log().toStdString();
}

TEST_F(QopcdTest, DaemonKilled_ShutdownThenDisconnectThenCallsFailAtOnce) {
  std::vector<std::string> events;
  server->OnServerShutdown = [&](QObject*, const QString&) { events.push_back("shutdown"); };
  server->OnDisconnect = [&](QObject*) { events.push_back("disconnect"); };
  QString signalled;
  QObject::connect(server.get(), &TqOPCServer::serverShutdown,
                   [&](const QString& reason) { signalled = reason; });
  server->SetActive(true);
  ASSERT_TRUE(server->Active());
  // A second client's own shutdown sink hears the reason.
  ComPtr<IOPCServer> raw;
  ASSERT_EQ(createOn(daemon.computer(), sim::CLSID_Veze6Simulation, raw), S_OK);
  const auto sink = opc::makeCom<ShutdownSink>();
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(raw.as<IConnectionPointContainer>()->FindConnectionPoint(IID_IOPCShutdown, point.put()),
            S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(sink.get(), &cookie), S_OK);

  daemon.kill();
  ASSERT_TRUE(pumpUntil([&] { return !server->Active(); }, std::chrono::seconds(10)));
  EXPECT_EQ(events, (std::vector<std::string>{"shutdown", "disconnect"}));
  // OnServerShutdown keeps its empty text; the signal carries the reason.
  EXPECT_EQ(signalled, QString::fromStdU16String(u"connection to " + daemon.computer() + u" lost"));
  ASSERT_TRUE(pumpUntil([&] { return !sink->reasons.empty(); }));
  EXPECT_EQ(sink->reasons,
            std::vector<std::u16string>{u"connection to " + daemon.computer() + u" lost"});
  EXPECT_EQ(sink->threads.front(), std::this_thread::get_id());

  opc::TaskOut<OPCSERVERSTATUS> status;
  EXPECT_EQ(raw->GetStatus(status.put()), RPC_E_DISCONNECTED);
  EXPECT_EQ(point->Unadvise(cookie), RPC_E_DISCONNECTED);
}

TEST_F(QopcdTest, DaemonRestarted_AutoReconnectPutsGroupsBackWithoutPilingUpRetries) {
  server->SetAutoReconnect(true);
  server->SetReconnectBackoff(10ms, 40ms);
  std::vector<std::string> events;
  int updates = 0;
  server->OnConnect = [&](QObject*) { events.push_back("connect"); };
  server->OnServerShutdown = [&](QObject*, const QString&) { events.push_back("shutdown"); };
  server->OnDisconnect = [&](QObject*) { events.push_back("disconnect"); };
  server->OnDatachange = [&](QObject*, TqOPCItemList* list) { updates += list->Count(); };
  server->SetActive(true);
  TqOPCGroup* group = addGroupWithItems(*server, QStringLiteral("g"),
                                        {"Random.Int4", "Ramp.Real8", "Writable.Int4"}, 50);
  ASSERT_TRUE(pumpUntil([&] { return updates > 0; })) << "no data changes before the outage";

  {
    const ComPtr<IOPCServer> old = server->GetOPCServer();
    daemon.kill();
    ASSERT_TRUE(pumpUntil([&] { return !server->Active(); }, 10s));
    EXPECT_TRUE(server->Reconnecting());
    EXPECT_EQ(events, (std::vector<std::string>{"connect", "shutdown", "disconnect"}));
    opc::TaskOut<OPCSERVERSTATUS> status;
    EXPECT_EQ(old->GetStatus(status.put()), RPC_E_DISCONNECTED);
  }

  // A host that is there but drops every connection: each retry gets as far
  // as the wire and fails; none keeps anything (a socket) behind.
  {
    DroppingListener standIn(daemon.port());
    ASSERT_TRUE(standIn.ok());
    ASSERT_TRUE(pumpUntil([&] { return standIn.dropped() >= 2; }));
    const int descriptors = openDescriptors();
    const int seen = standIn.dropped();
    EXPECT_TRUE(pumpUntil([&] {
      return standIn.dropped() >= seen + 8 && openDescriptors() <= descriptors;
    })) << openDescriptors() - descriptors
        << " descriptors more after " << standIn.dropped() - seen << " retries";
    EXPECT_TRUE(server->Reconnecting());
    EXPECT_EQ(events.size(), 3u) << "failed retries fire no events";
  }

  // Restarted on the same port at once (a service manager does so).
  ASSERT_TRUE(daemon.restart()) << daemon.log().toStdString();
  ASSERT_TRUE(pumpUntil([&] { return server->Active() && !server->Reconnecting(); }, 10s));
  EXPECT_EQ(events, (std::vector<std::string>{"connect", "shutdown", "disconnect", "connect"}));
  EXPECT_EQ(daemon.count("created Veze6.Simulation.1"), 1) << daemon.log().toStdString();
  for (int i = 0; i < group->OPCItems()->Count(); ++i)
    EXPECT_NE(group->OPCItems()->Items(i)->ServerHandle(), TqOPCItem::kNoServerHandle);
  updates = 0;
  TqOPCItem* writable = group->OPCItems()->Items(2);
  writable->WriteSync(OleVariant(LONG(4711)));
  EXPECT_TRUE(pumpUntil([&] { return updates > 0 && writable->Value().get().lVal == 4711; }));
}

// A daemon that stops answering (frozen, its sockets still open and
// acknowledged by the kernel) is a loss once a call runs out of time.
TEST_F(QopcdTest, DaemonFrozen_CallTimesOutThenLossThenAutoReconnect) {
  constexpr auto limit = 1000ms;
  const CallTimeLimit shortLimit(limit);
  ScopedCaptureApplication capture;
  server->SetAutoReconnect(true);
  server->SetReconnectBackoff(10ms, 40ms);
  std::vector<std::string> events;
  server->OnConnect = [&](QObject*) { events.push_back("connect"); };
  server->OnServerShutdown = [&](QObject*, const QString&) { events.push_back("shutdown"); };
  server->OnDisconnect = [&](QObject*) { events.push_back("disconnect"); };
  server->SetActive(true);
  TqOPCGroup* group =
      addGroupWithItems(*server, QStringLiteral("g"), {"Random.Int4", "Writable.Int4"}, 50);
  ASSERT_TRUE(group->SyncIO());

  {
    const ComPtr<IOPCServer> old = server->GetOPCServer();
    const ComPtr<IOPCSyncIO> io(group->SyncIO());
    OPCHANDLE handle = group->OPCItems()->Items(0)->ServerHandle();
    daemon.freeze();
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(io->Read(OPC_DS_DEVICE, 1, &handle, &states, &errors), RPC_E_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - asked, limit);
    EXPECT_EQ(states, nullptr);
    EXPECT_EQ(errors, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return !server->Active(); }));
    EXPECT_EQ(events, (std::vector<std::string>{"connect", "shutdown", "disconnect"}));
    const auto again = std::chrono::steady_clock::now();
    opc::TaskOut<OPCSERVERSTATUS> status;
    EXPECT_EQ(old->GetStatus(status.put()), RPC_E_DISCONNECTED);
    EXPECT_LT(std::chrono::steady_clock::now() - again, limit) << "the lost session was waited on";
  }

  // A retry reaches the frozen daemon's port (the kernel accepts) and runs
  // out of time too; the outage is reported once.
  const auto reported = [&] { return capture->Texts(TCaptureApplicationHandler::Kind::Exception); };
  ASSERT_TRUE(pumpUntil([&] { return !reported().isEmpty(); }, 10s));
  EXPECT_TRUE(reported().front().contains("timeout period expired"))
      << reported().front().toStdString();
  EXPECT_TRUE(server->Reconnecting());
  EXPECT_EQ(events.size(), 3u);

  daemon.resume();
  ASSERT_TRUE(pumpUntil([&] { return server->Active() && !server->Reconnecting(); }, 10s));
  EXPECT_EQ(events, (std::vector<std::string>{"connect", "shutdown", "disconnect", "connect"}));
  for (int i = 0; i < group->OPCItems()->Count(); ++i)
    EXPECT_NE(group->OPCItems()->Items(i)->ServerHandle(), TqOPCItem::kNoServerHandle);
  EXPECT_EQ(server->GetStatus().dwServerState, OPC_STATUS_RUNNING);
  // What the abandoned connections held is let go once the daemon reads on:
  // only the new connection's server object is left.
  EXPECT_TRUE(pumpUntil([&] {
    return daemon.count("released Veze6.Simulation.1") ==
           daemon.count("created Veze6.Simulation.1") - 1;
  })) << daemon.log().toStdString();
}

}  // namespace
}  // namespace veze6::test
