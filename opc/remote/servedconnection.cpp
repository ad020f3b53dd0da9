#include <capnp/rpc-twoparty.h>
#include <kj/async-io.h>
#include <openssl/crypto.h>
#include <unistd.h>

#include "opc/remote/hostserver_p.h"
#include "opc/remote/remoteruntime.h"
#include "opc/remote/rpcloop.h"
#include "opc/remote/servedconnection_p.h"
#include "opc/remote/transportsecurity_p.h"

namespace opc::remote {

namespace {

/// How long a client may take to show its credentials.
constexpr auto kAdmissionTimeout = 10 * kj::SECONDS;

/// How long the end of a connection waits for other threads (a server's
/// worker in a call) to let go of the client's callbacks they still hold;
/// what is held longer is left to the process's end.
constexpr std::chrono::seconds kSettleLimit{30};

}  // namespace

ServedConnection::ServedConnection(Setup setup) : loop_(RpcLoop::make()) {
  const int fd = setup.fd;
  try {
    thread_ = std::thread([this, setup = std::move(setup)]() mutable { run(std::move(setup)); });
  } catch (...) {
    ::close(fd);  // the thread never took it
    throw;
  }
}

ServedConnection::~ServedConnection() {
  close();
  if (thread_.joinable()) thread_.join();
}

void ServedConnection::close() { loop_->quit(); }

void ServedConnection::run(Setup setup) {
  RemoteRuntime::blockPipeSignal();
  RpcLoop& loop = *loop_;
  const auto connection = std::make_shared<HostConnection>(setup.id, setup.peer, setup.log);
  kj::Own<kj::AsyncIoStream> stream;
  kj::Own<capnp::TwoPartyClient> rpc;
  bool served = false;
  bool refused = false;

  // A client that was refused gets only refusals.
  const auto serve = [&](kj::Own<kj::AsyncIoStream> s, const std::string& line, bool refusal) {
    connection->log(line);
    stream = kj::mv(s);
    refused = refusal;
    rpc = kj::heap<capnp::TwoPartyClient>(
        *stream, refusal ? makeRefusingHostServer() : makeHostServer(connection),
        capnp::rpc::twoparty::Side::SERVER);
    served = true;
    setup.served->fetch_add(1);
    // Closed or reset, the connection ends; not from inside its own
    // continuation (quit is a posted task).
    loop.tasks().add(rpc->onDisconnect().then([&loop] { loop.quit(); },
                                              [&loop](kj::Exception&&) { loop.quit(); }));
  };

  const auto start = [&] {
    auto accepted = loop.io().lowLevelProvider->wrapSocketFd(
        setup.fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP |
                      kj::LowLevelAsyncIoProvider::ALREADY_CLOEXEC |
                      kj::LowLevelAsyncIoProvider::ALREADY_NONBLOCK);
    if (!setup.security) {
      serve(kj::mv(accepted), "connected", false);
      return;
    }
    auto& timer = loop.io().provider->getTimer();
    loop.tasks().add(setup.security->admit(kj::mv(accepted), timer, kAdmissionTimeout)
                         .then([&](HostSecurity::Admission admission) {
                           if (admission.admitted) {
                             serve(kj::mv(admission.stream), "connected: " + admission.text, false);
                           } else if (admission.stream) {
                             serve(kj::mv(admission.stream), "refused: " + admission.text, true);
                           } else {
                             connection->log("refused: " + admission.text);
                             loop.quit();
                           }
                         }));
  };

  const auto finish = [&] {
    // The client's capabilities go, and with them its objects.
    rpc = nullptr;
    stream = nullptr;
    loop.settle([] { return true; }, std::chrono::milliseconds(0));  // what that let go of
    if (served) {
      setup.served->fetch_sub(1);
      if (!refused) connection->log("closed");
    }
    // A server's other thread may still hold a callback of the client for
    // a moment; it is released here, while the loop still exists.
    loop.settle([&loop] { return loop.ownedCount() == 0; }, kSettleLimit);
    if (const auto left = loop.ownedCount()) {
      connection->log(std::to_string(left) + " callback(s) still held by a server, left");
    }
  };

  loop.run(start, finish);
  OPENSSL_thread_stop();
  if (setup.ended) setup.ended();
}

}  // namespace opc::remote
