// The server status: one status call per question, local times, state texts,
// the failure paths, and every status block freed.
#include "opc/filetime.h"
#include "server_fixture.h"

using namespace core_test;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgPointee;
using ::testing::StrictMock;

namespace {

// 2024-03-15 12:00:00.250 UTC
const QDateTime kStartUtc(QDate(2024, 3, 15), QTime(12, 0, 0, 250), Qt::UTC);

FILETIME fileTimeOf(const QDateTime& utc) {
  return opc::fileTimeFromTicks(std::uint64_t(utc.toMSecsSinceEpoch()) * 10000 +
                                opc::kFileTimeUnixEpoch);
}

/// Hands out a status block in task memory, as a server does.
ACTION_P2(ReturnStatus, status, vendor) {
  auto* block = static_cast<OPCSERVERSTATUS*>(CoTaskMemAlloc(sizeof(OPCSERVERSTATUS)));
  *block = status;
  block->szVendorInfo = vendor ? opc::taskStringDup(vendor) : nullptr;
  *arg0 = block;
  return S_OK;
}

class ServerStatusTest : public ServerMockFixture {
 protected:
  void SetUp() override {
    ServerMockFixture::SetUp();
    server->SetActive(true);
    status.ftStartTime = fileTimeOf(kStartUtc);
    status.ftCurrentTime = fileTimeOf(kStartUtc.addSecs(90));
    status.ftLastUpdateTime = {};
    status.dwServerState = OPC_STATUS_RUNNING;
    status.dwGroupCount = 3;
    status.dwBandWidth = 77;
    status.wMajorVersion = 2;
    status.wMinorVersion = 5;
    status.wBuildNumber = 0xFFFF;
  }

  void expectStatus(int times, const char16_t* vendor = u"ACME Sim – Werk 2") {
    EXPECT_CALL(*mock, GetStatus(_)).Times(times).WillRepeatedly(ReturnStatus(status, vendor));
  }

  OPCSERVERSTATUS status{};
};

TEST_F(ServerStatusTest, GetState_FillsRecordWithLocalTimes) {
  expectStatus(1);
  const tServerStateRec rec = server->GetState();
  EXPECT_EQ(DateTimeToQDateTime(rec.StartTime), kStartUtc.toLocalTime());
  EXPECT_EQ(DateTimeToQDateTime(rec.CurrentTime), kStartUtc.addSecs(90).toLocalTime());
  EXPECT_EQ(rec.LastUpdateTime, 0.0) << "a time left zero reads 0";
  EXPECT_EQ(rec.ServerState, 1);
  EXPECT_EQ(rec.GroupCount, 3);
  EXPECT_EQ(rec.BandWidth, 77);
  EXPECT_EQ(rec.MajorVersion, 2);
  EXPECT_EQ(rec.MinorVersion, 5);
  EXPECT_EQ(rec.BuildNumber, 65535) << "zero-extended";
  EXPECT_EQ(rec.VendorInfo, "ACME Sim – Werk 2");
}

TEST_F(ServerStatusTest, Getters_EachAskTheServerOnce) {
  expectStatus(10);
  EXPECT_EQ(DateTimeToQDateTime(server->GetStartTime()), kStartUtc.toLocalTime());
  EXPECT_EQ(DateTimeToQDateTime(server->GetCurrentTime()), kStartUtc.addSecs(90).toLocalTime());
  EXPECT_EQ(server->GetLastUpdateTime(), 0.0);
  EXPECT_EQ(server->GetServerState(), 1);
  EXPECT_EQ(server->GetMajorVersion(), 2);
  EXPECT_EQ(server->GetMinorVersion(), 5);
  EXPECT_EQ(server->GetVendorInfo(), "ACME Sim – Werk 2");
  EXPECT_EQ(server->GetBandWidth(), 77);
  EXPECT_EQ(server->GetBuildNumber(), 65535);
  EXPECT_EQ(server->GetServerStateStr(), "running");
}

TEST_F(ServerStatusTest, GetServerStateStr_MapsStates) {
  const std::pair<DWORD, QString> cases[] = {{2, "failed"}, {3, "no config"}, {4, "suspended"},
                                             {5, "test"},   {0, ""},          {6, ""}};
  for (const auto& [state, text] : cases) {
    status.dwServerState = OPCSERVERSTATE(state);
    expectStatus(1);
    EXPECT_EQ(server->GetServerStateStr(), text) << state;
    ::testing::Mock::VerifyAndClearExpectations(mock.get());
  }
}

TEST_F(ServerStatusTest, GetStatus_CopiesBlockWithoutVendorText) {
  expectStatus(1);
  const OPCSERVERSTATUS copy = server->GetStatus();
  EXPECT_EQ(copy.szVendorInfo, nullptr);
  EXPECT_EQ(copy.dwBandWidth, 77u);
  EXPECT_EQ(opc::fileTimeTicks(copy.ftStartTime), opc::fileTimeTicks(status.ftStartTime));
}

TEST_F(ServerStatusTest, FailedStatusCall_RaisesThroughOPCCheck) {
  int faults = 0;
  server->OnError = [&](QObject*, const QString&, bool&) { ++faults; };
  EXPECT_CALL(*mock, GetStatus(_)).WillOnce(Return(E_FAIL)).WillOnce(Return(OPC_E_INVALIDHANDLE));
  EXPECT_THROW(server->GetState(), EOleSysError);
  EXPECT_EQ(thrownMessage([&] { server->GetBandWidth(); }), "The value of the handle is invalid.");
  EXPECT_EQ(faults, 0) << "OnError is not involved";
}

TEST_F(ServerStatusTest, FailedStatusCallWithBlock_StillFreesIt) {
  EXPECT_CALL(*mock, GetStatus(_)).WillOnce([&](OPCSERVERSTATUS** out) {
    auto* block = static_cast<OPCSERVERSTATUS*>(CoTaskMemAlloc(sizeof(OPCSERVERSTATUS)));
    *block = status;
    block->szVendorInfo = opc::taskStringDup(u"stray");
    *out = block;
    return E_FAIL;
  });
  EXPECT_THROW(server->GetVendorInfo(), EOleSysError);
}

TEST_F(ServerStatusTest, NoStatusBlock_FaultsNotConnected) {
  EXPECT_CALL(*mock, GetStatus(_)).WillRepeatedly(DoAll(SetArgPointee<0>(nullptr), Return(S_OK)));
  EXPECT_EQ(thrownMessage([&] { server->GetState(); }), "not connected to server");
  server->OnError = [](QObject*, const QString&, bool& raise) { raise = false; };
  EXPECT_EQ(server->GetServerState(), 0);
  EXPECT_EQ(server->GetBuildNumber(), 0);
}

TEST_F(ServerStatusTest, NoVendorText_GivesEmptyText) {
  expectStatus(1, nullptr);
  EXPECT_EQ(server->GetVendorInfo(), "");
}

TEST_F(ServerStatusTest, Disconnected_GettersFaultOrGiveZero) {
  server->Disconnect();
  EXPECT_EQ(thrownMessage([&] { server->GetStartTime(); }), "not connected to server");
  server->OnError = [](QObject*, const QString&, bool& raise) { raise = false; };
  EXPECT_EQ(server->GetStartTime(), 0.0);
  EXPECT_EQ(server->GetVendorInfo(), "");
  EXPECT_EQ(server->GetServerStateStr(), "");
  EXPECT_EQ(server->GetBandWidth(), 0);
}

}  // namespace
