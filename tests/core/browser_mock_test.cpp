// The address-space browser call by call against a mock server: the flat and
// hierarchical name spaces, the mirrored position, the filter encodings, the
// fault path, and enumerators that misbehave.
#include "server_fixture.h"

using namespace core_test;
using ::testing::_;
using ::testing::DoAll;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::SetArgPointee;
using ::testing::StrictMock;

namespace {

ComPtr<IEnumString> names(std::vector<std::u16string> list) {
  return opc::makeEnumString(std::move(list));
}

class BrowserMockTest : public ServerMockFixture {
 protected:
  void SetUp() override {
    ServerMockFixture::SetUp();
    // No connection points: the connect sequence then makes no calls of its
    // own on the server, so every expected call here is the browser's.
    mock->refuse(IID_IConnectionPointContainer);
    browser.SetOPCServer(server.get());
  }

  void TearDown() override {
    browser.SetOPCServer(nullptr);
    ServerMockFixture::TearDown();
  }

  void expectOrganization(OPCNAMESPACETYPE type) {
    EXPECT_CALL(*mock, QueryOrganization(_)).WillOnce(DoAll(SetArgPointee<0>(type), Return(S_OK)));
  }

  /// Lets OnError record the texts and suppress the exceptions.
  void suppressFaults() {
    server->OnError = [this](QObject*, const QString& text, bool& raise) {
      faults.push_back(text);
      raise = false;
    };
  }

  TqOPCBrowser browser;
  std::vector<QString> faults;
};

// ---- attachment ------------------------------------------------------------------

TEST_F(BrowserMockTest, WithoutServerObject_RaisesDirectlyButCountsAndPositionWork) {
  TqOPCBrowser lone;
  bool onErrorCalled = false;
  server->OnError = [&](QObject*, const QString&, bool&) { onErrorCalled = true; };
  QString cls;
  EXPECT_EQ(thrownMessage([&] { lone.ShowLeafs(false); }, &cls), "first define server object");
  EXPECT_EQ(cls, "EOPCException");
  EXPECT_EQ(thrownMessage([&] { lone.MoveDown("A"); }), "first define server object");
  EXPECT_EQ(thrownMessage([&] { lone.GetItemId("A"); }), "first define server object");
  EXPECT_EQ(thrownMessage([&] { lone.GetOrganization(); }), "first define server object");
  EXPECT_FALSE(onErrorCalled);
  EXPECT_EQ(lone.GetCount(), 0);
  EXPECT_EQ(lone.GetCurrentPosition(), "");
}

TEST_F(BrowserMockTest, NotConnected_MoveRaisesNotConnectedBeforeTheGuard) {
  EXPECT_EQ(thrownMessage([&] { browser.MoveDown("A"); }), "not connected to server");
  // Suppressed, each step that needs the server faults once and the move fails.
  suppressFaults();
  EXPECT_FALSE(browser.MoveDown("A"));
  EXPECT_EQ(faults, (std::vector<QString>{"not connected to server", "not connected to server"}));
  EXPECT_EQ(browser.GetOrganization(), -1);
}

TEST_F(BrowserMockTest, ServerWithoutBrowseInterface_FaultsBrowserInterfaceNotFound) {
  mock->refuse(IID_IOPCBrowseServerAddressSpace);
  connect();
  EXPECT_EQ(thrownMessage([&] { browser.ShowBranches(); }), "Browser interface not found");
  suppressFaults();
  browser.ShowLeafs(true);
  EXPECT_EQ(browser.GetCount(), 0);
  EXPECT_EQ(browser.GetItemId("x"), "");
  EXPECT_FALSE(faults.empty());
  for (const QString& f : faults) EXPECT_EQ(f, "Browser interface not found");
}

TEST_F(BrowserMockTest, OwnBrowser_BoundWhileConnectedAndUnboundAtDisconnect) {
  TqOPCBrowser* own = server->Browser();
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(own->OPCServer(), nullptr);
  EXPECT_EQ(own->parent(), nullptr) << "the server's browser has no owner";
  connect();
  EXPECT_EQ(own->OPCServer(), server.get());
  expectOrganization(OPC_NS_HIERARCHIAL);
  ComPtr<IEnumString> list = names({u"A"});
  EXPECT_CALL(*mock, BrowseOPCItemIDs(OPC_BRANCH, _, _, _, _))
      .WillOnce(SetArgInterface<4>(list.get()));
  own->ShowBranches();
  EXPECT_EQ(own->Tags(), QStringList{"A"});
  server->SetActive(false);
  EXPECT_EQ(own->OPCServer(), nullptr);
  EXPECT_EQ(own->GetCount(), 0);
  EXPECT_EQ(mock->refCount(), 2u) << "the browse interface goes with the connection";
}

TEST_F(BrowserMockTest, ServerDestroyed_BrowserDetachesWithoutTouchingIt) {
  connect();
  TqOPCBrowser other;
  other.SetOPCServer(server.get());
  expectOrganization(OPC_NS_FLAT);
  EXPECT_EQ(other.GetOrganization(), OPC_NS_FLAT);
  server.reset();
  EXPECT_EQ(other.OPCServer(), nullptr);
  EXPECT_EQ(browser.OPCServer(), nullptr);
  EXPECT_EQ(thrownMessage([&] { other.ShowLeafs(false); }), "first define server object");
}

TEST_F(BrowserMockTest, Reattaching_SameServerForgetsEverythingAndAsksAgain) {
  connect();
  expectOrganization(OPC_NS_HIERARCHIAL);
  EXPECT_CALL(*mock, ChangeBrowsePosition(OPC_BROWSE_DOWN, WideEq(u"A"))).WillOnce(Return(S_OK));
  ComPtr<IEnumString> list = names({u"x", u"y"});
  EXPECT_CALL(*mock, BrowseOPCItemIDs(OPC_LEAF, _, _, _, _))
      .WillOnce(SetArgInterface<4>(list.get()));
  ASSERT_TRUE(browser.MoveDown("A"));
  browser.ShowLeafs(false);
  EXPECT_EQ(browser.GetCount(), 2);
  EXPECT_EQ(mock->queryCount(IID_IOPCBrowseServerAddressSpace), 1);
  EXPECT_EQ(browser.GetOrganization(), OPC_NS_HIERARCHIAL) << "cached";

  browser.SetOPCServer(server.get());
  EXPECT_EQ(browser.GetCount(), 0);
  EXPECT_TRUE(browser.Levels().isEmpty());
  expectOrganization(OPC_NS_FLAT);
  EXPECT_EQ(browser.GetOrganization(), OPC_NS_FLAT);
  EXPECT_EQ(mock->queryCount(IID_IOPCBrowseServerAddressSpace), 2);
}

// ---- flat and hierarchical name spaces ------------------------------------------------

TEST_F(BrowserMockTest, Flat_NoBranchesNoMovesLeavesListedFlat) {
  connect();
  expectOrganization(OPC_NS_FLAT);  // asked once, then cached
  ComPtr<IEnumString> list = names({u"Tank.Level", u"Tank.Temp"});
  EXPECT_CALL(*mock, BrowseOPCItemIDs(OPC_FLAT, _, _, _, _))
      .WillOnce(SetArgInterface<4>(list.get()));
  // StrictMock: neither ChangeBrowsePosition nor a branch listing reaches the server.
  browser.ShowBranches();
  EXPECT_EQ(browser.GetCount(), 0);
  EXPECT_FALSE(browser.MoveDown("Tank"));
  EXPECT_FALSE(browser.Moveup());
  EXPECT_FALSE(browser.Moveto("Tank"));
  EXPECT_FALSE(browser.MovetoRoot());
  EXPECT_TRUE(browser.Levels().isEmpty());
  EXPECT_EQ(browser.GetCurrentPosition(), "");
  browser.ShowLeafs(false);
  EXPECT_EQ(browser.Tags(), (QStringList{"Tank.Level", "Tank.Temp"}));
}

TEST_F(BrowserMockTest, Hierarchical_MovesMirrorThePosition) {
  connect();
  expectOrganization(OPC_NS_HIERARCHIAL);
  {
    InSequence order;
    EXPECT_CALL(*mock, ChangeBrowsePosition(OPC_BROWSE_DOWN, WideEq(u"A"))).WillOnce(Return(S_OK));
    EXPECT_CALL(*mock, ChangeBrowsePosition(OPC_BROWSE_DOWN, WideEq(u"B"))).WillOnce(Return(S_OK));
    EXPECT_CALL(*mock, ChangeBrowsePosition(OPC_BROWSE_UP, WideEq(u""))).WillOnce(Return(S_OK));
    EXPECT_CALL(*mock, ChangeBrowsePosition(OPC_BROWSE_TO, WideEq(u""))).WillOnce(Return(S_OK));
    // At the root the server is still asked; accepted, the position stays the root.
    EXPECT_CALL(*mock, ChangeBrowsePosition(OPC_BROWSE_UP, WideEq(u""))).WillOnce(Return(S_OK));
  }
  EXPECT_TRUE(browser.MoveDown("A"));
  EXPECT_TRUE(browser.MoveDown("B"));
  EXPECT_EQ(browser.Levels(), (QStringList{"A", "B"}));
  EXPECT_EQ(browser.GetCurrentPosition(), "A.B");
  EXPECT_TRUE(browser.Moveup());
  EXPECT_EQ(browser.GetCurrentPosition(), "A");
  EXPECT_TRUE(browser.MovetoRoot());
  EXPECT_EQ(browser.GetCurrentPosition(), "");
  EXPECT_TRUE(browser.Moveup());
  EXPECT_TRUE(browser.Levels().isEmpty());
}

TEST_F(BrowserMockTest, Moveto_HandsTheWholePathOverAndMirrorsIt) {
  connect();
  expectOrganization(OPC_NS_HIERARCHIAL);
  EXPECT_CALL(*mock, ChangeBrowsePosition(OPC_BROWSE_TO, WideEq(u"Plant.Line 1.Motor")))
      .WillOnce(Return(S_OK));
  EXPECT_CALL(*mock, ChangeBrowsePosition(OPC_BROWSE_TO, WideEq(u"a..b"))).WillOnce(Return(S_OK));
  EXPECT_CALL(*mock, ChangeBrowsePosition(OPC_BROWSE_TO, WideEq(u"Solo"))).WillOnce(Return(S_OK));
  EXPECT_CALL(*mock, ChangeBrowsePosition(OPC_BROWSE_TO, WideEq(u""))).WillOnce(Return(S_OK));
  ASSERT_TRUE(browser.Moveto("Plant.Line 1.Motor"));
  EXPECT_EQ(browser.Levels(), (QStringList{"Plant", "Line 1", "Motor"}));
  EXPECT_EQ(browser.GetCurrentPosition(), "Plant.Line 1.Motor");
  ASSERT_TRUE(browser.Moveto("a..b"));
  EXPECT_EQ(browser.Levels(), (QStringList{"a", "", "b"}));
  ASSERT_TRUE(browser.Moveto("Solo"));
  EXPECT_EQ(browser.Levels(), QStringList{"Solo"});
  // The empty path is the root: no level left.
  ASSERT_TRUE(browser.Moveto(""));
  EXPECT_TRUE(browser.Levels().isEmpty());
}

TEST_F(BrowserMockTest, RejectedMove_FalseLevelsKeptNoExceptionEvenWithoutOnError) {
  connect();
  expectOrganization(OPC_NS_HIERARCHIAL);
  EXPECT_CALL(*mock, ChangeBrowsePosition(OPC_BROWSE_DOWN, WideEq(u"A"))).WillOnce(Return(S_OK));
  EXPECT_CALL(*mock, ChangeBrowsePosition(OPC_BROWSE_TO, WideEq(u"No.Such")))
      .WillOnce(Return(E_INVALIDARG));
  EXPECT_CALL(*mock, GetErrorString(E_INVALIDARG, 0, _))
      .WillOnce(SetArgTaskString<2>(u"no such branch", S_OK));
  ASSERT_TRUE(browser.MoveDown("A"));
  bool moved = true;
  EXPECT_NO_THROW(moved = browser.Moveto("No.Such"));
  EXPECT_FALSE(moved);
  EXPECT_EQ(browser.Levels(), QStringList{"A"});

  // With OnError the handler hears the server's text, and still nothing raises.
  EXPECT_CALL(*mock, ChangeBrowsePosition(OPC_BROWSE_DOWN, WideEq(u"Z")))
      .WillOnce(Return(E_INVALIDARG));
  EXPECT_CALL(*mock, GetErrorString(E_INVALIDARG, 0, _))
      .WillOnce(SetArgTaskString<2>(u"no such branch", S_OK));
  std::vector<QString> heard;
  server->OnError = [&](QObject*, const QString& text, bool&) { heard.push_back(text); };
  EXPECT_FALSE(browser.MoveDown("Z"));
  EXPECT_EQ(heard, std::vector<QString>{"Browser: no such branch"});
  EXPECT_EQ(browser.Levels(), QStringList{"A"});
}

// ---- listing and its encodings -----------------------------------------------------------

TEST_F(BrowserMockTest, Filters_EncodedForTheServer) {
  connect();
  expectOrganization(OPC_NS_HIERARCHIAL);
  ComPtr<IEnumString> empty = names({});
  {
    InSequence order;
    EXPECT_CALL(*mock, BrowseOPCItemIDs(OPC_LEAF, WideEq(u""), VARTYPE(VT_EMPTY), 0u, _))
        .WillOnce(SetArgInterface<4>(empty.get()));
    EXPECT_CALL(*mock, BrowseOPCItemIDs(OPC_LEAF, WideEq(u"Tank*"), VARTYPE(VT_R8), 3u, _))
        .WillOnce(SetArgInterface<4>(empty.get()));
    EXPECT_CALL(*mock, BrowseOPCItemIDs(OPC_FLAT, WideEq(u"Tank*"), VARTYPE(VT_LPWSTR), 1u, _))
        .WillOnce(SetArgInterface<4>(empty.get()));
    EXPECT_CALL(*mock, BrowseOPCItemIDs(OPC_BRANCH, WideEq(u"Tank*"), VARTYPE(VT_LPWSTR), 2u, _))
        .WillOnce(SetArgInterface<4>(empty.get()));
  }
  browser.ShowLeafs(false);
  browser.SetFilter("Tank*");
  browser.SetDatatype(vtR8);
  browser.SetAccessRights(opcReadable | opcWritable);
  browser.ShowLeafs(false);
  browser.SetDatatype(vtLPWSTR);
  browser.SetAccessRights(opcReadable);
  browser.ShowLeafs(true);
  browser.SetAccessRights(opcWritable);
  browser.ShowBranches();
}

TEST_F(BrowserMockTest, Filters_OfAnyContentAndLengthPassedWhole) {
  connect();
  expectOrganization(OPC_NS_HIERARCHIAL);
  const QString longFilter = QString(100000, QChar(u'\u00e9')) + "*";
  const QString odd = QStringLiteral("[!a-z]#?*\u4e2d\U0001F600\"'%s%d");
  std::vector<std::u16string> received;
  ComPtr<IEnumString> empty = names({});
  EXPECT_CALL(*mock, BrowseOPCItemIDs(OPC_LEAF, _, _, _, _))
      .Times(2)
      .WillRepeatedly(Invoke([&](OPCBROWSETYPE, LPCWSTR filter, VARTYPE, DWORD, IEnumString** e) {
        received.emplace_back(filter);
        return empty.copyTo(e);
      }));
  browser.SetFilter(longFilter);
  browser.ShowLeafs(false);
  browser.SetFilter(odd);
  browser.ShowLeafs(false);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0], u16(longFilter));
  EXPECT_EQ(received[1], u16(odd));
}

TEST_F(BrowserMockTest, SFalseWithEmptyOrNoEnumerator_EmptyTagsNoFault) {
  connect();
  expectOrganization(OPC_NS_HIERARCHIAL);
  ComPtr<IEnumString> empty = names({});
  EXPECT_CALL(*mock, BrowseOPCItemIDs(OPC_LEAF, _, _, _, _))
      .WillOnce(Invoke([&](OPCBROWSETYPE, LPCWSTR, VARTYPE, DWORD, IEnumString** e) {
        empty.copyTo(e);
        return S_FALSE;
      }))
      .WillOnce(DoAll(SetArgPointee<4>(nullptr), Return(S_FALSE)));
  browser.ShowLeafs(false);
  EXPECT_EQ(browser.GetCount(), 0);
  browser.ShowLeafs(false);
  EXPECT_EQ(browser.GetCount(), 0);
}

TEST_F(BrowserMockTest, FailedListing_TextFromServerElseLibraryElseSystem) {
  connect();
  expectOrganization(OPC_NS_HIERARCHIAL);
  EXPECT_CALL(*mock, BrowseOPCItemIDs(OPC_LEAF, _, _, _, _))
      .WillOnce(Return(OPC_E_INVALIDFILTER))
      .WillOnce(Return(OPC_E_INVALIDFILTER))
      .WillOnce(Return(E_FAIL));
  EXPECT_CALL(*mock, GetErrorString(OPC_E_INVALIDFILTER, 0, _))
      .WillOnce(SetArgTaskString<2>(u" bad filter ", S_OK))  // kept untrimmed
      .WillOnce(SetArgTaskString<2>(u"   ", S_OK));          // blank: the library's text
  EXPECT_CALL(*mock, GetErrorString(E_FAIL, 0, _)).WillOnce(Return(E_FAIL));

  QString cls;
  EXPECT_EQ(thrownMessage([&] { browser.ShowLeafs(false); }, &cls), "Browser:  bad filter ");
  EXPECT_EQ(cls, "EOPCException");
  EXPECT_EQ(thrownMessage([&] { browser.ShowLeafs(false); }),
            "Browser: The filter string was not valid");
  EXPECT_EQ(thrownMessage([&] { browser.ShowLeafs(false); }, &cls), "Browser: Unspecified error");
  EXPECT_EQ(cls, "EOPCException") << "the system's text still goes through the fault path";
  EXPECT_EQ(browser.GetCount(), 0);
}

TEST_F(BrowserMockTest, SuppressedFaults_EndWithTheFailureResults) {
  connect();
  suppressFaults();
  EXPECT_CALL(*mock, GetErrorString(_, 0, _)).WillRepeatedly(Return(E_FAIL));
  EXPECT_CALL(*mock, QueryOrganization(_)).Times(2).WillRepeatedly(Return(E_FAIL));
  EXPECT_EQ(browser.GetOrganization(), -1);
  EXPECT_EQ(browser.GetOrganization(), -1) << "a failed query is not cached";

  EXPECT_CALL(*mock, QueryOrganization(_))
      .WillOnce(DoAll(SetArgPointee<0>(OPC_NS_HIERARCHIAL), Return(S_OK)));
  EXPECT_CALL(*mock, BrowseOPCItemIDs(_, _, _, _, _)).WillOnce(Return(E_FAIL));
  EXPECT_CALL(*mock, GetItemID(_, _)).WillOnce(Return(E_FAIL));
  EXPECT_CALL(*mock, BrowseAccessPaths(_, _)).WillOnce(Return(E_FAIL));
  browser.ShowBranches();
  EXPECT_EQ(browser.GetCount(), 0);
  EXPECT_EQ(browser.GetItemId("x"), "");
  QStringList paths{"stale"};
  browser.GetAccessPath("x", paths);
  EXPECT_TRUE(paths.isEmpty());
  EXPECT_EQ(faults.size(), 5u);
  for (const QString& f : faults) EXPECT_EQ(f, "Browser: Unspecified error");
}

TEST_F(BrowserMockTest, ItemIdAndAccessPaths) {
  connect();
  EXPECT_CALL(*mock, GetItemID(WideEq(u"Level"), _))
      .WillOnce(SetArgTaskString<1>(u"Tank.Level", S_OK));
  ComPtr<IEnumString> paths = names({u"Line1", u"Line2"});
  EXPECT_CALL(*mock, BrowseAccessPaths(WideEq(u"Tank.Level"), _))
      .WillOnce(SetArgInterface<1>(paths.get()));
  EXPECT_EQ(browser.GetItemId("Level"), "Tank.Level");
  QStringList target{"old"};
  browser.GetAccessPath("Tank.Level", target);
  EXPECT_EQ(target, (QStringList{"Line1", "Line2"}));

  // No guard: a refused id reaches the caller.
  EXPECT_CALL(*mock, GetItemID(_, _)).WillOnce(Return(OPC_E_UNKNOWNITEMID));
  EXPECT_CALL(*mock, GetErrorString(OPC_E_UNKNOWNITEMID, 0, _)).WillOnce(Return(E_FAIL));
  EXPECT_EQ(thrownMessage([&] { browser.GetItemId("Gone"); }),
            "Browser: The item is no longer available in the server address space.");
}

// ---- enumerators that misbehave -------------------------------------------------------------

class BrowserEnumTest : public BrowserMockTest {
 protected:
  void SetUp() override {
    BrowserMockTest::SetUp();
    connect();
    expectOrganization(OPC_NS_HIERARCHIAL);
    enumerator = opc::makeCom<StrictMock<MockEnumString>>();
    EXPECT_CALL(*mock, BrowseOPCItemIDs(_, _, _, _, _))
        .WillOnce(SetArgInterface<4>(enumerator.get()));
  }
  void TearDown() override {
    enumerator.reset();
    BrowserMockTest::TearDown();
  }

  /// Hands out the texts into the caller's array, claims `claimed` fetched
  /// and returns result.
  static auto deliver(std::vector<std::u16string> texts, ULONG claimed, HRESULT result) {
    return [=](ULONG, LPOLESTR* out, ULONG* fetched) {
      for (std::size_t i = 0; i < texts.size(); ++i)
        out[i] = texts[i] == u"<null>" ? nullptr : opc::taskStringDup(texts[i]);
      *fetched = claimed;
      return result;
    };
  }

  ComPtr<StrictMock<MockEnumString>> enumerator;
};

TEST_F(BrowserEnumTest, ManyNamesPerCall) {
  EXPECT_CALL(*enumerator, Next(testing::Gt(1u), _, _))
      .WillOnce(Invoke(deliver({u"a", u"b"}, 2, S_OK)))
      .WillOnce(Invoke(deliver({u"c"}, 1, S_FALSE)));
  browser.ShowLeafs(false);
  EXPECT_EQ(browser.Tags(), (QStringList{"a", "b", "c"}));
}

TEST_F(BrowserEnumTest, ServerRefusingBatches_IsReadOneAtATime) {
  {
    InSequence order;
    EXPECT_CALL(*enumerator, Next(testing::Gt(1u), _, _)).WillOnce(Return(E_INVALIDARG));
    EXPECT_CALL(*enumerator, Next(1u, _, _))
        .WillOnce(Invoke(deliver({u"a"}, 1, S_OK)))
        .WillOnce(Invoke(deliver({u"b"}, 1, S_OK)))
        .WillOnce(Invoke(deliver({}, 0, S_FALSE)));
  }
  browser.ShowLeafs(false);
  EXPECT_EQ(browser.Tags(), (QStringList{"a", "b"}));
}

TEST_F(BrowserEnumTest, WrongCountsAndNullStrings_NoCrashEverythingFreed) {
  EXPECT_CALL(*enumerator, Next(_, _, _))
      // Claims more than it was asked for: only what fits counts.
      .WillOnce(Invoke([](ULONG asked, LPOLESTR* out, ULONG* fetched) {
        out[0] = opc::taskStringDup(u"first");
        *fetched = asked + 1000;
        return S_OK;
      }))
      // Writes three strings, claims one: the extra two are freed, not listed.
      .WillOnce(Invoke(deliver({u"second", u"extra1", u"extra2"}, 1, S_OK)))
      // A null string among real ones is skipped.
      .WillOnce(Invoke(deliver({u"<null>", u"third"}, 2, S_OK)))
      // S_OK without a string would loop for ever: the reading ends.
      .WillOnce(Invoke(deliver({}, 0, S_OK)));
  browser.ShowLeafs(false);
  ASSERT_GE(browser.GetCount(), 3);
  EXPECT_EQ(browser.Tags().first(), "first");
  EXPECT_TRUE(browser.Tags().contains("second"));
  EXPECT_TRUE(browser.Tags().contains("third"));
  EXPECT_FALSE(browser.Tags().contains("extra1"));
  // TearDown checks that every string handed out was freed.
}

TEST_F(BrowserEnumTest, FailingNextAfterSomeNames_KeepsThemAndFreesTheRest) {
  EXPECT_CALL(*enumerator, Next(_, _, _))
      .WillOnce(Invoke(deliver({u"a"}, 1, S_OK)))
      .WillOnce(Invoke(deliver({u"half-written"}, 1, E_FAIL)));
  browser.ShowLeafs(false);
  EXPECT_EQ(browser.Tags(), QStringList{"a"});
}

}  // namespace
