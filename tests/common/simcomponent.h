// The fixture of the tests that drive a server component against the
// simulation server: a fresh component per test, and at the end no server
// left alive and nothing leaked.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <memory>

#include "common/leakcheck.h"
#include "core/qOPC.h"
#include "simulator/simulator.h"

namespace veze6::test {

class SimComponentTest : public LeakCheckedTest {
 protected:
  static void SetUpTestSuite() { sim::registerSimulationServer(); }

  void SetUp() override { server = std::make_unique<TqOPCServer>(); }

  void TearDown() override {
    server.reset();
    // Deliveries still posted hold values until they run and find their
    // component gone.
    QCoreApplication::processEvents();
    EXPECT_EQ(sim::liveServerCount(), 0u) << "the component kept the server alive";
  }

  void connect(const QString& name = QStringLiteral("Veze6.Simulation.1")) {
    server->Connect(name);
    ASSERT_TRUE(server->Active());
  }

  /// The simulation server's control interface (the component must be
  /// connected).
  ComPtr<sim::SimulationControl> simControl() const {
    return server->GetOPCServer().as<sim::SimulationControl>();
  }

  std::unique_ptr<TqOPCServer> server;
};

}  // namespace veze6::test
