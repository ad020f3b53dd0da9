// Groups on the server, call by call against a mock server and group: what
// AddGroup receives, which interfaces are asked for, the setters' order of
// server call and store, the state record, and taking groups off again.
#include "group_fixture.h"

using namespace core_test;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::SetArgPointee;

namespace {

class GroupsMockTest : public GroupMockFixture {};

TEST_F(GroupsMockTest, Connect_SendsEachGroupsPropertiesAndStoresTheRevisedRate) {
  TqDefaultGroup* d = server->OPCGroupDefault();
  d->UpdateRate = 250;
  d->DeadBand = 1.5f;
  d->LocaleId = 1033;
  d->TimeBias = -60;
  TqOPCGroup* boiler = groups().Add("Boiler");
  TqOPCGroup* idle = groups().Add("Idle");
  idle->SetIsActive(false);
  expectAddGroup(2, 300);
  connect();

  ASSERT_EQ(sentGroups.size(), 2u);
  const SentGroup& a = sentGroups[0];
  EXPECT_EQ(a.name, u"Boiler");
  EXPECT_EQ(a.active, BOOL(-1)) << "True as all bits set";
  EXPECT_EQ(a.requestedRate, 250u);
  EXPECT_EQ(a.clientGroup, OPCHANDLE(boiler->ID()));
  EXPECT_TRUE(a.hasTimeBias);
  EXPECT_EQ(a.timeBias, -60);
  EXPECT_TRUE(a.hasDeadband);
  EXPECT_EQ(a.deadband, 1.5f);
  EXPECT_EQ(a.lcid, 1033u);
  EXPECT_EQ(a.riid, IID_IOPCItemMgt);
  EXPECT_EQ(sentGroups[1].active, FALSE);
  EXPECT_EQ(sentGroups[1].clientGroup, OPCHANDLE(idle->ID()));

  EXPECT_TRUE(boiler->IsOnServer());
  EXPECT_EQ(boiler->ServerHandle(), kServerGroup);
  EXPECT_EQ(boiler->UpdateRate(), 300) << "the revised rate, stored without a server call";
  EXPECT_EQ(boiler->ClientHandle(), OPCHANDLE(boiler->ID()));
}

TEST_F(GroupsMockTest, Connect_AsksForTheGroupInterfacesInOrder) {
  TqOPCGroup* g = groups().Add("g");
  expectAddGroup();
  connect();
  // Then the data sink's connection point.
  EXPECT_EQ(group->queries(), (std::vector<IID>{IID_IOPCGroupStateMgt, IID_IOPCSyncIO,
                                                IID_IOPCAsyncIO2, IID_IConnectionPointContainer}));
  EXPECT_TRUE(g->GroupStateMgt());
  EXPECT_TRUE(g->SyncIO());
  EXPECT_TRUE(g->AsyncIO2());
  EXPECT_FALSE(g->AsyncIO()) << "at most one asynchronous interface";
}

TEST_F(GroupsMockTest, Connect_DA10GroupGetsTheOldAsynchronousInterface) {
  group->refuse(IID_IOPCAsyncIO2);
  group->refuse(IID_IOPCSyncIO);
  TqOPCGroup* g = groups().Add("g");
  expectAddGroup();
  connect();
  EXPECT_EQ(group->queries(),
            (std::vector<IID>{IID_IOPCGroupStateMgt, IID_IOPCSyncIO, IID_IOPCAsyncIO2,
                              IID_IOPCAsyncIO, IID_IConnectionPointContainer}));
  EXPECT_FALSE(g->SyncIO());
  EXPECT_TRUE(g->AsyncIO());
}

TEST_F(GroupsMockTest, Connect_FailedAddGroupRaisesAndEndsTheLoop) {
  TqOPCGroup* first = groups().Add("first");
  TqOPCGroup* second = groups().Add("second");
  EXPECT_CALL(*mock, AddGroup).WillOnce(Return(OPC_E_DUPLICATENAME));
  EXPECT_EQ(thrownMessage([&] { server->SetActive(true); }), "Duplicate name not allowed.");
  EXPECT_TRUE(server->Active()) << "the failure comes after the server is held";
  EXPECT_FALSE(first->IsOnServer());
  EXPECT_EQ(first->ServerHandle(), TqOPCGroup::kNoServerHandle);
  EXPECT_FALSE(second->IsOnServer());
}

TEST_F(GroupsMockTest, AddGroup_SuccessWithoutInterface_RemovesTheServersGroupAndRaises) {
  groups().Add("g");
  EXPECT_CALL(*mock, AddGroup).WillOnce(Invoke(answerAddGroup(nullptr, 9, 1000)));
  EXPECT_CALL(*mock, RemoveGroup(9, FALSE)).WillOnce(Return(S_OK));
  try {
    server->SetActive(true);
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), E_NOINTERFACE);
  }
  EXPECT_FALSE(groups().Items(0)->IsOnServer());
}

TEST_F(GroupsMockTest, OPCAddGroup_Disconnected_FaultsThroughOnError) {
  TqOPCGroup* g = groups().Add("g");
  EXPECT_EQ(thrownMessage([&] { g->OPCAddGroup(); }), "not connected to server");
  bool asked = false;
  server->OnError = [&](QObject*, const QString&, bool& raise) {
    asked = true;
    raise = false;
  };
  EXPECT_NO_THROW(g->OPCAddGroup());
  EXPECT_TRUE(asked);
  EXPECT_FALSE(g->IsOnServer());
}

TEST_F(GroupsMockTest, Add_WhileConnected_PutsTheGroupOnTheServerUnderItsName) {
  connect();
  expectAddGroup();
  TqOPCGroup* g = groups().Add("Mixer");
  ASSERT_EQ(sentGroups.size(), 1u);
  EXPECT_EQ(sentGroups[0].name, u"Mixer");
  EXPECT_TRUE(g->IsOnServer());
  // Its server group belongs to this component.
  TqOPCServer other;
  EXPECT_EQ(thrownMessage([&] { g->SetCollection(other.OPCGroups()); }),
            "not possible if connected to OPC Server");
  EXPECT_EQ(g->Server(), server.get());
}

TEST_F(GroupsMockTest, Add_InTheDesigner_ReachesTheServerUnderItsFinalName) {
  server->SetDesigning(true);
  connect();
  expectAddGroup(2);
  groups().Add("Mixer");  // no SetName call: the name is right from the start
  TqOPCGroup* byCollection = groups().AddDefault();
  ASSERT_EQ(sentGroups.size(), 2u);
  EXPECT_EQ(sentGroups[0].name, u"Mixer");
  EXPECT_EQ(sentGroups[1].name, u"TqOPCGroup1") << "collection-made groups go on at once";
  EXPECT_TRUE(byCollection->IsOnServer());
}

TEST_F(GroupsMockTest, Add_Disconnected_StaysLocal) {
  TqOPCGroup* g = groups().Add("g");
  EXPECT_FALSE(g->IsOnServer());
  g->SetUpdateRate(0);
  EXPECT_EQ(g->UpdateRate(), 0) << "no server to revise it";
  g->SetName("renamed");
  EXPECT_EQ(g->Name(), "renamed");
}

TEST_F(GroupsMockTest, StateSetters_CallTheServerFirstAndStoreAfter) {
  TqOPCGroup* g = groups().Add("g");
  expectAddGroup();
  connect();

  DWORD requested = 0;
  BOOL active = 0;
  LONG bias = 0;
  FLOAT deadband = 0;
  DWORD lcid = 0;
  OPCHANDLE client = 99;
  auto record = [&](DWORD* r, DWORD* revised, BOOL* a, LONG* b, FLOAT* d, DWORD* l, OPCHANDLE* c) {
    EXPECT_TRUE(r && revised && a && b && d && l && c) << "all seven pointers";
    requested = *r;
    active = *a;
    bias = *b;
    deadband = *d;
    lcid = *l;
    client = *c;
    *revised = *r == 0 ? 100 : (*r + 99) / 100 * 100;
    return S_OK;
  };
  EXPECT_CALL(*group, SetState).Times(5).WillRepeatedly(Invoke(record));
  g->SetTimeBias(30);
  EXPECT_EQ(bias, 30);
  EXPECT_EQ(g->TimeBias(), 30);
  g->SetUpdateRate(250);
  EXPECT_EQ(requested, 250u);
  EXPECT_EQ(g->UpdateRate(), 300) << "the server's revised rate";
  EXPECT_EQ(active, BOOL(-1));
  EXPECT_EQ(bias, 30);
  EXPECT_EQ(client, OPCHANDLE(g->ID()));

  g->SetIsActive(false);
  EXPECT_EQ(active, FALSE);
  EXPECT_EQ(requested, 300u) << "the group's own rate";
  EXPECT_FALSE(g->IsActive());

  g->SetDeadBand(2.5f);
  EXPECT_EQ(deadband, 2.5f);
  g->SetLocaleId(1031);
  EXPECT_EQ(lcid, 1031u);
  EXPECT_EQ(g->DeadBand(), 2.5f);
  EXPECT_EQ(g->LocaleId(), 1031);

  // Equal values make no call at all (the strict mock would object).
  g->SetUpdateRate(300);
  g->SetIsActive(false);
  g->SetDeadBand(2.5f);
  g->SetLocaleId(1031);
  g->SetTimeBias(30);
  g->SetName("g");
}

TEST_F(GroupsMockTest, StateSetters_FailingServerLeavesThePropertyUnchanged) {
  TqOPCGroup* g = groups().Add("g");
  expectAddGroup(1, 1000);
  connect();
  EXPECT_CALL(*group, SetState).WillRepeatedly(Return(E_INVALIDARG));
  EXPECT_THROW(g->SetUpdateRate(5), EOleSysError);
  EXPECT_EQ(g->UpdateRate(), 1000);
  EXPECT_THROW(g->SetDeadBand(50.0f), EOleSysError);
  EXPECT_EQ(g->DeadBand(), 0.0f);
  EXPECT_THROW(g->SetIsActive(false), EOleSysError);
  EXPECT_TRUE(g->IsActive());

  EXPECT_CALL(*group, SetName).WillOnce(Return(OPC_E_DUPLICATENAME));
  EXPECT_EQ(thrownMessage([&] { g->SetName("taken"); }), "Duplicate name not allowed.");
  EXPECT_EQ(g->Name(), "g");
  std::u16string sent;
  EXPECT_CALL(*group, SetName).WillOnce(Invoke([&](LPCWSTR name) {
    sent = name;
    return S_OK;
  }));
  g->SetName("free");
  EXPECT_EQ(sent, u"free");
  EXPECT_EQ(g->Name(), "free");
}

TEST_F(GroupsMockTest, StateSetters_WithoutStateInterface_OnlyStore) {
  group->refuse(IID_IOPCGroupStateMgt);
  TqOPCGroup* g = groups().Add("g");
  expectAddGroup(1, 1000);
  connect();
  g->SetUpdateRate(10);
  g->SetName("other");
  EXPECT_EQ(g->UpdateRate(), 10);
  EXPECT_EQ(g->Name(), "other");
  tGroupStateRec state;
  try {
    g->GetState(state);
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), E_NOINTERFACE);
  }
}

TEST_F(GroupsMockTest, GetState_FillsTheRecordAndFreesTheName) {
  TqOPCGroup* g = groups().Add("g");
  tGroupStateRec state;
  EXPECT_EQ(thrownMessage([&] { g->GetState(state); }), "not connected to server");
  expectAddGroup();
  connect();
  EXPECT_CALL(*group, GetState)
      .WillOnce(DoAll(SetArgPointee<0>(DWORD(500)), SetArgPointee<1>(BOOL(7)),
                      SetArgPointee<3>(LONG(-120)), SetArgPointee<4>(FLOAT(0.5f)),
                      SetArgPointee<5>(DWORD(1033)), SetArgPointee<6>(OPCHANDLE(0)),
                      SetArgPointee<7>(kServerGroup), SetArgTaskString<2>(u"on the server", S_OK)))
      .WillOnce(SetArgTaskString<2>(u"left over", OPC_E_INVALIDHANDLE));
  g->GetState(state);
  EXPECT_EQ(state.UpdateRate, 500);
  EXPECT_TRUE(state.Active) << "any non-zero value";
  EXPECT_EQ(state.Name, "on the server");
  EXPECT_EQ(state.TimeBias, -120);
  EXPECT_EQ(state.PercentDeadband, 0.5f);
  EXPECT_EQ(state.LCID, 1033);
  EXPECT_EQ(state.hServerGroup, kServerGroup);
  EXPECT_EQ(g->Name(), "g") << "the group's own properties stay";
  EXPECT_EQ(g->UpdateRate(), 1000);
  EXPECT_EQ(thrownMessage([&] { g->GetState(state); }), "The value of the handle is invalid.");
}

TEST_F(GroupsMockTest, Disconnect_RemovesItemsThenTheGroupAndKeepsTheConfiguration) {
  TqOPCGroup* g = groups().Add("g");
  g->SetUpdateRate(250);
  TqOPCItems* items = g->OPCItems();
  items->AddItem("a");
  items->AddItem("b");
  expectAddGroup(1, 300);
  EXPECT_CALL(*group, AddItems).WillOnce(Invoke(answerAddItems(&calls)));
  connect();
  ASSERT_EQ(items->Items(1)->ServerHandle(), 101u);

  ::testing::InSequence order;
  EXPECT_CALL(*group, RemoveItems).WillOnce(Invoke(answerRemoveItems(&calls)));
  EXPECT_CALL(*mock, RemoveGroup(kServerGroup, FALSE)).WillOnce(Invoke([&](OPCHANDLE, BOOL) {
    EXPECT_EQ(group->refCount(), 1u) << "the group's interfaces are released first";
    return E_FAIL;  // ignored
  }));
  server->Disconnect();
  ASSERT_EQ(calls.handles.size(), 1u);
  EXPECT_EQ(calls.handles[0], (std::vector<OPCHANDLE>{100, 101}));
  EXPECT_FALSE(g->IsOnServer());
  EXPECT_EQ(g->ServerHandle(), TqOPCGroup::kNoServerHandle);
  EXPECT_EQ(items->Items(0)->ServerHandle(), TqOPCItem::kNoServerHandle);
  EXPECT_EQ(items->Count(), 2);
  EXPECT_EQ(g->Name(), "g");
  EXPECT_EQ(g->UpdateRate(), 300);
}

TEST_F(GroupsMockTest, Reconnect_RecreatesGroupsWithTheirCurrentProperties) {
  TqOPCGroup* g = groups().Add("g");
  expectAddGroup(2, 1000);
  connect();
  server->Disconnect();
  g->SetName("renamed");  // local: no call
  g->SetIsActive(false);
  connect();
  ASSERT_EQ(sentGroups.size(), 2u);
  EXPECT_EQ(sentGroups[1].name, u"renamed");
  EXPECT_EQ(sentGroups[1].active, FALSE);
  EXPECT_EQ(sentGroups[1].clientGroup, OPCHANDLE(g->ID()));
}

TEST_F(GroupsMockTest, RemoveAndRemoveAll_TakeGroupsOffTheServer) {
  groups().Add("a");
  groups().Add("b");
  expectAddGroup(2);
  connect();
  EXPECT_CALL(*mock, RemoveGroup(kServerGroup, FALSE)).Times(2).WillRepeatedly(Return(S_OK));
  groups().Remove("a");
  groups().RemoveAll();
  EXPECT_EQ(groups().Count(), 0);
}

TEST_F(GroupsMockTest, OPCAddGroup_OnTheServerAlready_TakesTheOldServerGroupOffFirst) {
  TqOPCGroup* g = groups().Add("g");
  expectAddGroup(2);
  connect();
  EXPECT_CALL(*mock, RemoveGroup(kServerGroup, FALSE)).WillOnce(Return(S_OK)).RetiresOnSaturation();
  g->OPCAddGroup();
  EXPECT_TRUE(g->IsOnServer());
}

}  // namespace
