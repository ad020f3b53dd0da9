#include "uaworker.h"

namespace veze6::uab {

UaWorker::UaWorker() : thread_([this] { run(); }) {}

UaWorker::~UaWorker() {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    dropped.swap(queue_);
  }
  wake_.notify_all();
  thread_.join();
}

void UaWorker::post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    if (stop_) return;
    queue_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void UaWorker::run() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    task();
  }
}

}  // namespace veze6::uab
