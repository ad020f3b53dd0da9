// A host: listens for clients and serves them the classes of this process's
// class registry. What qopcd runs, and what tests start in-process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "opc/comtypes.h"
#include "opc/opcexport.h"
#include "opc/remote/transportoptions.h"

namespace opc::remote {

struct HostOptions {
  /// The address to listen on; loopback unless configured otherwise.
  std::string address = "127.0.0.1";
  /// 0: any free port (see Host::port()).
  std::uint16_t port = kDefaultPort;
  /// One line per connection, object creation and release; called on the
  /// threads that serve the connections, several at once.
  std::function<void(const std::string&)> log;
  /// Without TLS a host listens on a loopback address only.
  HostTlsOptions tls;
};

class VEZE6_OPC_EXPORT Host {
 public:
  explicit Host(HostOptions options = {});
  /// Stops listening and closes every connection: what the clients held is
  /// released.
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  /// Starts listening; on failure errorText() says why.
  HRESULT listen();
  std::uint16_t port() const;
  std::string errorText() const;
  /// Clients connected now.
  std::size_t connectionCount() const;

  /// This computer's name, as the host tells its clients.
  static std::string computerName();

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace opc::remote
