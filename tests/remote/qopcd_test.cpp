// A server component reaching the simulation server in a real qopcd process.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "common/leakcheck.h"
#include "common/pump.h"
#include "common/sinks.h"
#include "core/qOPC.h"
#include "core/qtapartment.h"
#include "hostfixture.h"
#include "qopcdprocess.h"

namespace veze6::test {
namespace {

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

}  // namespace
}  // namespace veze6::test
