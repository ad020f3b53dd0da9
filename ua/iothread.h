// The client's one I/O thread: a poll loop over one socket, an event fd
// that wakes it for posted tasks, and timers. Everything of a connection
// (socket, channel, session, subscriptions) lives on this thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace veze6::ua {

class IoThread {
 public:
  using Task = std::function<void()>;
  using Clock = std::chrono::steady_clock;
  using TimerId = std::uint64_t;

  /// The socket this thread watches.
  class Watcher {
   public:
    virtual ~Watcher() = default;
    virtual void onReadable() = 0;
    virtual void onWritable() = 0;
    virtual bool wantsWrite() const = 0;
  };

  IoThread();
  /// Stops the loop; tasks still queued run first, on the I/O thread.
  ~IoThread();
  IoThread(const IoThread&) = delete;
  IoThread& operator=(const IoThread&) = delete;

  /// Any thread: runs the task on the I/O thread, in posting order.
  void post(Task task);
  bool inThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  // I/O thread only:
  TimerId schedule(std::chrono::milliseconds delay, Task task);
  void cancel(TimerId id);
  void watch(int fd, Watcher* watcher);
  void unwatch();

 private:
  void run();
  bool runTasks();
  void runTimers();

  int wakeFd_ = -1;
  std::mutex mutex_;
  std::deque<Task> tasks_;
  bool stopping_ = false;
  std::multimap<Clock::time_point, std::pair<TimerId, Task>> timers_;
  std::map<TimerId, Clock::time_point> timerDeadlines_;
  TimerId nextTimer_ = 1;
  int fd_ = -1;
  Watcher* watcher_ = nullptr;
  std::thread thread_;
};

}  // namespace veze6::ua
