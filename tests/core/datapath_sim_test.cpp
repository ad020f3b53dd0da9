// The data path end to end against the simulation server, in DA 2.0 and in
// DA 1.0 mode: subscriptions, reads and writes, completions, the DA 1.0
// streams with their quality mask, strings and arrays, and a late callback
// for an item destroyed in batch mode. Scans are manual, so every data change
// happens when a test asks for it.
#include <QThread>

#include "common/groups.h"
#include "common/simcomponent.h"
#include "simulator/simulator.h"
#include "test_utils.h"

using namespace core_test;
namespace sim = veze6::sim;
using namespace std::chrono_literals;

namespace {

class DataPathSimTest : public veze6::test::SimComponentTest,
                        public veze6::test::DataEventLog,
                        public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    SimComponentTest::SetUp();
    lists = TqOPCItemList::LiveCount();
    attach(*server);
    ASSERT_NO_FATAL_FAILURE(connect(GetParam()));
    control = simControl();
    control->setManualScan(true);
  }

  void TearDown() override {
    control.reset();
    SimComponentTest::TearDown();
    EXPECT_EQ(TqOPCItemList::LiveCount(), lists);
  }

  bool da10() const { return QString(GetParam()).contains("DA10"); }

  /// An active group with the items, 100 ms.
  TqOPCGroup* groupWith(const QString& name, const QStringList& ids) {
    return veze6::test::addGroupWithItems(*server, name, ids);
  }

  /// Runs one scan and delivers what it posted.
  void scan(std::chrono::milliseconds step = 100ms) {
    control->advance(step);
    QCoreApplication::processEvents();
  }

  OleVariant serverValue(const char16_t* id) {
    OleVariant v;
    control->itemValue(id, v);
    return v;
  }

  std::int64_t lists = 0;
  ComPtr<sim::SimulationControl> control;
  SleepRecorder sleeps;
  ScopedCaptureApplication capture;
};

TEST_P(DataPathSimTest, Subscription_DeliversChangesOnTheComponentsThread) {
  TqOPCGroup* g = groupWith("g", {"Random.Real8", "Static.Int4", "Static.String"});
  EXPECT_EQ(bool(g->DataCallback()), !da10());
  EXPECT_EQ(bool(g->AdviseSink()), da10());
  scan();
  ASSERT_FALSE(changes.empty());
  EXPECT_EQ(changes[0], (QStringList{"Random.Real8", "Static.Int4", "Static.String"}))
      << "every active item at first";
  TqOPCItems* items = g->OPCItems();
  EXPECT_TRUE(items->Items(0)->Value() == serverValue(u"Random.Real8"));
  EXPECT_EQ(items->Items(1)->Value().get().lVal, 123456);
  EXPECT_EQ(VarToStr(items->Items(2)->Value()), "Hello, OPC");
  EXPECT_EQ(items->Items(1)->Quality(), OPC_QUALITY_GOOD);
  EXPECT_GT(items->Items(1)->TimeStamp(), 0.0);

  changes.clear();
  scan();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], QStringList{"Random.Real8"}) << "only what changed";
  for (QThread* t : threads) EXPECT_EQ(t, QThread::currentThread());
}

TEST_P(DataPathSimTest, Qualities_DA10KeepsTheClassOnly) {
  TqOPCGroup* g = groupWith("g", {"Static.Int4"});
  scan();
  ASSERT_EQ(control->setItemQuality(u"Static.Int4", OPC_QUALITY_LOCAL_OVERRIDE), S_OK);
  scan();
  TqOPCItem* item = g->OPCItems()->Items(0);
  EXPECT_EQ(item->Quality(), da10() ? 0xC0 : 0xD8);
  EXPECT_TRUE(item->IsGoodQuality());
  control->setItemQuality(u"Static.Int4", OPC_QUALITY_COMM_FAILURE);
  scan();
  EXPECT_EQ(item->Quality(), da10() ? 0x00 : OPC_QUALITY_COMM_FAILURE);
}

TEST_P(DataPathSimTest, StringsAndArrays_ArriveWhole) {
  TqOPCGroup* g = groupWith(
      "g", {"Static.String", "Static.ArrayOfInt4", "Static.ArrayOfString", "Static.Money"});
  scan();
  TqOPCItems* items = g->OPCItems();
  EXPECT_TRUE(items->Items(0)->Value() == serverValue(u"Static.String"));
  EXPECT_TRUE(items->Items(1)->Value() == serverValue(u"Static.ArrayOfInt4"));
  EXPECT_TRUE(items->Items(2)->Value() == serverValue(u"Static.ArrayOfString"));
  EXPECT_TRUE(items->Items(3)->Value() == serverValue(u"Static.Money"));
  EXPECT_EQ(items->Items(2)->ValueStr(), "alpha;beta;gamma;delta;");
}

TEST_P(DataPathSimTest, SyncRead_FromCacheOrDevice) {
  TqOPCGroup* g = groupWith("g", {"Writable.Int4"});
  control->setItemValue(u"Writable.Int4", OleVariant(LONG(77)));
  EXPECT_TRUE(g->SyncRead(nullptr, false));
  TqOPCItem* item = g->OPCItems()->Items(0);
  EXPECT_EQ(item->Value().get().lVal, 77);
  EXPECT_EQ(control->callCount(sim::SimCall::SyncRead), 1u);
  EXPECT_TRUE(g->SyncRead(nullptr, true));
  EXPECT_EQ(item->LastError(), S_OK);
  EXPECT_TRUE(changes.empty()) << "a synchronous read posts nothing";
  control->failCall(sim::SimCall::SyncRead, E_OUTOFMEMORY, 1);
  EXPECT_FALSE(thrownMessage([&] { g->SyncRead(nullptr, true); }).isEmpty());
  EXPECT_EQ(item->Value().get().lVal, 77) << "unchanged by the failed call";
}

TEST_P(DataPathSimTest, SyncWrite_TheValueComesBackWithTheNextChange) {
  TqOPCGroup* g = groupWith("g", {"Writable.Int4", "Static.Int4"});
  scan();
  TqOPCItems* items = g->OPCItems();
  items->Items(0)->SetWriteValue(OleVariant(LONG(5)));
  items->Items(1)->SetWriteValue(OleVariant(LONG(5)));
  EXPECT_FALSE(g->SyncWrite(nullptr));
  EXPECT_EQ(items->Items(0)->LastError(), S_OK);
  EXPECT_EQ(items->Items(0)->Value().get().lVal, 0) << "not yet";
  EXPECT_EQ(items->Items(1)->LastError(), OPC_E_BADRIGHTS);
  changes.clear();
  scan();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], QStringList{"Writable.Int4"});
  EXPECT_EQ(items->Items(0)->Value().get().lVal, 5);
}

TEST_P(DataPathSimTest, AsyncRead_ArrivesAsADataChangeAndClearsTheTask) {
  TqOPCGroup* g = groupWith("g", {"Static.Int4", "Static.Real8"});
  scan();
  changes.clear();
  TqOPCItemList one(g->OPCItems()->Items(1));
  EXPECT_TRUE(g->AsyncRead(&one));
  EXPECT_NE(g->TaskId(), 0u);
  scan(0ms);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], QStringList{"Static.Real8"});
  EXPECT_EQ(g->TaskId(), 0u) << "the completion names the pending call";
  g->CancelLastAsyncCall();
  EXPECT_EQ(control->callCount(sim::SimCall::Cancel), 0u);
}

TEST_P(DataPathSimTest, Refresh_ReportsEveryActiveItem) {
  TqOPCGroup* g = groupWith("g", {"Static.Int4", "Static.Real8"});
  scan();
  changes.clear();
  g->Refresh(false);
  scan(0ms);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].size(), 2);
  EXPECT_EQ(g->TaskId(), 0u);
}

TEST_P(DataPathSimTest, AsyncWrite_CompletesOnlyOnDA20) {
  TqOPCGroup* g = groupWith("g", {"Writable.Clamped.Int4", "Writable.Int4"});
  // Inactive: no data change follows the write to overwrite what it left.
  g->SetIsActive(false);
  TqOPCItems* items = g->OPCItems();
  items->Items(0)->SetWriteValue(OleVariant(LONG(500)));  // clamped to 100
  items->Items(1)->SetWriteValue(OleVariant(LONG(3)));
  EXPECT_TRUE(g->AsyncWrite(nullptr));
  scan(0ms);
  if (da10()) {
    EXPECT_TRUE(completions.empty());
    EXPECT_TRUE(writeErrors.empty());
  } else {
    ASSERT_EQ(writeErrors.size(), 1u) << "OPC_S_CLAMP counts as an error";
    EXPECT_EQ(writeErrors[0], (QStringList{"Writable.Clamped.Int4", "Writable.Int4"}));
    EXPECT_EQ(items->Items(0)->LastError(), OPC_S_CLAMP);
    EXPECT_EQ(items->Items(0)->Quality(), 0);
    EXPECT_EQ(items->Items(1)->LastError(), S_OK);
  }
  items->Items(1)->SetWriteValue(OleVariant(LONG(4)));
  TqOPCItemList one(items->Items(1));
  EXPECT_TRUE(g->AsyncWrite(&one));
  scan(0ms);
  if (!da10()) {
    EXPECT_EQ(completions, std::vector<int>{1});
  }
  EXPECT_EQ(serverValue(u"Writable.Int4").get().lVal, 4);
}

TEST_P(DataPathSimTest, AsyncWrite_RefusalInANewGroupIsReported) {
  if (da10()) GTEST_SKIP() << "DA 1.0 reports no write completions";
  server->OnWriteError = nullptr;
  TqOPCGroup* g = groupWith("g", {"Writable.Limited.Int2"});
  EXPECT_NO_THROW(g->OPCItems()->Items(0)->WriteAsync(OleVariant(LONG(1000))));
  scan(0ms);  // the group's first data change comes with the completion
  const auto reports = capture->Texts(TCaptureApplicationHandler::Kind::Exception);
  ASSERT_EQ(reports.size(), 1);
  EXPECT_TRUE(reports[0].startsWith("cannot write Items:\r\nWritable.Limited.Int2- "))
      << reports[0].toStdString();
}

TEST_P(DataPathSimTest, DestroyedItemInBatchMode_LateChangesAreDropped) {
  TqOPCGroup* g = groupWith("g", {"Random.Real8", "Random.Int4"});
  scan();
  server->SetBatchMode(true);
  g->OPCItems()->Items(0)->Free();  // stays on the server
  changes.clear();
  scan();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], QStringList{"Random.Int4"});
}

TEST_P(DataPathSimTest, TwoGroups_EachEventNamesItsOwnItems) {
  groupWith("first", {"Static.Int4"});
  TqOPCGroup* second = groupWith("second", {"Static.Real8"});
  scan();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0], QStringList{"Static.Int4"});
  EXPECT_EQ(changes[1], QStringList{"Static.Real8"});
  // A group removed with its data still queued: the change is dropped.
  ASSERT_TRUE(second->IsOnServer());
  control->setItemValue(u"Static.Int4", OleVariant(LONG(1)));
  control->advance(100ms);
  server->OPCGroups()->Remove("first");
  changes.clear();
  QCoreApplication::processEvents();
  EXPECT_TRUE(changes.empty());
}

INSTANTIATE_TEST_SUITE_P(Servers, DataPathSimTest,
                         ::testing::Values("Veze6.Simulation.1", "Veze6.Simulation.DA10.1"),
                         [](const auto& info) {
                           return QString(info.param).contains("DA10") ? std::string("DA10")
                                                                       : std::string("DA20");
                         });

}  // namespace
