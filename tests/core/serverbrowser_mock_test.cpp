// Server enumeration against a mock server list object: the category order,
// merging of a server found in several categories, the selected categories,
// failures half-way, and the class registry listing of "OPC" marked classes.
#include "opc_mocks.h"
#include "test_utils.h"

using namespace core_test;
using ::testing::_;
using ::testing::DoAll;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::StrictMock;

namespace {

using OPCServerListing = veze6::test::LeakCheckedTest;

constexpr CLSID kServerA{0x5E000001, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0xA}};
constexpr CLSID kServerB{0x5E000002, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0xB}};
constexpr CLSID kAlarms{0x5E000003, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0xC}};

MATCHER_P(OneCategory, catid, "") { return arg != nullptr && arg[0] == catid; }

class ServerBrowserMockTest : public LeakCheckedTest {
 protected:
  using Mock = StrictMock<MockOPCServerList>;

  void SetUp() override {
    list = opc::makeCom<Mock>();
    // The mock stands in for this computer's server list object.
    registration = std::make_unique<ScopedTestClass>(CLSID_OPCServerList, u"",
                                                     ComPtr<IUnknown>(list->unknown()));
    ON_CALL(*list, GetClassDetails(_, _, _))
        .WillByDefault(Invoke([](REFCLSID clsid, LPOLESTR* progId, LPOLESTR* userType) {
          const std::u16string name = clsid == kServerA   ? u"Vendor.A.1"
                                      : clsid == kServerB ? u"Vendor.B.1"
                                                          : u"Vendor.Alarms.1";
          *progId = opc::taskStringDup(name);
          *userType = opc::taskStringDup(name + u" server");
          return S_OK;
        }));
  }

  void TearDown() override {
    registration.reset();
    list.reset();
    enums.clear();
  }

  /// The category query for catid answers with the class ids.
  void expectCategory(const CATID& catid, std::vector<GUID> classes) {
    auto e = opc::makeEnumGUID(std::move(classes));
    EXPECT_CALL(*list, EnumClassesOfCategories(1u, OneCategory(catid), 0u, _, _))
        .WillOnce(SetArgInterface<4>(e.get()));
    enums.push_back(e);
  }

  ComPtr<Mock> list;
  std::unique_ptr<ScopedTestClass> registration;
  std::vector<ComPtr<IEnumGUID>> enums;
};

TEST_F(ServerBrowserMockTest, CategoryOrderAndMerging) {
  {
    InSequence order;
    expectCategory(CATID_OPCDAServer10, {kServerB});
    expectCategory(CATID_OPCDAServer20, {kServerA, kServerB});
    expectCategory(CATID_OPCAEServer10, {kAlarms});
  }
  EXPECT_CALL(*list, GetClassDetails(_, _, _)).Times(4);
  TqopcServerBrowser browser;
  EXPECT_EQ(browser.Servertype(), svr_DA20 | svr_DA10 | svr_AE10);
  browser.Execute();
  ASSERT_EQ(browser.GetCount(), 3);
  // B was found first (DA 1.0) and stays there, with both categories.
  const TqopcServerItem* b = browser.GetItems(0);
  EXPECT_EQ(b->ProgID, "Vendor.B.1");
  EXPECT_EQ(b->UserType, "Vendor.B.1 server");
  EXPECT_EQ(b->ClsId, clsidText(kServerB));
  EXPECT_EQ(b->ComputerName, "");
  EXPECT_EQ(b->Categories, svr_DA10 | svr_DA20);
  EXPECT_EQ(browser.GetItems(1)->ProgID, "Vendor.A.1");
  EXPECT_EQ(browser.GetItems(1)->Categories, tqopcServerSet(svr_DA20));
  EXPECT_EQ(browser.GetItems(2)->Categories, tqopcServerSet(svr_AE10));
  EXPECT_EQ(browser.GetServer(clsidText(kServerA)), browser.GetItems(1));
  EXPECT_EQ(browser.GetServer(clsidText(kServerA).toLower()), nullptr) << "case counts";
  EXPECT_THROW(browser.GetItems(3), EListError);
}

TEST_F(ServerBrowserMockTest, OnlySelectedCategories_EmptySetStillCreatesTheObject) {
  expectCategory(CATID_OPCAEServer10, {kAlarms});
  EXPECT_CALL(*list, GetClassDetails(_, _, _)).Times(1);
  TqopcServerBrowser browser;
  browser.SetServertype(svr_AE10);
  browser.Execute();
  ASSERT_EQ(browser.GetCount(), 1);
  EXPECT_EQ(browser.GetItems(0)->ProgID, "Vendor.Alarms.1");

  browser.SetServertype({});
  const int createdBefore = registration->creations();
  browser.Execute();
  EXPECT_EQ(browser.GetCount(), 0);
  EXPECT_EQ(registration->creations(), createdBefore + 1);
}

TEST_F(ServerBrowserMockTest, SecondExecuteReplacesTheItems) {
  {
    InSequence order;
    expectCategory(CATID_OPCDAServer10, {kServerA, kServerB});
    expectCategory(CATID_OPCDAServer10, {kServerA});
  }
  EXPECT_CALL(*list, GetClassDetails(_, _, _)).Times(3);
  TqopcServerBrowser browser;
  browser.SetServertype(svr_DA10);
  browser.Execute();
  EXPECT_EQ(browser.GetCount(), 2);
  browser.Execute();
  ASSERT_EQ(browser.GetCount(), 1);
  EXPECT_EQ(browser.GetItems(0)->Categories, tqopcServerSet(svr_DA10));
  browser.Clear();
  EXPECT_EQ(browser.GetCount(), 0);
}

TEST_F(ServerBrowserMockTest, FailingCategoryQuery_RaisesAndKeepsWhatWasFound) {
  {
    InSequence order;
    expectCategory(CATID_OPCDAServer10, {kServerA});
    EXPECT_CALL(*list, EnumClassesOfCategories(1u, OneCategory(CATID_OPCDAServer20), 0u, _, _))
        .WillOnce(Return(E_ACCESSDENIED));
  }
  EXPECT_CALL(*list, GetClassDetails(_, _, _)).Times(1);
  TqopcServerBrowser browser;
  QString cls;
  EXPECT_FALSE(thrownMessage([&] { browser.Execute(); }, &cls).isEmpty());
  EXPECT_EQ(cls, "EOleSysError");
  ASSERT_EQ(browser.GetCount(), 1);
  EXPECT_EQ(browser.GetItems(0)->ProgID, "Vendor.A.1");
}

TEST_F(ServerBrowserMockTest, FailingClassDetails_Raises) {
  expectCategory(CATID_OPCDAServer10, {kServerA, kServerB});
  EXPECT_CALL(*list, GetClassDetails(_, _, _))
      .WillOnce(testing::DoDefault())
      .WillOnce(Invoke([](REFCLSID, LPOLESTR* progId, LPOLESTR*) {
        *progId = opc::taskStringDup(u"half");  // handed out despite the failure
        return REGDB_E_CLASSNOTREG;
      }));
  TqopcServerBrowser browser;
  browser.SetServertype(svr_DA10);
  QString cls;
  thrownMessage([&] { browser.Execute(); }, &cls);
  EXPECT_EQ(cls, "EOleSysError");
  EXPECT_EQ(browser.GetCount(), 1);
}

TEST_F(ServerBrowserMockTest, BadEnumerators_NoHangNoCrash) {
  // Success without an enumerator, then an enumerator that claims S_OK
  // without a class, then one that fails.
  EXPECT_CALL(*list, EnumClassesOfCategories(1u, OneCategory(CATID_OPCDAServer10), 0u, _, _))
      .WillOnce(DoAll(testing::SetArgPointee<4>(nullptr), Return(S_OK)));
  auto empty = opc::makeCom<StrictMock<MockEnumGUID>>();
  EXPECT_CALL(*empty, Next(1u, _, _)).WillOnce(DoAll(testing::SetArgPointee<2>(0u), Return(S_OK)));
  EXPECT_CALL(*list, EnumClassesOfCategories(1u, OneCategory(CATID_OPCDAServer20), 0u, _, _))
      .WillOnce(SetArgInterface<4>(empty.get()));
  auto failing = opc::makeCom<StrictMock<MockEnumGUID>>();
  EXPECT_CALL(*failing, Next(1u, _, _)).WillOnce(Return(E_FAIL));
  EXPECT_CALL(*list, EnumClassesOfCategories(1u, OneCategory(CATID_OPCAEServer10), 0u, _, _))
      .WillOnce(SetArgInterface<4>(failing.get()));
  TqopcServerBrowser browser;
  EXPECT_NO_THROW(browser.Execute());
  EXPECT_EQ(browser.GetCount(), 0);
}

TEST_F(ServerBrowserMockTest, ObjectWithoutServerList_RaisesNoInterface) {
  registration.reset();
  ScopedTestClass other(CLSID_OPCServerList, u"",
                        ComPtr<IUnknown>(opc::makeCom<MockEnumGUID>()->unknown()));
  TqopcServerBrowser browser;
  QString cls;
  EXPECT_EQ(thrownMessage([&] { browser.Execute(); }, &cls), OleErrorMessage(E_NOINTERFACE));
  EXPECT_EQ(cls, "EOleSysError");
}

TEST_F(ServerBrowserMockTest, NamedComputer_FailsWithTheUnreachableMachineCode) {
  TqopcServerBrowser browser;
  try {
    browser.GetOPCServers("plant-floor-7");
    ADD_FAILURE() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), HRESULT_RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(e.Message(), "The RPC server is unavailable.");
  }
  EXPECT_EQ(browser.ComputerName(), "plant-floor-7");
  EXPECT_EQ(registration->creations(), 0);
}

TEST_F(ServerBrowserMockTest, ItemsFoundRemotelyCarryTheComputerName) {
  expectCategory(CATID_OPCDAServer10, {kServerA});
  EXPECT_CALL(*list, GetClassDetails(_, _, _)).Times(1);
  TqopcServerBrowser browser;
  browser.SetServertype(svr_DA10);
  browser.GetOPCServers("localhost");  // this computer by name
  ASSERT_EQ(browser.GetCount(), 1);
  EXPECT_EQ(browser.GetItems(0)->ComputerName, "localhost");
  auto replaced = browser.SetItems(0, std::make_unique<TqopcServerItem>());
  EXPECT_EQ(replaced->ProgID, "Vendor.A.1");
  EXPECT_EQ(browser.GetItems(0)->ProgID, "");
}

// ---- the class registry listing ------------------------------------------------------------

TEST_F(OPCServerListing, ListsTheProgIdsOfMarkedClassesOnly) {
  auto& registry = opc::ClassRegistry::instance();
  const auto add = [&](const CLSID& clsid, std::u16string progId, bool marker) {
    opc::ClassEntry e;
    e.clsid = clsid;
    e.progId = std::move(progId);
    e.opcMarker = marker;  // no factory: marked but not creatable still lists
    registry.registerClass(std::move(e));
  };
  add(kServerA, u"Listing.Marked.1", true);
  add(kServerB, u"Listing.Unmarked.1", false);
  add(kAlarms, u"", true);
  QStringList servers{"stale"};
  GetOPCServers(servers);
  registry.unregisterClass(kServerA);
  registry.unregisterClass(kServerB);
  registry.unregisterClass(kAlarms);
  EXPECT_TRUE(servers.contains("Listing.Marked.1"));
  EXPECT_FALSE(servers.contains("Listing.Unmarked.1"));
  EXPECT_FALSE(servers.contains("stale"));
  EXPECT_FALSE(servers.contains(""));
}

}  // namespace
