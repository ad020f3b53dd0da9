// The simulation server as an in-process server module, created through its
// registration file the way a user's own server would be.
#include <gmock/gmock.h>
#include <stdlib.h>

#include <filesystem>

#include "discovery_utils.h"
#include "opc/inprocmodule.h"
#include "opc/registrationfiles.h"
#include "opc/serverlist.h"
#include "simulator/simmodule.h"

namespace veze6::sim::test {
namespace {

using ::testing::Contains;
using ::testing::IsSupersetOf;

class SimulationModule : public SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    std::string pattern =
        (std::filesystem::temp_directory_path() / "veze6-simmodule-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    home_ = pattern;
    if (const char* old = getenv("XDG_CONFIG_HOME")) oldHome_ = old;
    setenv("XDG_CONFIG_HOME", home_.c_str(), 1);
    const auto folder = home_ / "veze6" / "servers.d";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(VEZE6_SIM_MODULE_CONF, folder / "veze6-simulation-module.conf");
    previous_ = opc::setWarningHandler([this](const std::string& m) { warnings_.push_back(m); });
    opc::ClassRegistry::instance().reloadRegistrationFiles();
  }
  void TearDown() override {
    opc::setWarningHandler(std::move(previous_));
    if (oldHome_) {
      setenv("XDG_CONFIG_HOME", oldHome_->c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
    opc::ClassRegistry::instance().reloadRegistrationFiles();
    EXPECT_TRUE(warnings_.empty()) << warnings_.front();
    SimulatorTest::TearDown();
  }

 private:
  std::filesystem::path home_;
  std::optional<std::string> oldHome_;
  opc::WarningHandler previous_;
  std::vector<std::string> warnings_;
};

TEST_F(SimulationModule, CreatedByProgIdFromItsRegistrationFile) {
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(kSimulationModuleProgId.data(), &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_Veze6SimulationModule);

  ComPtr<IOPCServer> moduleServer;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IOPCServer, moduleServer.putVoid()),
            S_OK);
  StatusBlock status;
  ASSERT_EQ(status.fetch(moduleServer.get()), S_OK);
  EXPECT_EQ(status->dwServerState, OPC_STATUS_RUNNING);
  EXPECT_EQ(status.vendorText(), u"Vorlax veze6 OPC DA Simulation Server");

  // The whole server is there: browsing, properties, groups.
  auto browse = moduleServer.as<IOPCBrowseServerAddressSpace>();
  ASSERT_TRUE(browse);
  ComPtr<IEnumString> e;
  ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_BRANCH, u"", VT_EMPTY, 0, e.put()), S_OK);
  EXPECT_THAT(readAll(e.get()), IsSupersetOf({u"Random", u"Static", u"Writable"}));
  auto props = moduleServer.as<IOPCItemProperties>();
  ASSERT_TRUE(props);
  PropertyValues v;
  ASSERT_EQ(v.fetch(props.get(), u"Static.Int4", {2}), S_OK);
  EXPECT_EQ(OleVariant(v.value(0)), OleVariant(LONG(123456)));
}

TEST_F(SimulationModule, ListedAsAnOpcServerOfBothVersions) {
  const auto entry = opc::ClassRegistry::instance().find(CLSID_Veze6SimulationModule);
  ASSERT_TRUE(entry);
  EXPECT_TRUE(entry->opcMarker);
  EXPECT_EQ(entry->userType, kSimulationModuleUserType);

  ComPtr<IOPCServerList> list;
  ASSERT_EQ(CoCreateInstance(CLSID_OPCServerList, nullptr, CLSCTX_ALL, IID_IOPCServerList,
                             list.putVoid()),
            S_OK);
  for (CATID cat : {CATID_OPCDAServer10, CATID_OPCDAServer20}) {
    ComPtr<IEnumGUID> e;
    ASSERT_EQ(list->EnumClassesOfCategories(1, &cat, 0, nullptr, e.put()), S_OK);
    std::vector<CLSID> found;
    GUID g{};
    while (e->Next(1, &g, nullptr) == S_OK) found.push_back(g);
    EXPECT_THAT(found, Contains(CLSID_Veze6SimulationModule));
  }
  opc::TaskString progId, userType;
  ASSERT_EQ(list->GetClassDetails(CLSID_Veze6SimulationModule, progId.put(), userType.put()), S_OK);
  EXPECT_EQ(taskText(progId), kSimulationModuleProgId);
}

TEST_F(SimulationModule, ItsObjectsCountInTheHostAndTheControlInterfaceWorks) {
  const auto before = opc::diag::snapshot();
  {
    ComPtr<IUnknown> unk;
    ASSERT_EQ(CoCreateInstance(CLSID_Veze6SimulationModule, nullptr, CLSCTX_ALL, IID_IUnknown,
                               unk.putVoid()),
              S_OK);
    EXPECT_GT(opc::diag::snapshot().objects, before.objects);
    auto moduleControl = unk.as<SimulationControl>();
    ASSERT_TRUE(moduleControl);
    ASSERT_EQ(moduleControl->setItemValue(u"Writable.Int4", OleVariant(LONG(9))), S_OK);
    OleVariant value;
    ASSERT_EQ(moduleControl->itemValue(u"Writable.Int4", value), S_OK);
    EXPECT_EQ(value, OleVariant(LONG(9)));
  }
  EXPECT_EQ(opc::diag::snapshot().objects, before.objects);
}

}  // namespace
}  // namespace veze6::sim::test
