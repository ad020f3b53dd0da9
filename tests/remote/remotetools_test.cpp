// The tools and components that take a computer name, against a real qopcd:
// qopc's --computer, and a ProgID only the other computer knows.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTextStream>

#include "commands.h"
#include "common/leakcheck.h"
#include "common/qopcrun.h"
#include "core/qOPC.h"
#include "core/qtapartment.h"
#include "hostfixture.h"
#include "qopcdprocess.h"

namespace veze6::test {
namespace {

class RemoteTools : public LeakCheckedTest {
 protected:
  void SetUp() override {
    installQtApartment();
    ASSERT_TRUE(daemon.start()) << daemon.log().toStdString();
  }
  QopcdProcess daemon;
};

TEST_F(RemoteTools, QopcStatusServersAndReadReachTheDaemon) {
  auto r = runQopc({"status", "--computer", daemon.computerName()});
  EXPECT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains(daemon.computerName())) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("running")) << r.out.toStdString();

  r = runQopc({"servers", "--computer", daemon.computerName()});
  EXPECT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains("Veze6.Simulation.1")) << r.out.toStdString();

  r = runQopc({"read", "--computer", daemon.computerName(), "Static.Int4"});
  EXPECT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains("Static.Int4")) << r.out.toStdString();

  // A daemon that stops answering ends the command with the reason.
  {
    const CallTimeLimit shortLimit(std::chrono::milliseconds(300));
    daemon.freeze();
    r = runQopc({"status", "--computer", daemon.computerName()});
    daemon.resume();
    EXPECT_EQ(r.code, qopc::kFailed);
    EXPECT_TRUE(r.err.contains("timeout period expired")) << r.err.toStdString();
  }
  // Every object qopc made there was released when it ended.
  EXPECT_TRUE(pumpUntil([&] {
    return daemon.count("created") > 0 && daemon.count("created") == daemon.count("released");
  })) << daemon.log().toStdString();
  // The proxies qopc dropped are deleted on the RPC thread, a moment later.
  EXPECT_TRUE(pumpUntil([&] { return leaks_.balanced(); }));
}

TEST_F(RemoteTools, AProgIdOnlyTheOtherComputerKnowsIsResolvedThere) {
  sim::unregisterSimulationServer();
  {
    TqOPCServer server;
    server.SetComputername(daemon.computerName());
    server.SetServer(QStringLiteral("Veze6.Simulation.1"));
    server.SetActive(true);
    EXPECT_TRUE(server.Active());
    if (server.Active()) {
      EXPECT_EQ(server.GetStatus().dwServerState, OPC_STATUS_RUNNING);
    }
    // Unknown there as well: the component's own "no server" fault.
    TqOPCServer unknown;
    unknown.SetComputername(daemon.computerName());
    unknown.SetServer(QStringLiteral("No.Such.Server"));
    EXPECT_THROW(unknown.SetActive(true), Exception);
  }
  sim::registerSimulationServer();
  EXPECT_TRUE(pumpUntil([&] { return leaks_.balanced(); }));
}

}  // namespace
}  // namespace veze6::test
