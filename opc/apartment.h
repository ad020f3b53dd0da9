// The apartment: the thread that owns a set of objects, and the queue through
// which calls from other threads reach it. The platform layer defines only the
// interface; the client library installs a Qt event-loop implementation for
// each thread that creates components, and tests may install a manual one.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "opcexport.h"

namespace opc {

class VEZE6_OPC_EXPORT Apartment : public std::enable_shared_from_this<Apartment> {
 public:
  using Task = std::function<void()>;
  using TimerId = std::uint64_t;

  virtual ~Apartment() = default;

  /// Queues a task to run on the apartment's thread, after all tasks posted
  /// before it. Safe from any thread; never runs the task synchronously.
  virtual void post(Task task) = 0;
  /// True when called on the apartment's thread.
  virtual bool isCurrentThread() const = 0;
  /// Repeating timer on the apartment's thread (for in-process servers).
  virtual TimerId startTimer(std::chrono::milliseconds interval, Task tick) = 0;
  virtual void stopTimer(TimerId id) = 0;

  /// The apartment installed for the calling thread, or null.
  static std::shared_ptr<Apartment> current();
  /// Installs (or with null removes) the calling thread's apartment.
  static void setCurrent(std::shared_ptr<Apartment> apartment);
};

/// An apartment whose queue is run by hand: `runPending()` executes what was
/// posted (and timers are fired with `fireTimers()`). For std-only hosts and
/// tests of the platform layer.
class VEZE6_OPC_EXPORT ManualApartment final : public Apartment {
 public:
  ManualApartment();
  void post(Task task) override;
  bool isCurrentThread() const override;
  TimerId startTimer(std::chrono::milliseconds interval, Task tick) override;
  void stopTimer(TimerId id) override;

  /// Runs every queued task (including tasks queued while running); returns
  /// how many ran. Call on the owning thread.
  std::size_t runPending();
  /// Calls every running timer's tick once.
  void fireTimers();
  std::size_t pendingCount() const;

 private:
  struct Timer {
    TimerId id;
    Task tick;
  };
  std::thread::id owner_;
  mutable std::mutex mutex_;
  std::deque<Task> queue_;
  std::deque<Timer> timers_;
  TimerId nextTimer_ = 1;
};

}  // namespace opc
