// The process's one RPC thread: it owns the event loop, the capabilities and
// the connections of the client side of the remote transport. Other threads
// hand it work through its loop's queue. A host's client connections run
// loops of their own (see rpcloop.h).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "opc/apartment.h"
#include "opc/remote/rpcloop.h"

namespace opc::remote {

class RemoteRuntime {
 public:
  using Task = std::function<void()>;

  /// The runtime, its thread started on first use and ended at exit.
  static RemoteRuntime& instance();

  RemoteRuntime(const RemoteRuntime&) = delete;
  RemoteRuntime& operator=(const RemoteRuntime&) = delete;

  /// The RPC thread's loop.
  const std::shared_ptr<RpcLoop>& loop() const { return loop_; }

  /// Queues task for the RPC thread (after everything queued before it);
  /// false once the runtime has stopped, when the task is dropped unrun.
  bool post(Task task) { return loop_->post(std::move(task)); }
  bool isRpcThread() const { return loop_->isCurrent(); }
  /// Runs task on the RPC thread and waits for it (at once when called
  /// there); false when the runtime has stopped and the task did not run.
  bool runAndWait(const Task& task) { return loop_->runAndWait(task); }

  // For code running on the RPC thread only:
  kj::AsyncIoContext& io() { return loop_->io(); }
  /// Detached work of the loop (errors are dropped).
  kj::TaskSet& tasks() { return loop_->tasks(); }

  /// The apartment of the RPC thread: posting is the hand-off queue, timers
  /// are the loop's timers.
  std::shared_ptr<Apartment> apartment() const { return loop_->apartment(); }

  /// Work to do on the RPC thread before it ends at exit (tear connections
  /// down while the loop still exists). removeStopHook is false when the
  /// hook has run already.
  std::uint64_t addStopHook(Task hook);
  bool removeStopHook(std::uint64_t id);

  /// Keepalive probes and a user timeout on a connected socket, so that a
  /// vanished peer is noticed within about ten seconds.
  static void configureSocket(int fd);
  /// Blocks SIGPIPE for the calling thread (one that writes to sockets).
  static void blockPipeSignal();

 private:
  RemoteRuntime();
  ~RemoteRuntime();
  void runStopHooks();

  std::shared_ptr<RpcLoop> loop_;
  std::mutex hooksMutex_;
  std::map<std::uint64_t, Task> stopHooks_;  // guarded by hooksMutex_
  std::uint64_t nextHook_ = 1;               // guarded by hooksMutex_
  std::thread thread_;
};

/// Deletes an object that belongs to a loop's thread (a capability, a
/// connection) there: at once on that thread, posted from any other. At the
/// loop's end, an object still held elsewhere is left to the process's end.
template <class T>
struct RpcThreadDelete {
  std::shared_ptr<RpcLoop> loop;

  void operator()(T* p) const {
    if (loop->isCurrent()) {
      delete p;
      loop->removeOwned();
      return;
    }
    auto moved = std::make_shared<std::unique_ptr<T>>(p);
    if (!loop->post([moved, loop = loop] {
          moved->reset();
          loop->removeOwned();
        })) {
      (void)moved->release();
    }
  }
};

/// Owns an object of a loop's thread from anywhere.
template <class T>
using RpcOwned = std::unique_ptr<T, RpcThreadDelete<T>>;

/// The loop an owned object belongs to: where it is used and deleted.
template <class T>
RpcLoop& loopOf(const RpcOwned<T>& owned) {
  return *owned.get_deleter().loop;
}

/// Makes an object owned by the calling thread's loop (the RPC thread's
/// when called elsewhere).
template <class T, class... Args>
RpcOwned<T> makeRpcOwned(Args&&... args) {
  RpcLoop* current = RpcLoop::current();
  std::shared_ptr<RpcLoop> loop =
      current ? current->shared_from_this() : RemoteRuntime::instance().loop();
  auto made = std::make_unique<T>(std::forward<Args>(args)...);
  loop->addOwned();
  return RpcOwned<T>(made.release(), RpcThreadDelete<T>{std::move(loop)});
}

}  // namespace opc::remote
