#include "warnings.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace opc {

namespace {

std::mutex g_warnMutex;
WarningHandler g_warnHandler;  // guarded by g_warnMutex; empty: standard error

}  // namespace

WarningHandler setWarningHandler(WarningHandler handler) {
  std::lock_guard lock(g_warnMutex);
  return std::exchange(g_warnHandler, std::move(handler));
}

void warn(const std::string& message) {
  WarningHandler handler;
  {
    std::lock_guard lock(g_warnMutex);
    handler = g_warnHandler;
  }
  if (handler) {
    handler(message);
  } else {
    std::fprintf(stderr, "veze6: %s\n", message.c_str());
  }
}

}  // namespace opc
