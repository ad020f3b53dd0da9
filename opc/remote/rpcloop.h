// An event loop of the remote transport, run by one thread: the kj loop, a
// queue other threads hand work to (a mutex and an event descriptor the
// loop watches) and the thread's apartment over both. The process's RPC
// thread runs one (RemoteRuntime); a host runs one more for each client
// connection, so that a server that blocks holds up only its own client.
// Everything of kj a loop made (capabilities, streams, promises) is used and
// destroyed on that loop's thread only.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "opc/apartment.h"

namespace kj {
struct AsyncIoContext;
class TaskSet;
}  // namespace kj

namespace opc::remote {

class RpcLoop : public std::enable_shared_from_this<RpcLoop> {
 public:
  using Task = std::function<void()>;

  /// A loop that runs once some thread calls run().
  static std::shared_ptr<RpcLoop> make();
  ~RpcLoop();
  RpcLoop(const RpcLoop&) = delete;
  RpcLoop& operator=(const RpcLoop&) = delete;

  /// The loop the calling thread runs, or null.
  static RpcLoop* current();

  /// Queues task for the loop's thread (after everything queued before it);
  /// false once the loop has ended, when the task is dropped unrun.
  bool post(Task task);
  bool isCurrent() const;
  /// Runs task on the loop's thread and waits for it (at once when called
  /// there); false when the loop has ended and the task did not run.
  bool runAndWait(const Task& task);

  // For code running on the loop's thread only:
  kj::AsyncIoContext& io();
  /// Detached work of the loop (errors are dropped).
  kj::TaskSet& tasks();
  /// Runs what is queued and what the loop's I/O makes ready until done()
  /// holds or `limit` passes; for the end of a connection, whose objects
  /// other threads may still let go of.
  void settle(const std::function<bool()>& done, std::chrono::milliseconds limit);

  /// The loop's apartment: posting is the queue, timers are the loop's.
  std::shared_ptr<Apartment> apartment() const { return apartment_; }

  /// Runs the loop on the calling thread: `start`, then what is queued and
  /// what the I/O makes ready, until quit(); then `finish` while the loop
  /// still exists, then what was queued up to the end. Once only.
  void run(const Task& start, const Task& finish);
  /// Ends run() after the tasks queued before. Any thread.
  void quit();

  /// Objects of this loop held from other threads (RpcOwned), still alive.
  std::size_t ownedCount() const { return owned_.load(std::memory_order_acquire); }
  void addOwned() { owned_.fetch_add(1, std::memory_order_acq_rel); }
  void removeOwned() { owned_.fetch_sub(1, std::memory_order_acq_rel); }

 private:
  RpcLoop();
  /// Runs what was queued; returns whether anything ran.
  bool runQueued();
  /// Waits until work is queued or the I/O has something, at most `limit`.
  void waitForWork(std::chrono::milliseconds limit);

  struct Loop;
  class LoopApartment;

  int wakeFd_ = -1;
  std::mutex mutex_;
  std::deque<Task> queue_;  // guarded by mutex_
  bool closed_ = false;     // guarded by mutex_: no more tasks are taken
  bool quitting_ = false;   // loop thread only
  std::atomic<std::size_t> owned_{0};
  Loop* loop_ = nullptr;  // loop thread only; lives on its stack
  std::shared_ptr<Apartment> apartment_;
};

}  // namespace opc::remote
