#include <dlfcn.h>

#include "configfolders.h"
#include "opc/inprocmodule.h"
#include "test_utils.h"
#include "testmodule.h"

namespace opc::test {
namespace {

constexpr char kCommonClass[] = "{5EED0300-0000-0000-7E57-000000000001}";
constexpr char kFailsClass[] = "{5EED0301-0000-0000-7E57-000000000001}";
constexpr char kNotServedClass[] = "{5EED0302-0000-0000-7E57-000000000001}";

class Modules : public LeakCheckedTest {
 protected:
  void SetUp() override {
    config.write("home", "test-module.conf",
                 std::string("[") + kCommonClass +
                     "]\nProgID = Veze6.TestModule.Common\nUserType = Test module\nModule = " +
                     VEZE6_TEST_MODULE + "\n[" + kFailsClass + "]\nModule = " + VEZE6_TEST_MODULE +
                     "\n[" + kNotServedClass + "]\nModule = " + VEZE6_TEST_MODULE + "\n");
    ASSERT_TRUE(config.reload().empty());
  }

  /// Registers class kNotServed as served by `module` and creates it.
  HRESULT createFrom(const std::string& module) {
    config.write(
        "home", "other.conf",
        std::string("[{5EED0303-0000-0000-7E57-000000000001}]\nModule = ") + module + "\n");
    config.reload();
    constexpr CLSID kOther{0x5EED0303, 0, 0, {0x7E, 0x57, 0, 0, 0, 0, 0, 1}};
    ComPtr<IUnknown> unk;
    const HRESULT hr = CoCreateInstance(kOther, nullptr, CLSCTX_ALL, IID_IUnknown, unk.putVoid());
    EXPECT_EQ(FAILED(hr), !unk);
    return hr;
  }

  ConfigFolders config;
};

TEST_F(Modules, AClassIsCreatedFromItsModuleOnFirstUse) {
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"Veze6.TestModule.Common", &clsid), S_OK);
  EXPECT_EQ(clsid, kModuleCommon);

  const auto before = diag::snapshot();
  ComPtr<IOPCCommon> common;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IOPCCommon, common.putVoid()), S_OK);
  EXPECT_TRUE(isModuleLoaded(VEZE6_TEST_MODULE));
  LCID lcid = 0;
  EXPECT_EQ(common->GetLocaleID(&lcid), S_OK);
  EXPECT_EQ(lcid, 1033u);
  // The module's object counts in the host's counters: one platform layer.
  EXPECT_EQ(diag::snapshot().objects, before.objects + 1);

  // A second creation reuses the loaded module.
  std::vector<MULTI_QI> qi{{&IID_IOPCCommon, nullptr, E_FAIL}, {&IID_IOPCServer, nullptr, E_FAIL}};
  EXPECT_EQ(CoCreateInstanceEx(clsid, nullptr, CLSCTX_ALL, nullptr, 2, qi.data()),
            CO_S_NOTALLINTERFACES);
  EXPECT_EQ(qi[1].hr, E_NOINTERFACE);
  ComPtr<IUnknown>::attach(qi[0].pItf);
}

TEST_F(Modules, TheModuleSharesTheHostsRegistry) {
  ComPtr<IUnknown> unk;
  ASSERT_EQ(CoCreateInstance(kModuleCommon, nullptr, CLSCTX_ALL, IID_IUnknown, unk.putVoid()),
            S_OK);
  void* handle = dlopen(VEZE6_TEST_MODULE, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(handle, nullptr);
  using Probe = void* (*)();
  const auto probe = reinterpret_cast<Probe>(dlsym(handle, kModuleRegistryProbe));
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(probe(), &ClassRegistry::instance());
  dlclose(handle);  // drops only the reference taken here
}

TEST_F(Modules, FailuresOfTheModuleItselfPropagate) {
  ComPtr<IUnknown> unk;
  EXPECT_EQ(CoCreateInstance(kModuleFactoryFails, nullptr, CLSCTX_ALL, IID_IUnknown, unk.putVoid()),
            E_OUTOFMEMORY);
  EXPECT_EQ(CoCreateInstance(kModuleNotServed, nullptr, CLSCTX_ALL, IID_IUnknown, unk.putVoid()),
            CLASS_E_CLASSNOTAVAILABLE);
  std::vector<MULTI_QI> qi{{&IID_IUnknown, nullptr, S_OK}};
  EXPECT_EQ(CoCreateInstanceEx(kModuleFactoryFails, nullptr, CLSCTX_ALL, nullptr, 1, qi.data()),
            E_OUTOFMEMORY);
  EXPECT_EQ(qi[0].hr, E_OUTOFMEMORY);
  EXPECT_EQ(qi[0].pItf, nullptr);
}

TEST_F(Modules, AMissingModuleIsDllNotFound) {
  const std::string path = (config.root() / "nowhere" / "libmissing.so").string();
  EXPECT_EQ(createFrom(path), CO_E_DLLNOTFOUND);
  EXPECT_TRUE(config.warned({path, "not found"}));
  // A relative module path is taken from the registration file's folder.
  EXPECT_EQ(createFrom("libmissing.so"), CO_E_DLLNOTFOUND);
  EXPECT_TRUE(config.warned({(config.folder("home") / "libmissing.so").string()}));
}

TEST_F(Modules, ALibraryWithoutTheEntryPointIsAnErrorInTheModule) {
  EXPECT_EQ(createFrom(VEZE6_NOENTRY_MODULE), CO_E_ERRORINDLL);
  EXPECT_TRUE(config.warned({VEZE6_NOENTRY_MODULE, "lacks the entry point Veze6GetClassObject"}));
}

TEST_F(Modules, AFileThatIsNoLibraryIsAnErrorInTheModule) {
  const auto fake = config.write("home", "libfake.so", "this is not a shared library\n");
  EXPECT_EQ(createFrom(fake.string()), CO_E_ERRORINDLL);
  EXPECT_TRUE(config.warned({fake.string(), "cannot be loaded"}));
  EXPECT_FALSE(isModuleLoaded(fake.string()));
}

TEST_F(Modules, ClassFactoryRefusesAggregation) {
  int made = 0;
  ComPtr<IClassFactory> factory = makeClassFactory([&](REFIID riid, void** ppv) {
    ++made;
    return makeCom<CommonObject>()->QueryInterface(riid, ppv);
  });
  ComPtr<CommonObject> outer = makeCom<CommonObject>();
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(outer->unknown(), IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOPCServer, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(made, 1);
}

}  // namespace
}  // namespace opc::test
