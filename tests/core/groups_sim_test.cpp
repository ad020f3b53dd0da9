// Groups and items end to end against the simulation server: what reaches
// the server on connect, what a disconnect leaves, per-item failures and
// their report, revised rates, names, the designer, and a server that
// answers badly.
#include "common/simcomponent.h"
#include "test_utils.h"

using namespace core_test;
namespace sim = veze6::sim;
using Kind = TCaptureApplicationHandler::Kind;

namespace {

class GroupsSimTest : public veze6::test::SimComponentTest {
 protected:
  void SetUp() override {
    SimComponentTest::SetUp();
    server->SetServer("Veze6.Simulation.1");
  }

  void connect() {
    ASSERT_NO_THROW(server->SetActive(true));
    ASSERT_TRUE(server->Active());
  }

  std::size_t calls(sim::SimCall call) { return simControl()->callCount(call); }

  TqOPCGroups& groups() { return *server->OPCGroups(); }

  // Scans only when a test asks: a scan thread's data change still on its
  // way when a test ends would hold server memory past the checks.
  sim::ScopedCreationHook manualScans{[](sim::SimulationControl& c) { c.setManualScan(true); }};
  SleepRecorder sleeps;
  ScopedCaptureApplication capture;
};

/// The client handles the server holds for a group's items.
std::vector<OPCHANDLE> serverSideClientHandles(IOPCItemMgt* itemMgt) {
  ComPtr<IEnumOPCItemAttributes> e;
  EXPECT_HR_OK(
      itemMgt->CreateEnumerator(IID_IEnumOPCItemAttributes, reinterpret_cast<IUnknown**>(e.put())));
  std::vector<OPCHANDLE> handles;
  opc::TaskOut<OPCITEMATTRIBUTES> block;
  ULONG fetched = 0;
  e->Next(1000, block.put(), &fetched);
  for (ULONG i = 0; i < fetched; ++i) {
    OPCITEMATTRIBUTES& a = block[i];
    handles.push_back(a.hClient);
    CoTaskMemFree(a.szAccessPath);
    CoTaskMemFree(a.szItemID);
    CoTaskMemFree(a.pBlob);
    VariantClear(&a.vEUInfo);
  }
  return handles;
}

TEST_F(GroupsSimTest, Connect_PutsEveryGroupAndItemOnTheServer) {
  TqOPCGroup* a = groups().Add("A");
  TqOPCItems* items = a->OPCItems();
  TqOPCItem* int4 = items->AddItem("Static.Int4");
  TqOPCItem* real8 = items->AddItem("Writable.Real8");
  TqOPCItem* array = items->AddItem("Static.ArrayOfInt4");
  TqOPCItem* text = items->AddItem("Static.String");
  text->SetAccessPath("Primary");
  TqOPCGroup* b = groups().Add("B");
  TqOPCItem* flag = b->OPCItems()->AddItem("Writable.Boolean");
  connect();

  EXPECT_EQ(simControl()->groupCount(), 2u);
  EXPECT_EQ(simControl()->liveItemCount(), 5u);
  EXPECT_EQ(calls(sim::SimCall::AddItems), 2u) << "one batch per group";
  EXPECT_TRUE(a->IsOnServer());
  EXPECT_NE(a->ServerHandle(), b->ServerHandle());
  EXPECT_EQ(a->UpdateRate(), 1000);
  for (TqOPCItem* item : {int4, real8, array, text, flag}) {
    EXPECT_NE(item->ServerHandle(), TqOPCItem::kNoServerHandle) << item->ItemID().toStdString();
    EXPECT_EQ(item->LastError(), S_OK);
  }
  EXPECT_EQ(int4->CanonicalDatatype(), VT_I4);
  EXPECT_EQ(real8->CanonicalDatatype(), VT_R8);
  EXPECT_EQ(array->CanonicalDatatype(), VT_ARRAY | VT_I4);
  EXPECT_EQ(text->CanonicalDatatype(), VT_BSTR);
  EXPECT_EQ(flag->CanonicalDatatype(), VT_BOOL);
  EXPECT_EQ(int4->AccessRights(), OPC_READABLE);
  EXPECT_EQ(real8->AccessRights(), OPC_READABLE | OPC_WRITEABLE);
  EXPECT_EQ(items->GetOPCItem(real8->ServerHandle()), real8);

  // The client handles the server keeps lead back to the items.
  const std::vector<OPCHANDLE> held = serverSideClientHandles(a->ItemMgt());
  ASSERT_EQ(held.size(), 4u);
  for (OPCHANDLE h : held) EXPECT_NE(items->FindClientHandle(h), nullptr);
  tGroupStateRec state;
  a->GetState(state);
  EXPECT_EQ(state.Name, "A");
  EXPECT_EQ(state.hClientGroup, OPCHANDLE(a->ID()));
  EXPECT_EQ(state.hServerGroup, a->ServerHandle());
  EXPECT_EQ(state.UpdateRate, 1000);
  EXPECT_TRUE(state.Active);
}

TEST_F(GroupsSimTest, DisconnectKeepsTheConfigurationAndReconnectRestoresIt) {
  TqOPCGroup* g = groups().Add("g");
  g->SetUpdateRate(250);
  g->SetDeadBand(2.5f);
  TqOPCItem* item = g->OPCItems()->AddItem("Writable.Int4");
  item->SetIsActive(false);
  connect();
  EXPECT_EQ(g->UpdateRate(), 300) << "revised to the base scan rate's multiple";
  server->Disconnect();

  EXPECT_EQ(groups().Count(), 1);
  EXPECT_FALSE(g->IsOnServer());
  EXPECT_EQ(g->Name(), "g");
  EXPECT_EQ(g->DeadBand(), 2.5f);
  EXPECT_EQ(item->ServerHandle(), TqOPCItem::kNoServerHandle);
  EXPECT_EQ(item->ItemID(), "Writable.Int4");
  EXPECT_FALSE(item->IsActive());
  item->SetItemID("Writable.Int2");  // allowed again

  connect();
  EXPECT_EQ(simControl()->groupCount(), 1u);
  EXPECT_EQ(simControl()->liveItemCount(), 1u);
  EXPECT_NE(item->ServerHandle(), TqOPCItem::kNoServerHandle);
  EXPECT_EQ(item->CanonicalDatatype(), VT_I2);
  tGroupStateRec state;
  g->GetState(state);
  EXPECT_EQ(state.PercentDeadband, 2.5f);
  EXPECT_EQ(state.UpdateRate, 300);
}

TEST_F(GroupsSimTest, PerItemFailures_AreShownInOneReport) {
  TqOPCItems* items = groups().Add("g")->OPCItems();
  items->AddItem("Static.Int4");
  items->AddItem("No.Such.Item");
  items->AddItem("Static..Int4");
  items->AddItem("Static.Real8")->SetAccessPath("Nowhere");
  items->AddItem("Static.String")->SetRequestDatatype(vtBOOL);
  connect();
  EXPECT_EQ(capture->Texts(Kind::Message),
            QList<QString>{"cannot add Items:\r\n"
                           "No.Such.Item- " +
                           GetOPCErrorMessage(OPC_E_UNKNOWNITEMID) + "\r\n" + "Static..Int4- " +
                           GetOPCErrorMessage(OPC_E_INVALIDITEMID) + "\r\n" + "Static.Real8- " +
                           GetOPCErrorMessage(OPC_E_UNKNOWNPATH) + "\r\n" + "Static.String- " +
                           GetOPCErrorMessage(OPC_E_BADTYPE) + "\r\n"});
  EXPECT_TRUE(capture->Texts(Kind::Exception).isEmpty()) << "shown, not raised";
  EXPECT_EQ(simControl()->liveItemCount(), 1u);
  EXPECT_EQ(items->Items(1)->LastError(), OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(items->Items(1)->ServerHandle(), TqOPCItem::kNoServerHandle);

  // Thirty failures: 26 are listed.
  capture->Reset();
  server->SetBatchMode(true);
  for (int i = 0; i < 30; ++i) items->AddItem(QString("Missing.%1").arg(i));
  items->OPCAddAllItems();
  const QList<QString> shown = capture->Texts(Kind::Message);
  ASSERT_EQ(shown.size(), 1);
  EXPECT_EQ(shown[0].count("- "), 26);
  EXPECT_EQ(shown[0].count("Missing."), 22) << "after the four earlier failures";
  EXPECT_TRUE(shown[0].contains("Missing.21- "));
  EXPECT_FALSE(shown[0].contains("Missing.22- ")) << "the 27th failure is counted, not listed";
}

TEST_F(GroupsSimTest, SingleItemChanges_ReachTheServerOrRaiseTheReport) {
  TqOPCGroup* g = groups().Add("g");
  connect();
  TqOPCItems* items = g->OPCItems();
  TqOPCItem* text = items->AddItem("Static.String");
  EXPECT_NE(text->ServerHandle(), TqOPCItem::kNoServerHandle);
  EXPECT_EQ(thrownMessage([&] { items->AddItem("No.Such.Item"); }),
            "OPC Command:\r\nNo.Such.Item- " + GetOPCErrorMessage(OPC_E_UNKNOWNITEMID) + "\r\n");
  EXPECT_EQ(items->Count(), 2);

  const auto active = calls(sim::SimCall::SetActiveState);
  text->SetIsActive(false);
  EXPECT_EQ(calls(sim::SimCall::SetActiveState), active + 1);
  EXPECT_EQ(thrownMessage([&] { text->SetRequestDatatype(vtBOOL); }),
            "OPC Command:\r\nStatic.String- " + GetOPCErrorMessage(OPC_E_BADTYPE) + "\r\n");
  EXPECT_EQ(text->RequestDatatype(), vtBOOL) << "stored first";
  text->SetRequestDatatype(vtEMPTY);
  EXPECT_EQ(text->LastError(), S_OK);

  items->Delete(0);
  EXPECT_EQ(simControl()->liveItemCount(), 0u) << "removed from the server before it went";
  items->Items(0)->Free();  // a local item: no call
  EXPECT_EQ(calls(sim::SimCall::RemoveItems), 1u);
}

TEST_F(GroupsSimTest, BatchMode_ManyItemsInOneCall) {
  TqOPCGroup* g = groups().Add("g");
  connect();
  server->SetBatchMode(true);
  TqOPCItems* items = g->OPCItems();
  for (int i = 0; i < 1000; ++i) items->AddItem(i % 2 ? "Static.Int4" : "Writable.Real8");
  EXPECT_EQ(calls(sim::SimCall::AddItems), 0u);
  items->OPCAddAllItems();
  EXPECT_EQ(calls(sim::SimCall::AddItems), 1u);
  EXPECT_EQ(simControl()->liveItemCount(), 1000u);
  items->RemoveAll();
  EXPECT_EQ(calls(sim::SimCall::RemoveItems), 1u);
  EXPECT_EQ(simControl()->liveItemCount(), 0u);
  EXPECT_EQ(items->Count(), 0);
}

TEST_F(GroupsSimTest, UpdateRates_AreRevisedByTheServer) {
  TqOPCGroup* g = groups().Add("g");
  g->SetUpdateRate(0);
  EXPECT_EQ(g->UpdateRate(), 0) << "disconnected: stored as asked";
  connect();
  EXPECT_EQ(g->UpdateRate(), 100) << "0 asks for the fastest rate";
  g->SetUpdateRate(150);
  EXPECT_EQ(g->UpdateRate(), 200);
  const auto setStates = calls(sim::SimCall::SetState);
  g->SetUpdateRate(200);
  g->SetIsActive(true);
  EXPECT_EQ(calls(sim::SimCall::SetState), setStates) << "equal values make no call";
  EXPECT_THROW(g->SetDeadBand(101.0f), EOleSysError);
  EXPECT_EQ(g->DeadBand(), 0.0f);
}

TEST_F(GroupsSimTest, Names_DuplicatesAreRefusedByTheServerAndLocally) {
  TqOPCGroup* a = groups().Add("a");
  TqOPCGroup* b = groups().Add("b");
  connect();
  EXPECT_EQ(thrownMessage([&] { b->SetName("a"); }), "Duplicate name not allowed.");
  EXPECT_EQ(b->Name(), "b");
  b->SetName("c");
  tGroupStateRec state;
  b->GetState(state);
  EXPECT_EQ(state.Name, "c");
  EXPECT_EQ(thrownMessage([&] { groups().Add("a"); }), "group a already exists");
  EXPECT_EQ(simControl()->groupCount(), 2u);
  groups().Remove("a");
  EXPECT_EQ(simControl()->groupCount(), 1u);
  EXPECT_EQ(thrownMessage([&] { groups().Remove("a"); }), "group not found");
  (void)a;
}

TEST_F(GroupsSimTest, Designer_PutsGroupsOnTheServerAndOnlyValidatesItems) {
  server->SetDesigning(true);
  TqOPCItems* items = groups().AddDefault()->OPCItems();  // "TqOPCGroup0"
  TqOPCItem* item = items->AddItem("Writable.Real4");
  groups().AddDefault();  // "TqOPCGroup1"
  groups().Delete(0);
  connect();
  EXPECT_EQ(simControl()->groupCount(), 1u);
  EXPECT_EQ(calls(sim::SimCall::AddItems), 0u);

  // The new group's default name would be "TqOPCGroup1", which the server
  // already knows: the group reaches it under its own name.
  TqOPCGroup* added = groups().Add("Designed");
  EXPECT_TRUE(added->IsOnServer());
  EXPECT_EQ(simControl()->groupCount(), 2u);
  TqOPCItem* validated = added->OPCItems()->AddItem("Writable.Real4");
  EXPECT_EQ(validated->ServerHandle(), TqOPCItem::kNoServerHandle);
  EXPECT_EQ(validated->CanonicalDatatype(), VT_R4);
  EXPECT_EQ(validated->AccessRights(), OPC_READABLE | OPC_WRITEABLE);
  EXPECT_EQ(simControl()->liveItemCount(), 0u);
  EXPECT_EQ(thrownMessage([&] { added->OPCItems()->AddItem("Nope"); }),
            "OPC Command:\r\nNope- " + GetOPCErrorMessage(OPC_E_UNKNOWNITEMID) + "\r\n");
  (void)item;
}

TEST_F(GroupsSimTest, BadServers_NoArraysOrArraysWithAFailure) {
  TqOPCGroup* g = groups().Add("g");
  connect();
  server->SetBatchMode(true);
  g->OPCItems()->AddItem("Static.Int4");
  simControl()->setQuirk(sim::Quirk::NullItemArrays, true);
  g->OPCItems()->OPCAddAllItems();
  EXPECT_EQ(capture->Texts(Kind::Message),
            QList<QString>{"cannot add Items:\r\nStatic.Int4- unknown error : -2147467261\r\n"});
  EXPECT_EQ(g->OPCItems()->Items(0)->ServerHandle(), TqOPCItem::kNoServerHandle);

  simControl()->setQuirk(sim::Quirk::NullItemArrays, false);
  simControl()->setQuirk(sim::Quirk::ArraysWithFailure, true);
  simControl()->failCall(sim::SimCall::AddItems, E_OUTOFMEMORY, 1);
  EXPECT_THROW(g->OPCItems()->OPCAddAllItems(), EOleSysError);
  simControl()->failCall(sim::SimCall::SetActiveState, OPC_E_PUBLIC, 1);
  g->OPCItems()->OPCAddAllItems();
  TqOPCItem* item = g->OPCItems()->Items(0);
  ASSERT_NE(item->ServerHandle(), TqOPCItem::kNoServerHandle);
  EXPECT_EQ(thrownMessage([&] { g->OPCItems()->OPCActiveItems(TqOPCItemList(item), false); }),
            GetOPCErrorMessage(OPC_E_PUBLIC));
  // TearDown proves every array the server handed out was freed.
}

}  // namespace
