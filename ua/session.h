// A session with one server: the secure channel it runs on (opened,
// renewed, closed), CreateSession/ActivateSession, keep-alive, time limits
// on every request, and the one loss event when any of it breaks.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "attributetypes.h"
#include "connection.h"
#include "iothread.h"
#include "securechannel.h"

namespace veze6::ua {

struct UserIdentity {
  std::string userName;
  std::string password;
};

struct ConnectOptions {
  std::string endpointUrl;
  /// "None", "Basic256Sha256" or "Aes128_Sha256_RsaOaep" (or a full policy URI).
  std::string securityPolicy = "None";
  MessageSecurityMode securityMode = MessageSecurityMode::None;
  /// Without a user the session is anonymous.
  std::optional<UserIdentity> user;
  std::string applicationName = "veze6 OPC UA client";
  std::string applicationUri;  ///< "" = urn:<host>:veze6:client
  std::chrono::milliseconds requestTimeout{10000};
  std::chrono::milliseconds sessionTimeout{60000};
  std::chrono::milliseconds keepAliveInterval{5000};
  std::chrono::milliseconds channelLifetime{600000};
  /// The certificate store's folder (own/, trusted/, rejected/); "" = the
  /// user's data folder, veze6/pki.
  std::string certificateFolder;
  TransportLimits limits;
};

/// Why a connection ended without the client asking: a closed channel, a
/// lost TCP connection, a session the server dropped, a server shutting down
/// or one that stopped answering.
struct LossEvent {
  StatusCode reason = status::Good;
  std::string text;
};

/// The server's operation limits; 0 means no limit.
struct OperationLimits {
  std::uint32_t maxNodesPerRead = 0;
  std::uint32_t maxNodesPerWrite = 0;
  std::uint32_t maxNodesPerBrowse = 0;
  std::uint32_t maxNodesPerTranslate = 0;
  std::uint32_t maxMonitoredItemsPerCall = 0;
};

class Session {
 public:
  explicit Session(IoThread& io);
  ~Session();

  // Any thread but the I/O thread:

  /// Opens the channel, picks the endpoint, creates and activates the
  /// session, then reads the namespace array and the operation limits.
  StatusCode connect(const ConnectOptions& options, std::string* error);
  /// Closes session and channel; no loss event.
  void disconnect();
  bool isActive() const { return active_; }
  /// Sends a request and waits for its response (at most the request time
  /// limit). BadInvalidState when called on the I/O thread.
  template <class Req, class Resp>
  StatusCode call(Req request, Resp& response);
  /// Sends the requests with at most `window` of them awaiting their response
  /// and waits for all: responses[i] answers requests[i]. After a Bad result
  /// no further request goes out; the first Bad (in request order) is
  /// returned. BadInvalidState when called on the I/O thread.
  template <class Req, class Resp>
  StatusCode callPipelined(std::vector<Req> requests, std::vector<Resp>& responses,
                           std::size_t window);

  // I/O thread:

  /// Sends a request; `done` runs on the I/O thread with the decoded
  /// response, or a Bad status and a default response.
  template <class Req, class Resp>
  void callAsync(Req request, std::chrono::milliseconds timeout,
                 std::function<void(StatusCode, Resp&)> done);
  /// Ends the connection and reports the loss once.
  void lose(StatusCode reason, const std::string& text);

  void setLossHandler(std::function<void(const LossEvent&)> handler);
  /// Runs on the I/O thread before the loss handler (the subscriptions stop).
  void setLossHook(std::function<void()> hook) { lossHook_ = std::move(hook); }
  IoThread& io() { return io_; }
  const ConnectOptions& options() const { return options_; }
  const EndpointDescription& endpoint() const { return endpoint_; }
  std::vector<std::string> namespaces() const;
  OperationLimits operationLimits() const;
  /// Service calls made through call() so far (the publish loop's own
  /// requests are not counted).
  std::uint64_t callCount() const { return calls_.load(std::memory_order_relaxed); }

 private:
  template <class T>
  struct Waiter {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    StatusCode status = status::BadTimeout;
    T value{};
    void complete(StatusCode s, T&& v) {
      std::lock_guard lock(mutex);
      status = s;
      value = std::move(v);
      done = true;
      cv.notify_all();
    }
    StatusCode wait(std::chrono::milliseconds limit) {
      std::unique_lock lock(mutex);
      // The I/O thread always completes; the margin only guards against a
      // stalled loop.
      if (!cv.wait_for(lock, limit + std::chrono::seconds(5), [this] { return done; }))
        return status::BadTimeout;
      return status;
    }
  };
  template <class Req, class Resp>
  struct Pipeline {
    std::vector<Req> requests;
    std::vector<Resp> responses;
    std::vector<StatusCode> results;
    std::size_t window = 1;
    // ---- I/O thread ----
    std::size_t next = 0;
    std::size_t outstanding = 0;
    bool failed = false;
    // ---- guarded by mutex ----
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
  };
  template <class Req, class Resp>
  void sendPipelined(const std::shared_ptr<Pipeline<Req, Resp>>& p);
  using StepDone = std::function<void(StatusCode, const std::string&)>;

  StatusCode runStep(std::function<void(StepDone)> step, std::string* error);
  void openChannel(const EndpointUrl& url, StepDone done);
  void sendOpenSecureChannel(bool renew, StepDone done);
  void scheduleRenewal(std::uint32_t lifetimeMs);
  void scheduleKeepAlive();
  StatusCode createAndActivate(std::string* error);
  StatusCode prepareSecurity(const crypto::SecurityPolicy& policy, MessageSecurityMode mode,
                             std::string* error);
  StatusCode identityToken(const UserTokenPolicy& policy, const ByteString& serverNonce,
                           ExtensionObject& token, std::string* error);
  StatusCode readServerFacts();
  void closeOnIo();
  std::vector<std::uint8_t> encodeMessage(std::uint32_t typeId,
                                          const std::function<void(BinaryEncoder&)>& body);
  RequestHeader makeHeader(std::chrono::milliseconds timeout);
  StatusCode checkResponse(ChannelMessage* m, std::uint32_t typeId, BinaryDecoder& d);
  void noteResult(StatusCode s);
  /// A response that does not decode ends the connection.
  void malformed(const DecodeError& e);

  IoThread& io_;
  ConnectOptions options_;
  std::unique_ptr<Connection> connection_;
  ChannelSecurity security_;  ///< written before the channel opens, then read on the I/O thread
  EndpointDescription endpoint_;
  NodeId authenticationToken_;
  std::uint32_t requestHandle_ = 0;
  IoThread::TimerId renewTimer_ = 0;
  IoThread::TimerId keepAliveTimer_ = 0;
  std::atomic<bool> active_{false};
  std::atomic<std::uint64_t> calls_{0};
  bool lossReported_ = false;
  std::function<void(const LossEvent&)> lossHandler_;
  std::function<void()> lossHook_;
  mutable std::mutex factsMutex_;
  std::vector<std::string> namespaces_;
  OperationLimits limits_;
};

template <class Req, class Resp>
void Session::callAsync(Req request, std::chrono::milliseconds timeout,
                        std::function<void(StatusCode, Resp&)> done) {
  request.header = makeHeader(timeout);
  const std::uint32_t handle = request.header.requestHandle;
  auto body = encodeMessage(Req::kTypeId, [&](BinaryEncoder& e) { encode(e, request); });
  if (!connection_) {
    Resp empty;
    done(status::BadNotConnected, empty);
    return;
  }
  connection_->request("MSG", body, timeout,
                       [this, handle, done = std::move(done)](StatusCode s, ChannelMessage* m) {
                         Resp response;
                         try {
                           if (isGood(s)) {
                             BinaryDecoder d(m->body.data(), m->body.size());
                             s = checkResponse(m, Resp::kTypeId, d);
                             if (isGood(s)) {
                               decode(d, response);
                               s = response.header.requestHandle != handle
                                       ? status::BadUnknownResponse
                                       : response.header.serviceResult;
                             }
                           }
                         } catch (const DecodeError& e) {
                           // The channel goes first, so the caller finds it closed.
                           malformed(e);
                           s = e.code();
                           response = Resp{};
                         }
                         noteResult(s);
                         try {
                           done(s, response);
                         } catch (const DecodeError& e) {
                           malformed(e);  // a notification inside the response
                         }
                       });
}

template <class Req, class Resp>
StatusCode Session::call(Req request, Resp& response) {
  if (io_.inThread()) return status::BadInvalidState;
  calls_.fetch_add(1, std::memory_order_relaxed);
  auto waiter = std::make_shared<Waiter<Resp>>();
  const auto timeout = options_.requestTimeout;
  io_.post([this, waiter, timeout, request = std::move(request)]() mutable {
    callAsync<Req, Resp>(std::move(request), timeout,
                         [waiter](StatusCode s, Resp& r) { waiter->complete(s, std::move(r)); });
  });
  const StatusCode s = waiter->wait(timeout);
  std::lock_guard lock(waiter->mutex);
  if (waiter->done) response = std::move(waiter->value);
  return s;
}

template <class Req, class Resp>
void Session::sendPipelined(const std::shared_ptr<Pipeline<Req, Resp>>& p) {
  while (!p->failed && p->next < p->requests.size() && p->outstanding < p->window) {
    const std::size_t i = p->next++;
    ++p->outstanding;
    calls_.fetch_add(1, std::memory_order_relaxed);
    callAsync<Req, Resp>(std::move(p->requests[i]), options_.requestTimeout,
                         [this, p, i](StatusCode s, Resp& r) {
                           --p->outstanding;
                           p->results[i] = s;
                           p->responses[i] = std::move(r);
                           if (isBad(s)) p->failed = true;
                           sendPipelined(p);
                           if (p->outstanding != 0) return;
                           std::lock_guard lock(p->mutex);
                           p->done = true;
                           p->cv.notify_all();
                         });
  }
}

template <class Req, class Resp>
StatusCode Session::callPipelined(std::vector<Req> requests, std::vector<Resp>& responses,
                                  std::size_t window) {
  if (io_.inThread()) return status::BadInvalidState;
  if (requests.empty()) return status::BadNothingToDo;
  auto p = std::make_shared<Pipeline<Req, Resp>>();
  const std::size_t n = requests.size();
  p->requests = std::move(requests);
  p->responses.resize(n);
  p->results.assign(n, status::BadRequestInterrupted);  // never sent
  p->window = std::max<std::size_t>(window, 1);
  io_.post([this, p] { sendPipelined(p); });
  // Every request ends within its time limit; the margin only guards
  // against a stalled loop.
  const auto rounds = std::int64_t((n + p->window - 1) / p->window);
  const auto limit = options_.requestTimeout * rounds + std::chrono::seconds(5);
  std::unique_lock lock(p->mutex);
  if (!p->cv.wait_for(lock, limit, [&] { return p->done; })) return status::BadTimeout;
  for (StatusCode s : p->results) {
    if (isBad(s)) return s;
  }
  responses = std::move(p->responses);
  return status::Good;
}

}  // namespace veze6::ua
