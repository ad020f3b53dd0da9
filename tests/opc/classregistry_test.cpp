#include <unistd.h>

#include <atomic>
#include <thread>

#include "test_utils.h"

namespace opc::test {
namespace {

using ClassRegistryTest = veze6::test::LeakCheckedTest;
using SecurityTest = veze6::test::LeakCheckedTest;

constexpr CLSID kCommon{0x5EED0100, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr CLSID kListed{0x5EED0101, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr CLSID kMissing{0x5EED01FF, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};

class Creation : public LeakCheckedTest {
 protected:
  void SetUp() override {
    ClassEntry common;
    common.clsid = kCommon;
    common.progId = u"Veze6.CreationTest.Common";
    common.create = [this](REFIID riid, void** ppv) {
      ++created;
      return makeCom<CommonObject>()->QueryInterface(riid, ppv);
    };
    ClassRegistry::instance().registerClass(common);
    ClassEntry listed;  // listed, but nothing can make it
    listed.clsid = kListed;
    ClassRegistry::instance().registerClass(listed);
  }
  void TearDown() override {
    ClassRegistry::instance().unregisterClass(kCommon);
    ClassRegistry::instance().unregisterClass(kListed);
  }

  HRESULT createEx(const char16_t* computer, std::vector<MULTI_QI>& qis) {
    std::u16string name = computer ? computer : u"";
    COSERVERINFO info{0, computer ? name.data() : nullptr, nullptr, 0};
    return CoCreateInstanceEx(kCommon, nullptr, CLSCTX_ALL, &info, DWORD(qis.size()), qis.data());
  }

  static void releaseAll(std::vector<MULTI_QI>& qis) {
    for (auto& q : qis) {
      if (q.pItf) q.pItf->Release();
      q.pItf = nullptr;
    }
  }

  int created = 0;
};

TEST_F(Creation, CreatesARegisteredClassWithTheAskedInterface) {
  ComPtr<IOPCCommon> common;
  ASSERT_EQ(CoCreateInstance(kCommon, nullptr, CLSCTX_ALL, IID_IOPCCommon, common.putVoid()), S_OK);
  ASSERT_TRUE(common);
  LCID lcid = 1;
  EXPECT_EQ(common->GetLocaleID(&lcid), S_OK);
  EXPECT_EQ(created, 1);
}

TEST_F(Creation, FailuresLeaveTheOutPointerNull) {
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kMissing, nullptr, CLSCTX_ALL, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(p, nullptr);

  ComPtr<CommonObject> outer = makeCom<CommonObject>();
  p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kCommon, outer->unknown(), CLSCTX_ALL, IID_IUnknown, &p),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(created, 0);

  p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kCommon, nullptr, CLSCTX_ALL, IID_IOPCServer, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);

  EXPECT_EQ(CoCreateInstance(kListed, nullptr, CLSCTX_ALL, IID_IUnknown, &p),
            CO_E_SERVER_EXEC_FAILURE);
  EXPECT_EQ(CoCreateInstance(kCommon, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(Creation, LocalNamesCreateInProcess) {
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  std::u16string upperHost = utf8ToUtf16(host);
  for (auto& c : upperHost) {
    if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
  }
  const std::u16string names[] = {u"",          u"   ",         u"\t",        u"localhost",
                                  u"LocalHost", u" localhost ", u"127.0.0.1", utf8ToUtf16(host),
                                  upperHost};
  for (const auto& name : names) {
    std::vector<MULTI_QI> qis{{&IID_IUnknown, nullptr, E_FAIL}};
    EXPECT_EQ(createEx(name.c_str(), qis), S_OK) << utf16ToUtf8(name);
    EXPECT_EQ(qis[0].hr, S_OK);
    EXPECT_NE(qis[0].pItf, nullptr);
    releaseAll(qis);
  }
  // No server info at all, and a server info without a name.
  std::vector<MULTI_QI> qis{{&IID_IOPCCommon, nullptr, E_FAIL}};
  EXPECT_EQ(CoCreateInstanceEx(kCommon, nullptr, CLSCTX_ALL, nullptr, 1, qis.data()), S_OK);
  releaseAll(qis);
  EXPECT_EQ(createEx(nullptr, qis), S_OK);
  releaseAll(qis);
}

TEST_F(Creation, ANamedComputerIsUnreachable) {
  std::vector<MULTI_QI> qis{{&IID_IUnknown, nullptr, S_OK}, {&IID_IOPCCommon, nullptr, S_OK}};
  EXPECT_EQ(createEx(u"plant-floor-07", qis), HRESULT_RPC_S_SERVER_UNAVAILABLE);
  for (const auto& q : qis) {
    EXPECT_EQ(q.hr, HRESULT_RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(q.pItf, nullptr);
  }
  EXPECT_EQ(created, 0);
  EXPECT_EQ(hresult(0x800706BA), HRESULT_RPC_S_SERVER_UNAVAILABLE);
}

TEST_F(Creation, EachInterfaceIsReportedOnItsOwn) {
  std::vector<MULTI_QI> qis{{&IID_IOPCCommon, nullptr, E_FAIL},
                            {&IID_IOPCServer, nullptr, E_FAIL},
                            {&IID_IOPCShutdown, nullptr, E_FAIL}};
  EXPECT_EQ(createEx(u"", qis), CO_S_NOTALLINTERFACES);
  EXPECT_EQ(CO_S_NOTALLINTERFACES, hresult(0x00080012));
  EXPECT_EQ(qis[0].hr, S_OK);
  EXPECT_EQ(qis[1].hr, E_NOINTERFACE);
  EXPECT_EQ(qis[1].pItf, nullptr);
  EXPECT_EQ(qis[2].hr, S_OK);
  EXPECT_EQ(created, 1);  // one object answers every entry
  releaseAll(qis);

  std::vector<MULTI_QI> none{{&IID_IOPCServer, nullptr, S_OK}, {&IID_IOPCSyncIO, nullptr, S_OK}};
  EXPECT_EQ(createEx(u"", none), E_NOINTERFACE);
  EXPECT_EQ(none[0].hr, E_NOINTERFACE);
  EXPECT_EQ(none[1].hr, E_NOINTERFACE);
}

TEST_F(Creation, ExFailuresApplyToEveryEntry) {
  std::vector<MULTI_QI> qis{{&IID_IUnknown, nullptr, S_OK}, {&IID_IOPCCommon, nullptr, S_OK}};
  EXPECT_EQ(CoCreateInstanceEx(kMissing, nullptr, CLSCTX_ALL, nullptr, 2, qis.data()),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(qis[0].hr, REGDB_E_CLASSNOTREG);
  EXPECT_EQ(qis[1].hr, REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstanceEx(kCommon, nullptr, CLSCTX_ALL, nullptr, 0, qis.data()), E_INVALIDARG);
  EXPECT_EQ(CoCreateInstanceEx(kCommon, nullptr, CLSCTX_ALL, nullptr, 1, nullptr), E_INVALIDARG);
}

TEST_F(ClassRegistryTest, RegistrationOrderReplacementAndCategories) {
  constexpr CATID kCatA{0x5EEDCA70, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  constexpr CATID kCatB{0x5EEDCA70, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};
  constexpr CLSID k1{0x5EED0201, 0, 0, {0}}, k2{0x5EED0202, 0, 0, {0}}, k3{0x5EED0203, 0, 0, {0}};
  auto& reg = ClassRegistry::instance();
  const auto ours = [](const std::vector<ClassEntry>& list) {
    std::vector<std::u16string> names;
    for (const auto& e : list) {
      if (e.progId.starts_with(u"Veze6.RegTest.")) names.push_back(e.progId);
    }
    return names;
  };
  reg.registerClass({k1, u"Veze6.RegTest.1", u"One", {kCatA}, true, {}});
  reg.registerClass({k2, u"Veze6.RegTest.2", u"Two", {kCatB}, true, {}});
  reg.registerClass({k3, u"Veze6.RegTest.3", u"Three", {kCatA, kCatB}, false, {}});
  EXPECT_EQ(ours(reg.entries()), (std::vector<std::u16string>{
                                     u"Veze6.RegTest.1", u"Veze6.RegTest.2", u"Veze6.RegTest.3"}));

  // Replacing keeps the place in the order.
  reg.registerClass({k1, u"Veze6.RegTest.1b", u"One again", {kCatB}, true, {}});
  EXPECT_EQ(ours(reg.entries()), (std::vector<std::u16string>{
                                     u"Veze6.RegTest.1b", u"Veze6.RegTest.2", u"Veze6.RegTest.3"}));
  EXPECT_EQ(reg.find(k1)->userType, u"One again");
  EXPECT_FALSE(reg.findProgId(u"Veze6.RegTest.1"));

  EXPECT_EQ(ours(reg.entriesOfCategories({kCatA})),
            (std::vector<std::u16string>{u"Veze6.RegTest.3"}));
  EXPECT_EQ(ours(reg.entriesOfCategories({kCatA, kCatB})).size(), 3u);
  EXPECT_TRUE(ours(reg.entriesOfCategories({})).empty());

  for (const auto& k : {k1, k2, k3}) reg.unregisterClass(k);
  EXPECT_TRUE(ours(reg.entries()).empty());
  EXPECT_FALSE(reg.find(k2));
}

TEST_F(SecurityTest, SucceedsOnceThenTooLate) {
  detail::resetSecurityInitialization();
  EXPECT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                                 RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr),
            S_OK);
  EXPECT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                                 RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr),
            RPC_E_TOO_LATE);
  EXPECT_EQ(RPC_E_TOO_LATE, hresult(0x80010119));
}

TEST_F(SecurityTest, ExactlyOneOfManyRacingThreadsSucceeds) {
  detail::resetSecurityInitialization();
  std::atomic<int> ok{0}, late{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      const HRESULT hr =
          CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 0, 0, nullptr, 0, nullptr);
      (hr == S_OK ? ok : late)++;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok.load(), 1);
  EXPECT_EQ(late.load(), 7);
}

}  // namespace
}  // namespace opc::test
