// One thread that runs the asynchronous requests of a bridge server object
// in the order they were made, so that the UA calls they need never run on
// the client's thread or on the UA client's I/O thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace veze6::uab {

class UaWorker {
 public:
  UaWorker();
  /// Runs no further tasks: those still queued are dropped (destroyed on
  /// the calling thread), the running one is waited for.
  ~UaWorker();
  UaWorker(const UaWorker&) = delete;
  UaWorker& operator=(const UaWorker&) = delete;

  void post(std::function<void()> task);

 private:
  void run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;  // guarded by mutex_
  bool stop_ = false;                        // guarded by mutex_
  std::thread thread_;
};

}  // namespace veze6::uab
