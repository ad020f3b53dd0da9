// Items on the server, call by call against a mock group: the definitions a
// batch sends, batch mode, the single-item path and its report, the setters'
// store-first rule, the designer's validation, and servers that answer badly.
#include "group_fixture.h"

using namespace core_test;
using ::testing::_;
using ::testing::AnyNumber;
using ::testing::Invoke;
using ::testing::Return;

namespace {

const QString kUnknownItemText = "The item is no longer available in the server address space.";

class ItemsMockTest : public GroupMockFixture {
 protected:
  void SetUp() override {
    GroupMockFixture::SetUp();
    // Items still on the server when a test ends leave with their group.
    EXPECT_CALL(*group, RemoveItems)
        .Times(AnyNumber())
        .WillRepeatedly(Invoke(answerRemoveItems(&calls)));
  }

  /// A group "g" put on the server by connecting.
  TqOPCGroup* groupOnServer() {
    TqOPCGroup* g = groups().Add("g");
    expectAddGroup();
    connect();
    return g;
  }

  /// Adds items in batch mode and puts them on the server in one call
  /// (handles 100, 101...).
  std::vector<TqOPCItem*> itemsOnServer(TqOPCGroup* g, const QStringList& ids) {
    std::vector<TqOPCItem*> made;
    server->SetBatchMode(true);
    for (const QString& id : ids) made.push_back(g->OPCItems()->AddItem(id));
    server->SetBatchMode(false);
    EXPECT_CALL(*group, AddItems).WillOnce(Invoke(answerAddItems(nullptr))).RetiresOnSaturation();
    g->OPCItems()->OPCAddAllItems();
    return made;
  }
};

TEST_F(ItemsMockTest, BatchMode_SingleItemsMakeNoCallAndOneBatchCarriesThemAll) {
  TqOPCGroup* g = groupOnServer();
  TqOPCItems* items = g->OPCItems();
  g->DefaultItem()->AccessPath = "Primary";
  server->SetBatchMode(true);
  TqOPCItem* a = items->AddItem("Static.Int4");
  TqOPCItem* b = items->AddItem("Writable.Real8");
  b->SetIsActive(false);
  b->SetRequestDatatype(vtR4);
  EXPECT_EQ(a->ServerHandle(), TqOPCItem::kNoServerHandle);

  EXPECT_CALL(*group, AddItems(2, _, _, _))
      .WillOnce(
          Invoke(answerAddItems(&calls, {.canonicalType = VT_R8, .accessRights = OPC_READABLE})));
  items->OPCAddAllItems();
  ASSERT_EQ(calls.defs.size(), 1u);
  const SentDef& da = calls.defs[0][0];
  EXPECT_EQ(da.accessPath, u"Primary");
  EXPECT_EQ(da.itemId, u"Static.Int4");
  EXPECT_EQ(da.active, BOOL(-1));
  EXPECT_EQ(da.client, a->GetClientHandle());
  EXPECT_EQ(da.blobSize, 0u);
  EXPECT_FALSE(da.hasBlob);
  EXPECT_EQ(da.requestedType, VT_EMPTY);
  const SentDef& db = calls.defs[0][1];
  EXPECT_EQ(db.active, FALSE);
  EXPECT_EQ(db.requestedType, VT_R4);
  EXPECT_EQ(db.client, b->GetClientHandle());

  EXPECT_EQ(a->ServerHandle(), 100u);
  EXPECT_EQ(b->ServerHandle(), 101u);
  EXPECT_EQ(a->CanonicalDatatype(), VT_R8);
  EXPECT_EQ(a->AccessRights(), OPC_READABLE);
  EXPECT_EQ(items->GetOPCItem(101), b);

  // In batch mode a destroyed item is not removed from the server.
  server->SetBatchMode(true);
  a->Free();
  EXPECT_EQ(items->Count(), 1);
  EXPECT_TRUE(calls.handles.empty());
}

TEST_F(ItemsMockTest, AddItem_Connected_AddsAtOnce_RejectedIdRaisesTheReport) {
  TqOPCItems* items = groupOnServer()->OPCItems();
  EXPECT_CALL(*group, AddItems(1, _, _, _))
      .WillOnce(Invoke(answerAddItems(&calls)))
      .WillOnce(Invoke(answerAddItems(&calls, {.errors = {OPC_E_UNKNOWNITEMID}})));
  TqOPCItem* ok = items->AddItem("Static.Int4");
  EXPECT_EQ(ok->ServerHandle(), 100u);
  EXPECT_EQ(ok->LastError(), S_OK);

  EXPECT_EQ(thrownMessage([&] { items->AddItem("No.Such.Item"); }),
            "OPC Command:\r\nNo.Such.Item- " + kUnknownItemText + "\r\n");
  ASSERT_EQ(items->Count(), 2) << "the rejected item stays in the collection";
  TqOPCItem* rejected = items->Items(1);
  EXPECT_EQ(rejected->ServerHandle(), TqOPCItem::kNoServerHandle);
  EXPECT_EQ(rejected->LastError(), OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(rejected->GetLastErrorStr(), kUnknownItemText);
}

TEST_F(ItemsMockTest, AddItem_Disconnected_StaysLocalWithoutCalls) {
  TqOPCItem* item = groups().Add("g")->OPCItems()->AddItem("Static.Int4");
  EXPECT_EQ(item->ServerHandle(), TqOPCItem::kNoServerHandle);
  item->SetIsActive(false);
  item->SetRequestDatatype(vtBSTR);
  EXPECT_FALSE(item->IsActive());
  EXPECT_EQ(item->RequestDatatype(), vtBSTR);
}

TEST_F(ItemsMockTest, Connect_AddsAllItemsInOneCallAndShowsFailures) {
  ScopedCaptureApplication capture;
  TqOPCItems* items = groups().Add("g")->OPCItems();
  for (const char* id : {"a", "b", "c"}) items->AddItem(id);
  expectAddGroup();
  EXPECT_CALL(*group, AddItems(3, _, _, _))
      .WillOnce(Invoke(answerAddItems(&calls, {.errors = {S_OK, OPC_E_UNKNOWNITEMID, S_OK}})));
  connect();
  EXPECT_EQ(capture->Texts(TCaptureApplicationHandler::Kind::Message),
            QList<QString>{"cannot add Items:\r\nb- " + kUnknownItemText + "\r\n"});
  EXPECT_EQ(items->Items(0)->ServerHandle(), 100u);
  EXPECT_EQ(items->Items(1)->ServerHandle(), TqOPCItem::kNoServerHandle);
  EXPECT_EQ(items->Items(2)->ServerHandle(), 102u) << "results are matched by position";
}

TEST_F(ItemsMockTest, ConnectDelay_WaitsOnlyWhenItemsExist) {
  TqOPCGroup* g = groups().Add("g");
  expectAddGroup(4);
  connect();
  server->Disconnect();
  EXPECT_TRUE(sleeps.delays().empty()) << "no items, no wait";
  g->OPCItems()->AddItem("Static.Int4");
  EXPECT_CALL(*group, AddItems).Times(3).WillRepeatedly(Invoke(answerAddItems(nullptr)));
  connect();  // the default delay
  server->Disconnect();
  server->SetConnectDelay(120);
  connect();
  server->Disconnect();
  server->SetConnectDelay(-5);  // none
  connect();
  using std::chrono::milliseconds;
  EXPECT_EQ(sleeps.delays(), (std::vector<milliseconds>{milliseconds(300), milliseconds(120)}));
}

TEST_F(ItemsMockTest, SetIsActive_StoresFirstThenSendsTheChange) {
  TqOPCGroup* g = groupOnServer();
  TqOPCItem* item = itemsOnServer(g, {"Static.Int4"})[0];
  EXPECT_CALL(*group, SetActiveState)
      .WillOnce(Invoke(answerSetActiveState(&calls)))
      .WillOnce(Invoke(answerSetActiveState(&calls, {OPC_E_INVALIDHANDLE})))
      .WillOnce(Invoke(answerSetActiveState(&calls)))
      .WillOnce(Return(E_FAIL));
  item->SetIsActive(false);
  EXPECT_EQ(calls.handles.back(), std::vector<OPCHANDLE>{100});
  EXPECT_EQ(calls.actives.back(), FALSE);
  EXPECT_FALSE(item->IsActive());

  EXPECT_EQ(thrownMessage([&] { item->SetIsActive(true); }),
            "OPC Command:\r\nStatic.Int4- The value of the handle is invalid.\r\n");
  EXPECT_EQ(calls.actives.back(), BOOL(-1));
  EXPECT_TRUE(item->IsActive()) << "stored before the server was asked";

  item->SetIsActive(false);
  EXPECT_EQ(item->LastError(), S_OK);
  EXPECT_THROW(item->SetIsActive(true), EOleSysError) << "a failed whole call";
  EXPECT_TRUE(item->IsActive());
  item->SetIsActive(true);  // equal: no call
}

TEST_F(ItemsMockTest, SetRequestDatatype_SendsTheTypeAndKeepsTheCanonicalOne) {
  TqOPCGroup* g = groupOnServer();
  TqOPCItem* item = itemsOnServer(g, {"Static.Int4"})[0];
  EXPECT_CALL(*group, SetDatatypes).WillOnce(Invoke(answerSetDatatypes(&calls, {OPC_E_BADTYPE})));
  EXPECT_EQ(thrownMessage([&] { item->SetRequestDatatype(vtBOOL); }),
            "OPC Command:\r\nStatic.Int4- " + GetOPCErrorMessage(OPC_E_BADTYPE) + "\r\n");
  EXPECT_EQ(calls.types.back(), std::vector<VARTYPE>{VT_BOOL});
  EXPECT_EQ(item->RequestDatatype(), vtBOOL);
  EXPECT_EQ(item->CanonicalDatatype(), VT_I4);
}

TEST_F(ItemsMockTest, SetItemIDAndAccessPath_FrozenWhileOnTheServer) {
  TqOPCGroup* g = groupOnServer();
  TqOPCItem* item = itemsOnServer(g, {"Static.Int4"})[0];
  EXPECT_EQ(thrownMessage([&] { item->SetItemID("other"); }),
            "not possible if connected to OPC Server");
  EXPECT_EQ(thrownMessage([&] { item->SetAccessPath("Primary"); }),
            "not possible if connected to OPC Server");
  EXPECT_EQ(item->ItemID(), "Static.Int4");
  EXPECT_EQ(item->AccessPath(), "");
  // Its handles mean nothing to another group.
  TqOPCGroup* other = groups().AddDefault();  // local
  EXPECT_EQ(thrownMessage([&] { item->SetCollection(other->OPCItems()); }),
            "not possible if connected to OPC Server");
  EXPECT_EQ(item->Group(), g);
  server->Disconnect();
  item->SetItemID("other");
  EXPECT_EQ(item->ItemID(), "other");
}

TEST_F(ItemsMockTest, SingleItemChanges_OfALocalItem_RaiseNotOnServer) {
  TqOPCGroup* g = groupOnServer();
  server->SetBatchMode(true);
  TqOPCItem* item = g->OPCItems()->AddItem("Static.Int4");
  server->SetBatchMode(false);
  EXPECT_EQ(thrownMessage([&] { item->SetIsActive(false); }),
            "item Static.Int4 not exists on OPCServer");
  EXPECT_FALSE(item->IsActive());
  EXPECT_EQ(thrownMessage([&] { item->SetRequestDatatype(vtR8); }),
            "item Static.Int4 not exists on OPCServer");
  EXPECT_EQ(thrownMessage([&] { item->OPCCommand(9); }), "unknown error : 9");
}

TEST_F(ItemsMockTest, WhileLoading_SingleItemChangesOnlyStore) {
  TqOPCGroup* g = groupOnServer();
  TqOPCItem* item = itemsOnServer(g, {"Static.Int4"})[0];
  server->SetLoading(true);
  item->SetIsActive(false);  // no call (strict mock)
  server->SetLoading(false);
  EXPECT_FALSE(item->IsActive());
}

TEST_F(ItemsMockTest, Destroy_OnTheServer_RemovesFirstAndReportsAfterTheItemIsGone) {
  TqOPCGroup* g = groupOnServer();
  TqOPCItems* items = g->OPCItems();
  const auto made = itemsOnServer(g, {"a", "b"});
  const OPCHANDLE bHandle = made[1]->GetClientHandle();
  EXPECT_CALL(*group, RemoveItems)
      .WillOnce(Invoke(answerRemoveItems(&calls)))
      .WillOnce(Invoke(answerRemoveItems(&calls, {OPC_E_INVALIDHANDLE})))
      .RetiresOnSaturation();
  items->Delete(0);
  EXPECT_EQ(calls.handles.back(), std::vector<OPCHANDLE>{100});
  EXPECT_EQ(thrownMessage([&] { items->Items(0)->Free(); }),
            "OPC Command:\r\nb- The value of the handle is invalid.\r\n");
  EXPECT_EQ(items->Count(), 0) << "destroyed before the report is raised";
  EXPECT_EQ(items->FindClientHandle(bHandle), nullptr);
}

TEST_F(ItemsMockTest, DeletedOutright_LeavesTheServerAndReportsThroughTheApplication) {
  TqOPCGroup* g = groupOnServer();
  const auto made = itemsOnServer(g, {"a", "b", "c"});
  ScopedCaptureApplication capture;
  EXPECT_CALL(*group, RemoveItems)
      .WillOnce(Invoke(answerRemoveItems(&calls)))
      .WillOnce(Invoke(answerRemoveItems(&calls, {OPC_E_INVALIDHANDLE})))
      .RetiresOnSaturation();
  delete made[0];
  EXPECT_EQ(calls.handles.back(), std::vector<OPCHANDLE>{100});
  delete made[1];  // the report cannot leave a destructor
  EXPECT_EQ(calls.handles.back(), std::vector<OPCHANDLE>{101});
  EXPECT_EQ(capture->Texts(TCaptureApplicationHandler::Kind::Exception),
            QList<QString>{"OPC Command:\r\nb- The value of the handle is invalid.\r\n"});
  server->SetBatchMode(true);
  delete made[2];  // batch mode: stays on the server
  EXPECT_EQ(calls.handles.size(), 2u);
  EXPECT_EQ(g->OPCItems()->Count(), 0);
}

TEST_F(ItemsMockTest, OPCRemoveItems_ClearsEveryHandle_WithoutArraysTheWholeResultCounts) {
  TqOPCGroup* g = groupOnServer();
  TqOPCItems* items = g->OPCItems();
  itemsOnServer(g, {"a", "b", "c"});
  const TqOPCItemList all(items);
  EXPECT_CALL(*group, RemoveItems)
      .WillOnce(Invoke(answerRemoveItems(&calls, {S_OK, OPC_E_INVALIDHANDLE})))
      .WillOnce(Invoke(answerRemoveItems(&calls, {}, S_OK, false)))
      .WillOnce(Invoke(answerRemoveItems(&calls, {}, S_FALSE, false)))
      .WillOnce(Invoke(answerRemoveItems(&calls, {}, E_FAIL, false)))
      .RetiresOnSaturation();
  EXPECT_FALSE(items->OPCRemoveItems(all));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(items->Items(i)->ServerHandle(), TqOPCItem::kNoServerHandle) << i;
  EXPECT_EQ(items->Items(1)->LastError(), OPC_E_INVALIDHANDLE);
  EXPECT_EQ(items->Items(2)->LastError(), S_OK);

  itemsOnServer(g, {});
  EXPECT_TRUE(items->OPCRemoveItems(all));
  itemsOnServer(g, {});
  EXPECT_FALSE(items->OPCRemoveItems(all)) << "S_FALSE: some failed, none can be credited";
  EXPECT_EQ(items->Items(0)->LastError(), E_FAIL);
  itemsOnServer(g, {});
  EXPECT_FALSE(items->OPCRemoveItems(all)) << "not checked: a failure is each item's";
  EXPECT_EQ(items->Items(2)->LastError(), E_FAIL);
  EXPECT_EQ(items->Items(2)->ServerHandle(), TqOPCItem::kNoServerHandle);
}

TEST_F(ItemsMockTest, BatchGuards_NoCallForWrongListsAndLocalGroups) {
  TqOPCGroup* g = groupOnServer();
  TqOPCItems* items = g->OPCItems();
  TqOPCItem* remote = itemsOnServer(g, {"remote"})[0];
  server->SetBatchMode(true);
  TqOPCItem* local = items->AddItem("local");
  const TqOPCItemList localList(local);
  EXPECT_EQ(thrownMessage([&] { items->OPCRemoveItems(localList); }),
            "item local not exists on OPCServer");
  EXPECT_EQ(thrownMessage([&] { items->OPCActiveItems(localList, false); }),
            "item local not exists on OPCServer");
  EXPECT_EQ(thrownMessage([&] { items->OPCSetDataTypes(localList); }),
            "item local not exists on OPCServer");
  EXPECT_FALSE(items->OPCAddItems(TqOPCItemList(), true)) << "empty list";

  const TqOPCItemList both = [&] {
    TqOPCItemList l(local);
    l.Add(remote);
    return l;
  }();
  EXPECT_EQ(thrownMessage([&] { items->OPCAddItems(both, true); }),
            "item remote already exists on OPCServer");
  EXPECT_EQ(thrownMessage([&] { items->OPCValidateItems(both); }),
            "item remote already exists on OPCServer");

  // Items of another group mean nothing to this group's server side.
  TqOPCGroup* other = groups().AddDefault();  // disconnected collection add: stays local
  TqOPCItem* foreign = other->OPCItems()->AddItem("foreign");
  EXPECT_EQ(thrownMessage([&] { items->OPCAddItems(TqOPCItemList(foreign), true); }),
            "item foreign does not belong to group g");
  EXPECT_FALSE(other->OPCItems()->OPCAddItems(TqOPCItemList(foreign), true))
      << "a group not on the server makes no call";

  // A destroyed item in a list is skipped.
  TqOPCItemList stale(local);
  local->Free();
  EXPECT_FALSE(items->OPCAddItems(stale, true));
}

TEST_F(ItemsMockTest, Designer_ValidatesInsteadOfAdding) {
  server->SetDesigning(true);
  TqOPCGroup* g = groups().Add("g");
  TqOPCItems* items = g->OPCItems();
  TqOPCItem* item = items->AddItem("Static.String");  // disconnected: no call
  expectAddGroup();
  EXPECT_CALL(*group, ValidateItems(1, _, FALSE, _, _))
      .WillOnce(Invoke(
          answerValidateItems(&calls, {.canonicalType = VT_BSTR, .accessRights = OPC_READABLE})))
      .WillOnce(Invoke(answerValidateItems(&calls, {.errors = {OPC_E_INVALIDITEMID}})))
      .WillOnce(Invoke(answerValidateItems(&calls)));
  connect();
  EXPECT_EQ(item->ServerHandle(), TqOPCItem::kNoServerHandle) << "validated, not added";
  EXPECT_EQ(item->CanonicalDatatype(), VT_BSTR);
  EXPECT_EQ(item->AccessRights(), OPC_READABLE);
  EXPECT_EQ(calls.defs[0][0].itemId, u"Static.String");

  EXPECT_EQ(thrownMessage([&] { items->AddItem("bad..id"); }),
            "OPC Command:\r\nbad..id- The item definition doesn't conform to the server's "
            "syntax.\r\n");
  EXPECT_EQ(items->Count(), 2) << "the rejected item stays";
  items->Items(1)->SetAccessPath("Primary");  // validated again
  EXPECT_EQ(calls.defs.back()[0].accessPath, u"Primary");

  // Neither adding nor changing an item's state reaches the server here.
  EXPECT_FALSE(items->OPCAddItems(TqOPCItemList(item), true));
  item->SetIsActive(false);
  item->SetRequestDatatype(vtR8);
  EXPECT_FALSE(items->OPCRemoveItems(TqOPCItemList(item)));
}

TEST_F(ItemsMockTest, BadServers_NoArraysGivePerItemErrors) {
  ScopedCaptureApplication capture;
  TqOPCGroup* g = groupOnServer();
  server->SetBatchMode(true);
  g->OPCItems()->AddItem("a");
  g->OPCItems()->AddItem("b");
  EXPECT_CALL(*group, AddItems).WillOnce(Invoke(answerAddItems(&calls, {.arrays = false})));
  g->OPCItems()->OPCAddAllItems();
  EXPECT_EQ(capture->Texts(TCaptureApplicationHandler::Kind::Message),
            QList<QString>{"cannot add Items:\r\na- unknown error : -2147467261\r\n"
                           "b- unknown error : -2147467261\r\n"});
  EXPECT_EQ(g->OPCItems()->Items(0)->ServerHandle(), TqOPCItem::kNoServerHandle);
}

TEST_F(ItemsMockTest, BadServers_FailureWithArraysRaisesAndEverythingIsFreed) {
  TqOPCGroup* g = groupOnServer();
  server->SetBatchMode(true);
  g->OPCItems()->AddItem("a");
  g->OPCItems()->AddItem("b");
  EXPECT_CALL(*group, AddItems)
      .WillOnce(Invoke(answerAddItems(
          &calls, {.errors = {E_FAIL, E_FAIL}, .withBlobs = true, .result = E_OUTOFMEMORY})))
      .WillOnce(Invoke(answerAddItems(&calls, {.withBlobs = true})));
  try {
    g->OPCItems()->OPCAddAllItems();
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), E_OUTOFMEMORY);
  }
  EXPECT_EQ(g->OPCItems()->Items(0)->ServerHandle(), TqOPCItem::kNoServerHandle);
  g->OPCItems()->OPCAddAllItems();  // blobs on success are freed as well
  EXPECT_EQ(g->OPCItems()->Items(1)->ServerHandle(), 101u);
  // TearDown proves the arrays and blobs were freed.
}

TEST_F(ItemsMockTest, ItemIdsOfAnyContent) {
  ScopedCaptureApplication capture;
  TqOPCGroup* g = groupOnServer();
  TqOPCItems* items = g->OPCItems();
  server->SetBatchMode(true);
  TqOPCItem* zeroId = items->AddItem(QString::fromUtf16(u"Static\0Int4", 11));
  TqOPCItem* zeroPath = items->AddItem("Static.Int4");
  zeroPath->SetAccessPath(QString::fromUtf16(u"Prim\0ary", 8));
  TqOPCItem* longId = items->AddItem(QString(100000, u'x'));
  TqOPCItem* lone =
      items->AddItem(QString::fromUtf16(u"A\xD800"
                                        u"B"));
  EXPECT_CALL(*group, AddItems(2, _, _, _)).WillOnce(Invoke(answerAddItems(&calls)));
  items->OPCAddAllItems();
  ASSERT_EQ(calls.defs.size(), 1u);
  EXPECT_EQ(calls.defs[0][0].itemId.size(), 100000u);
  EXPECT_EQ(calls.defs[0][0].client, longId->GetClientHandle());
  EXPECT_EQ(calls.defs[0][1].itemId, u"A\uFFFDB");
  EXPECT_EQ(zeroId->LastError(), OPC_E_INVALIDITEMID);
  EXPECT_EQ(zeroPath->LastError(), OPC_E_UNKNOWNPATH);
  EXPECT_EQ(zeroId->ServerHandle(), TqOPCItem::kNoServerHandle);
  EXPECT_EQ(longId->ServerHandle(), 100u);
  EXPECT_EQ(lone->ServerHandle(), 101u);
  // Nothing left to send: no call at all.
  EXPECT_FALSE(items->OPCAddItems(TqOPCItemList(zeroId), true));
}

TEST_F(ItemsMockTest, ErrorReport_ListsTheFirst26FailuresAndCountsTheRest) {
  ScopedCaptureApplication capture;
  TqOPCGroup* g = groupOnServer();
  server->SetBatchMode(true);
  std::vector<HRESULT> errors;
  for (int i = 0; i < 30; ++i) {
    g->OPCItems()->AddItem(QString("I%1").arg(i));
    errors.push_back(i == 1 ? E_FAIL : OPC_E_UNKNOWNITEMID);
  }
  EXPECT_CALL(*group, AddItems).WillOnce(Invoke(answerAddItems(&calls, {.errors = errors})));
  g->OPCItems()->OPCAddAllItems();
  const QList<QString> shown = capture->Texts(TCaptureApplicationHandler::Kind::Message);
  ASSERT_EQ(shown.size(), 1);
  const QStringList lines = shown[0].split("\r\n");
  ASSERT_EQ(lines.size(), 28) << "title, 26 items, and the empty rest after the last CR LF";
  EXPECT_EQ(lines[0], "cannot add Items:");
  EXPECT_EQ(lines[1], "I0- " + kUnknownItemText);
  EXPECT_EQ(lines[2], "I1- unknown error : -2147467259");
  EXPECT_EQ(lines[26], "I25- " + kUnknownItemText);
  EXPECT_EQ(lines[27], "");

  const TqOPCItemList all(g->OPCItems());
  EXPECT_EQ(thrownMessage([&] { all.CheckOPCErrors("cannot write Items:", true); }),
            "cannot write Items:\r\n" + shown[0].mid(QString("cannot add Items:\r\n").size()));
}

TEST_F(ItemsMockTest, ClientHandles_ResolveThroughTheTableOfLiveItems) {
  TqOPCItems* items = groups().Add("g")->OPCItems();
  TqOPCItem* a = items->AddItem("a");
  TqOPCItem* b = items->AddItem("b");
  const OPCHANDLE ha = a->GetClientHandle();
  EXPECT_NE(ha, b->GetClientHandle());
  EXPECT_EQ(items->FindClientHandle(ha), a);
  a->Free();
  EXPECT_EQ(items->FindClientHandle(ha), nullptr) << "a late callback finds nothing";
  TqOPCItem* c = items->AddItem("c");
  EXPECT_NE(c->GetClientHandle(), ha) << "never reused";
  EXPECT_EQ(items->FindClientHandle(c->GetClientHandle()), c);
  EXPECT_EQ(items->FindClientHandle(b->GetClientHandle()), b);
  EXPECT_EQ(items->FindClientHandle(OPCHANDLE(-1)), nullptr);

  // Many holes, in the middle and at both ends, are compacted away.
  std::vector<TqOPCItem*> many;
  for (int i = 0; i < 200; ++i) many.push_back(items->AddItem(QString::number(i)));
  std::vector<OPCHANDLE> handles;
  for (TqOPCItem* item : many) handles.push_back(item->GetClientHandle());
  for (int i = 0; i < 200; i += 2) many[std::size_t(i)]->Free();
  many[199]->Free();
  for (int i = 0; i < 199; ++i)
    EXPECT_EQ(items->FindClientHandle(handles[std::size_t(i)]),
              i % 2 ? many[std::size_t(i)] : nullptr)
        << i;
  EXPECT_EQ(items->FindClientHandle(handles[199]), nullptr);
  items->RemoveAll();
  EXPECT_EQ(items->FindClientHandle(handles[1]), nullptr);
  TqOPCItem* after = items->AddItem("after");
  EXPECT_EQ(items->FindClientHandle(after->GetClientHandle()), after);
}

}  // namespace
