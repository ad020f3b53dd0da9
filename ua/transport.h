// The opc.tcp transport: endpoint URLs, the connection messages (Hello,
// Acknowledge, Error), splitting the byte stream into chunks, and the socket.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "statuscode.h"

namespace veze6::ua {

struct EndpointUrl {
  std::string host;  ///< a DNS name, an IPv4 address or an IPv6 literal without brackets
  std::uint16_t port = 4840;
  std::string path;  ///< "" or starting with '/'
  /// Parses opc.tcp://host[:port][/path]; nullopt for anything else.
  static std::optional<EndpointUrl> parse(const std::string& url);
};

/// Buffer and message sizes one side of a connection accepts (0 = no limit,
/// for the two message limits only).
struct TransportLimits {
  std::uint32_t receiveBufferSize = 65536;
  std::uint32_t sendBufferSize = 65536;
  std::uint32_t maxMessageSize = 16u << 20;
  std::uint32_t maxChunkCount = 4096;
};

inline constexpr std::uint32_t kMinBufferSize = 8192;
inline constexpr std::size_t kChunkHeaderSize = 8;

/// A complete chunk as read from the stream: type "MSG", "OPN", "CLO",
/// "ACK", "ERR"; chunk kind 'F', 'C' or 'A'; the bytes after the 8-byte
/// header.
struct Chunk {
  char type[4] = {};
  char kind = 'F';
  std::vector<std::uint8_t> body;
  bool is(const char* t) const { return type[0] == t[0] && type[1] == t[1] && type[2] == t[2]; }
};

/// Cuts a byte stream into chunks. A header announcing a size under 16 bytes
/// or over the receive buffer size, or an unknown message type, is a fault:
/// the caller closes the connection with the status `take` reports.
class ChunkReader {
 public:
  explicit ChunkReader(std::uint32_t receiveBufferSize) : limit_(receiveBufferSize) {}
  void setLimit(std::uint32_t receiveBufferSize) { limit_ = receiveBufferSize; }
  void append(const std::uint8_t* data, std::size_t size) {
    buffer_.insert(buffer_.end(), data, data + size);
  }
  /// Takes the next complete chunk; Good with no chunk when more bytes are
  /// needed, a Bad status when the stream is malformed.
  StatusCode take(std::optional<Chunk>& chunk);

 private:
  std::uint32_t limit_;
  std::vector<std::uint8_t> buffer_;
  std::size_t start_ = 0;
};

/// The Hello message for a connection to `url` with our limits.
std::vector<std::uint8_t> encodeHello(const std::string& url, const TransportLimits& ours);
/// Reads an Acknowledge body into the peer's limits (its receive buffer is
/// our send limit). Throws DecodeError when malformed or out of range.
TransportLimits decodeAcknowledge(const Chunk& chunk, const TransportLimits& ours);
/// Reads an Error body (or an abort chunk's error part): status and reason.
StatusCode decodeError(const std::uint8_t* data, std::size_t size, std::string* reason);

/// A connected, non-blocking TCP socket (owned; closed on destruction).
class TcpSocket {
 public:
  TcpSocket() = default;
  explicit TcpSocket(int fd) : fd_(fd) {}
  TcpSocket(TcpSocket&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  TcpSocket& operator=(TcpSocket&& o) noexcept;
  ~TcpSocket();

  /// Resolves the host (every address it has, IPv6 and IPv4) and connects to
  /// the first that answers within the time left.
  static StatusCode connect(const EndpointUrl& url, std::chrono::milliseconds timeout,
                            TcpSocket& out, std::string* error);
  int fd() const { return fd_; }
  bool isOpen() const { return fd_ >= 0; }
  void close();

 private:
  int fd_ = -1;
};

}  // namespace veze6::ua
