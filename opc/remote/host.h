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

namespace opc::remote {

/// The port a host listens on and clients connect to unless told otherwise.
inline constexpr std::uint16_t kDefaultPort = 4850;

/// 0x800B0109: the host's certificate does not chain to an authority the
/// client trusts.
inline constexpr HRESULT CERT_E_UNTRUSTEDROOT = static_cast<HRESULT>(0x800B0109);
/// 0x800B010F: the host's certificate is trusted but names another host.
inline constexpr HRESULT CERT_E_CN_NO_MATCH = static_cast<HRESULT>(0x800B010F);

/// TLS for a host that listens beyond loopback. Files are PEM; the
/// certificate file may hold the chain after the host's own certificate.
/// Clients are admitted by a certificate the authority issued or by the
/// SHA-256 fingerprint of their certificate (hex, colons allowed).
struct HostTlsOptions {
  std::string certificateFile;
  std::string keyFile;
  std::string clientAuthorityFile;
  std::vector<std::string> allowedFingerprints;
  bool enabled() const { return !certificateFile.empty() || !keyFile.empty(); }
};

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
