// The server component end to end against the simulation server, its
// reconnect included.
#include <thread>

#include "common/groups.h"
#include "common/simcomponent.h"
#include "test_utils.h"

using namespace core_test;
namespace sim = veze6::sim;
using namespace std::chrono_literals;

namespace {

using OwningThreadTest = veze6::test::LeakCheckedTest;

class ServerSimTest : public veze6::test::SimComponentTest {
 protected:
  void SetUp() override {
    SimComponentTest::SetUp();
    log.attach(*server);
    server->OnServerShutdown = [this](QObject*, const QString&) {
      log.entries.push_back("shutdown");
    };
  }

  /// AutoReconnect with pauses short enough for tests.
  void autoReconnect(std::chrono::milliseconds first = 1ms) {
    server->SetAutoReconnect(true);
    server->SetReconnectBackoff(first, first * 4);
  }

  /// Waits until the component has lost its connection and is back.
  bool reconnected() {
    return pumpUntil([&] {
      return std::count(log.entries.begin(), log.entries.end(), "disconnect") > 0 &&
             server->Active() && !server->Reconnecting();
    });
  }

  EventLog log;
  SleepRecorder sleeps;
};

const std::vector<QString> kOneOutage{"connect", "shutdown", "disconnect", "connect"};

TEST_F(ServerSimTest, ConnectsReportsStatusAndDisconnects) {
  server->SetClientName("veze6 tests");
  const QDateTime asked = QDateTime::currentDateTime();
  connect();
  EXPECT_TRUE(server->Version2());
  EXPECT_EQ(WideToText(simControl()->clientName().c_str()), "veze6 tests");

  const tServerStateRec state = server->GetState();
  EXPECT_EQ(state.ServerState, OPC_STATUS_RUNNING);
  EXPECT_EQ(state.MajorVersion, sim::kSimulationMajorVersion);
  EXPECT_EQ(state.MinorVersion, sim::kSimulationMinorVersion);
  EXPECT_FALSE(state.VendorInfo.isEmpty());
  EXPECT_EQ(server->GetServerStateStr(), "running");
  // Local clock readings around now.
  const QDateTime current = DateTimeToQDateTime(state.CurrentTime);
  EXPECT_LE(std::abs(current.secsTo(asked)), 60);
  EXPECT_LE(state.StartTime, state.CurrentTime);

  server->Disconnect();
  EXPECT_EQ(log.entries, (std::vector<QString>{"connect", "disconnect"}));
}

TEST_F(ServerSimTest, ConnectsByClassId) {
  connect(clsidText(sim::CLSID_Veze6Simulation));
  EXPECT_TRUE(server->Version2());
}

TEST_F(ServerSimTest, StateChangesReachTheGetters) {
  connect();
  simControl()->setServerState(OPC_STATUS_SUSPENDED);
  EXPECT_EQ(server->GetServerStateStr(), "suspended");
  const FILETIME stamp = opc::fileTimeFromTicks(
      std::uint64_t(QDateTime(QDate(2022, 11, 3), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch()) *
          10000 +
      opc::kFileTimeUnixEpoch);
  simControl()->setLastUpdateTime(stamp);
  EXPECT_EQ(DateTimeToQDateTime(server->GetLastUpdateTime()),
            QDateTime(QDate(2022, 11, 3), QTime(12, 0), Qt::UTC).toLocalTime());
  simControl()->setLastUpdateTime(FILETIME{0, 0});
  EXPECT_EQ(server->GetLastUpdateTime(), 0.0);
}

TEST_F(ServerSimTest, EachGetterIsOneStatusCall) {
  connect();
  const auto calls = simControl()->callCount(sim::SimCall::GetStatus);
  server->GetVendorInfo();
  server->GetBuildNumber();
  server->GetServerStateStr();
  EXPECT_EQ(simControl()->callCount(sim::SimCall::GetStatus), calls + 3);
}

TEST_F(ServerSimTest, FailingStatusCallsAndBrokenBlocks) {
  connect();
  simControl()->failCall(sim::SimCall::GetStatus, E_OUTOFMEMORY, 1);
  try {
    server->GetState();
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), E_OUTOFMEMORY);
  }
  simControl()->setQuirk(sim::Quirk::NullVendorInfo, true);
  EXPECT_EQ(server->GetVendorInfo(), "");
  simControl()->setQuirk(sim::Quirk::NullStatus, true);
  EXPECT_EQ(thrownMessage([&] { server->GetMajorVersion(); }), "not connected to server");
}

TEST_F(ServerSimTest, LocaleIdsAndServerTexts) {
  connect();
  server->SetLocaleId(1033);
  EXPECT_EQ(server->GetLocaleId(), 1033);
  server->SetLocaleId(4711);  // rejected by the server, ignored here
  EXPECT_EQ(server->GetLocaleId(), 1033);
  EXPECT_FALSE(server->GetErrorString(OPC_E_UNKNOWNITEMID).isEmpty());
  simControl()->failCall(sim::SimCall::GetErrorString, E_FAIL, 1);
  EXPECT_EQ(server->GetErrorString(OPC_E_UNKNOWNITEMID), "");
}

TEST_F(ServerSimTest, DA10ServerHasNoCommonInterface) {
  connect("Veze6.Simulation.DA10.1");
  EXPECT_FALSE(server->Version2());
  EXPECT_FALSE(server->GetCommonIF());
  EXPECT_FALSE(server->GetItemPropIF());
  EXPECT_EQ(thrownMessage([&] { server->GetLocaleId(); }), "not connected to server");
  EXPECT_EQ(server->GetServerState(), OPC_STATUS_RUNNING);
}

TEST_F(ServerSimTest, DestroyingConnectedComponentFiresNoDisconnect) {
  connect();
  server.reset();
  EXPECT_EQ(log.entries, std::vector<QString>{"connect"});
}

TEST_F(ServerSimTest, BadNamesNeverLeakOrHang) {
  for (const QString& name :
       {QString("Veze6.Simulation.2"), QString("{Veze6.Simulation.1}"), QString(5000, u'{'),
        QString("{6DC45BF5-BEA8-441B-A0C1-C0F82FF66FDE")}) {
    server->SetServer(name);
    EXPECT_EQ(thrownMessage([&] { server->SetActive(true); }), "first define servername");
  }
  server->SetServer("Veze6.Simulation.1");
  server->SetComputername("far-away-host");
  EXPECT_THROW(server->SetActive(true), EOleSysError);
  EXPECT_FALSE(server->Active());
}

// ---- reconnect ------------------------------------------------------------------

TEST_F(ServerSimTest, ShutdownWithoutAutoReconnect_StaysDisconnected) {
  server->SetReconnectBackoff(1ms, 1ms);
  connect();
  simControl()->requestShutdown(u"maintenance");
  ASSERT_TRUE(pumpUntil([&] { return !server->Active(); }));
  EXPECT_FALSE(pumpUntil([&] { return server->Active() || server->Reconnecting(); }, 50ms));
  EXPECT_EQ(log.entries, (std::vector<QString>{"connect", "shutdown", "disconnect"}));
}

TEST_F(ServerSimTest, ShutdownWithAutoReconnect_PutsEverythingBackAndDataFlows) {
  autoReconnect();
  std::vector<bool> states;
  QObject::connect(server.get(), &TqOPCServer::reconnectingChanged,
                   [&](bool on) { states.push_back(on); });
  connect();
  TqOPCGroup* g = veze6::test::addGroupWithItems(*server, "g", {"Writable.Int4", "Random.Real8"});
  bool toldReconnect = false;
  server->OnConnect = [&](QObject*) {
    log.entries.push_back("connect");
    toldReconnect = server->Reconnecting();
  };
  ComPtr<sim::SimulationControl> before = simControl();
  before->requestShutdown(u"maintenance");
  ASSERT_TRUE(reconnected());
  EXPECT_EQ(log.entries, kOneOutage);
  EXPECT_TRUE(toldReconnect) << "OnConnect tells a reconnect by Reconnecting()";
  EXPECT_EQ(states, (std::vector<bool>{true, false}));

  const ComPtr<sim::SimulationControl> after = simControl();
  EXPECT_NE(after.get(), before.get());
  EXPECT_EQ(before->groupCount(), 0u);
  before.reset();
  EXPECT_EQ(after->groupCount(), 1u);
  EXPECT_EQ(after->liveItemCount(), 2u);
  // Values flow through the new server's handles.
  TqOPCItem* item = g->OPCItems()->Items(0);
  ASSERT_EQ(after->setItemValue(u"Writable.Int4", OleVariant(LONG(4711))), S_OK);
  EXPECT_TRUE(pumpUntil([&] { return item->Value().get().lVal == 4711; }));
  item->WriteSync(OleVariant(LONG(815)));
  OleVariant written;
  after->itemValue(u"Writable.Int4", written);
  EXPECT_EQ(written.get().lVal, 815);
}

TEST_F(ServerSimTest, FailingRetries_GoOnUntilTheServerIsBack_ReportedOnce) {
  autoReconnect();
  connect();
  veze6::test::addGroupWithItems(*server, "g", {"Static.Int4"});
  int created = 0;
  const sim::ScopedCreationHook failing([&](sim::SimulationControl& c) {
    if (++created <= 3) c.failCall(sim::SimCall::AddGroup, E_OUTOFMEMORY);
  });
  ScopedCaptureApplication capture;
  simControl()->requestShutdown(u"");
  ASSERT_TRUE(reconnected());
  EXPECT_EQ(created, 4);
  EXPECT_EQ(capture->Texts(TCaptureApplicationHandler::Kind::Exception).size(), 1)
      << "once per outage";
  EXPECT_EQ(log.entries, kOneOutage) << "failed retries fire no events";
  EXPECT_EQ(simControl()->groupCount(), 1u);
}

TEST_F(ServerSimTest, DisconnectAutoReconnectOffAndDestroying_StopTheRetries) {
  // Pauses long enough that no retry runs before the test stops them.
  autoReconnect(100ms);
  int created = 0;
  const sim::ScopedCreationHook counting([&](sim::SimulationControl&) { ++created; });
  for (int way = 0; way < 3; ++way) {
    SCOPED_TRACE(way);
    connect();
    simControl()->requestShutdown(u"");
    ASSERT_TRUE(pumpUntil([&] { return server->Reconnecting(); }));
    const int before = created;
    if (way == 0) {
      server->Disconnect();
    } else if (way == 1) {
      server->SetAutoReconnect(false);
    } else {
      server.reset();
    }
    EXPECT_FALSE(server && server->Reconnecting());
    EXPECT_FALSE(pumpUntil([&] { return created > before; }, 250ms));
    if (server) server->SetAutoReconnect(true);
  }
}

TEST_F(ServerSimTest, CallFailingForALostConnection_EndsItAndReconnects) {
  connect();
  TqOPCGroup* g = veze6::test::addGroupWithItems(*server, "g", {"Writable.Int4"});
  simControl()->failCall(sim::SimCall::SyncWrite, RPC_E_DISCONNECTED);
  try {
    g->OPCItems()->Items(0)->WriteSync(OleVariant(LONG(1)));
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), RPC_E_DISCONNECTED);
  }
  EXPECT_TRUE(server->Active()) << "the events follow the failing call";
  ASSERT_TRUE(pumpUntil([&] { return !server->Active(); }));
  EXPECT_EQ(log.entries, (std::vector<QString>{"connect", "shutdown", "disconnect"}));

  autoReconnect();
  connect();
  simControl()->failCall(sim::SimCall::GetStatus, HRESULT_RPC_S_CALL_FAILED);
  EXPECT_THROW(server->GetState(), EOleSysError);
  EXPECT_THROW(server->GetState(), EOleSysError) << "noted twice, ended once";
  ASSERT_TRUE(pumpUntil([&] { return log.entries.size() == 7; }));
  ASSERT_TRUE(reconnected());
  EXPECT_EQ(log.entries.back(), "connect");
  EXPECT_EQ(std::count(log.entries.begin(), log.entries.end(), "shutdown"), 2);
  EXPECT_EQ(server->GetState().ServerState, OPC_STATUS_RUNNING);
}

TEST_F(OwningThreadTest, ComponentCalledOffItsThread_AssertsInDebugBuilds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEBUG_DEATH(
      {
        TqOPCServer server;
        std::thread other([&] { server.SetActive(false); });
        other.join();
      },
      "owning thread");
}

}  // namespace
