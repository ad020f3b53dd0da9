// The node-opcua test server as the suite's shared peer: started once on a
// free loopback port when a test first asks for it, stopped when the suite
// ends.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "testserver_process.h"

namespace veze6test {

/// The running shared server, or nullptr when node or the npm packages are
/// missing (uaServerSkipReason() says which).
TestServerProcess* sharedUaServer();
const std::string& uaServerSkipReason();

/// "ns=2;s=<name>" of the test server's namespace.
std::string testNode(const std::string& name);

}  // namespace veze6test

/// Skips the test when node or the packages are missing; fails it when the
/// server does not start.
#define VEZE6_REQUIRE_UA_SERVER(server)                           \
  auto* server = ::veze6test::sharedUaServer();                   \
  if (!server) GTEST_SKIP() << ::veze6test::uaServerSkipReason(); \
  ASSERT_TRUE(server->running()) << server->error() << server->serverErrors()
