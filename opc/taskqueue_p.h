// Internal to the platform layer; not API.
//
// The run of a task queue that other threads post to: each task is taken
// under the queue's lock and run without it, so that it may post more; those
// run in the same pass.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace opc::detail {

/// Runs the queued tasks until the queue is empty, each through run(task);
/// returns how many ran.
template <class Run>
std::size_t runQueuedTasks(std::mutex& mutex, std::deque<std::function<void()>>& queue, Run run) {
  std::size_t ran = 0;
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard lock(mutex);
      if (queue.empty()) break;
      task = std::move(queue.front());
      queue.pop_front();
    }
    run(task);
    ++ran;
  }
  return ran;
}

}  // namespace opc::detail
