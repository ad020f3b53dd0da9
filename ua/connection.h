// One opc.tcp connection on the I/O thread: the socket, Hello/Acknowledge,
// the secure channel's chunks, and requests matched to their responses by
// request id, each with a time limit.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "iothread.h"
#include "securechannel.h"
#include "transport.h"

namespace veze6::ua {

class Connection : private IoThread::Watcher {
 public:
  /// Called exactly once per request: with the response message, or with a
  /// Bad status and no message (timeout, connection closed, aborted). May
  /// throw DecodeError: the connection then closes with BadDecodingError.
  using Completion = std::function<void(StatusCode, ChannelMessage*)>;
  /// Called once when the connection closes for any reason but close().
  using ClosedHandler = std::function<void(StatusCode, const std::string&)>;

  Connection(IoThread& io, const TransportLimits& ours);
  ~Connection() override;

  // Everything below runs on the I/O thread.

  /// Connects the socket and exchanges Hello/Acknowledge; `done` gets the
  /// outcome (also on timeout).
  void open(const EndpointUrl& url, const std::string& urlText, std::chrono::milliseconds timeout,
            std::function<void(StatusCode, const std::string&)> done);
  /// Sends a message of type "MSG", "OPN" or "CLO" and waits for its
  /// response. A request the server's limits cannot take fails with
  /// BadRequestTooLarge without touching the connection.
  void request(const char* type, const std::vector<std::uint8_t>& body,
               std::chrono::milliseconds timeout, Completion done);
  /// Sends a message that has no response (CloseSecureChannel).
  void sendOnly(const char* type, const std::vector<std::uint8_t>& body);
  /// Closes the socket; pending requests complete with `reason`. The closed
  /// handler is not called.
  void close(StatusCode reason);
  bool isOpen() const { return socket_.isOpen() && acknowledged_; }
  /// Requests still waiting for their response.
  std::size_t pendingCount() const { return pending_.size(); }

  SecureChannel& channel() { return channel_; }
  void setClosedHandler(ClosedHandler handler) { closedHandler_ = std::move(handler); }

 private:
  struct Pending {
    Completion done;
    IoThread::TimerId timer = 0;
  };

  void onReadable() override;
  void onWritable() override;
  bool wantsWrite() const override { return !sendQueue_.empty(); }
  void handleChunk(Chunk& chunk);
  void fail(StatusCode reason, const std::string& text);
  void queue(std::vector<std::uint8_t> bytes);
  void complete(std::uint32_t requestId, StatusCode s, ChannelMessage* m);

  IoThread& io_;
  TransportLimits ours_;
  TcpSocket socket_;
  std::string url_;
  ChunkReader reader_;
  SecureChannel channel_;
  bool acknowledged_ = false;
  std::function<void(StatusCode, const std::string&)> openDone_;
  IoThread::TimerId openTimer_ = 0;
  std::deque<std::vector<std::uint8_t>> sendQueue_;
  std::size_t sendOffset_ = 0;
  std::uint32_t nextRequestId_ = 0;
  std::map<std::uint32_t, Pending> pending_;
  ClosedHandler closedHandler_;
};

}  // namespace veze6::ua
