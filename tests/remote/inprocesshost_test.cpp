// Remote creation and calls against a host in this process.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace veze6::test
