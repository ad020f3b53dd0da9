// The Qt implementation of the platform layer's apartment: tasks posted from
// any thread run on the owning thread's Qt event loop, in posting order;
// timers are QTimers living in that thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "opc/apartment.h"

class QTimer;

class QtApartment final : public opc::Apartment {
 public:
  /// An apartment for the calling thread (it does not install itself).
  QtApartment();
  ~QtApartment() override;

  void post(Task task) override;
  bool isCurrentThread() const override;
  TimerId startTimer(std::chrono::milliseconds interval, Task tick) override;
  void stopTimer(TimerId id) override;

 private:
  void createTimer(TimerId id, std::chrono::milliseconds interval, Task tick);
  void destroyTimer(TimerId id);

  // Deletes the context in its own thread (directly, or later through its
  // event loop when the last reference goes away elsewhere).
  struct ContextDeleter {
    void operator()(QObject* context) const;
  };

  std::unique_ptr<QObject, ContextDeleter> context_;  // lives in the owning thread
  std::mutex mutex_;
  TimerId nextTimer_ = 1;
  // Touched on the owning thread only. Timers are children of the context.
  std::map<TimerId, QPointer<QTimer>> timers_;
  std::set<TimerId> stoppedEarly_;  // stopped before their creation ran
};

/// Makes sure the calling thread has an apartment: keeps one already
/// installed (a test's manual apartment, for instance), otherwise installs a
/// QtApartment. Components that talk to servers call this when constructed.
/// Returns the thread's apartment.
std::shared_ptr<opc::Apartment> installQtApartment();
