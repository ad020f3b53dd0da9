// Groups of a server component whose server runs on a host: a host in this
// process serves the simulation server on loopback, and the component's
// groups, items, reads, writes, completions and data changes cross the wire
// in DA 2.0 and in DA 1.0 mode. Everything is released on both sides
// afterwards (the counters are shared, so the leak check covers the host
// too), and a component that stops taking its calls for a while gets every
// item's latest value without the host's queue growing.
#include "common/groups.h"

#include <QCoreApplication>
#include <QThread>
#include <mutex>
#include <optional>
#include <thread>

#include "core/qOPC.h"
#include "hostfixture.h"
#include "opc/remote/callbackqueue_p.h"
#include "simulator/simulator.h"

namespace sim = veze6::sim;
using namespace std::chrono_literals;
using veze6::test::pumpUntil;

namespace {

class RemoteGroupsTest : public veze6::test::InProcessHostTest,
                         public veze6::test::DataEventLog,
                         public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    InProcessHostTest::SetUp();
    // The host makes the server on its own thread; the test drives its scans.
    hook.emplace([this](sim::SimulationControl& c) {
      c.setManualScan(true);
      std::lock_guard lock(mutex);
      made = ComPtr<sim::SimulationControl>(&c);
    });
    server = std::make_unique<TqOPCServer>();
    attach(*server);
    server->Connect(GetParam(), QString::fromStdU16String(computer));
    ASSERT_TRUE(server->Active());
    std::lock_guard lock(mutex);
    control = made;
    ASSERT_TRUE(control);
  }

  void TearDown() override {
    server.reset();
    {
      std::lock_guard lock(mutex);
      made.reset();
    }
    control.reset();
    hook.reset();
    // The host lets go of what the client held once the releases crossed.
    EXPECT_TRUE(pumpUntil([] { return sim::liveServerCount() == 0; }));
    InProcessHostTest::TearDown();
  }

  bool da10() const { return QString(GetParam()).contains("DA10"); }

  /// One scan on the host, then the component takes what it posted.
  void scan(std::chrono::milliseconds step = 100ms) {
    const std::size_t before = reports();
    if (control->advance(step) == 0) return;
    EXPECT_TRUE(pumpUntil([&] { return reports() > before; }));
  }

  OleVariant serverValue(const char16_t* id) {
    OleVariant v;
    control->itemValue(id, v);
    return v;
  }

  std::mutex mutex;
  ComPtr<sim::SimulationControl> made;  // guarded by mutex
  std::optional<sim::ScopedCreationHook> hook;
  std::unique_ptr<TqOPCServer> server;
  ComPtr<sim::SimulationControl> control;
};

TEST_P(RemoteGroupsTest, ItemsReadsWritesAndChangesCrossTheWire) {
  const QStringList ids{"Random.Real8", "Static.Int4", "Static.String", "Static.ArrayOfString",
                        "Writable.Int4"};
  TqOPCGroup* g = veze6::test::addGroupWithItems(*server, "g", ids);
  EXPECT_EQ(bool(g->DataCallback()), !da10());
  EXPECT_EQ(bool(g->AdviseSink()), da10());
  TqOPCItems* items = g->OPCItems();
  EXPECT_NE(items->Items(4)->ServerHandle(), TqOPCItem::kNoServerHandle);
  EXPECT_EQ(items->Items(1)->CanonicalDatatype(), VT_I4);
  EXPECT_EQ(control->liveItemCount(), 5u);

  scan();
  ASSERT_FALSE(changes.empty());
  EXPECT_EQ(changes[0], ids);
  EXPECT_TRUE(items->Items(0)->Value() == serverValue(u"Random.Real8"));
  EXPECT_EQ(items->Items(1)->Value().get().lVal, 123456);
  EXPECT_EQ(VarToStr(items->Items(2)->Value()), "Hello, OPC");
  EXPECT_TRUE(items->Items(3)->Value() == serverValue(u"Static.ArrayOfString"));
  EXPECT_GT(items->Items(1)->TimeStamp(), 0.0);
  for (QThread* t : threads) EXPECT_EQ(t, QThread::currentThread());

  // Synchronous reads and writes.
  control->setItemValue(u"Writable.Int4", OleVariant(LONG(77)));
  EXPECT_TRUE(g->SyncRead(nullptr, false));
  EXPECT_EQ(items->Items(4)->Value().get().lVal, 77);
  items->Items(4)->WriteSync(OleVariant(LONG(78)));
  EXPECT_EQ(serverValue(u"Writable.Int4").get().lVal, 78);
  items->Items(1)->SetWriteValue(OleVariant(LONG(5)));
  TqOPCItemList readOnly(items->Items(1));
  EXPECT_FALSE(g->SyncWrite(&readOnly));
  EXPECT_EQ(items->Items(1)->LastError(), OPC_E_BADRIGHTS);

  // Asynchronous read, refresh and write, with their completions.
  changes.clear();
  TqOPCItemList one(items->Items(1));
  EXPECT_TRUE(g->AsyncRead(&one));
  scan(0ms);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], QStringList{"Static.Int4"});
  EXPECT_EQ(g->TaskId(), 0u) << "the completion named the pending call";
  changes.clear();
  g->Refresh(true);
  scan(0ms);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].size(), ids.size());
  TqOPCItemList writable(items->Items(4));
  items->Items(4)->SetWriteValue(OleVariant(LONG(79)));
  EXPECT_TRUE(g->AsyncWrite(&writable));
  scan(0ms);
  if (!da10()) {
    EXPECT_EQ(completions, std::vector<int>{1});
  }
  EXPECT_EQ(serverValue(u"Writable.Int4").get().lVal, 79);

  // Group state: what the component sets is what the host's group holds.
  g->SetUpdateRate(500);
  g->SetIsActive(false);
  ComPtr<IOPCGroupStateMgt> state = ComPtr<IOPCItemMgt>(g->ItemMgt()).as<IOPCGroupStateMgt>();
  ASSERT_TRUE(state);
  DWORD rate = 0;
  BOOL active = TRUE;
  opc::TaskString name;
  LONG bias = 0;
  FLOAT deadband = 0;
  DWORD lcid = 0;
  OPCHANDLE client = 0, serverHandle = 0;
  ASSERT_EQ(
      state->GetState(&rate, &active, name.put(), &bias, &deadband, &lcid, &client, &serverHandle),
      S_OK);
  state.reset();
  EXPECT_EQ(rate, 500u);
  EXPECT_FALSE(active);
  EXPECT_EQ(std::u16string(name.get()), u"g");
  EXPECT_EQ(client, OPCHANDLE(g->ID()));
  changes.clear();
  control->setItemValue(u"Writable.Int4", OleVariant(LONG(1)));
  control->advance(1s);
  QCoreApplication::processEvents();
  EXPECT_TRUE(changes.empty()) << "an inactive group reports nothing";

  // The item enumerator: every item with its id, its blob and value freed
  // by the caller; a copy goes on from where the original was.
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(g->ItemMgt()->CreateEnumerator(IID_IEnumOPCItemAttributes, unknown.put()), S_OK);
  const auto enumerator = unknown.as<IEnumOPCItemAttributes>();
  ASSERT_TRUE(enumerator);
  OPCITEMATTRIBUTES* attributes = nullptr;
  ULONG fetched = 0;
  ASSERT_EQ(enumerator->Next(2, &attributes, &fetched), S_OK);
  ComPtr<IEnumOPCItemAttributes> copy;
  ASSERT_EQ(enumerator->Clone(copy.put()), S_OK);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(std::u16string(attributes[1].szItemID), u"Static.Int4");
  EXPECT_EQ(attributes[1].vtCanonicalDataType, VT_I4);
  for (ULONG i = 0; i < fetched; ++i) {
    CoTaskMemFree(attributes[i].szItemID);
    CoTaskMemFree(attributes[i].szAccessPath);
    CoTaskMemFree(attributes[i].pBlob);
    VariantClear(&attributes[i].vEUInfo);
  }
  CoTaskMemFree(attributes);
  EXPECT_EQ(copy->Next(10, &attributes, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 3u);
  EXPECT_EQ(std::u16string(attributes[2].szItemID), u"Writable.Int4");
  for (ULONG i = 0; i < fetched; ++i) {
    CoTaskMemFree(attributes[i].szItemID);
    CoTaskMemFree(attributes[i].szAccessPath);
    CoTaskMemFree(attributes[i].pBlob);
    VariantClear(&attributes[i].vEUInfo);
  }
  CoTaskMemFree(attributes);

  // Removing items and the group reaches the host.
  items->Delete(0);
  EXPECT_EQ(control->liveItemCount(), 4u);
  server->OPCGroups()->Remove("g");
  EXPECT_EQ(control->groupCount(), 0u);
  EXPECT_TRUE(pumpUntil([&] { return control->liveGroupCount() == 0; }));
}

TEST_P(RemoteGroupsTest, ABlockedComponentGetsTheLatestValuesAndTheHostQueueStaysBounded) {
  // Many items of one fast-changing value each: every scan changes all.
  QStringList ids;
  for (int i = 0; i < 200; ++i) ids << "Random.Int4";
  TqOPCGroup* g = veze6::test::addGroupWithItems(*server, "g", ids, 10);
  scan();

  // The component's thread takes nothing while the host scans on: the host
  // keeps a couple of calls in flight and coalesces the rest, one pending
  // update per item however many scans come. (A call the component took
  // just before may still be returning: scans go on until both calls in
  // flight wait on the component and the pending update holds every item.)
  const std::size_t bound = std::size_t(ids.size());
  std::size_t highest = 0;
  int passes = 0;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while ((passes < 300 || opc::remote::hostCallbackBacklog() < bound) &&
         std::chrono::steady_clock::now() < deadline) {
    control->advance(10ms);
    ++passes;
    highest = std::max(highest, opc::remote::hostCallbackBacklog());
  }
  EXPECT_EQ(opc::remote::hostCallbackBacklog(), bound) << "updates wait on the host";
  EXPECT_LE(highest, bound) << "one pending update per item at most";

  // Once the component takes its calls again, every item ends with its
  // latest value.
  const OleVariant latest = serverValue(u"Random.Int4");
  EXPECT_TRUE(pumpUntil([&] {
    for (int i = 0; i < g->OPCItems()->Count(); ++i)
      if (!(g->OPCItems()->Items(i)->Value() == latest)) return false;
    return true;
  }));
  EXPECT_TRUE(pumpUntil([] { return opc::remote::hostCallbackBacklog() == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Servers, RemoteGroupsTest,
                         ::testing::Values("Veze6.Simulation.1", "Veze6.Simulation.DA10.1"),
                         [](const auto& info) {
                           return QString(info.param).contains("DA10") ? std::string("DA10")
                                                                       : std::string("DA20");
                         });

}  // namespace
