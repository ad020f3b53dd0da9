// qopc run in-process against the built-in simulation server.
#include <gtest/gtest.h>

#include "commands.h"

namespace {

struct Result {
  int code;
  QString out;
  QString err;
};

Result runQopc(const QStringList& args) {
  QString out, err;
  QTextStream o(&out), e(&err);
  const int code = qopc::run(args, qopc::Io{o, e});
  o.flush();
  e.flush();
  return {code, out, err};
}

TEST(Qopc, Status_PrintsTheSimulationServersStatus) {
  const auto r = runQopc({"status"});
  EXPECT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains("Server:       Veze6.Simulation.1 on this computer"));
  EXPECT_TRUE(r.out.contains("State:        running"));
  EXPECT_FALSE(r.out.contains("Start time:   -")) << "the simulator reports a real start time";
  EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
}

TEST(Qopc, Status_UnknownServerFailsWithTheReason) {
  const auto r = runQopc({"status", "--server", "No.Such.Server"});
  EXPECT_EQ(r.code, qopc::kFailed);
  EXPECT_TRUE(r.err.contains("first define servername")) << r.err.toStdString();
}

TEST(Qopc, Status_UnreachableComputerFailsWithTheSystemText) {
  const auto r = runQopc({"status", "--computer", "plant-floor-7"});
  EXPECT_EQ(r.code, qopc::kFailed);
  EXPECT_TRUE(r.err.contains("The RPC server is unavailable.")) << r.err.toStdString();
}

TEST(Qopc, UsageErrors) {
  EXPECT_EQ(runQopc({}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"frobnicate"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"status", "--bogus"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"status", "--help"}).code, qopc::kOk);
}

}  // namespace
