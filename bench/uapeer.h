// What the UA benchmarks share: the node-opcua test server with its bank of
// 10,000 variables, started once per program, and the figures of node-opcua's
// own client (peerbench.js) measured on the same server in the same run.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "testserver_process.h"

namespace veze6bench {

inline constexpr int kBankSize = 10000;

/// The server with the bank, started on first use; null when it did not start.
inline veze6test::TestServerProcess* bankServer() {
  static std::unique_ptr<veze6test::TestServerProcess> server = [] {
    veze6test::TestServerProcess::Options o;
    o.arguments = {"--bank", std::to_string(kBankSize)};
    return std::make_unique<veze6test::TestServerProcess>(o);
  }();
  return server->running() ? server.get() : nullptr;
}

/// Runs the peer benchmark script and returns the number after `key`
/// (-1 when it printed none).
inline double peerFigure(const std::string& arguments, const std::string& key) {
  const std::string command = std::string(VEZE6_NODE_EXECUTABLE) + " " + VEZE6_UA_PEERBENCH_SCRIPT +
                              " " + arguments + " 2>/dev/null";
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return -1;
  char line[256];
  double value = -1;
  while (std::fgets(line, sizeof line, p)) {
    const std::string text(line);
    if (text.rfind(key + " ", 0) == 0) value = std::atof(text.c_str() + key.size() + 1);
  }
  ::pclose(p);
  return value;
}

}  // namespace veze6bench
