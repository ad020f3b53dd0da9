// What a client and a host agree on before any call: the port, the codes of
// a TLS handshake the client refuses, and the TLS files of a host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "opc/comtypes.h"

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

}  // namespace opc::remote
