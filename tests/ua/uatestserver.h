// The node-opcua test server as the suite's peer: started once on a free
// loopback port when a test first asks for it, stopped when the suite ends.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace veze6test {

class UaTestServer {
 public:
  /// The running server, or nullptr when node or the npm packages are
  /// missing (skipReason() says which). Other start failures fail the test.
  static UaTestServer* shared();
  static const std::string& skipReason();

  /// Starts a server of its own (extra arguments for the script); empty url()
  /// when it did not start. Stops it on destruction.
  explicit UaTestServer(const std::vector<std::string>& extraArguments = {});
  ~UaTestServer();
  UaTestServer(const UaTestServer&) = delete;
  UaTestServer& operator=(const UaTestServer&) = delete;

  const std::string& url() const { return url_; }
  const std::string& error() const { return error_; }
  int port() const { return port_; }
  /// Stops the process now (SIGTERM, then waits for it).
  void stop();

  static std::string scriptPath();
  static int freePort();

 private:
  pid_t pid_ = -1;
  int stdinFd_ = -1;
  int port_ = 0;
  std::string url_;
  std::string error_;
};

/// "ns=2;s=<name>" of the test server's namespace.
std::string testNode(const std::string& name);

}  // namespace veze6test

/// Skips the test when the test server is not available.
#define VEZE6_REQUIRE_UA_SERVER(server)                                 \
  auto* server = ::veze6test::UaTestServer::shared();                   \
  if (!server) GTEST_SKIP() << ::veze6test::UaTestServer::skipReason(); \
  ASSERT_FALSE(server->url().empty()) << server->error()
