// Internal to the remote transport; not API.
//
// One client connection of a host, served on a thread of its own that runs
// a loop of its own. The loop is also the apartment of the servers the
// client makes: the stubs call them there, their callbacks are delivered
// there, and a server that blocks holds up this client only. The thread
// ends, releasing everything the client held, when the connection closes or
// the host ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "opc/remote/hostconnection_p.h"

namespace opc::remote {

class HostSecurity;
class RpcLoop;

class ServedConnection {
 public:
  struct Setup {
    std::uint64_t id = 0;
    std::string peer;
    HostConnection::Log log;
    /// The host's TLS admission; null without TLS.
    std::shared_ptr<HostSecurity> security;
    /// The accepted socket, taken over.
    int fd = -1;
    /// The host's count of connections served: one more while this one is.
    std::atomic<std::size_t>* served = nullptr;
    /// Called on the connection's thread as its last step.
    std::function<void()> ended;
  };

  /// Throws std::system_error when no thread can be started (the socket is
  /// closed then).
  explicit ServedConnection(Setup setup);
  /// Ends the connection (if the thread has not already) and waits for its
  /// thread; a server call in progress is waited for.
  ~ServedConnection();
  ServedConnection(const ServedConnection&) = delete;
  ServedConnection& operator=(const ServedConnection&) = delete;

  /// Ends the connection; any thread.
  void close();

 private:
  void run(Setup setup);

  std::shared_ptr<RpcLoop> loop_;
  std::thread thread_;
};

}  // namespace opc::remote
