#include "apartment.h"

#include <algorithm>
#include <vector>

#include "taskqueue_p.h"

namespace opc {

namespace {
thread_local std::shared_ptr<Apartment> t_current;
}

std::shared_ptr<Apartment> Apartment::current() { return t_current; }

void Apartment::setCurrent(std::shared_ptr<Apartment> apartment) {
  t_current = std::move(apartment);
}

ManualApartment::ManualApartment() : owner_(std::this_thread::get_id()) {}

void ManualApartment::post(Task task) {
  if (!task) return;
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(task));
}

bool ManualApartment::isCurrentThread() const { return std::this_thread::get_id() == owner_; }

Apartment::TimerId ManualApartment::startTimer(std::chrono::milliseconds, Task tick) {
  std::lock_guard lock(mutex_);
  const TimerId id = nextTimer_++;
  timers_.push_back(Timer{id, std::move(tick)});
  return id;
}

void ManualApartment::stopTimer(TimerId id) {
  Task dropped;  // destroyed after the lock: its captures may post or stop timers
  std::lock_guard lock(mutex_);
  auto it =
      std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.id == id; });
  if (it == timers_.end()) return;
  dropped = std::move(it->tick);
  timers_.erase(it);
}

std::size_t ManualApartment::runPending() {
  return detail::runQueuedTasks(mutex_, queue_, [](Task& task) { task(); });
}

void ManualApartment::fireTimers() {
  std::vector<TimerId> ids;
  {
    std::lock_guard lock(mutex_);
    for (const auto& t : timers_) ids.push_back(t.id);
  }
  // Each tick is looked up again: an earlier tick may have stopped it.
  for (TimerId id : ids) {
    Task tick;
    {
      std::lock_guard lock(mutex_);
      auto it =
          std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.id == id; });
      if (it == timers_.end()) continue;
      tick = it->tick;
    }
    if (tick) tick();
  }
}

std::size_t ManualApartment::pendingCount() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

}  // namespace opc
