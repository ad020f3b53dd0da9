#include "connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace veze6::ua {

Connection::Connection(IoThread& io, const TransportLimits& ours)
    : io_(io), ours_(ours), reader_(ours.receiveBufferSize), channel_(ours) {}

Connection::~Connection() { close(status::BadConnectionClosed); }

void Connection::open(const EndpointUrl& url, const std::string& urlText,
                      std::chrono::milliseconds timeout,
                      std::function<void(StatusCode, const std::string&)> done) {
  std::string error;
  const auto started = IoThread::Clock::now();
  if (StatusCode s = TcpSocket::connect(url, timeout, socket_, &error); isBad(s)) {
    done(s, error);
    return;
  }
  url_ = urlText;
  openDone_ = std::move(done);
  io_.watch(socket_.fd(), this);
  queue(encodeHello(urlText, ours_));
  const auto left = timeout - std::chrono::duration_cast<std::chrono::milliseconds>(
                                  IoThread::Clock::now() - started);
  openTimer_ = io_.schedule(std::max(left, std::chrono::milliseconds(1)), [this] {
    openTimer_ = 0;
    fail(status::BadTimeout, "no acknowledge from the server");
  });
}

void Connection::request(const char* type, const std::vector<std::uint8_t>& body,
                         std::chrono::milliseconds timeout, Completion done) {
  if (!isOpen()) {
    done(status::BadNotConnected, nullptr);
    return;
  }
  // Request ids only need to be unique among the requests in flight.
  const std::uint32_t requestId = ++nextRequestId_ ? nextRequestId_ : ++nextRequestId_;
  std::vector<std::vector<std::uint8_t>> chunks;
  if (StatusCode s = channel_.encode(type, requestId, body, chunks); isBad(s)) {
    done(s, nullptr);
    return;
  }
  Pending p{std::move(done), 0};
  p.timer = io_.schedule(timeout,
                         [this, requestId] { complete(requestId, status::BadTimeout, nullptr); });
  pending_.emplace(requestId, std::move(p));
  for (auto& c : chunks) queue(std::move(c));
}

void Connection::sendOnly(const char* type, const std::vector<std::uint8_t>& body) {
  if (!isOpen()) return;
  std::vector<std::vector<std::uint8_t>> chunks;
  if (isBad(channel_.encode(type, ++nextRequestId_, body, chunks))) return;
  for (auto& c : chunks) queue(std::move(c));
  onWritable();  // a close goes out before the socket does
}

void Connection::complete(std::uint32_t requestId, StatusCode s, ChannelMessage* m) {
  const auto it = pending_.find(requestId);
  if (it == pending_.end()) return;  // late answer to a request that timed out
  Completion done = std::move(it->second.done);
  if (s != status::BadTimeout) io_.cancel(it->second.timer);
  pending_.erase(it);
  done(s, m);
}

void Connection::queue(std::vector<std::uint8_t> bytes) { sendQueue_.push_back(std::move(bytes)); }

void Connection::close(StatusCode reason) {
  const bool wasOpen = socket_.isOpen();
  if (wasOpen) io_.unwatch();
  socket_.close();
  acknowledged_ = false;
  sendQueue_.clear();
  sendOffset_ = 0;
  if (openTimer_) io_.cancel(openTimer_);
  openTimer_ = 0;
  if (openDone_) {
    auto done = std::move(openDone_);
    openDone_ = nullptr;
    done(reason, "connection closed");
  }
  auto pending = std::move(pending_);
  pending_.clear();
  for (auto& [id, p] : pending) {
    io_.cancel(p.timer);
    p.done(reason, nullptr);
  }
}

void Connection::fail(StatusCode reason, const std::string& text) {
  if (!socket_.isOpen()) return;
  const bool opening = bool(openDone_);
  close(reason);
  if (!opening && closedHandler_) closedHandler_(reason, text);
}

void Connection::onWritable() {
  while (!sendQueue_.empty()) {
    auto& front = sendQueue_.front();
    const ssize_t n =
        ::send(socket_.fd(), front.data() + sendOffset_, front.size() - sendOffset_, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
      fail(status::BadConnectionClosed, std::string("send failed: ") + std::strerror(errno));
      return;
    }
    sendOffset_ += std::size_t(n);
    if (sendOffset_ < front.size()) return;
    sendQueue_.pop_front();
    sendOffset_ = 0;
  }
}

void Connection::onReadable() {
  std::uint8_t buffer[65536];
  for (int round = 0; round < 16 && socket_.isOpen(); ++round) {
    const ssize_t n = ::recv(socket_.fd(), buffer, sizeof buffer, 0);
    if (n == 0) {
      fail(status::BadConnectionClosed, "the server closed the connection");
      return;
    }
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
      fail(status::BadConnectionClosed, std::string("receive failed: ") + std::strerror(errno));
      return;
    }
    reader_.append(buffer, std::size_t(n));
    for (;;) {
      std::optional<Chunk> chunk;
      if (StatusCode s = reader_.take(chunk); isBad(s)) {
        fail(s, "malformed chunk from the server");
        return;
      }
      if (!chunk) break;
      handleChunk(*chunk);
      if (!socket_.isOpen()) return;
    }
    if (std::size_t(n) < sizeof buffer) break;
  }
}

void Connection::handleChunk(Chunk& chunk) {
  try {
    if (chunk.is("ERR")) {
      std::string reason;
      const StatusCode s = decodeError(chunk.body.data(), chunk.body.size(), &reason);
      fail(s, "the server reported " + statusName(s) + (reason.empty() ? "" : ": " + reason));
      return;
    }
    if (!acknowledged_) {
      if (!chunk.is("ACK")) {
        fail(status::BadTcpMessageTypeInvalid, "expected an acknowledge");
        return;
      }
      channel_.setPeerLimits(decodeAcknowledge(chunk, ours_));
      reader_.setLimit(channel_.peerLimits().sendBufferSize);
      acknowledged_ = true;
      io_.cancel(openTimer_);
      openTimer_ = 0;
      auto done = std::move(openDone_);
      openDone_ = nullptr;
      done(status::Good, {});
      return;
    }
    if (!(chunk.is("MSG") || chunk.is("OPN") || chunk.is("CLO"))) {
      fail(status::BadTcpMessageTypeInvalid, "unexpected message type");
      return;
    }
    std::optional<ChannelMessage> message;
    if (StatusCode s = channel_.receive(chunk, message); isBad(s)) {
      fail(s, "secure channel fault: " + statusName(s));
      return;
    }
    if (!message) return;
    if (isBad(message->abortStatus))
      complete(message->requestId, message->abortStatus, nullptr);
    else
      complete(message->requestId, status::Good, &*message);
  } catch (const DecodeError& e) {
    fail(e.code(), std::string("malformed message: ") + e.what());
  }
}

}  // namespace veze6::ua
