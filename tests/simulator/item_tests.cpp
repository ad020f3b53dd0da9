// Items on the simulation server: per-item results of adding and validating,
// requested types, the handle-based calls, the enumerator, hostile quirks and
// concurrent use.
#include <thread>

#include "test_utils.h"

namespace veze6::sim::test {
namespace {

/// The attributes of every item of a group, strings and EU info freed.
struct Attribute {
  std::u16string itemId;
  std::u16string accessPath;
  BOOL active;
  OPCHANDLE client;
  OPCHANDLE server;
  DWORD rights;
  VARTYPE requested;
  VARTYPE canonical;
  OPCEUTYPE euType;
  OleVariant euInfo;
};

std::vector<Attribute> attributesOf(IOPCItemMgt* group) {
  std::vector<Attribute> out;
  ComPtr<IUnknown> unk;
  if (FAILED(group->CreateEnumerator(IID_IEnumOPCItemAttributes, unk.put()))) return out;
  auto e = unk.as<IEnumOPCItemAttributes>();
  for (;;) {
    opc::TaskOut<OPCITEMATTRIBUTES> a;
    ULONG n = 0;
    const HRESULT hr = e->Next(2, a.put(), &n);
    for (ULONG i = 0; i < n; ++i) {
      OPCITEMATTRIBUTES& x = a[i];
      out.push_back({x.szItemID, x.szAccessPath, x.bActive, x.hClient, x.hServer, x.dwAccessRights,
                     x.vtRequestedDataType, x.vtCanonicalDataType, x.dwEUType,
                     OleVariant::attach(x.vEUInfo)});
      CoTaskMemFree(x.szItemID);
      CoTaskMemFree(x.szAccessPath);
    }
    if (hr != S_OK) break;
  }
  return out;
}

using Items = SimulatorTest;

TEST_F(Items, AddReportsHandlesCanonicalTypesAndRights) {
  auto group = addGroup(u"g");
  ItemDefs defs;
  defs.add(u"Static.Int4", VT_EMPTY, u"", 1)
      .add(u"Writable.Real8", VT_EMPTY, u"", 2)
      .add(u"Static.Nested Level.Int4", VT_EMPTY, u"Secondary", 3)
      .add(u"Static.ArrayOfString", VT_EMPTY, u"", 4)
      .add(u"Random.Money", VT_EMPTY, u"Primary", 5);
  ItemResults r;
  ASSERT_EQ(addItems(group.get(), defs, r), S_OK);
  ASSERT_TRUE(r.results && r.errors);
  const VARTYPE types[] = {VT_I4, VT_R8, VT_I4, VT_ARRAY | VT_BSTR, VT_CY};
  const DWORD rights[] = {OPC_READABLE, OPC_READABLE | OPC_WRITEABLE, OPC_READABLE, OPC_READABLE,
                          OPC_READABLE};
  for (DWORD i = 0; i < defs.size(); ++i) {
    EXPECT_EQ(r.errors[i], S_OK);
    EXPECT_NE(r.results[i].hServer, 0u);
    EXPECT_EQ(r.results[i].vtCanonicalDataType, types[i]);
    EXPECT_EQ(r.results[i].dwAccessRights, rights[i]);
    EXPECT_EQ(r.results[i].dwBlobSize, 0u);
    EXPECT_EQ(r.results[i].pBlob, nullptr);
    for (DWORD j = 0; j < i; ++j) EXPECT_NE(r.results[i].hServer, r.results[j].hServer);
  }
  EXPECT_EQ(control->liveItemCount(), 5u);

  const auto attrs = attributesOf(group.get());
  ASSERT_EQ(attrs.size(), 5u);
  EXPECT_EQ(attrs[2].itemId, u"Static.Nested Level.Int4");
  EXPECT_EQ(attrs[2].accessPath, u"Secondary");
  EXPECT_EQ(attrs[2].client, 3u);
  EXPECT_EQ(attrs[2].euType, OPC_NOENUM);
  EXPECT_EQ(attrs[4].euType, OPC_ANALOG);  // a signal item has its range
  EXPECT_EQ(attrs[4].euInfo, OleVariant::array(VT_R8, {OleVariant(0.0), OleVariant(100.0)}));
}

TEST_F(Items, EachFailureGetsItsOwnCode) {
  auto group = addGroup(u"g");
  const std::u16string tooLong(AddressSpace::kMaxItemIdLength + 1, u'x');
  const std::u16string huge(200000, u'y');
  ItemDefs defs;
  defs.add(u"Static.Int4")                               // 0 fine
      .add(u"")                                          // 1 empty
      .add(u"Static.\x01Int4")                           // 2 control character
      .add(u"Static..Int4")                              // 3 empty part
      .add(u".Static.Int4")                              // 4 leading separator
      .add(tooLong)                                      // 5 over the limit
      .add(huge)                                         // 6 far over the limit
      .addNullId()                                       // 7 no id at all
      .add(u"Static.NoSuchItem")                         // 8 unknown
      .add(u"Static")                                    // 9 a branch, not an item
      .add(u"static.int4")                               // 10 ids are case-sensitive
      .add(u"Static.Int4", VT_EMPTY, u"Nowhere")         // 11 unknown access path
      .add(u"Static.Int4", VT_EMPTY, u"Primary")         // 12 fine
      .add(u"Static.String", VT_I4)                      // 13 text does not convert
      .add(u"Static.Int4", VT_ARRAY | VT_I4)             // 14 scalar as array
      .add(u"Static.NoSuchItem", VT_EMPTY, u"Nowhere");  // 15 the id is checked first
  const HRESULT expected[] = {S_OK,
                              OPC_E_INVALIDITEMID,
                              OPC_E_INVALIDITEMID,
                              OPC_E_INVALIDITEMID,
                              OPC_E_INVALIDITEMID,
                              OPC_E_INVALIDITEMID,
                              OPC_E_INVALIDITEMID,
                              OPC_E_INVALIDITEMID,
                              OPC_E_UNKNOWNITEMID,
                              OPC_E_UNKNOWNITEMID,
                              OPC_E_UNKNOWNITEMID,
                              OPC_E_UNKNOWNPATH,
                              S_OK,
                              OPC_E_BADTYPE,
                              OPC_E_BADTYPE,
                              OPC_E_UNKNOWNITEMID};
  ASSERT_EQ(std::size(expected), defs.size());
  for (bool add : {false, true}) {
    ItemResults r;
    EXPECT_EQ(add ? addItems(group.get(), defs, r) : validateItems(group.get(), defs, r), S_FALSE);
    ASSERT_TRUE(r.results && r.errors);
    for (DWORD i = 0; i < defs.size(); ++i) {
      EXPECT_EQ(r.errors[i], expected[i]) << "item " << i << (add ? " added" : " validated");
      if (FAILED(expected[i])) {
        EXPECT_EQ(r.results[i].hServer, 0u);
        EXPECT_EQ(r.results[i].vtCanonicalDataType, VT_EMPTY);
      } else {
        EXPECT_EQ(r.results[i].vtCanonicalDataType, VT_I4);
        EXPECT_EQ(r.results[i].hServer != 0, add);  // validation hands out no handle
      }
    }
    EXPECT_EQ(control->liveItemCount(), add ? 2u : 0u);
  }
}

TEST_F(Items, RequestedTypesMustConvertFromTheValue) {
  auto group = addGroup(u"g");
  struct Case {
    const char16_t* id;
    VARTYPE requested;
    HRESULT hr;
  };
  const Case cases[] = {
      {u"Static.Real8", VT_BSTR, S_OK},
      {u"Static.Real8", VT_I2, S_OK},
      {u"Static.Int4", VT_R4, S_OK},
      {u"Static.Boolean", VT_I4, S_OK},
      {u"Static.Date", VT_BSTR, S_OK},
      {u"Static.UInt4", VT_I1, S_OK},  // out of range, but the type converts
      {u"Static.ArrayOfInt4", VT_ARRAY | VT_R8, S_OK},
      {u"Static.ArrayOfInt4", VT_I4, OPC_E_BADTYPE},
      {u"Static.String", VT_R8, OPC_E_BADTYPE},
      {u"Static.Int4", VT_BYREF | VT_I4, OPC_E_BADTYPE},
      {u"Static.Int4", VT_DISPATCH, OPC_E_BADTYPE},
      {u"Static.Int4", VT_I4, S_OK},
  };
  ItemDefs defs;
  for (const auto& c : cases) defs.add(c.id, c.requested);
  ItemResults r;
  EXPECT_EQ(addItems(group.get(), defs, r), S_FALSE);
  for (DWORD i = 0; i < defs.size(); ++i) {
    EXPECT_EQ(r.errors[i], cases[i].hr) << i;
  }

  // A text item whose value reads as a number converts.
  ASSERT_EQ(control->setItemValue(u"Writable.String", OleVariant(u"42")), S_OK);
  ItemDefs text;
  text.add(u"Writable.String", VT_I4);
  ItemResults t;
  EXPECT_EQ(addItems(group.get(), text, t), S_OK);
  OleVariant value;
  ASSERT_EQ(control->itemValue(u"Writable.String", value), S_OK);
  EXPECT_EQ(value, OleVariant(u"42"));
  EXPECT_EQ(control->itemValue(u"Writable.Nothing", value), OPC_E_UNKNOWNITEMID);
  // Values keep the canonical type.
  ASSERT_EQ(control->setItemValue(u"Writable.Int2", OleVariant(u"17")), S_OK);
  ASSERT_EQ(control->itemValue(u"Writable.Int2", value), S_OK);
  EXPECT_EQ(value, OleVariant(SHORT(17)));
  EXPECT_TRUE(FAILED(control->setItemValue(u"Writable.Int2", OleVariant(u"many"))));
}

TEST_F(Items, SameItemTwiceGetsTwoHandles) {
  auto group = addGroup(u"g");
  ItemDefs defs;
  defs.add(u"Ramp.Int4", VT_EMPTY, u"", 1).add(u"Ramp.Int4", VT_R8, u"", 2);
  ItemResults r;
  ASSERT_EQ(addItems(group.get(), defs, r), S_OK);
  EXPECT_NE(r.results[0].hServer, r.results[1].hServer);
  const auto attrs = attributesOf(group.get());
  ASSERT_EQ(attrs.size(), 2u);
  EXPECT_EQ(attrs[0].requested, VT_EMPTY);
  EXPECT_EQ(attrs[1].requested, VT_R8);
}

TEST_F(Items, WholeCallFailuresHandOutNothing) {
  auto group = addGroup(u"g");
  ItemDefs defs;
  defs.add(u"Static.Int4");
  OPCITEMRESULT* results = reinterpret_cast<OPCITEMRESULT*>(1);
  HRESULT* errors = reinterpret_cast<HRESULT*>(1);
  EXPECT_EQ(group->AddItems(0, defs.data(), &results, &errors), E_INVALIDARG);
  EXPECT_EQ(results, nullptr);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(group->AddItems(1, nullptr, &results, &errors), E_INVALIDARG);
  EXPECT_EQ(group->AddItems(1, defs.data(), nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(group->ValidateItems(1, defs.data(), FALSE, &results, nullptr), E_INVALIDARG);
  EXPECT_EQ(results, nullptr);

  OPCHANDLE handle = 1;
  OPCHANDLE client = 1;
  VARTYPE type = VT_I4;
  EXPECT_EQ(group->RemoveItems(0, &handle, &errors), E_INVALIDARG);
  EXPECT_EQ(group->RemoveItems(1, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(group->SetActiveState(1, &handle, TRUE, nullptr), E_INVALIDARG);
  EXPECT_EQ(group->SetClientHandles(1, &handle, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(group->SetClientHandles(1, nullptr, &client, &errors), E_INVALIDARG);
  EXPECT_EQ(group->SetDatatypes(1, &handle, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(group->SetDatatypes(0, &handle, &type, &errors), E_INVALIDARG);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(control->liveItemCount(), 0u);
}

TEST_F(Items, HandleCallsReportUnknownHandlesPerItem) {
  auto group = addGroup(u"g");
  auto other = addGroup(u"other");
  ItemDefs defs;
  defs.add(u"Static.Int4", VT_EMPTY, u"", 1)
      .add(u"Writable.Int2", VT_EMPTY, u"", 2)
      .add(u"Static.Real8", VT_EMPTY, u"", 3);
  ItemResults r, o;
  ASSERT_EQ(addItems(group.get(), defs, r), S_OK);
  ASSERT_EQ(addItems(other.get(), defs, o), S_OK);
  const OPCHANDLE h0 = r.results[0].hServer, h1 = r.results[1].hServer, h2 = r.results[2].hServer;
  const OPCHANDLE foreign = o.results[0].hServer;

  {
    OPCHANDLE handles[] = {h0, 0, foreign, h2};
    opc::TaskOut<HRESULT> errors;
    EXPECT_EQ(group->SetActiveState(4, handles, FALSE, errors.put()), S_FALSE);
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
    EXPECT_EQ(errors[2], OPC_E_INVALIDHANDLE);
    EXPECT_EQ(errors[3], S_OK);
  }
  {
    OPCHANDLE handles[] = {h0, h1};
    OPCHANDLE clients[] = {100, 200};
    opc::TaskOut<HRESULT> errors;
    EXPECT_EQ(group->SetClientHandles(2, handles, clients, errors.put()), S_OK);
  }
  {
    OPCHANDLE handles[] = {h0, h1, 999999};
    VARTYPE types[] = {VT_BSTR, VT_ARRAY | VT_I2, VT_R8};
    opc::TaskOut<HRESULT> errors;
    EXPECT_EQ(group->SetDatatypes(3, handles, types, errors.put()), S_FALSE);
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(errors[1], OPC_E_BADTYPE);
    EXPECT_EQ(errors[2], OPC_E_INVALIDHANDLE);
  }
  auto attrs = attributesOf(group.get());
  ASSERT_EQ(attrs.size(), 3u);
  EXPECT_EQ(attrs[0].active, FALSE);
  EXPECT_EQ(attrs[1].active, TRUE);
  EXPECT_EQ(attrs[2].active, FALSE);
  EXPECT_EQ(attrs[0].client, 100u);
  EXPECT_EQ(attrs[1].client, 200u);
  EXPECT_EQ(attrs[0].requested, VT_BSTR);
  EXPECT_EQ(attrs[1].requested, VT_EMPTY);  // a refused type leaves the old one

  {
    OPCHANDLE handles[] = {h1, foreign, h1};
    opc::TaskOut<HRESULT> errors;
    EXPECT_EQ(group->RemoveItems(3, handles, errors.put()), S_FALSE);
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
    EXPECT_EQ(errors[2], OPC_E_INVALIDHANDLE);  // already removed
  }
  attrs = attributesOf(group.get());
  ASSERT_EQ(attrs.size(), 2u);
  EXPECT_EQ(control->liveItemCount(), 5u);
  {
    OPCHANDLE handles[] = {h0, h2};
    opc::TaskOut<HRESULT> errors;
    EXPECT_EQ(group->RemoveItems(2, handles, errors.put()), S_OK);
  }
  ComPtr<IUnknown> unk;
  EXPECT_EQ(group->CreateEnumerator(IID_IEnumOPCItemAttributes, unk.put()), S_FALSE);
  EXPECT_TRUE(unk);  // empty, but handed out
  EXPECT_EQ(group->CreateEnumerator(IID_IEnumString, unk.put()), E_NOINTERFACE);
  EXPECT_FALSE(unk);
}

TEST_F(Items, InjectedFailuresAndHostileArrays) {
  auto group = addGroup(u"g");
  ItemDefs defs;
  defs.add(u"Static.Int4").add(u"Static.Real8");

  control->failCall(SimCall::AddItems, E_OUTOFMEMORY, 1);
  {
    ItemResults r;
    EXPECT_EQ(addItems(group.get(), defs, r), E_OUTOFMEMORY);
    EXPECT_FALSE(r.results);
    EXPECT_FALSE(r.errors);
    EXPECT_EQ(control->liveItemCount(), 0u);
  }
  control->setQuirk(Quirk::ArraysWithFailure, true);
  control->failCall(SimCall::AddItems, E_FAIL, 1);
  {
    ItemResults r;
    EXPECT_EQ(addItems(group.get(), defs, r), E_FAIL);
    ASSERT_TRUE(r.results && r.errors);  // the client must free them anyway
    EXPECT_EQ(r.errors[0], E_FAIL);
    EXPECT_EQ(r.errors[1], E_FAIL);
    EXPECT_EQ(r.results[1].hServer, 0u);
  }
  control->setQuirk(Quirk::ArraysWithFailure, false);

  control->setQuirk(Quirk::NullItemArrays, true);
  {
    ItemResults r;
    EXPECT_EQ(addItems(group.get(), defs, r), S_OK);
    EXPECT_FALSE(r.results);
    EXPECT_FALSE(r.errors);
    EXPECT_EQ(control->liveItemCount(), 2u);  // the work was done all the same
  }
  control->setQuirk(Quirk::NullItemArrays, false);

  ItemResults r;
  ASSERT_EQ(addItems(group.get(), defs, r), S_OK);
  control->failCall(SimCall::RemoveItems, RPC_E_DISCONNECTED);
  OPCHANDLE handles[] = {r.results[0].hServer};
  opc::TaskOut<HRESULT> errors;
  EXPECT_EQ(group->RemoveItems(1, handles, errors.put()), RPC_E_DISCONNECTED);
  EXPECT_FALSE(errors);
  EXPECT_EQ(control->liveItemCount(), 4u);
  EXPECT_EQ(control->callCount(SimCall::AddItems), 4u);
}

TEST_F(Items, LargeBatchInOneCall) {
  auto group = addGroup(u"big");
  constexpr DWORD kCount = 20000;
  ItemDefs defs;
  for (DWORD i = 0; i < kCount; ++i) {
    defs.add(i % 2 ? u"Random.Real8" : u"Writable.Int4", VT_EMPTY, u"", i);
  }
  ItemResults r;
  ASSERT_EQ(addItems(group.get(), defs, r), S_OK);
  EXPECT_EQ(control->liveItemCount(), kCount);
  std::vector<OPCHANDLE> handles(kCount);
  for (DWORD i = 0; i < kCount; ++i) handles[i] = r.results[i].hServer;
  opc::TaskOut<HRESULT> errors;
  EXPECT_EQ(group->RemoveItems(kCount / 2, handles.data(), errors.put()), S_OK);
  EXPECT_EQ(control->liveItemCount(), kCount / 2);
  // The rest are still there, each under its own handle.
  EXPECT_EQ(group->RemoveItems(kCount / 2, handles.data() + kCount / 2, errors.put()), S_OK);
  EXPECT_EQ(control->liveItemCount(), 0u);
}

TEST_F(Items, ConcurrentClientsKeepTheServerConsistent) {
  constexpr int kThreads = 4;
  constexpr DWORD kItems = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int round = 0; round < 5; ++round) {
        const std::u16string name = u"worker" + std::u16string(1, char16_t(u'A' + t));
        OPCHANDLE groupHandle = 0;
        HRESULT hr = E_FAIL;
        auto group = addGroup(name, 100, 0, &hr, &groupHandle);
        ASSERT_TRUE(group);
        ItemDefs defs;
        for (DWORD i = 0; i < kItems; ++i) defs.add(u"Static.Int4");
        ItemResults r;
        ASSERT_EQ(addItems(group.get(), defs, r), S_OK);
        std::vector<OPCHANDLE> handles(kItems / 2);
        for (DWORD i = 0; i < kItems / 2; ++i) handles[i] = r.results[i].hServer;
        opc::TaskOut<HRESULT> errors;
        EXPECT_EQ(group->RemoveItems(kItems / 2, handles.data(), errors.put()), S_OK);
        StatusBlock status;
        EXPECT_EQ(status.fetch(server.get()), S_OK);
        group.reset();
        EXPECT_EQ(server->RemoveGroup(groupHandle, FALSE), S_OK);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(control->groupCount(), 0u);
  EXPECT_EQ(control->liveGroupCount(), 0u);
  EXPECT_EQ(control->liveItemCount(), 0u);
}

}  // namespace
}  // namespace veze6::sim::test
