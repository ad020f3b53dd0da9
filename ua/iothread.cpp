#include "iothread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <system_error>

namespace veze6::ua {

IoThread::IoThread() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  thread_ = std::thread([this] { run(); });
}

IoThread::~IoThread() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
  thread_.join();
  ::close(wakeFd_);
}

void IoThread::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
}

IoThread::TimerId IoThread::schedule(std::chrono::milliseconds delay, Task task) {
  const TimerId id = nextTimer_++;
  const auto at = Clock::now() + delay;
  timers_.emplace(at, std::make_pair(id, std::move(task)));
  timerDeadlines_.emplace(id, at);
  return id;
}

void IoThread::cancel(TimerId id) {
  const auto it = timerDeadlines_.find(id);
  if (it == timerDeadlines_.end()) return;
  auto [first, last] = timers_.equal_range(it->second);
  for (auto t = first; t != last; ++t) {
    if (t->second.first == id) {
      timers_.erase(t);
      break;
    }
  }
  timerDeadlines_.erase(it);
}

void IoThread::watch(int fd, Watcher* watcher) {
  fd_ = fd;
  watcher_ = watcher;
}

void IoThread::unwatch() {
  fd_ = -1;
  watcher_ = nullptr;
}

bool IoThread::runTasks() {
  std::deque<Task> batch;
  bool stopping;
  {
    std::lock_guard lock(mutex_);
    batch.swap(tasks_);
    stopping = stopping_;
  }
  for (auto& task : batch) task();
  return stopping;
}

void IoThread::runTimers() {
  const auto now = Clock::now();
  while (!timers_.empty() && timers_.begin()->first <= now) {
    auto node = timers_.extract(timers_.begin());
    timerDeadlines_.erase(node.mapped().first);
    node.mapped().second();
  }
}

void IoThread::run() {
  for (;;) {
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd_, 0, 0}};
    int count = 1;
    if (fd_ >= 0 && watcher_) {
      fds[1].events = short(POLLIN | (watcher_->wantsWrite() ? POLLOUT : 0));
      count = 2;
    }
    int timeout = -1;
    if (!timers_.empty()) {
      const auto wait =
          std::chrono::ceil<std::chrono::milliseconds>(timers_.begin()->first - Clock::now());
      timeout = int(std::max<std::int64_t>(0, wait.count()));
    }
    const int rc = ::poll(fds, nfds_t(count), timeout);
    if (rc < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      std::uint64_t value;
      [[maybe_unused]] auto n = ::read(wakeFd_, &value, sizeof value);
    }
    if (runTasks()) {
      // Finish what was posted meanwhile (a task may post another), then leave.
      for (;;) {
        {
          std::lock_guard lock(mutex_);
          if (tasks_.empty()) return;
        }
        runTasks();
      }
    }
    if (count == 2 && watcher_ && fds[1].revents) {
      if (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) watcher_->onReadable();
      if (watcher_ && (fds[1].revents & POLLOUT)) watcher_->onWritable();
    }
    runTimers();
  }
}

}  // namespace veze6::ua
