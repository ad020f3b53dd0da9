// A link cut while a client is connected, across network namespaces: qopcd
// runs in a namespace of its own behind a veth pair the test makes, reached
// over TLS (its address is not loopback), and the test takes the link down.
// Both ends must notice on their own, by the sockets' keepalive settings.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>

#include "common/leakcheck.h"
#include "common/sinks.h"
#include "core/qOPC.h"
#include "core/qtapartment.h"
#include "hostfixture.h"
#include "qopcdprocess.h"
#include "testcerts.h"

namespace veze6::test {
namespace {

bool sh(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

/// A namespace and a veth pair between it and this one, removed at the end.
class NetworkNamespace {
 public:
  NetworkNamespace() {
    const int index = ::getpid() % 16384;
    const std::string net =
        "10." + std::to_string(128 + (index >> 8)) + "." + std::to_string(index & 255) + ".";
    name = "veze6t" + std::to_string(::getpid());
    outer_ = "v6a" + std::to_string(::getpid());
    inner_ = "v6b" + std::to_string(::getpid());
    localAddress = net + "1";
    address = net + "2";
    ok_ = sh("ip netns add " + name) &&
          sh("ip link add " + outer_ + " type veth peer name " + inner_) &&
          sh("ip link set " + inner_ + " netns " + name) &&
          sh("ip addr add " + localAddress + "/30 dev " + outer_) &&
          sh("ip link set " + outer_ + " up") &&
          sh(in("ip addr add " + address + "/30 dev " + inner_)) &&
          sh(in("ip link set " + inner_ + " up")) && sh(in("ip link set lo up"));
  }
  ~NetworkNamespace() {
    sh("ip netns del " + name);
    sh("ip link del " + outer_);
  }
  bool ok() const { return ok_; }
  /// Takes this side of the link down: nothing passes any more, and neither
  /// end is told.
  bool cut() { return sh("ip link set " + outer_ + " down"); }
  QStringList wrapper() const {
    return {"/usr/bin/env", "ip", "netns", "exec", QString::fromStdString(name)};
  }

  std::string name, localAddress, address;

 private:
  std::string in(const std::string& command) const {
    return "ip netns exec " + name + " " + command;
  }
  std::string outer_, inner_;
  bool ok_ = false;
};

class LinkCut : public LeakCheckedTest {
 protected:
  void SetUp() override {
    installQtApartment();
    if (::geteuid() != 0 || !sh("command -v ip")) {
      GTEST_SKIP() << "network namespaces need root and iproute2's ip; not available here";
    }
    net = std::make_unique<NetworkNamespace>();
    if (!net->ok()) {
      GTEST_SKIP() << "cannot make a network namespace with a veth pair here (ip netns add, ip "
                      "link add ... type veth)";
    }
    certs = std::make_unique<TestCerts>("IP:" + net->address);
    ASSERT_TRUE(certs->ok()) << "the openssl command could not make the test certificates";
  }

  std::unique_ptr<NetworkNamespace> net;
  std::unique_ptr<TestCerts> certs;
};

TEST_F(LinkCut, BothEndsNoticeWithinTenSeconds) {
  QopcdProcess daemon;
  ASSERT_TRUE(daemon.start({"--listen", QString::fromStdString(net->address), "--tls-cert",
                            QString::fromStdString(certs->crt("host")), "--tls-key",
                            QString::fromStdString(certs->key("host")), "--client-ca",
                            QString::fromStdString(certs->crt("ca"))},
                           net->wrapper()))
      << daemon.log().toStdString();
  ClientFiles files(certs->crt("ca"), certs->crt("client"), certs->key("client"));

  int shutdowns = 0;
  const auto sink = opc::makeCom<ShutdownSink>();
  {
    TqOPCServer server;
    server.OnServerShutdown = [&](QObject*, const QString&) { ++shutdowns; };
    server.SetComputername(daemon.computerName());
    server.SetServer(QStringLiteral("Veze6.Simulation.1"));
    server.SetActive(true);
    ASSERT_TRUE(server.Active());
    // A second object, whose own shutdown sink hears the reason.
    ComPtr<IOPCServer> raw;
    ASSERT_EQ(createOn(daemon.computer(), sim::CLSID_Veze6Simulation, raw), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(
        raw.as<IConnectionPointContainer>()->FindConnectionPoint(IID_IOPCShutdown, point.put()),
        S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink.get(), &cookie), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return daemon.count("created Veze6.Simulation.1") == 2; }))
        << daemon.log().toStdString();

    ASSERT_TRUE(net->cut());
    const auto cut = std::chrono::steady_clock::now();
    const auto left = [&] {
      return std::chrono::duration_cast<std::chrono::milliseconds>(
          cut + std::chrono::seconds(10) - std::chrono::steady_clock::now());
    };
    EXPECT_TRUE(pumpUntil([&] { return shutdowns == 1 && !sink->reasons.empty(); }, left()))
        << "the client did not notice the cut";
    RecordProperty("client_noticed_ms",
                   std::to_string((std::chrono::seconds(10) - left()).count()));
    EXPECT_TRUE(pumpUntil([&] { return daemon.count("released Veze6.Simulation.1") == 2; }, left()))
        << "the host kept the client's objects:\n"
        << daemon.log().toStdString();
    RecordProperty("host_released_ms", std::to_string((std::chrono::seconds(10) - left()).count()));
    EXPECT_FALSE(server.Active());
    opc::TaskOut<OPCSERVERSTATUS> status;
    EXPECT_EQ(raw->GetStatus(status.put()), RPC_E_DISCONNECTED);
  }
  EXPECT_EQ(sink->reasons,
            std::vector<std::u16string>{u"connection to " + daemon.computer() + u" lost"});
  QCoreApplication::processEvents();
}

}  // namespace
}  // namespace veze6::test
