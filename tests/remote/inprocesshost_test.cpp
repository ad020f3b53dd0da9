// Remote creation and calls against a host in this process.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "childprocess.h"
#include "hostfixture.h"
#include "opc/OPCCOMN.h"
#include "opc/OPCDA.h"
#include "opc/com.h"

namespace veze6::test {
namespace {

using InProcessHost = InProcessHostTest;

TEST_F(InProcessHost, CreatesTheServerThereAndCallsIt) {
  {
    ComPtr<IOPCServer> server;
    ASSERT_EQ(createOn(computer, sim::CLSID_Veze6Simulation, server), S_OK);
    ASSERT_TRUE(server);
    opc::TaskOut<OPCSERVERSTATUS> status;
    ASSERT_EQ(server->GetStatus(status.put()), S_OK);
    EXPECT_EQ(status.get()->dwServerState, OPC_STATUS_RUNNING);
    ASSERT_NE(status.get()->szVendorInfo, nullptr);
    EXPECT_FALSE(std::u16string_view(status.get()->szVendorInfo).empty());
    CoTaskMemFree(status.get()->szVendorInfo);

    // One proxy per object: a listed interface comes from the same proxy.
    const auto common = server.as<IOPCCommon>();
    ASSERT_TRUE(common);
    EXPECT_EQ(common.as<IOPCServer>().get(), server.get());
    EXPECT_EQ(common->SetClientName(u"remote test"), S_OK);
  }
  EXPECT_TRUE(pumpUntil([&] { return log.count("released Veze6.Simulation.1") == 1; }));
  EXPECT_EQ(log.count("created Veze6.Simulation.1"), 1u);
}

TEST_F(InProcessHost, UnknownClassAndUnreachableHostFail) {
  ComPtr<IOPCServer> server;
  EXPECT_EQ(createOn(computer, GUID{1, 2, 3, {4}}, server), REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(server);
  // Nothing listens on the port a closed host had.
  const std::u16string gone = computer;
  host.reset();
  EXPECT_EQ(createOn(gone, sim::CLSID_Veze6Simulation, server), HRESULT_RPC_S_SERVER_UNAVAILABLE);
  EXPECT_EQ(createOn(u"[::1", sim::CLSID_Veze6Simulation, server),
            HRESULT_RPC_S_SERVER_UNAVAILABLE);
}

TEST_F(InProcessHost, KilledClientProcess_HostReleasesWhatItHeld) {
  ChildProcess client(HOLDCLIENT_PATH, {opc::utf16ToUtf8(computer)});
  ASSERT_TRUE(pumpUntil([&] { return client.output().find("holding") != std::string::npos; },
                        std::chrono::seconds(20)));
  EXPECT_GT(opc::diag::snapshot().objects, leaks_.start().objects);
  client.stop(SIGKILL);
  // A closed connection frees at once what it held (the fixture checks that
  // every object is gone).
  const auto killed = std::chrono::steady_clock::now();
  ASSERT_TRUE(pumpUntil([&] { return log.count("closed") == 1; }));
  EXPECT_EQ(log.count("released Veze6.Simulation.1"), 1u);
  ASSERT_TRUE(pumpUntil([&] { return leaks_.balanced(); }));
  RecordProperty("release_ms", int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - killed)
                                       .count()));
}

TEST_F(InProcessHost, HundredConcurrentClients) {
  constexpr int kClients = 100;
  std::atomic<int> served{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&] {
      ComPtr<IOPCServer> server;
      if (FAILED(createOn(computer, sim::CLSID_Veze6Simulation, server))) return;
      opc::TaskOut<OPCSERVERSTATUS> status;
      if (server->GetStatus(status.put()) != S_OK) return;
      CoTaskMemFree(status.get()->szVendorInfo);
      ++served;
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(served.load(), kClients);
  EXPECT_TRUE(pumpUntil([&] { return log.count("closed") == kClients; }));
}

}  // namespace
}  // namespace veze6::test
