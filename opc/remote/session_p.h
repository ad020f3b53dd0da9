// One client connection to a host: the calls of every proxy made over it,
// blocking the calling thread until the RPC thread has the answer, and the
// connection's loss.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "opc/remote/remote.capnp.h"
#include "opc/remote/remoteruntime.h"
#include "opc/remote/transportoptions.h"

namespace opc::remote {

/// A host text split: "name", "name:port", "[v6]" or "[v6]:port" (a bare
/// IPv6 address has no port). False when it names no host or a bad port.
bool splitHostText(std::u16string_view text, std::string& host, std::uint16_t& port);

class Session : public std::enable_shared_from_this<Session> {
 public:
  /// Connects to the host `text` names; HRESULT_RPC_S_SERVER_UNAVAILABLE when
  /// it cannot be reached. Not on the RPC thread.
  static HRESULT connect(std::u16string_view text, std::shared_ptr<Session>* out);

  /// Made by connect() only.
  struct Token {
    explicit Token() = default;
  };
  Session(Token, std::u16string text);
  ~Session();

  /// Starts a call on the RPC thread; its promise's value is the call's
  /// result. It may write the caller's out-parameters: it runs while the
  /// caller waits, and is cancelled before the caller returns when the
  /// connection goes or the call runs out of time.
  using Work = std::function<kj::Promise<HRESULT>()>;
  /// Runs work and waits for it: RPC_E_DISCONNECTED once the connection is
  /// lost (at once, or when it goes during the call), RPC_E_TIMEOUT when the
  /// answer takes longer than the session's time limit (the connection then
  /// counts as lost), RPC_E_WRONG_THREAD on the RPC thread (which never
  /// blocks).
  HRESULT call(Work work);

  /// RPC thread only: the host's bootstrap capability.
  wire::Host::Client& host();

  bool lost() const { return lost_.load(std::memory_order_acquire); }
  /// The host as the client named it, for messages.
  const std::u16string& hostText() const { return text_; }
  /// "connection to HOST lost"
  std::u16string lossText() const;

  /// Runs on the RPC thread when the connection is lost (once), under a
  /// key of the caller's choosing (a shutdown sink's cookie); a listener set
  /// after the loss runs at once there.
  using LossListener = std::function<void()>;
  void setLossListener(std::uint64_t key, LossListener listener);
  void removeLossListener(std::uint64_t key);

  /// RPC thread only: marks the connection lost, cancels the calls in
  /// progress, tells the listeners and closes the connection (a host that
  /// stopped answering lets go of this client's objects once it reads on).
  void markLost();

 private:
  struct Link;
  struct Waiter;

  void start(Work work, const std::shared_ptr<Waiter>& waiter);

  const std::u16string text_;
  std::chrono::milliseconds limit_;  // how long a call may wait for its answer
  std::atomic<bool> lost_{false};
  std::unique_ptr<Link> link_;  // RPC thread only
  std::uint64_t stopHook_ = 0;
  std::mutex listenersMutex_;
  std::map<std::uint64_t, LossListener> listeners_;  // guarded by listenersMutex_
};

}  // namespace opc::remote
