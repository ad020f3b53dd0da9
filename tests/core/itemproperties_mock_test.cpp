// Item properties against a mock server: the text line format, single values
// and item id lookups, the property list's refresh rules and a property that
// fails among others. Every array, string and value the server hands out
// must be freed.
#include "server_fixture.h"

using namespace core_test;
using ::testing::_;
using ::testing::DoAll;
using ::testing::ElementsAreArray;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::StrictMock;

namespace {

struct Property {
  DWORD id;
  std::u16string description;
  VARTYPE type;
};

/// Answers QueryAvailableProperties with the given properties in task memory.
auto listing(std::vector<Property> properties, HRESULT result = S_OK) {
  return [=](LPWSTR, DWORD* count, DWORD** ids, LPWSTR** descriptions, VARTYPE** types) {
    const std::size_t n = properties.size();
    *count = DWORD(n);
    *ids = static_cast<DWORD*>(CoTaskMemAlloc(n * sizeof(DWORD)));
    *descriptions = static_cast<LPWSTR*>(CoTaskMemAlloc(n * sizeof(LPWSTR)));
    *types = static_cast<VARTYPE*>(CoTaskMemAlloc(n * sizeof(VARTYPE)));
    for (std::size_t i = 0; i < n; ++i) {
      (*ids)[i] = properties[i].id;
      (*descriptions)[i] = opc::taskStringDup(properties[i].description);
      (*types)[i] = properties[i].type;
    }
    return result;
  };
}

/// Answers GetItemProperties: per requested id a value and an error code.
auto values(std::vector<std::pair<OleVariant, HRESULT>> answers, HRESULT result = S_OK) {
  return [=](LPWSTR, DWORD count, DWORD*, VARIANT** data, HRESULT** errors) {
    *data = static_cast<VARIANT*>(CoTaskMemAlloc(count * sizeof(VARIANT)));
    *errors = static_cast<HRESULT*>(CoTaskMemAlloc(count * sizeof(HRESULT)));
    for (DWORD i = 0; i < count; ++i) {
      VariantInit(&(*data)[i]);
      if (i < answers.size()) {
        VariantCopy(&(*data)[i], &answers[i].first.get());
        (*errors)[i] = answers[i].second;
      } else {
        (*errors)[i] = OPC_E_INVALID_PID;
      }
    }
    return result;
  };
}

/// Answers LookupItemIDs for one id.
auto lookup(const char16_t* itemId, HRESULT error, HRESULT result = S_OK) {
  return [=](LPWSTR, DWORD count, DWORD*, LPWSTR** ids, HRESULT** errors) {
    *ids = static_cast<LPWSTR*>(CoTaskMemAlloc(count * sizeof(LPWSTR)));
    *errors = static_cast<HRESULT*>(CoTaskMemAlloc(count * sizeof(HRESULT)));
    for (DWORD i = 0; i < count; ++i) {
      (*ids)[i] = itemId ? opc::taskStringDup(itemId) : nullptr;
      (*errors)[i] = error;
    }
    return result;
  };
}

class ItemPropertiesMockTest : public ServerMockFixture {
 protected:
  void SetUp() override {
    ServerMockFixture::SetUp();
    mock->refuse(IID_IConnectionPointContainer);
  }

  const std::vector<Property> four{{1, u"Item Canonical DataType", VT_I2},
                                   {2, u"Item Value", VT_VARIANT},
                                   {5000, u"Pressure", VT_R8},
                                   {5001, u"Unit \"bar\"", VT_BSTR}};
};

// ---- the server component's three operations --------------------------------------------

TEST_F(ItemPropertiesMockTest, TextLines_IdQuotedDescriptionType) {
  connect();
  EXPECT_CALL(*mock, QueryAvailableProperties(WideEq(u"Tank.Level"), _, _, _, _))
      .WillOnce(Invoke(listing(four)));
  QStringList lines{"old"};
  EXPECT_TRUE(server->QueryAvailableProperties("Tank.Level", lines));
  EXPECT_EQ(lines, (QStringList{"1,\"Item Canonical DataType\",2", "2,\"Item Value\",12",
                                "5000,\"Pressure\",5", "5001,\"Unit \"bar\"\",8"}));
}

TEST_F(ItemPropertiesMockTest, TextLines_UnsignedIdsAndTypeCodes) {
  connect();
  EXPECT_CALL(*mock, QueryAvailableProperties(_, _, _, _, _))
      .WillOnce(Invoke(listing({{0xFFFFFFFFu, u"", VARTYPE(VT_ARRAY | VT_R8)}})));
  QStringList lines;
  EXPECT_TRUE(server->QueryAvailableProperties("x", lines));
  EXPECT_EQ(lines, QStringList{"4294967295,\"\",8197"});
}

TEST_F(ItemPropertiesMockTest, NotConnectedOrNoInterface_FailureResultsNothingRaised) {
  bool faulted = false;
  server->OnError = [&](QObject*, const QString&, bool&) { faulted = true; };
  QStringList lines{"old"};
  OleVariant value(LONG(7));
  EXPECT_FALSE(server->QueryAvailableProperties("x", lines));
  EXPECT_TRUE(lines.isEmpty());
  EXPECT_FALSE(server->GetItemProperty("x", 1, value));
  EXPECT_TRUE(value.isEmpty());
  EXPECT_EQ(server->LookupItemId("x", 1), "");

  mock->refuse(IID_IOPCItemProperties);
  connect();
  EXPECT_FALSE(server->QueryAvailableProperties("x", lines));
  EXPECT_FALSE(server->GetItemProperty("x", 1, value));
  EXPECT_EQ(server->LookupItemId("x", 1), "");
  TqOPCItemProperties list(server.get(), "x");
  EXPECT_EQ(list.Count(), 0);
  EXPECT_FALSE(list.GetItemProperties());
  EXPECT_FALSE(faulted);
}

TEST_F(ItemPropertiesMockTest, FailedListing_RaisedThroughOPCCheckAfterFreeing) {
  connect();
  EXPECT_CALL(*mock, QueryAvailableProperties(_, _, _, _, _))
      .WillOnce(Invoke(listing(four, OPC_E_UNKNOWNITEMID)))  // arrays handed out anyway
      .WillOnce(Return(E_OUTOFMEMORY));
  QStringList lines;
  QString cls;
  EXPECT_EQ(thrownMessage([&] { server->QueryAvailableProperties("Gone", lines); }, &cls),
            "The item is no longer available in the server address space.");
  EXPECT_EQ(cls, "EOPCException");
  thrownMessage([&] { server->QueryAvailableProperties("x", lines); }, &cls);
  EXPECT_EQ(cls, "EOleSysError");
  EXPECT_TRUE(lines.isEmpty());
}

TEST_F(ItemPropertiesMockTest, GetItemProperty_OnlyExactSOkReads) {
  connect();
  const DWORD pid = 5000;
  EXPECT_CALL(*mock, GetItemProperties(WideEq(u"Tank"), 1u, testing::Pointee(pid), _, _))
      .WillOnce(Invoke(values({{OleVariant(u"3 bar"), S_OK}})))
      .WillOnce(Invoke(values({{OleVariant(u"clamped"), OPC_S_CLAMP}})))
      .WillOnce(Invoke(values({{OleVariant(u"bad"), OPC_E_INVALID_PID}})))
      .WillOnce(Invoke(values({{OleVariant(u"whole call"), S_OK}}, E_FAIL)));
  OleVariant value;
  EXPECT_TRUE(server->GetItemProperty("Tank", 5000, value));
  EXPECT_EQ(value, OleVariant(u"3 bar"));
  EXPECT_FALSE(server->GetItemProperty("Tank", 5000, value));
  EXPECT_TRUE(value.isEmpty()) << "a success code other than S_OK reads nothing";
  EXPECT_FALSE(server->GetItemProperty("Tank", 5000, value));
  EXPECT_NO_THROW(EXPECT_FALSE(server->GetItemProperty("Tank", 5000, value)));
  EXPECT_TRUE(value.isEmpty());
}

TEST_F(ItemPropertiesMockTest, LookupItemId_ResultsAndRaisedPropertyFailure) {
  connect();
  EXPECT_CALL(*mock, LookupItemIDs(WideEq(u"Tank"), 1u, _, _, _))
      .WillOnce(Invoke(lookup(u"Tank.EU", S_OK)))
      .WillOnce(Invoke(lookup(u"ignored", S_FALSE)))
      .WillOnce(Invoke(lookup(nullptr, S_OK)))
      .WillOnce(Invoke(lookup(u"x", S_OK, E_FAIL)))
      .WillOnce(Return(E_FAIL))
      .WillOnce(Invoke(lookup(nullptr, OPC_E_INVALID_PID)));
  EXPECT_EQ(server->LookupItemId("Tank", 100), "Tank.EU");
  EXPECT_EQ(server->LookupItemId("Tank", 100), "");
  EXPECT_EQ(server->LookupItemId("Tank", 100), "") << "a null id reads as empty";
  EXPECT_EQ(server->LookupItemId("Tank", 100), "") << "a failed call raises nothing";
  EXPECT_EQ(server->LookupItemId("Tank", 100), "");
  EXPECT_EQ(thrownMessage([&] { server->LookupItemId("Tank", 9999); }),
            "The server does not recognise the passed property ID.");
}

// ---- the property list ----------------------------------------------------------------------

TEST_F(ItemPropertiesMockTest, List_OneFailingPropertyAmongFour) {
  connect();
  EXPECT_CALL(*mock, QueryAvailableProperties(WideEq(u"Tank"), _, _, _, _))
      .WillOnce(Invoke(listing(four)));
  const std::vector<DWORD> ids{1, 2, 5000, 5001};
  EXPECT_CALL(*mock, GetItemProperties(WideEq(u"Tank"), 4u, _, _, _))
      .WillOnce(DoAll(Invoke([&](LPWSTR, DWORD n, DWORD* asked, VARIANT**, HRESULT**) {
                        EXPECT_THAT(std::vector<DWORD>(asked, asked + n), ElementsAreArray(ids));
                      }),
                      Invoke(values({{OleVariant(SHORT(5)), S_OK},
                                     {OleVariant(DOUBLE(2.5)), S_OK},
                                     {OleVariant(u"lost"), E_FAIL},
                                     {OleVariant(u"bar"), S_OK}}))));
  TqOPCItemProperties list(server.get(), "Tank");
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list.GetItem(2)->PropertyID, 5000);
  EXPECT_EQ(list.GetItem(2)->Description, "Pressure");
  EXPECT_EQ(list.GetItem(2)->DataType, VT_R8);
  EXPECT_EQ(list.GetItem(0)->Value, OleVariant(SHORT(5)));
  EXPECT_EQ(list.GetItem(1)->Value, OleVariant(DOUBLE(2.5)));
  EXPECT_TRUE(list.GetItem(2)->Value.isEmpty());
  EXPECT_EQ(list.GetItem(3)->Value, OleVariant(u"bar"));

  // A second read reports the failure again and refreshes the others.
  EXPECT_CALL(*mock, GetItemProperties(_, 4u, _, _, _))
      .WillOnce(Invoke(values({{OleVariant(SHORT(6)), S_OK},
                               {OleVariant(DOUBLE(3.5)), S_OK},
                               {OleVariant(), OPC_E_INVALID_PID},
                               {OleVariant(u"bar"), S_OK}})));
  EXPECT_FALSE(list.GetItemProperties());
  EXPECT_EQ(list.GetItem(0)->Value, OleVariant(SHORT(6)));
  EXPECT_THROW(list.GetItem(4), EListError);
}

TEST_F(ItemPropertiesMockTest, List_FailedValueCallKeepsValues) {
  connect();
  EXPECT_CALL(*mock, QueryAvailableProperties(_, _, _, _, _))
      .WillOnce(Invoke(listing({{1, u"a", VT_I4}})));
  EXPECT_CALL(*mock, GetItemProperties(_, 1u, _, _, _))
      .WillOnce(Invoke(values({{OleVariant(LONG(42)), S_OK}})))
      .WillOnce(Return(E_FAIL))
      .WillOnce(Return(S_OK));  // success without arrays: nothing read
  TqOPCItemProperties list(server.get(), "x");
  EXPECT_EQ(list.GetItem(0)->Value, OleVariant(LONG(42)));
  EXPECT_FALSE(list.GetItemProperties());
  EXPECT_EQ(list.GetItem(0)->Value, OleVariant(LONG(42))) << "a failed call changes no value";
  EXPECT_FALSE(list.GetItemProperties());
  EXPECT_TRUE(list.GetItem(0)->Value.isEmpty());
}

TEST_F(ItemPropertiesMockTest, List_RefreshRules) {
  connect();
  // An empty item id makes no server call (StrictMock).
  TqOPCItemProperties list(server.get(), "");
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.OPCServer(), server.get());

  EXPECT_CALL(*mock, QueryAvailableProperties(WideEq(u"A"), _, _, _, _))
      .WillOnce(Invoke(listing({{1, u"a", VT_I4}, {2, u"b", VT_I4}})));
  EXPECT_CALL(*mock, GetItemProperties(WideEq(u"A"), 2u, _, _, _))
      .WillOnce(Invoke(values({{OleVariant(LONG(1)), S_OK}, {OleVariant(LONG(2)), S_OK}})));
  list.SetItemId("A");
  EXPECT_EQ(list.Count(), 2);
  list.SetItemId("A");  // the same text: no call
  list.SetOPCServer(server.get());

  EXPECT_CALL(*mock, QueryAvailableProperties(WideEq(u"B"), _, _, _, _))
      .WillOnce(Invoke(listing({{3, u"c", VT_BSTR}})));
  EXPECT_CALL(*mock, GetItemProperties(WideEq(u"B"), 1u, _, _, _))
      .WillOnce(Invoke(values({{OleVariant(u"v"), S_OK}})));
  list.SetItemId("B");
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.GetItem(0)->Description, "c");

  // No server: the list empties without a call.
  list.SetOPCServer(nullptr);
  EXPECT_EQ(list.Count(), 0);

  // Replacing an entry hands the old one back.
  EXPECT_CALL(*mock, QueryAvailableProperties(_, _, _, _, _))
      .WillOnce(Invoke(listing({{7, u"seven", VT_I4}})));
  EXPECT_CALL(*mock, GetItemProperties(_, 1u, _, _, _))
      .WillOnce(Invoke(values({{OleVariant(LONG(7)), S_OK}})));
  list.SetOPCServer(server.get());
  auto replacement = std::make_unique<TqOPCItemProperty>();
  replacement->PropertyID = 8;
  auto old = list.SetItem(0, std::move(replacement));
  EXPECT_EQ(old->PropertyID, 7);
  EXPECT_EQ(list.GetItem(0)->PropertyID, 8);
  EXPECT_THROW(list.SetItem(0, nullptr), EListError);
}

TEST_F(ItemPropertiesMockTest, List_ServerDestroyedReadsAsNone) {
  connect();
  TqOPCItemProperties list;
  EXPECT_CALL(*mock, QueryAvailableProperties(_, _, _, _, _))
      .WillOnce(Invoke(listing({{1, u"a", VT_I4}})));
  EXPECT_CALL(*mock, GetItemProperties(_, 1u, _, _, _))
      .WillOnce(Invoke(values({{OleVariant(LONG(1)), S_OK}})));
  list.SetItemId("x");
  list.SetOPCServer(server.get());
  server.reset();
  EXPECT_EQ(list.OPCServer(), nullptr);
  EXPECT_FALSE(list.GetItemProperties());
  list.Refresh();
  EXPECT_EQ(list.Count(), 0);
}

}  // namespace
