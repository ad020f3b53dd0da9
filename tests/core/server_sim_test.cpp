// The server component end to end against the simulation server.
#include <thread>

#include "common/simcomponent.h"
#include "test_utils.h"

using namespace core_test;
namespace sim = veze6::sim;

namespace {

class ServerSimTest : public veze6::test::SimComponentTest {
 protected:
  void SetUp() override {
    SimComponentTest::SetUp();
    log.attach(*server);
  }

  EventLog log;
};

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

TEST(OwningThreadTest, ComponentCalledOffItsThread_AssertsInDebugBuilds) {
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
