// Groups on the simulation server: names, handles, revised update rates,
// state, removal while held, clones and enumeration.
#include <cmath>
#include <limits>

#include "test_utils.h"

namespace veze6::sim::test {
namespace {

struct GroupState {
  DWORD rate = 0;
  BOOL active = FALSE;
  std::u16string name;
  LONG bias = 0;
  FLOAT deadband = 0;
  LCID lcid = 0;
  OPCHANDLE client = 0;
  OPCHANDLE server = 0;
};

GroupState stateOf(const ComPtr<IOPCItemMgt>& group) {
  GroupState s;
  opc::TaskString name;
  const HRESULT hr = group.as<IOPCGroupStateMgt>()->GetState(
      &s.rate, &s.active, name.put(), &s.bias, &s.deadband, &s.lcid, &s.client, &s.server);
  EXPECT_EQ(hr, S_OK);
  s.name = taskText(name);
  return s;
}

using Groups = SimulatorTest;

TEST_F(Groups, AddKeepsArgumentsAndHandsOutUniqueHandles) {
  OPCHANDLE h1 = 0, h2 = 0;
  DWORD revised = 0;
  LONG bias = -60;
  FLOAT deadband = 2.5f;
  ComPtr<IUnknown> unk;
  ASSERT_EQ(server->AddGroup(u"Kessel", FALSE, 500, 7, &bias, &deadband, 1033, &h1, &revised,
                             IID_IOPCGroupStateMgt, unk.put()),
            S_OK);
  ComPtr<IOPCItemMgt> first = unk.as<IOPCItemMgt>();
  ASSERT_TRUE(first);
  auto second = addGroup(u"Pumpe", 1000, 8, nullptr, &h2);
  ASSERT_TRUE(second);
  EXPECT_NE(h1, 0u);
  EXPECT_NE(h2, 0u);
  EXPECT_NE(h1, h2);

  const GroupState s = stateOf(first);
  EXPECT_EQ(s.name, u"Kessel");
  EXPECT_EQ(s.rate, 500u);
  EXPECT_EQ(s.active, FALSE);
  EXPECT_EQ(s.bias, -60);
  EXPECT_EQ(s.deadband, 2.5f);
  EXPECT_EQ(s.lcid, 1033u);
  EXPECT_EQ(s.client, 7u);
  EXPECT_EQ(s.server, h1);
  EXPECT_EQ(control->groupCount(), 2u);

  ComPtr<IUnknown> byName;
  ASSERT_EQ(server->GetGroupByName(u"Kessel", IID_IUnknown, byName.put()), S_OK);
  EXPECT_EQ(byName.get(), first.as<IUnknown>().get());
  EXPECT_EQ(server->GetGroupByName(u"kessel", IID_IUnknown, byName.put()), E_INVALIDARG);
  EXPECT_FALSE(byName);
  EXPECT_EQ(server->GetGroupByName(nullptr, IID_IUnknown, byName.put()), E_INVALIDARG);
}

TEST_F(Groups, NamesAreUniqueAndInventedWhenEmpty) {
  HRESULT hr = S_OK;
  auto a = addGroup(u"A", 1000, 0, &hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_FALSE(addGroup(u"A", 1000, 0, &hr));
  EXPECT_EQ(hr, OPC_E_DUPLICATENAME);
  auto lower = addGroup(u"a", 1000, 0, &hr);  // names are case-sensitive
  EXPECT_EQ(hr, S_OK);

  auto blank1 = addGroup(u"", 1000, 0, &hr);
  ASSERT_EQ(hr, S_OK);
  OPCHANDLE h = 0;
  DWORD revised = 0;
  ComPtr<IUnknown> unk;
  ASSERT_EQ(server->AddGroup(nullptr, TRUE, 1000, 0, nullptr, nullptr, 0, &h, &revised,
                             IID_IOPCItemMgt, unk.put()),
            S_OK);
  auto blank2 = unk.as<IOPCItemMgt>();
  const auto n1 = stateOf(blank1).name;
  const auto n2 = stateOf(blank2).name;
  EXPECT_FALSE(n1.empty());
  EXPECT_FALSE(n2.empty());
  EXPECT_NE(n1, n2);
  EXPECT_EQ(stateOf(blank2).deadband, 0.0f);
  EXPECT_EQ(control->groupCount(), 4u);

  // An invented name never takes one a client chose.
  auto taken = addGroup(u"Group3");
  auto blank3 = addGroup(u"");
  EXPECT_NE(stateOf(blank3).name, u"Group3");
}

TEST_F(Groups, RequestedRatesAreRevisedToTheBaseScanRate) {
  struct Case {
    DWORD requested;
    DWORD revised;
    HRESULT hr;
  };
  const DWORD top = std::numeric_limits<DWORD>::max() / 100 * 100;
  for (const Case& c : {Case{0, 100, OPC_S_UNSUPPORTEDRATE}, Case{1, 100, OPC_S_UNSUPPORTEDRATE},
                        Case{150, 200, OPC_S_UNSUPPORTEDRATE}, Case{1000, 1000, S_OK},
                        Case{0xFFFFFFFF, top, OPC_S_UNSUPPORTEDRATE}}) {
    HRESULT hr = E_FAIL;
    DWORD revised = 0;
    auto g = addGroup(u"", c.requested, 0, &hr, nullptr, &revised);
    EXPECT_EQ(hr, c.hr) << c.requested;
    EXPECT_EQ(revised, c.revised) << c.requested;
    EXPECT_EQ(stateOf(g).rate, c.revised);
  }
  control->setBaseScanRate(250);
  EXPECT_EQ(control->baseScanRate(), 250u);
  HRESULT hr = E_FAIL;
  DWORD revised = 0;
  addGroup(u"", 1100, 0, &hr, nullptr, &revised);
  EXPECT_EQ(revised, 1250u);
  addGroup(u"", 1000, 0, &hr, nullptr, &revised);
  EXPECT_EQ(hr, S_OK);
  control->setBaseScanRate(0);  // taken as the fastest possible
  addGroup(u"", 0, 0, &hr, nullptr, &revised);
  EXPECT_EQ(revised, 1u);

  SimulationOptions options;
  options.baseScanRateMs = 50;
  createServer(options);
  addGroup(u"", 0, 0, &hr, nullptr, &revised);
  EXPECT_EQ(revised, 50u);
}

TEST_F(Groups, BadArgumentsLeaveNoGroup) {
  OPCHANDLE h = 0;
  DWORD revised = 0;
  ComPtr<IUnknown> unk;
  for (FLOAT bad : {100.5f, -0.1f, std::nanf("")}) {
    EXPECT_EQ(server->AddGroup(u"g", TRUE, 1000, 0, nullptr, &bad, 0, &h, &revised, IID_IOPCItemMgt,
                               unk.put()),
              E_INVALIDARG);
  }
  EXPECT_EQ(server->AddGroup(u"g", TRUE, 1000, 0, nullptr, nullptr, 0, nullptr, &revised,
                             IID_IOPCItemMgt, unk.put()),
            E_INVALIDARG);
  EXPECT_EQ(server->AddGroup(u"g", TRUE, 1000, 0, nullptr, nullptr, 0, &h, &revised,
                             IID_IOPCItemMgt, nullptr),
            E_INVALIDARG);
  // A group is never a server: the interface is refused and no group remains.
  EXPECT_EQ(server->AddGroup(u"g", TRUE, 1000, 0, nullptr, nullptr, 0, &h, &revised, IID_IOPCServer,
                             unk.put()),
            E_NOINTERFACE);
  EXPECT_FALSE(unk);
  EXPECT_EQ(control->groupCount(), 0u);
  EXPECT_EQ(control->liveGroupCount(), 0u);
  HRESULT hr = E_FAIL;
  addGroup(u"g", 1000, 0, &hr);
  EXPECT_EQ(hr, S_OK);  // the name was not taken by the refused group
}

TEST_F(Groups, RemoveWhileHeldAnswersInUseAndFreesTheName) {
  EXPECT_EQ(server->RemoveGroup(12345, FALSE), E_INVALIDARG);

  OPCHANDLE released = 0, held = 0, forced = 0;
  addGroup(u"released", 1000, 0, nullptr, &released);  // the client let it go at once
  auto group = addGroup(u"held", 1000, 0, nullptr, &held);
  auto other = addGroup(u"forced", 1000, 0, nullptr, &forced);
  EXPECT_EQ(control->liveGroupCount(), 3u);

  EXPECT_EQ(server->RemoveGroup(released, FALSE), S_OK);
  EXPECT_EQ(server->RemoveGroup(held, FALSE), OPC_S_INUSE);
  EXPECT_EQ(server->RemoveGroup(forced, TRUE), S_OK);
  EXPECT_EQ(server->RemoveGroup(held, FALSE), E_INVALIDARG);  // gone from the name space
  EXPECT_EQ(control->groupCount(), 0u);
  EXPECT_EQ(control->liveGroupCount(), 2u);

  // The removed group still answers, and its name is free again.
  HRESULT hr = E_FAIL;
  auto again = addGroup(u"held", 1000, 0, &hr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(stateOf(group).name, u"held");
  EXPECT_EQ(group.as<IOPCGroupStateMgt>()->SetName(u"held"), S_OK);  // no clash outside
  ItemDefs defs;
  defs.add(u"Static.Int4");
  ItemResults r;
  EXPECT_EQ(addItems(group.get(), defs, r), S_OK);
  ComPtr<IUnknown> unk;
  EXPECT_EQ(server->GetGroupByName(u"forced", IID_IUnknown, unk.put()), E_INVALIDARG);

  group.reset();
  other.reset();
  EXPECT_EQ(control->liveGroupCount(), 1u);
  EXPECT_EQ(control->liveItemCount(), 0u);
}

TEST_F(Groups, GroupOutlivesItsServer) {
  auto group = addGroup(u"orphan");
  ItemDefs defs;
  defs.add(u"Writable.Real8");
  ItemResults r;
  ASSERT_EQ(addItems(group.get(), defs, r), S_OK);
  control.reset();
  server.reset();
  EXPECT_EQ(liveServerCount(), 0u);

  EXPECT_EQ(stateOf(group).name, u"orphan");
  ItemResults more;
  EXPECT_EQ(addItems(group.get(), defs, more), S_OK);
  ComPtr<IUnknown> clone;
  EXPECT_EQ(group.as<IOPCGroupStateMgt>()->CloneGroup(u"copy", IID_IUnknown, clone.put()),
            RPC_E_DISCONNECTED);
  EXPECT_FALSE(clone);
}

TEST_F(Groups, SetStateRevisesTheRateAndStoresTheRest) {
  auto group = addGroup(u"g", 1000, 1);
  auto mgt = group.as<IOPCGroupStateMgt>();
  DWORD rate = 150;
  BOOL active = FALSE;
  LONG bias = 120;
  FLOAT deadband = 12.5f;
  LCID lcid = 1033;
  OPCHANDLE client = 99;
  // The requested and the revised rate may be one variable.
  EXPECT_EQ(mgt->SetState(&rate, &rate, &active, &bias, &deadband, &lcid, &client),
            OPC_S_UNSUPPORTEDRATE);
  EXPECT_EQ(rate, 200u);
  GroupState s = stateOf(group);
  EXPECT_EQ(s.rate, 200u);
  EXPECT_EQ(s.active, FALSE);
  EXPECT_EQ(s.bias, 120);
  EXPECT_EQ(s.deadband, 12.5f);
  EXPECT_EQ(s.lcid, 1033u);
  EXPECT_EQ(s.client, 99u);

  // Only the revised rate is required; absent fields keep their values.
  DWORD revised = 0;
  EXPECT_EQ(mgt->SetState(nullptr, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(revised, 200u);
  EXPECT_EQ(mgt->SetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            E_INVALIDARG);
  DWORD requested = 3000;
  FLOAT bad = 150.0f;
  EXPECT_EQ(mgt->SetState(&requested, &revised, nullptr, nullptr, &bad, nullptr, nullptr),
            E_INVALIDARG);
  s = stateOf(group);
  EXPECT_EQ(s.rate, 200u);  // nothing of a rejected call applies
  EXPECT_EQ(s.deadband, 12.5f);
  active = -1;  // any non-zero value is TRUE
  EXPECT_EQ(mgt->SetState(&requested, &revised, &active, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(stateOf(group).active, TRUE);

  control->failCall(SimCall::SetState, E_FAIL, 1);
  requested = 5000;
  EXPECT_EQ(mgt->SetState(&requested, &revised, nullptr, nullptr, nullptr, nullptr, nullptr),
            E_FAIL);
  EXPECT_EQ(stateOf(group).rate, 3000u);
}

TEST_F(Groups, RenameChecksTheNameSpace) {
  auto a = addGroup(u"A");
  auto b = addGroup(u"B");
  auto mgt = a.as<IOPCGroupStateMgt>();
  EXPECT_EQ(mgt->SetName(u"B"), OPC_E_DUPLICATENAME);
  EXPECT_EQ(mgt->SetName(u"A"), S_OK);
  EXPECT_EQ(mgt->SetName(u""), E_INVALIDARG);
  EXPECT_EQ(mgt->SetName(nullptr), E_INVALIDARG);
  EXPECT_EQ(mgt->SetName(u"C"), S_OK);
  EXPECT_EQ(stateOf(a).name, u"C");
  ComPtr<IUnknown> unk;
  EXPECT_EQ(server->GetGroupByName(u"C", IID_IUnknown, unk.put()), S_OK);
  EXPECT_EQ(server->GetGroupByName(u"A", IID_IUnknown, unk.put()), E_INVALIDARG);
  HRESULT hr = E_FAIL;
  addGroup(u"A", 1000, 0, &hr);
  EXPECT_EQ(hr, S_OK);
}

TEST_F(Groups, CloneCopiesStateAndItemsInactive) {
  auto source = addGroup(u"src", 500, 4);
  ItemDefs defs;
  defs.add(u"Static.Int4", VT_R8, u"", 11).add(u"Writable.String", VT_EMPTY, u"Primary", 12);
  ItemResults r;
  ASSERT_EQ(addItems(source.get(), defs, r), S_OK);
  auto mgt = source.as<IOPCGroupStateMgt>();

  ComPtr<IUnknown> unk;
  ASSERT_EQ(mgt->CloneGroup(u"copy", IID_IOPCItemMgt, unk.put()), S_OK);
  auto copy = unk.as<IOPCItemMgt>();
  const GroupState s = stateOf(copy);
  EXPECT_EQ(s.name, u"copy");
  EXPECT_EQ(s.active, FALSE);
  EXPECT_EQ(s.rate, 500u);
  EXPECT_EQ(s.client, 4u);
  EXPECT_NE(s.server, stateOf(source).server);
  EXPECT_EQ(control->liveItemCount(), 4u);

  ComPtr<IUnknown> enumUnk;
  ASSERT_EQ(copy->CreateEnumerator(IID_IEnumOPCItemAttributes, enumUnk.put()), S_OK);
  auto items = enumUnk.as<IEnumOPCItemAttributes>();
  opc::TaskOut<OPCITEMATTRIBUTES> attrs;
  ULONG fetched = 0;
  ASSERT_EQ(items->Next(10, attrs.put(), &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  for (ULONG i = 0; i < fetched; ++i) {
    EXPECT_NE(attrs[i].hServer, r.results[i].hServer);
    EXPECT_EQ(attrs[i].hClient, 11u + i);
    CoTaskMemFree(attrs[i].szItemID);
    CoTaskMemFree(attrs[i].szAccessPath);
    VariantClear(&attrs[i].vEUInfo);
  }

  EXPECT_EQ(mgt->CloneGroup(u"copy", IID_IUnknown, unk.put()), OPC_E_DUPLICATENAME);
  ASSERT_EQ(mgt->CloneGroup(nullptr, IID_IUnknown, unk.put()), S_OK);  // invented name
  EXPECT_EQ(control->groupCount(), 3u);
}

TEST_F(Groups, EnumeratorListsPrivateGroups) {
  auto a = addGroup(u"A");
  auto b = addGroup(u"B");
  ComPtr<IUnknown> unk;
  ASSERT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, unk.put()), S_OK);
  auto names = unk.as<IEnumString>();
  LPOLESTR got[3] = {};
  ULONG fetched = 0;
  EXPECT_EQ(names->Next(3, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(std::u16string(got[0]), u"A");
  EXPECT_EQ(std::u16string(got[1]), u"B");
  CoTaskMemFree(got[0]);
  CoTaskMemFree(got[1]);

  ASSERT_EQ(server->CreateGroupEnumerator(OPC_ENUM_PRIVATE, IID_IEnumUnknown, unk.put()), S_OK);
  IUnknown* groups[2] = {};
  ASSERT_EQ(unk.as<IEnumUnknown>()->Next(2, groups, &fetched), S_OK);
  EXPECT_EQ(groups[0], a.as<IUnknown>().get());
  groups[0]->Release();
  groups[1]->Release();

  EXPECT_EQ(server->CreateGroupEnumerator(OPC_ENUM_PUBLIC, IID_IEnumString, unk.put()), S_FALSE);
  EXPECT_TRUE(unk);  // empty, but handed out
  EXPECT_EQ(server->CreateGroupEnumerator(OPCENUMSCOPE(9), IID_IEnumString, unk.put()),
            E_INVALIDARG);
  EXPECT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IOPCServer, unk.put()), E_NOINTERFACE);
}

}  // namespace
}  // namespace veze6::sim::test
