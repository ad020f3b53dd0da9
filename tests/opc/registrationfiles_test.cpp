#include "opc/registrationfiles.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>

#include "configfolders.h"
#include "opc/serverlist.h"
#include "registrationfile_entry.h"
#include "test_utils.h"

namespace opc::test {
namespace {

using RegistrationFormat = veze6::test::LeakCheckedTest;
using RegistrationFolders = veze6::test::LeakCheckedTest;

constexpr char kClassA[] = "{5EED0501-0000-0000-0000-000000000001}";
constexpr CLSID kA{0x5EED0501, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
constexpr char kClassB[] = "{5EED0502-0000-0000-0000-000000000001}";
constexpr CLSID kB{0x5EED0502, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};

std::vector<RegisteredClass> parse(const std::string& text, std::vector<std::string>& warnings) {
  return parseRegistrationFile(text, "/etc/xdg/veze6/servers.d/test.conf", warnings);
}

bool anyContains(const std::vector<std::string>& warnings, const std::string& part) {
  for (const auto& w : warnings) {
    if (w.find(part) != std::string::npos) return true;
  }
  return false;
}

// ---- The text format -------------------------------------------------------

TEST_F(RegistrationFormat, ReadsEveryKey) {
  std::vector<std::string> warnings;
  const auto classes =
      parse(std::string("\xEF\xBB\xBF# a vendor's servers\r\n") + "[" + kClassA +
                "]\r\n"
                "  progid =  Vendor.Server.1  \r\n"
                "UserType=Vendor OPC DA Server (Übersicht)\r\n"
                "CATEGORIES = DA10, da20 ,{58E13251-AC87-11D1-84D5-00608CB8A7E9}\r\n"
                "; the registry listing's marker\r\n"
                "OPC = yes\r\n"
                "Module = lib/vendor.so\r\n",
            warnings);
  EXPECT_TRUE(warnings.empty()) << warnings.front();
  ASSERT_EQ(classes.size(), 1u);
  const auto& c = classes[0];
  EXPECT_EQ(c.clsid, kA);
  EXPECT_EQ(c.progId, u"Vendor.Server.1");
  EXPECT_EQ(c.userType, u"Vendor OPC DA Server (\u00DCbersicht)");
  EXPECT_EQ(c.categories,
            (std::vector<CATID>{CATID_OPCDAServer10, CATID_OPCDAServer20, CATID_OPCAEServer10}));
  EXPECT_TRUE(c.opcMarker);
  // Relative module paths start at the file's folder.
  EXPECT_EQ(c.module, std::filesystem::path("/etc/xdg/veze6/servers.d/lib/vendor.so"));
  EXPECT_EQ(c.source, "/etc/xdg/veze6/servers.d/test.conf:2");
}

TEST_F(RegistrationFormat, EmptyValuesAndMissingKeysLeaveDefaults) {
  std::vector<std::string> warnings;
  const auto classes =
      parse(std::string("[ ") + kClassA + " ]\nProgID =\nModule=/opt/x/lib.so\n[" + kClassB + "]\n",
            warnings);
  EXPECT_TRUE(warnings.empty());
  ASSERT_EQ(classes.size(), 2u);
  EXPECT_TRUE(classes[0].progId.empty());
  EXPECT_FALSE(classes[0].opcMarker);
  EXPECT_EQ(classes[0].module, std::filesystem::path("/opt/x/lib.so"));
  EXPECT_EQ(classes[1].clsid, kB);
  EXPECT_TRUE(classes[1].module.empty());
}

TEST_F(RegistrationFormat, AFaultySectionIsSkippedAndTheOthersKept) {
  struct Case {
    std::string body;
    std::string why;
  };
  const Case cases[] = {
      {"ProgID = X.1\nthis line has no equals sign\n", "neither a section nor key = value"},
      {"ProgID = X.1\nprogid = X.2\n", "given twice"},
      {"Categories = DA10, DA99\n", "DA99"},
      {"Categories = DA10,\n", "category ''"},
      {"OPC = maybe\n", "maybe"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> warnings;
    const auto classes =
        parse(std::string("[") + kClassA + "]\n" + c.body + "[" + kClassB + "]\nProgID = Kept.1\n",
              warnings);
    ASSERT_EQ(classes.size(), 1u) << c.body;
    EXPECT_EQ(classes[0].clsid, kB);
    EXPECT_TRUE(anyContains(warnings, c.why)) << c.body;
    EXPECT_TRUE(anyContains(warnings, "test.conf:1: entry skipped")) << c.body;
  }
}

TEST_F(RegistrationFormat, MalformedHeadersSkipTheirSection) {
  for (const std::string header :
       {"[5EED0501-0000-0000-0000-000000000001]", "[{5EED0501-0000-0000-0000-00000000000}]",
        "[{5EED0501-0000-0000-0000-000000000001}", "[]", "[{not a class}]"}) {
    std::vector<std::string> warnings;
    const auto classes =
        parse(header + "\nProgID = Lost.1\n[" + kClassB + "]\nProgID = Kept.1\n", warnings);
    ASSERT_EQ(classes.size(), 1u) << header;
    EXPECT_EQ(classes[0].progId, u"Kept.1");
    EXPECT_TRUE(anyContains(warnings, "not a class id in braces")) << header;
  }
}

TEST_F(RegistrationFormat, NoticesThatDoNotSkipAnything) {
  std::vector<std::string> warnings;
  const auto classes =
      parse(std::string("Stray = value\n[") + kClassA + "]\nColour = blue\nProgID = First.1\n[" +
                kClassA + "]\nProgID = Second.1\n",
            warnings);
  ASSERT_EQ(classes.size(), 1u);
  EXPECT_EQ(classes[0].progId, u"Second.1");  // the later section counts
  EXPECT_TRUE(anyContains(warnings, "outside a class section"));
  EXPECT_TRUE(anyContains(warnings, "unknown key 'colour' ignored"));
  EXPECT_TRUE(anyContains(warnings, "given again"));
}

TEST_F(RegistrationFormat, HostileContentNeverBreaksTheReader) {
  std::vector<std::string> warnings;
  EXPECT_TRUE(
      parse(std::string("[") + kClassA + std::string("]\nProgID=X\0Y\n", 14), warnings).empty());
  EXPECT_TRUE(anyContains(warnings, "not a text file"));

  std::string noise;
  for (int i = 0; i < 20000; ++i) noise += char(1 + (i * 7919) % 255);
  warnings.clear();
  parse(noise, warnings);
  for (const auto& w : warnings) EXPECT_LT(w.size(), 300u);  // excerpts stay short

  // A file of faults reports a few and counts the rest, whatever its length.
  std::string faults;
  for (std::size_t i = 0; i < kMaxRegistrationFileSize / 2; ++i) faults += "x\n";
  warnings.clear();
  parse(faults, warnings);
  ASSERT_EQ(warnings.size(), kMaxWarningsPerRegistrationFile + 1);
  EXPECT_EQ(warnings.back(),
            "/etc/xdg/veze6/servers.d/test.conf: " +
                std::to_string(faults.size() / 2 - kMaxWarningsPerRegistrationFile) +
                " more warnings not shown");

  warnings.clear();
  const std::string longValue(100000, 'x');
  const auto classes =
      parse(std::string("[") + kClassA + "]\nUserType=" + longValue + "\n[[[\n=\n", warnings);
  ASSERT_EQ(classes.size(), 1u);
  EXPECT_EQ(classes[0].userType.size(), longValue.size());
}

// The parser's fuzz corpus: every saved text parses within the limits, and
// what it names writes back as a file that parses to the same classes
// (registrationfile_entry.h).
TEST_F(RegistrationFormat, EverySavedFuzzInputParsesAndWritesBack) {
  std::size_t inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VEZE6_REGISTRATION_CORPUS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(veze6fuzz::RunRegistrationFile(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                             bytes.size()),
              "")
        << entry.path().filename();
    ++inputs;
  }
  EXPECT_GE(inputs, 4u) << "corpus missing at " << VEZE6_REGISTRATION_CORPUS;
}

// ---- Folders -------------------------------------------------------------------

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

TEST_F(RegistrationFolders, SystemFoldersMostImportantLastThenTheUser) {
  ScopedEnv dirs("XDG_CONFIG_DIRS", "/first:relative/ignored:/second:");
  ScopedEnv home("XDG_CONFIG_HOME", "/users/ann/.cfg");
  EXPECT_EQ(registrationFolders(),
            (std::vector<std::filesystem::path>{"/second/veze6/servers.d", "/first/veze6/servers.d",
                                                "/users/ann/.cfg/veze6/servers.d"}));
}

TEST_F(RegistrationFolders, Defaults) {
  ScopedEnv dirs("XDG_CONFIG_DIRS", nullptr);
  ScopedEnv home("XDG_CONFIG_HOME", "not/absolute");
  ScopedEnv user("HOME", "/users/bob");
  EXPECT_EQ(registrationFolders(),
            (std::vector<std::filesystem::path>{"/etc/xdg/veze6/servers.d",
                                                "/users/bob/.config/veze6/servers.d"}));
  ScopedEnv noHome("HOME", nullptr);
  ScopedEnv emptyDirs("XDG_CONFIG_DIRS", "");
  EXPECT_EQ(registrationFolders(),
            (std::vector<std::filesystem::path>{"/etc/xdg/veze6/servers.d"}));
}

// ---- Through the class registry ----------------------------------------------------

class RegistrationFiles : public LeakCheckedTest {
 protected:
  static std::string section(const char* clsid, const std::string& progId,
                             const std::string& userType, const std::string& extra = "") {
    return std::string("[") + clsid + "]\nProgID=" + progId + "\nUserType=" + userType + "\n" +
           extra;
  }

  ConfigFolders config;
  ClassRegistry& reg = ClassRegistry::instance();
};

TEST_F(RegistrationFiles, UserEntriesOverrideSystemOnesAndTheFirstSystemFolderWins) {
  config.write("sys2", "a.conf", section(kClassA, "Sys2.A", "from sys2", "OPC=1\n"));
  config.write("sys1", "a.conf", section(kClassA, "Sys1.A", "from sys1", "OPC=1\n"));
  config.write("sys2", "b.conf", section(kClassB, "Sys2.B", "from sys2"));
  EXPECT_TRUE(config.reload().empty());
  EXPECT_EQ(reg.find(kA)->userType, u"from sys1");
  EXPECT_EQ(reg.find(kB)->userType, u"from sys2");

  config.write("home", "mine.conf", section(kClassA, "Mine.A", "from home", "OPC=1\n"));
  config.reload();
  EXPECT_EQ(reg.find(kA)->userType, u"from home");
  EXPECT_EQ(reg.findProgId(u"mine.a"), kA);
  EXPECT_FALSE(reg.findProgId(u"Sys1.A"));  // replaced entries keep no ProgID
}

TEST_F(RegistrationFiles, AProgIdOfTheUserWinsOverTheSameProgIdOfTheSystem) {
  config.write("sys1", "a.conf", section(kClassA, "Shared.Name", "system"));
  config.write("home", "b.conf", section(kClassB, "Shared.Name", "user"));
  config.reload();
  EXPECT_EQ(reg.findProgId(u"Shared.Name"), kB);
}

TEST_F(RegistrationFiles, CodeRegistrationsHideFileEntries) {
  config.write("home", "a.conf", section(kClassA, "File.A", "file"));
  config.reload();
  reg.registerClass({kA, u"Code.A", u"code", {}, false, {}});
  EXPECT_EQ(reg.find(kA)->userType, u"code");
  EXPECT_FALSE(reg.findProgId(u"File.A"));
  const auto all = reg.entries();
  EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const auto& e) { return e.clsid == kA; }), 1);
  reg.unregisterClass(kA);
  EXPECT_EQ(reg.find(kA)->userType, u"file");  // the file entry shows again
}

TEST_F(RegistrationFiles, OnlyVisibleConfFilesAreReadAndReloadFollowsChanges) {
  config.write("home", "a.conf", section(kClassA, "A.1", "a"));
  config.write("home", "b.conf.bak", section(kClassB, "B.1", "b"));
  config.write("home", ".hidden.conf", section(kClassB, "B.1", "b"));
  config.reload();
  EXPECT_TRUE(reg.find(kA));
  EXPECT_FALSE(reg.find(kB));

  std::filesystem::remove(config.folder("home") / "a.conf");
  config.write("home", "b.conf", section(kClassB, "B.1", "b"));
  config.reload();
  EXPECT_FALSE(reg.find(kA));
  EXPECT_TRUE(reg.find(kB));
}

TEST_F(RegistrationFiles, UnreadableFilesAreSkippedWithAWarning) {
  config.write("home", "big.conf", std::string(kMaxRegistrationFileSize + 1, '#'));
  config.write("home", "binary.conf", std::string("[\0\0\0]", 6));
  config.write("home", "good.conf", section(kClassA, "A.1", "a"));
  std::filesystem::create_directories(config.folder("home") / "folder.conf");
  const auto warnings = config.reload();
  EXPECT_TRUE(config.warned({"big.conf", "larger than"}));
  EXPECT_TRUE(config.warned({"binary.conf", "not a text file"}));
  EXPECT_EQ(warnings.size(), 2u);
  EXPECT_TRUE(reg.find(kA));
}

TEST_F(RegistrationFiles, ListedByTheServerListWithTheirCategories) {
  config.write("home", "servers.conf",
               section(kClassA, "Files.Da", "DA server", "Categories=DA10,DA20\nOPC=1\n") +
                   section(kClassB, "Files.Ae", "AE server", "Categories=AE10\n"));
  config.reload();
  ComPtr<IOPCServerList> list;
  ASSERT_EQ(CoCreateInstance(CLSID_OPCServerList, nullptr, CLSCTX_ALL, IID_IOPCServerList,
                             list.putVoid()),
            S_OK);
  CATID da20 = CATID_OPCDAServer20;
  ComPtr<IEnumGUID> e;
  ASSERT_EQ(list->EnumClassesOfCategories(1, &da20, 0, nullptr, e.put()), S_OK);
  std::vector<CLSID> found;
  GUID g{};
  while (e->Next(1, &g, nullptr) == S_OK) found.push_back(g);
  EXPECT_NE(std::find(found.begin(), found.end(), kA), found.end());
  EXPECT_EQ(std::find(found.begin(), found.end(), kB), found.end());

  TaskString progId, userType;
  ASSERT_EQ(list->GetClassDetails(kB, progId.put(), userType.put()), S_OK);
  EXPECT_EQ(str(progId.get()), u"Files.Ae");
  EXPECT_EQ(str(userType.get()), u"AE server");
  EXPECT_TRUE(reg.find(kA)->opcMarker);
  EXPECT_FALSE(reg.find(kB)->opcMarker);
}

TEST_F(RegistrationFiles, AClassWithoutModuleIsListedButNotCreatable) {
  config.write("home", "a.conf", section(kClassA, "Listed.Only", "listed"));
  config.reload();
  ComPtr<IUnknown> unk;
  EXPECT_EQ(CoCreateInstance(kA, nullptr, CLSCTX_ALL, IID_IUnknown, unk.putVoid()),
            CO_E_SERVER_EXEC_FAILURE);
  EXPECT_FALSE(unk);
}

TEST_F(RegistrationFiles, EndpointClassesAreMadeByTheFactoryOfTheirScheme) {
  config.write("home", "ua.conf",
               std::string("[") + kClassA +
                   "]\nProgID = Plant.UA.1\nEndpoint = test.tcp://plant:4840/x\n"
                   "SecurityPolicy = Basic256Sha256\nUser = operator\nPasswordFile = op.pw\n"
                   "[" +
                   kClassB +
                   "]\nModule = /opt/x.so\nEndpoint = test.tcp://other\n"
                   "[{5EED0503-0000-0000-0000-000000000001}]\nUser = nobody\n"
                   "[{5EED0504-0000-0000-0000-000000000001}]\nEndpoint = not a url\n");
  const auto warnings = config.reload();
  EXPECT_TRUE(anyContains(warnings, "either a Module or an Endpoint"));
  EXPECT_TRUE(anyContains(warnings, "security settings without an Endpoint"));
  EXPECT_TRUE(anyContains(warnings, "is not a URL"));
  auto& reg = ClassRegistry::instance();
  ASSERT_TRUE(reg.find(kA));
  EXPECT_FALSE(reg.find(kB));
  EXPECT_TRUE(reg.find(kA)->opcMarker) << "a network server is a DA server by default";
  EXPECT_EQ(reg.find(kA)->categories,
            (std::vector<CATID>{CATID_OPCDAServer10, CATID_OPCDAServer20}));

  ComPtr<IUnknown> unk;
  EXPECT_EQ(CoCreateInstance(kA, nullptr, CLSCTX_ALL, IID_IUnknown, unk.putVoid()),
            REGDB_E_CLASSNOTREG)
      << "no factory for the scheme yet";
  EXPECT_FALSE(isEndpointUrl("test.tcp://plant:4840/x"));
  EndpointSettings seen;
  registerEndpointScheme("TEST.tcp", [&](const EndpointSettings& s, REFIID, void**) {
    seen = s;
    return E_ACCESSDENIED;
  });
  EXPECT_TRUE(isEndpointUrl("Test.Tcp://anywhere"));
  EXPECT_FALSE(isEndpointUrl("Plant.UA.1"));
  EXPECT_EQ(CoCreateInstance(kA, nullptr, CLSCTX_ALL, IID_IUnknown, unk.putVoid()), E_ACCESSDENIED);
  EXPECT_EQ(seen.url, "test.tcp://plant:4840/x");
  EXPECT_EQ(seen.securityPolicy, "Basic256Sha256");
  EXPECT_EQ(seen.user, "operator");
  EXPECT_TRUE(seen.passwordFile.is_absolute());
  EXPECT_EQ(seen.passwordFile.filename(), "op.pw");
  unregisterEndpointScheme("test.tcp");
}

}  // namespace
}  // namespace opc::test
