// Who may talk to a host: TLS on both ends and the host's admission of a
// client by its certificate. A host with TLS takes a client whose
// certificate chains to the configured authority or whose SHA-256
// fingerprint is on the allow-list; any other client is refused before a
// single object is made for it.
#pragma once

#include <kj/async-io.h>

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "opc/comtypes.h"
#include "opc/remote/remote.capnp.h"
#include "opc/remote/transportoptions.h"

using SSL_CTX = struct ssl_ctx_st;

namespace opc::remote {

/// A client's TLS files. TLS is used for every host once an authority to
/// check hosts against is configured.
struct ClientTlsFiles {
  std::string certificate;
  std::string key;
  std::string authority;
  bool enabled() const { return !authority.empty(); }
};

/// The files of this user: VEZE6_REMOTE_CERT, VEZE6_REMOTE_KEY and
/// VEZE6_REMOTE_CA name them one by one; otherwise client.crt, client.key and
/// ca.crt of the folder VEZE6_REMOTE_DIR names, by default
/// $XDG_CONFIG_HOME/veze6/remote (~/.config/veze6/remote). Files that do not
/// exist are left out.
ClientTlsFiles clientTlsFiles();

struct SecuredStream {
  HRESULT hr = S_OK;
  kj::Own<kj::AsyncIoStream> stream;
};

/// RPC thread: runs TLS over stream to host (its name or address, which the
/// host's certificate must name) and waits for the host's admission.
/// E_ACCESSDENIED when the host refuses this client, CERT_E_* when the host
/// is not the one it claims to be, HRESULT_RPC_S_SERVER_UNAVAILABLE for
/// anything else. Without TLS files the stream is passed through.
kj::Promise<SecuredStream> secureClientStream(kj::Own<kj::AsyncIoStream> stream,
                                              const ClientTlsFiles& files, const std::string& host);

/// Lower-case hex of a SHA-256 fingerprint as allow-lists write it; colons
/// and blanks are ignored. False when text is not 32 bytes of hex.
bool parseFingerprint(const std::string& text, std::array<std::uint8_t, 32>& out);

/// The host's side: its TLS context and the rules of admission.
class HostSecurity {
 public:
  /// Null with *error set when the settings cannot be used.
  static std::unique_ptr<HostSecurity> make(const HostTlsOptions& options, std::string* error);
  ~HostSecurity();
  HostSecurity(const HostSecurity&) = delete;
  HostSecurity& operator=(const HostSecurity&) = delete;

  struct Admission {
    /// The stream to serve: TLS when admitted; the bare one for a client
    /// without TLS, which is served only refusals; null when refused over TLS
    /// (it heard so and was closed).
    kj::Own<kj::AsyncIoStream> stream;
    bool admitted = false;
    /// Who the client is when admitted, why it was refused otherwise.
    std::string text;
  };

  /// The connection's thread: TLS handshake with a client just accepted,
  /// within `timeout`.
  kj::Promise<Admission> admit(kj::Own<kj::AsyncIoStream> stream, kj::Timer& timer,
                               kj::Duration timeout);

 private:
  HostSecurity() = default;
  kj::Promise<Admission> handshake(kj::Own<kj::AsyncIoStream> stream, kj::byte first);

  SSL_CTX* context_ = nullptr;
  bool authority_ = false;
  std::set<std::array<std::uint8_t, 32>> fingerprints_;
};

/// The bootstrap a client without TLS gets from a host that requires it:
/// every creation is E_ACCESSDENIED.
wire::Host::Client makeRefusingHostServer();

}  // namespace opc::remote
