#include "uatestserver.h"

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace veze6test {

namespace {

std::string gSkipReason;
std::unique_ptr<TestServerProcess> gShared;

class StopSharedServer : public ::testing::Environment {
 public:
  void TearDown() override { gShared.reset(); }
};
const auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new StopSharedServer);

}  // namespace

std::string testNode(const std::string& name) { return "ns=2;s=" + name; }

const std::string& uaServerSkipReason() { return gSkipReason; }

TestServerProcess* sharedUaServer() {
  static bool tried = false;
  if (!tried) {
    tried = true;
    TestServerProcess::Options options;
    const std::filesystem::path script = options.script;
    const std::string probe = options.node + " --version >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0)
      gSkipReason = "node is not installed (scripts/bootstrap.sh installs it)";
    else if (!std::filesystem::exists(script.parent_path() / "node_modules" / "node-opcua"))
      gSkipReason = "node-opcua is not installed: run npm ci in " + script.parent_path().string();
    else
      gShared = std::make_unique<TestServerProcess>(options);
  }
  return gShared.get();
}

}  // namespace veze6test
