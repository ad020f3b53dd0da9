#include "hostilescript.h"

namespace hostile {

Script& Script::instance() {
  static Script script;
  return script;
}

Script::Script() : steps_(veze6::sim::kSimCallCount) {}

void Script::set(SimCall call, Act act, HRESULT code) {
  std::lock_guard lock(mutex_);
  steps_[std::size_t(call)] = {act, code};
}

void Script::setAll(Act act, HRESULT code) {
  std::lock_guard lock(mutex_);
  for (Step& s : steps_) s = {act, code};
}

void Script::setMangle(unsigned flags) {
  std::lock_guard lock(mutex_);
  mangle_ = flags;
}

void Script::reset() {
  joinForeign();
  std::vector<std::function<void()>> dropped;
  {
    std::lock_guard lock(mutex_);
    for (Step& s : steps_) s = {};
    mangle_ = kClean;
    gateOpen_ = true;
    dropped.swap(kept_);
  }
  gateChanged_.notify_all();
  // The kept calls hold client sinks: released outside the lock.
}

Script::Step Script::step(SimCall call) const {
  std::lock_guard lock(mutex_);
  return steps_[std::size_t(call)];
}

unsigned Script::mangle() const {
  std::lock_guard lock(mutex_);
  return mangle_;
}

void Script::closeGate() {
  std::lock_guard lock(mutex_);
  gateOpen_ = false;
}

void Script::openGate() {
  {
    std::lock_guard lock(mutex_);
    gateOpen_ = true;
  }
  gateChanged_.notify_all();
}

void Script::passGate() {
  std::unique_lock lock(mutex_);
  ++blocked_;
  gateChanged_.notify_all();
  gateChanged_.wait(lock, [this] { return gateOpen_; });
  --blocked_;
}

bool Script::waitForBlockedCall(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return gateChanged_.wait_for(lock, timeout, [this] { return blocked_ > 0 || gateOpen_; }) &&
         blocked_ > 0;
}

void Script::keep(std::function<void()> call) {
  std::lock_guard lock(mutex_);
  kept_.push_back(std::move(call));
}

std::size_t Script::fireKept() {
  std::vector<std::function<void()>> calls;
  {
    std::lock_guard lock(mutex_);
    calls = kept_;
  }
  if (mangles(kForeignThread)) {
    runForeign([calls] {
      for (auto& call : calls) call();
    });
  } else {
    for (auto& call : calls) call();
  }
  return calls.size();
}

void Script::runForeign(std::function<void()> call) {
  std::lock_guard lock(mutex_);
  threads_.emplace_back(std::move(call));
}

void Script::joinForeign() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(threads_);
  }
  for (auto& t : threads) t.join();
}

}  // namespace hostile
