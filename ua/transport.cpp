#include "transport.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>

#include "binarydecoder.h"
#include "binaryencoder.h"

namespace veze6::ua {

std::optional<EndpointUrl> EndpointUrl::parse(const std::string& url) {
  static constexpr std::string_view kScheme = "opc.tcp://";
  if (url.size() <= kScheme.size() || url.compare(0, kScheme.size(), kScheme) != 0)
    return std::nullopt;
  EndpointUrl e;
  std::string_view rest(url);
  rest.remove_prefix(kScheme.size());
  const auto slash = rest.find('/');
  std::string_view authority = rest.substr(0, slash);
  if (slash != std::string_view::npos) e.path = std::string(rest.substr(slash));
  std::string_view port;
  if (!authority.empty() && authority[0] == '[') {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    e.host = std::string(authority.substr(1, close - 1));
    authority.remove_prefix(close + 1);
    if (!authority.empty()) {
      if (authority[0] != ':') return std::nullopt;
      port = authority.substr(1);
      if (port.empty()) return std::nullopt;
    }
    if (e.host.find(':') == std::string::npos) return std::nullopt;
  } else {
    const auto colon = authority.find(':');
    e.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) {
      port = authority.substr(colon + 1);
      if (port.empty()) return std::nullopt;
    }
  }
  if (e.host.empty() || e.host.find_first_of(" /?#@") != std::string::npos) return std::nullopt;
  if (!port.empty()) {
    unsigned value = 0;
    auto [p, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (ec != std::errc() || p != port.data() + port.size() || value == 0 || value > 65535)
      return std::nullopt;
    e.port = std::uint16_t(value);
  }
  return e;
}

StatusCode ChunkReader::take(std::optional<Chunk>& chunk) {
  chunk.reset();
  const std::size_t available = buffer_.size() - start_;
  if (available < kChunkHeaderSize) {
    if (start_ && start_ == buffer_.size()) {
      buffer_.clear();
      start_ = 0;
    }
    return status::Good;
  }
  const std::uint8_t* h = buffer_.data() + start_;
  Chunk c;
  std::memcpy(c.type, h, 3);
  c.kind = char(h[3]);
  std::uint32_t size;
  std::memcpy(&size, h + 4, 4);
  static constexpr const char* kTypes[] = {"MSG", "OPN", "CLO", "ACK", "ERR", "HEL", "RHE"};
  const bool known =
      std::any_of(std::begin(kTypes), std::end(kTypes), [&](const char* t) { return c.is(t); });
  if (!known || (c.kind != 'F' && c.kind != 'C' && c.kind != 'A'))
    return status::BadTcpMessageTypeInvalid;
  if (c.kind != 'F' && !(c.is("MSG") || c.is("OPN") || c.is("CLO")))
    return status::BadTcpMessageTypeInvalid;
  if (size < 16 || size > limit_) return status::BadTcpMessageTooLarge;
  if (available < size) return status::Good;
  c.body.assign(h + kChunkHeaderSize, h + size);
  start_ += size;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  } else if (start_ > (1u << 20)) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + std::ptrdiff_t(start_));
    start_ = 0;
  }
  chunk = std::move(c);
  return status::Good;
}

std::vector<std::uint8_t> encodeHello(const std::string& url, const TransportLimits& ours) {
  std::vector<std::uint8_t> bytes{'H', 'E', 'L', 'F', 0, 0, 0, 0};
  BinaryEncoder e(bytes);
  e.u32(0);  // protocol version
  e.u32(ours.receiveBufferSize);
  e.u32(ours.sendBufferSize);
  e.u32(ours.maxMessageSize);
  e.u32(ours.maxChunkCount);
  e.string(url);
  e.patchU32(4, std::uint32_t(bytes.size()));
  return bytes;
}

TransportLimits decodeAcknowledge(const Chunk& chunk, const TransportLimits& ours) {
  BinaryDecoder d(chunk.body.data(), chunk.body.size());
  d.u32();  // protocol version
  TransportLimits peer;
  peer.receiveBufferSize = d.u32();
  peer.sendBufferSize = d.u32();
  peer.maxMessageSize = d.u32();
  peer.maxChunkCount = d.u32();
  if (peer.receiveBufferSize < kMinBufferSize || peer.sendBufferSize < kMinBufferSize)
    throw DecodeError("acknowledged buffers below the minimum", status::BadTcpInternalError);
  // The server may not send chunks larger than we asked for.
  if (peer.sendBufferSize > ours.receiveBufferSize)
    throw DecodeError("acknowledged send buffer too large", status::BadTcpInternalError);
  return peer;
}

StatusCode decodeError(const std::uint8_t* data, std::size_t size, std::string* reason) {
  BinaryDecoder d(data, size);
  const StatusCode code = d.statusCode();
  std::string text = d.string();
  if (reason) *reason = std::move(text);
  // An error that claims success still ends the conversation.
  return isBad(code) ? code : status::BadTcpInternalError;
}

TcpSocket& TcpSocket::operator=(TcpSocket&& o) noexcept {
  if (this != &o) {
    close();
    fd_ = o.fd_;
    o.fd_ = -1;
  }
  return *this;
}

TcpSocket::~TcpSocket() { close(); }

void TcpSocket::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

StatusCode TcpSocket::connect(const EndpointUrl& url, std::chrono::milliseconds timeout,
                              TcpSocket& out, std::string* error) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  addrinfo* list = nullptr;
  const std::string port = std::to_string(url.port);
  if (int rc = ::getaddrinfo(url.host.c_str(), port.c_str(), &hints, &list); rc != 0) {
    if (error) *error = "cannot resolve " + url.host + ": " + gai_strerror(rc);
    return status::BadTcpEndpointUrlInvalid;
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> guard(list, &::freeaddrinfo);
  StatusCode result = status::BadConnectionRejected;
  for (addrinfo* a = list; a; a = a->ai_next) {
    TcpSocket s(
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
    if (!s.isOpen()) continue;
    const int one = 1;
    ::setsockopt(s.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    int rc = ::connect(s.fd(), a->ai_addr, a->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{s.fd(), POLLOUT, 0};
      rc = left.count() > 0 ? ::poll(&p, 1, int(left.count())) : 0;
      if (rc == 0) {
        if (error) *error = "connecting to " + url.host + " timed out";
        return status::BadTimeout;
      }
      int soError = 0;
      socklen_t len = sizeof soError;
      ::getsockopt(s.fd(), SOL_SOCKET, SO_ERROR, &soError, &len);
      rc = soError ? -1 : 0;
      errno = soError;
    }
    if (rc == 0) {
      out = std::move(s);
      return status::Good;
    }
    if (error) *error = "cannot connect to " + url.host + ": " + std::strerror(errno);
  }
  return result;
}

}  // namespace veze6::ua
