// A host serving this process's class registry on a free loopback port, and
// remote creation through it.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "common/leakcheck.h"
#include "common/pump.h"
#include "opc/classregistry.h"
#include "opc/remote/host.h"
#include "opc/taskmem.h"
#include "simulator/registration.h"

namespace veze6::test {

/// Lines a host logged, collected from its thread.
class HostLog {
 public:
  void add(const std::string& line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
  }
  std::size_t count(const std::string& part) const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& l : lines_) n += l.find(part) != std::string::npos;
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

/// Creates clsid on the computer `computer` names, asking for I.
template <class I>
HRESULT createOn(const std::u16string& computer, REFCLSID clsid, ComPtr<I>& out) {
  opc::Bstr name(computer);
  COSERVERINFO info{0, name.get(), nullptr, 0};
  MULTI_QI request{&I::iid(), nullptr, S_OK};
  const HRESULT hr = CoCreateInstanceEx(clsid, nullptr, CLSCTX_REMOTE_SERVER, &info, 1, &request);
  out = ComPtr<I>::attach(static_cast<I*>(request.pItf));
  return FAILED(hr) ? hr : request.hr;
}

/// A fixture with a host in this process; at the end every object a client
/// made (on both sides) is gone.
class InProcessHostTest : public LeakCheckedTest {
 protected:
  static void SetUpTestSuite() { sim::registerSimulationServer(); }

  void SetUp() override {
    opc::remote::HostOptions options;
    options.port = 0;
    options.log = [this](const std::string& line) { log.add(line); };
    host = std::make_unique<opc::remote::Host>(options);
    ASSERT_EQ(host->listen(), S_OK) << host->errorText();
    computer = u"127.0.0.1:" + opc::utf8ToUtf16(std::to_string(host->port()));
  }

  void TearDown() override {
    // The host lets go of what the clients held once their releases arrive.
    EXPECT_TRUE(pumpUntil([&] { return leaks_.balanced(); }));
    host.reset();
  }

  HostLog log;
  std::unique_ptr<opc::remote::Host> host;
  std::u16string computer;
};

}  // namespace veze6::test
