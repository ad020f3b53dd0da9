#include "opc/serverlist.h"

#include <algorithm>

#include "test_utils.h"

namespace opc::test {
namespace {

constexpr CLSID kDa10{0x5EED0401, 0, 0, {0x51, 0x57, 0, 0, 0, 0, 0, 1}};
constexpr CLSID kBoth{0x5EED0402, 0, 0, {0x51, 0x57, 0, 0, 0, 0, 0, 1}};
constexpr CLSID kAe{0x5EED0403, 0, 0, {0x51, 0x57, 0, 0, 0, 0, 0, 1}};
constexpr CLSID kNone{0x5EED0404, 0, 0, {0x51, 0x57, 0, 0, 0, 0, 0, 1}};
constexpr CLSID kUnknown{0x5EED04FF, 0, 0, {0x51, 0x57, 0, 0, 0, 0, 0, 1}};
constexpr CATID kNoSuchCategory{0x5EED04CA, 0, 0, {0x51, 0x57, 0, 0, 0, 0, 0, 1}};

class ServerList : public LeakCheckedTest {
 protected:
  void SetUp() override {
    auto& reg = ClassRegistry::instance();
    reg.registerClass({kDa10, u"Veze6.ListTest.Da10", u"One", {CATID_OPCDAServer10}, true, {}});
    reg.registerClass({kBoth,
                       u"Veze6.ListTest.Both",
                       u"Two",
                       {CATID_OPCDAServer10, CATID_OPCDAServer20},
                       true,
                       {}});
    reg.registerClass({kAe, u"Veze6.ListTest.Ae", u"Three", {CATID_OPCAEServer10}, false, {}});
    reg.registerClass({kNone, u"", u"", {}, false, {}});
    ASSERT_EQ(CoCreateInstance(CLSID_OPCServerList, nullptr, CLSCTX_ALL, IID_IOPCServerList,
                               list.putVoid()),
              S_OK);
  }
  void TearDown() override {
    list.reset();
    for (const auto& c : {kDa10, kBoth, kAe, kNone}) ClassRegistry::instance().unregisterClass(c);
  }

  /// Our test classes among those enumerated, in order; hr of the call.
  std::vector<CLSID> ours(std::vector<CATID> impl, std::vector<CATID> req, HRESULT* hr = nullptr,
                          ULONG implCount = ULONG(-2), ULONG reqCount = ULONG(-2)) {
    ComPtr<IEnumGUID> e;
    const HRESULT r = list->EnumClassesOfCategories(
        implCount == ULONG(-2) ? ULONG(impl.size()) : implCount, impl.data(),
        reqCount == ULONG(-2) ? ULONG(req.size()) : reqCount, req.data(), e.put());
    if (hr) *hr = r;
    std::vector<CLSID> out;
    if (!e) return out;
    GUID g{};
    ULONG fetched = 0;
    while (e->Next(1, &g, &fetched) == S_OK) {
      if (g == kDa10 || g == kBoth || g == kAe || g == kNone) out.push_back(g);
    }
    return out;
  }

  ComPtr<IOPCServerList> list;
};

TEST_F(ServerList, IsCreatableLikeAnyClassButIsNoServer) {
  std::vector<MULTI_QI> qi{{&IID_IOPCServerList, nullptr, E_FAIL}};
  ASSERT_EQ(CoCreateInstanceEx(CLSID_OPCServerList, nullptr, CLSCTX_ALL, nullptr, 1, qi.data()),
            S_OK);
  ComPtr<IOPCServerList> viaEx =
      ComPtr<IOPCServerList>::attach(static_cast<IOPCServerList*>(qi[0].pItf));
  EXPECT_TRUE(viaEx);

  std::u16string remote = u"plant-floor-07";
  COSERVERINFO info{0, remote.data(), nullptr, 0};
  EXPECT_EQ(CoCreateInstanceEx(CLSID_OPCServerList, nullptr, CLSCTX_ALL, &info, 1, qi.data()),
            HRESULT_RPC_S_SERVER_UNAVAILABLE);

  const auto entry = ClassRegistry::instance().find(CLSID_OPCServerList);
  ASSERT_TRUE(entry);
  EXPECT_FALSE(entry->opcMarker);
  EXPECT_TRUE(entry->categories.empty());
  CLSID byName{};
  EXPECT_EQ(CLSIDFromProgID(u"OPC.ServerList.1", &byName), S_OK);
  EXPECT_EQ(byName, CLSID_OPCServerList);
}

TEST_F(ServerList, ImplementedCategoriesMatchAnyInRegistrationOrder) {
  HRESULT hr = E_FAIL;
  EXPECT_EQ(ours({CATID_OPCDAServer10}, {}, &hr), (std::vector<CLSID>{kDa10, kBoth}));
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(ours({CATID_OPCDAServer20}, {}), (std::vector<CLSID>{kBoth}));
  EXPECT_EQ(ours({CATID_OPCAEServer10, CATID_OPCDAServer20}, {}), (std::vector<CLSID>{kBoth, kAe}));
  // Nothing registered in the category: an empty enumerator, still S_OK.
  EXPECT_TRUE(ours({kNoSuchCategory}, {}, &hr).empty());
  EXPECT_EQ(hr, S_OK);
}

TEST_F(ServerList, RequiredCategoriesMustAllBeImplemented) {
  EXPECT_EQ(ours({CATID_OPCDAServer10}, {CATID_OPCDAServer20}), (std::vector<CLSID>{kBoth}));
  EXPECT_TRUE(ours({CATID_OPCDAServer10}, {CATID_OPCDAServer20, CATID_OPCAEServer10}).empty());
  // ULONG(-1) leaves a condition out.
  EXPECT_EQ(ours({}, {CATID_OPCDAServer20}, nullptr, ULONG(-1)), (std::vector<CLSID>{kBoth}));
  EXPECT_EQ(ours({}, {}, nullptr, ULONG(-1), ULONG(-1)),
            (std::vector<CLSID>{kDa10, kBoth, kAe, kNone}));
  EXPECT_EQ(ours({CATID_OPCDAServer10}, {}, nullptr, 1, ULONG(-1)),
            (std::vector<CLSID>{kDa10, kBoth}));
}

TEST_F(ServerList, BadEnumerationArguments) {
  HRESULT hr = S_OK;
  EXPECT_TRUE(ours({}, {}, &hr).empty());  // no implemented category at all
  EXPECT_EQ(hr, E_INVALIDARG);
  CATID cat = CATID_OPCDAServer10;
  EXPECT_EQ(list->EnumClassesOfCategories(1, &cat, 0, nullptr, nullptr), E_INVALIDARG);
  IEnumGUID* e = reinterpret_cast<IEnumGUID*>(1);
  EXPECT_EQ(list->EnumClassesOfCategories(1, nullptr, 0, nullptr, &e), E_INVALIDARG);
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(list->EnumClassesOfCategories(1, &cat, 2, nullptr, &e), E_INVALIDARG);
  EXPECT_EQ(e, nullptr);
}

TEST_F(ServerList, ClassDetailsAreTaskMemory) {
  TaskString progId, userType;
  ASSERT_EQ(list->GetClassDetails(kBoth, progId.put(), userType.put()), S_OK);
  EXPECT_EQ(str(progId.get()), u"Veze6.ListTest.Both");
  EXPECT_EQ(str(userType.get()), u"Two");

  // A class without ProgID or user type gives empty texts, not null ones.
  ASSERT_EQ(list->GetClassDetails(kNone, progId.put(), userType.put()), S_OK);
  ASSERT_TRUE(progId && userType);
  EXPECT_EQ(str(progId.get()), u"");
  EXPECT_EQ(str(userType.get()), u"");
}

TEST_F(ServerList, ClassDetailsFailures) {
  LPOLESTR progId = reinterpret_cast<LPOLESTR>(1);
  LPOLESTR userType = reinterpret_cast<LPOLESTR>(1);
  EXPECT_EQ(list->GetClassDetails(kUnknown, &progId, &userType), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(progId, nullptr);
  EXPECT_EQ(userType, nullptr);
  EXPECT_EQ(list->GetClassDetails(kBoth, nullptr, &userType), E_INVALIDARG);
  EXPECT_EQ(userType, nullptr);
  EXPECT_EQ(list->GetClassDetails(kBoth, &progId, nullptr), E_INVALIDARG);
  EXPECT_EQ(progId, nullptr);
}

}  // namespace
}  // namespace opc::test
