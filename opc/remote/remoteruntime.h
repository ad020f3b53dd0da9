// The process's one RPC thread: it owns the event loop, every capability and
// every connection of the remote transport. Other threads hand it work
// through a queue (a mutex and an event descriptor the loop watches), and
// the thread is also the apartment of the servers a host serves.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "opc/apartment.h"

namespace kj {
struct AsyncIoContext;
class TaskSet;
}  // namespace kj

namespace opc::remote {

class RemoteRuntime {
 public:
  using Task = std::function<void()>;

  /// The runtime, its thread started on first use and ended at exit.
  static RemoteRuntime& instance();

  RemoteRuntime(const RemoteRuntime&) = delete;
  RemoteRuntime& operator=(const RemoteRuntime&) = delete;

  /// Queues task for the RPC thread (after everything queued before it);
  /// false once the runtime has stopped, when the task is dropped unrun.
  bool post(Task task);
  bool isRpcThread() const { return std::this_thread::get_id() == threadId_; }
  /// Runs task on the RPC thread and waits for it (at once when called
  /// there); false when the runtime has stopped and the task did not run.
  bool runAndWait(const Task& task);

  // For code running on the RPC thread only:
  kj::AsyncIoContext& io();
  /// Detached work of the loop (errors are dropped).
  kj::TaskSet& tasks();

  /// The apartment of the RPC thread: posting is the hand-off queue, timers
  /// are the loop's timers.
  std::shared_ptr<Apartment> apartment() const { return apartment_; }

  /// Work to do on the RPC thread before it ends at exit (tear connections
  /// down while the loop still exists). removeStopHook is false when the
  /// hook has run already.
  std::uint64_t addStopHook(Task hook);
  bool removeStopHook(std::uint64_t id);

  /// Keepalive probes and a user timeout on a connected socket, so that a
  /// vanished peer is noticed within about ten seconds.
  static void configureSocket(int fd);

 private:
  RemoteRuntime();
  ~RemoteRuntime();
  void threadMain();
  /// Runs what was queued; returns whether anything ran.
  bool runQueued();
  void stop();

  struct Loop;
  class RuntimeApartment;

  std::thread::id threadId_;
  int wakeFd_ = -1;
  std::mutex mutex_;
  std::deque<Task> queue_;  // guarded by mutex_
  bool closed_ = false;     // guarded by mutex_: no more tasks are taken
  bool stopping_ = false;   // RPC thread only
  std::mutex hooksMutex_;
  std::map<std::uint64_t, Task> stopHooks_;  // guarded by hooksMutex_
  std::uint64_t nextHook_ = 1;               // guarded by hooksMutex_
  Loop* loop_ = nullptr;                     // RPC thread only; lives on its stack
  std::shared_ptr<Apartment> apartment_;
  std::thread thread_;
};

/// Deletes an object that belongs to the RPC thread (a capability, a
/// connection) there: at once on the RPC thread, posted from any other.
template <class T>
struct RpcThreadDelete {
  void operator()(T* p) const {
    auto& runtime = RemoteRuntime::instance();
    if (runtime.isRpcThread()) {
      delete p;
      return;
    }
    std::unique_ptr<T> owned(p);
    auto moved = std::make_shared<std::unique_ptr<T>>(std::move(owned));
    // At exit, after the loop has gone, the object is left to the process's end.
    if (!runtime.post([moved] { moved->reset(); })) (void)moved->release();
  }
};

/// Owns an object of the RPC thread from anywhere.
template <class T>
using RpcOwned = std::unique_ptr<T, RpcThreadDelete<T>>;

template <class T, class... Args>
RpcOwned<T> makeRpcOwned(Args&&... args) {
  return RpcOwned<T>(std::make_unique<T>(std::forward<Args>(args)...).release());
}

}  // namespace opc::remote
