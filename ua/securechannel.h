// The secure channel's message layer, without I/O: splits outgoing messages
// into chunks (security header, sequence numbers, size limits) and puts
// incoming chunks back together, checking channel, token, sequence and size.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "channeltypes.h"
#include "transport.h"
#include "ua/crypto/certificate.h"
#include "ua/crypto/securitypolicy.h"

namespace veze6::ua {

inline constexpr const char* kSecurityPolicyNone =
    "http://opcfoundation.org/UA/SecurityPolicy#None";

/// A whole message taken off the channel.
struct ChannelMessage {
  char type[4] = {};
  std::uint32_t requestId = 0;
  std::vector<std::uint8_t> body;
  /// Set when the server aborted the message (an 'A' chunk): body is empty.
  StatusCode abortStatus = status::Good;
  std::string abortReason;
};

/// What protects a channel: the policy and mode, our certificate and key,
/// and the server's certificate (both unused for policy None).
struct ChannelSecurity {
  crypto::SecurityPolicy policy;
  MessageSecurityMode mode = MessageSecurityMode::None;
  std::optional<crypto::CertificateAndKey> own;
  std::optional<crypto::Certificate> server;
  bool secure() const { return !policy.isNone() && mode != MessageSecurityMode::None; }
};

class SecureChannel {
 public:
  explicit SecureChannel(const TransportLimits& ours = {}) : ours_(ours) {}

  /// Set before the first OpenSecureChannel.
  void setSecurity(ChannelSecurity security) { security_ = std::move(security); }
  const ChannelSecurity& security() const { return security_; }

  /// The server's limits from its Acknowledge.
  void setPeerLimits(const TransportLimits& peer) { peer_ = peer; }
  const TransportLimits& peerLimits() const { return peer_; }
  const TransportLimits& ownLimits() const { return ours_; }

  /// Takes a new token from an OpenSecureChannel response; the previous one
  /// stays valid for incoming messages until the next renewal.
  void setToken(const ChannelSecurityToken& token, crypto::ChannelKeys keys = {});
  std::uint32_t channelId() const { return channelId_; }
  std::uint32_t tokenId() const { return tokenId_; }

  /// Splits a message of type "MSG", "OPN" or "CLO" into ready-to-send
  /// chunks. BadRequestTooLarge when the server's message or chunk count
  /// limit would be exceeded; nothing is consumed then.
  StatusCode encode(const char* type, std::uint32_t requestId,
                    const std::vector<std::uint8_t>& body,
                    std::vector<std::vector<std::uint8_t>>& chunks);

  /// Takes one chunk of a secure conversation. When it completes a message,
  /// `out` holds it. A Bad result is a fault of the channel (wrong channel
  /// or token, sequence break, message too large, malformed header): the
  /// caller closes the connection with it.
  StatusCode receive(const Chunk& chunk, std::optional<ChannelMessage>& out);

 private:
  struct Partial {
    std::vector<std::uint8_t> body;
    std::uint32_t chunks = 0;
  };
  StatusCode checkSequence(std::uint32_t sequence);
  /// Checks and removes the protection of a received chunk (the whole chunk,
  /// header included); leaves the sequence header and body in `plain`.
  StatusCode unprotect(const std::vector<std::uint8_t>& whole, std::size_t offset, bool open,
                       std::uint32_t token, std::vector<std::uint8_t>& plain);
  std::vector<std::uint8_t> protect(const char* type, char kind,
                                    const std::vector<std::uint8_t>& securityHeader,
                                    std::vector<std::uint8_t> plain, bool open);
  struct Layout {
    bool sign = false;
    bool encrypt = false;
    std::size_t signatureSize = 0;
    std::size_t plainBlock = 1;
    std::size_t cipherBlock = 1;
    std::size_t extraPadding = 0;  ///< a second padding size byte for keys over 2048 bits
  };
  Layout sendLayout(bool open) const;

  ChannelSecurity security_;
  std::map<std::uint32_t, crypto::ChannelKeys> keys_;

  TransportLimits ours_;
  TransportLimits peer_;
  std::uint32_t channelId_ = 0;
  std::uint32_t tokenId_ = 0;
  std::uint32_t previousTokenId_ = 0;
  std::uint32_t sendSequence_ = 0;
  std::optional<std::uint32_t> receiveSequence_;
  std::map<std::uint32_t, Partial> partial_;
  std::size_t partialBytes_ = 0;
};

}  // namespace veze6::ua
