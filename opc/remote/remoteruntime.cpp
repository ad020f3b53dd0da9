#include "remoteruntime.h"

#include <fcntl.h>
#include <kj/async-io.h>
#include <kj/async-unix.h>
#include <kj/debug.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <future>
#include <set>

#include "opc/taskqueue_p.h"

namespace opc::remote {

namespace {

class DropErrors final : public kj::TaskSet::ErrorHandler {
 public:
  void taskFailed(kj::Exception&&) override {}
};

}  // namespace

/// What lives on the RPC thread's stack while the loop runs.
struct RemoteRuntime::Loop {
  kj::AsyncIoContext io = kj::setupAsyncIo();
  DropErrors dropErrors;
  kj::TaskSet tasks{dropErrors};
  /// Running timers of the apartment, by id.
  std::map<Apartment::TimerId, kj::Promise<void>> timers;
};

/// The RPC thread as an apartment. Timers run on the loop; a timer stopped
/// from its own tick (or from another thread) is dropped by a posted task,
/// never from inside its running continuation.
class RemoteRuntime::RuntimeApartment final : public Apartment {
 public:
  explicit RuntimeApartment(RemoteRuntime& runtime) : runtime_(runtime) {}

  void post(Task task) override {
    if (task) runtime_.post(std::move(task));
  }
  bool isCurrentThread() const override { return runtime_.isRpcThread(); }

  TimerId startTimer(std::chrono::milliseconds interval, Task tick) override {
    TimerId id;
    {
      std::lock_guard lock(mutex_);
      id = nextTimer_++;
      live_.insert(id);
    }
    auto shared = std::make_shared<Task>(std::move(tick));
    runtime_.post([this, id, interval, shared] {
      if (!isLive(id) || !runtime_.loop_) return;
      runtime_.loop_->timers.emplace(id, schedule(id, interval, shared).eagerlyEvaluate(nullptr));
    });
    return id;
  }

  void stopTimer(TimerId id) override {
    {
      std::lock_guard lock(mutex_);
      live_.erase(id);
    }
    runtime_.post([this, id] {
      if (runtime_.loop_) runtime_.loop_->timers.erase(id);
    });
  }

 private:
  bool isLive(TimerId id) {
    std::lock_guard lock(mutex_);
    return live_.count(id) != 0;
  }

  kj::Promise<void> schedule(TimerId id, std::chrono::milliseconds interval,
                             std::shared_ptr<Task> tick) {
    const auto delay = std::max<std::int64_t>(interval.count(), 1) * kj::MILLISECONDS;
    return runtime_.loop_->io.provider->getTimer().afterDelay(delay).then(
        [this, id, interval, tick]() -> kj::Promise<void> {
          if (!isLive(id)) return kj::NEVER_DONE;
          (*tick)();
          return schedule(id, interval, tick);
        });
  }

  RemoteRuntime& runtime_;
  std::mutex mutex_;
  std::set<TimerId> live_;  // guarded by mutex_
  TimerId nextTimer_ = 1;   // guarded by mutex_
};

RemoteRuntime& RemoteRuntime::instance() {
  static RemoteRuntime runtime;
  return runtime;
}

RemoteRuntime::RemoteRuntime() {
  // TLS state is set up before the runtime, so that it is torn down after
  // the runtime's thread has ended and freed what the thread held of it.
  OPENSSL_init_ssl(0, nullptr);
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  KJ_SYSCALL(wakeFd_);
  apartment_ = std::make_shared<RuntimeApartment>(*this);
  std::promise<std::thread::id> started;
  auto startedId = started.get_future();
  thread_ = std::thread([this, &started] {
    started.set_value(std::this_thread::get_id());
    threadMain();
  });
  threadId_ = startedId.get();
}

RemoteRuntime::~RemoteRuntime() {
  post([this] { stopping_ = true; });
  if (thread_.joinable()) thread_.join();
  ::close(wakeFd_);
}

bool RemoteRuntime::post(Task task) {
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

bool RemoteRuntime::runAndWait(const Task& task) {
  if (isRpcThread()) {
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

kj::AsyncIoContext& RemoteRuntime::io() {
  KJ_REQUIRE(isRpcThread() && loop_, "the RPC thread's loop is used from another thread");
  return loop_->io;
}

kj::TaskSet& RemoteRuntime::tasks() {
  KJ_REQUIRE(isRpcThread() && loop_, "the RPC thread's tasks are used from another thread");
  return loop_->tasks;
}

std::uint64_t RemoteRuntime::addStopHook(Task hook) {
  std::lock_guard lock(hooksMutex_);
  const auto id = nextHook_++;
  stopHooks_.emplace(id, std::move(hook));
  return id;
}

bool RemoteRuntime::removeStopHook(std::uint64_t id) {
  std::lock_guard lock(hooksMutex_);
  return stopHooks_.erase(id) != 0;
}

bool RemoteRuntime::runQueued() {
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

void RemoteRuntime::threadMain() {
  // A write to a peer that has gone fails with EPIPE here instead of ending
  // the process: the signal is blocked on this thread, which does all the
  // transport's writes, and nothing else of the process changes.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  Loop loop;
  loop_ = &loop;
  Apartment::setCurrent(apartment_);
  kj::UnixEventPort::FdObserver wake(loop.io.unixEventPort, wakeFd_,
                                     kj::UnixEventPort::FdObserver::OBSERVE_READ);
  while (!stopping_) {
    if (!runQueued()) wake.whenBecomesReadable().wait(loop.io.waitScope);
    // Let the loop run what the tasks started before taking more.
    loop.io.waitScope.poll();
  }
  stop();
  Apartment::setCurrent(nullptr);
  loop_ = nullptr;
  OPENSSL_thread_stop();
}

void RemoteRuntime::stop() {
  // Connections and hosts tear down while the loop still exists.
  std::map<std::uint64_t, Task> hooks;
  {
    std::lock_guard lock(hooksMutex_);
    hooks.swap(stopHooks_);
  }
  for (auto& [id, hook] : hooks) {
    try {
      hook();
    } catch (...) {
    }
  }
  hooks.clear();
  runQueued();
  loop_->io.waitScope.poll();
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  runQueued();
  loop_->timers.clear();
  loop_->io.waitScope.poll();
}

void RemoteRuntime::configureSocket(int fd) {
  const int on = 1;
  const int idle = 3;                 // seconds of silence before the first probe
  const int interval = 1;             // seconds between probes
  const int count = 3;                // probes unanswered before the peer counts as gone
  const unsigned userTimeout = 6000;  // ms unacknowledged data may wait
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
  ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace opc::remote
