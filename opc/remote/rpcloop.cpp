#include "rpcloop.h"

#include <kj/async-io.h>
#include <kj/async-unix.h>
#include <kj/debug.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <condition_variable>
#include <map>
#include <set>

#include "opc/taskqueue_p.h"

namespace opc::remote {

namespace {

thread_local RpcLoop* t_current = nullptr;

class DropErrors final : public kj::TaskSet::ErrorHandler {
 public:
  void taskFailed(kj::Exception&&) override {}
};

}  // namespace

/// What lives on the loop thread's stack while the loop runs.
struct RpcLoop::Loop {
  explicit Loop(int wakeFd)
      : wake(io.unixEventPort, wakeFd, kj::UnixEventPort::FdObserver::OBSERVE_READ) {}

  kj::AsyncIoContext io = kj::setupAsyncIo();
  kj::UnixEventPort::FdObserver wake;
  DropErrors dropErrors;
  kj::Own<kj::TaskSet> tasks = kj::heap<kj::TaskSet>(dropErrors);
  /// Running timers of the apartment, by id.
  std::map<Apartment::TimerId, kj::Promise<void>> timers;
};

/// The loop's thread as an apartment. Timers run on the loop; a timer
/// stopped from its own tick (or from another thread) is dropped by a posted
/// task, never from inside its running continuation. An apartment kept past
/// its loop's end takes nothing more.
class RpcLoop::LoopApartment final : public Apartment {
 public:
  explicit LoopApartment(std::weak_ptr<RpcLoop> loop) : loop_(std::move(loop)) {}

  void post(Task task) override {
    if (!task) return;
    if (auto loop = loop_.lock()) loop->post(std::move(task));
  }
  bool isCurrentThread() const override {
    const auto loop = loop_.lock();
    return loop && loop->isCurrent();
  }

  TimerId startTimer(std::chrono::milliseconds interval, Task tick) override {
    TimerId id;
    {
      std::lock_guard lock(mutex_);
      id = nextTimer_++;
      live_.insert(id);
    }
    auto shared = std::make_shared<Task>(std::move(tick));
    auto self = std::static_pointer_cast<LoopApartment>(shared_from_this());
    post([self, id, interval, shared] {
      const auto loop = self->loop_.lock();
      if (!self->isLive(id) || !loop || !loop->loop_) return;
      loop->loop_->timers.emplace(
          id, self->schedule(*loop, id, interval, shared).eagerlyEvaluate(nullptr));
    });
    return id;
  }

  void stopTimer(TimerId id) override {
    {
      std::lock_guard lock(mutex_);
      live_.erase(id);
    }
    post([loop = loop_, id] {
      if (const auto l = loop.lock(); l && l->loop_) l->loop_->timers.erase(id);
    });
  }

 private:
  bool isLive(TimerId id) {
    std::lock_guard lock(mutex_);
    return live_.count(id) != 0;
  }

  kj::Promise<void> schedule(RpcLoop& loop, TimerId id, std::chrono::milliseconds interval,
                             std::shared_ptr<Task> tick) {
    const auto delay = std::max<std::int64_t>(interval.count(), 1) * kj::MILLISECONDS;
    // The loop outlives its timers: they are cleared before it ends.
    return loop.loop_->io.provider->getTimer().afterDelay(delay).then(
        [this, &loop, id, interval, tick]() -> kj::Promise<void> {
          if (!isLive(id)) return kj::NEVER_DONE;
          (*tick)();
          return schedule(loop, id, interval, tick);
        });
  }

  const std::weak_ptr<RpcLoop> loop_;
  std::mutex mutex_;
  std::set<TimerId> live_;  // guarded by mutex_
  TimerId nextTimer_ = 1;   // guarded by mutex_
};

std::shared_ptr<RpcLoop> RpcLoop::make() {
  std::shared_ptr<RpcLoop> loop(new RpcLoop);
  loop->apartment_ = std::make_shared<LoopApartment>(loop);
  return loop;
}

RpcLoop::RpcLoop() {
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  KJ_SYSCALL(wakeFd_);
}

RpcLoop::~RpcLoop() { ::close(wakeFd_); }

RpcLoop* RpcLoop::current() { return t_current; }

bool RpcLoop::isCurrent() const { return t_current == this; }

bool RpcLoop::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    queue_.push_back(std::move(task));
  }
  const std::uint64_t one = 1;
  // A full counter (never reached in practice) still leaves the descriptor readable.
  [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
  return true;
}

bool RpcLoop::runAndWait(const Task& task) {
  if (isCurrent()) {
    task();
    return true;
  }
  struct Done {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
  };
  auto done = std::make_shared<Done>();
  const bool posted = post([&task, done] {
    try {
      task();
    } catch (...) {
    }
    {
      std::lock_guard lock(done->mutex);
      done->done = true;
    }
    done->cv.notify_all();
  });
  if (!posted) return false;
  std::unique_lock lock(done->mutex);
  done->cv.wait(lock, [&] { return done->done; });
  return true;
}

kj::AsyncIoContext& RpcLoop::io() {
  KJ_REQUIRE(isCurrent() && loop_, "a loop's I/O is used from another thread");
  return loop_->io;
}

kj::TaskSet& RpcLoop::tasks() {
  KJ_REQUIRE(isCurrent() && loop_ && loop_->tasks, "a loop's tasks are used from another thread");
  return *loop_->tasks;
}

void RpcLoop::quit() {
  post([this] { quitting_ = true; });
}

bool RpcLoop::runQueued() {
  std::uint64_t count = 0;
  [[maybe_unused]] const auto read = ::read(wakeFd_, &count, sizeof count);
  // A task's failure is its own; the loop goes on.
  return opc::detail::runQueuedTasks(mutex_, queue_, [](Task& task) {
           try {
             task();
           } catch (...) {
           }
         }) != 0;
}

void RpcLoop::waitForWork(std::chrono::milliseconds limit) {
  auto& timer = loop_->io.provider->getTimer();
  loop_->wake.whenBecomesReadable()
      .exclusiveJoin(timer.afterDelay(limit.count() * kj::MILLISECONDS))
      .wait(loop_->io.waitScope);
}

void RpcLoop::settle(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  KJ_REQUIRE(isCurrent() && loop_, "a loop is settled from another thread");
  const auto until = std::chrono::steady_clock::now() + limit;
  for (;;) {
    runQueued();
    loop_->io.waitScope.poll();
    if (done()) return;
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return;
    waitForWork(std::min(std::chrono::duration_cast<std::chrono::milliseconds>(until - now),
                         std::chrono::milliseconds(50)));
  }
}

void RpcLoop::run(const Task& start, const Task& finish) {
  const auto guarded = [](const Task& task) {
    if (!task) return;
    try {
      task();
    } catch (...) {
    }
  };
  // The thread stays the loop's until everything of the loop is gone, so
  // what goes with the detached work is deleted here, not posted.
  t_current = this;
  Apartment::setCurrent(apartment_);
  {
    Loop loop(wakeFd_);
    loop_ = &loop;
    guarded(start);
    while (!quitting_) {
      if (!runQueued()) loop.wake.whenBecomesReadable().wait(loop.io.waitScope);
      // Let the loop run what the tasks started before taking more.
      loop.io.waitScope.poll();
    }
    guarded(finish);
    runQueued();
    loop.io.waitScope.poll();
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
    }
    runQueued();
    loop.timers.clear();
    loop.tasks = nullptr;
    loop.io.waitScope.poll();
    loop_ = nullptr;
  }
  Apartment::setCurrent(nullptr);
  t_current = nullptr;
}

}  // namespace opc::remote
