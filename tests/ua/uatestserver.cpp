#include "uatestserver.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace veze6test {

namespace {

std::string gSkipReason;
std::unique_ptr<UaTestServer> gShared;

bool nodeAvailable() { return std::system("node --version >/dev/null 2>&1") == 0; }

class StopSharedServer : public ::testing::Environment {
 public:
  void TearDown() override { gShared.reset(); }
};
const auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new StopSharedServer);

}  // namespace

std::string testNode(const std::string& name) { return "ns=2;s=" + name; }

std::string UaTestServer::scriptPath() {
  if (const char* p = std::getenv("VEZE6_UA_TESTSERVER")) return p;
  return VEZE6_UA_TESTSERVER_SCRIPT;
}

const std::string& UaTestServer::skipReason() { return gSkipReason; }

UaTestServer* UaTestServer::shared() {
  static bool tried = false;
  if (!tried) {
    tried = true;
    const std::filesystem::path script = scriptPath();
    if (!nodeAvailable())
      gSkipReason = "node is not installed (scripts/bootstrap.sh installs it)";
    else if (!std::filesystem::exists(script.parent_path() / "node_modules" / "node-opcua"))
      gSkipReason = "node-opcua is not installed: run npm ci in " + script.parent_path().string();
    else
      gShared = std::make_unique<UaTestServer>();
  }
  return gShared.get();
}

int UaTestServer::freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

UaTestServer::UaTestServer(const std::vector<std::string>& extraArguments) {
  port_ = freePort();
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return;
  }
  std::vector<std::string> args = {"node", scriptPath(), "--port", std::to_string(port_)};
  args.insert(args.end(), extraArguments.begin(), extraArguments.end());
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execvp("node", argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  stdinFd_ = in[1];
  // Wait for "ready <url>" on the server's standard output.
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (url_.empty()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{out[0], POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0) {
      error_ = "the test server did not get ready: " + text;
      break;
    }
    char buffer[512];
    const ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n <= 0) {
      error_ = "the test server ended: " + text;
      break;
    }
    text.append(buffer, std::size_t(n));
    for (std::size_t at = 0; (at = text.find("ready ", at)) != std::string::npos; ++at) {
      const auto end = text.find('\n', at);
      if (end == std::string::npos) break;
      if (at == 0 || text[at - 1] == '\n') {
        url_ = text.substr(at + 6, end - at - 6);
        break;
      }
    }
  }
  ::close(out[0]);
  if (url_.empty()) stop();
}

void UaTestServer::stop() {
  if (stdinFd_ >= 0) ::close(stdinFd_);
  stdinFd_ = -1;
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  pid_ = -1;
}

UaTestServer::~UaTestServer() { stop(); }

}  // namespace veze6test
