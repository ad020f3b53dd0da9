#include <algorithm>
#include <limits>

#include "generators.h"
#include "opc/filetime.h"
#include "servercore_p.h"
#include "simgroup.h"

namespace veze6::sim::detail {

namespace {

/// The scan thread: a pass whenever a group is due or work is queued, and
/// otherwise asleep. It holds the server only during a pass (inside the pass
/// gate), so that the server can go while the thread waits.
void scanLoop(std::weak_ptr<ServerCore> weak, std::shared_ptr<ScanSignal> signal) {
  for (;;) {
    std::uint64_t seen = 0;
    {
      std::lock_guard lock(signal->mutex);
      if (signal->stop) return;
      seen = signal->generation;
    }
    std::optional<std::chrono::nanoseconds> wait;
    {
      std::lock_guard gate(signal->passGate);
      std::shared_ptr<ServerCore> core = weak.lock();
      if (!core) return;
      wait = core->scanOnce();
    }
    std::unique_lock lock(signal->mutex);
    const auto woken = [&] { return signal->stop || signal->generation != seen; };
    if (wait) {
      signal->wakeup.wait_for(lock, *wait, woken);
    } else {
      signal->wakeup.wait(lock, woken);
    }
    if (signal->stop) return;
  }
}

}  // namespace

ServerCore::ServerCore(const SimulationOptions& options)
    : da10Only(options.da10Only),
      baseScanRate(std::max<DWORD>(options.baseScanRateMs, 1)),
      clock(options.clock ? options.clock : std::make_shared<SystemClock>()),
      vendorInfo(options.vendorInfo),
      manualScan(options.manualScan) {
  startTime = clock->now();
  signalEpoch = opc::fileTimeTicks(startTime);
  // Until data is sent, the last update is the start.
  lastUpdateTime = startTime;
  if (options.defaultItems) {
    space.populateDefault(startTime);
    animateDefaultItems(space, startTime);
  }
  if (options.extendAddressSpace) options.extendAddressSpace(space);
}

ServerCore::~ServerCore() {
  {
    std::lock_guard lock(scanSignal_->mutex);
    scanSignal_->stop = true;
  }
  scanSignal_->wakeup.notify_all();
  // Not joined: this may run on the scan thread itself, or while the pass
  // gate is held. The thread touches only the signal from now on and ends.
  if (scanThread_.joinable()) scanThread_.detach();
}

void ServerCore::release(std::shared_ptr<ServerCore>& core) {
  if (!core) return;
  const std::shared_ptr<ScanSignal> signal = core->scanSignal_;
  std::lock_guard gate(signal->passGate);
  core.reset();
}

std::optional<HRESULT> ServerCore::enter(SimCall call) {
  const auto i = static_cast<std::size_t>(call);
  calls_[i].fetch_add(1, std::memory_order_relaxed);
  std::lock_guard lock(mutex);
  auto& f = failures_[i];
  if (!f) return std::nullopt;
  const HRESULT result = f->result;
  if (f->remaining > 0 && --f->remaining == 0) f.reset();
  return result;
}

void ServerCore::setQuirk(Quirk q, bool enabled) {
  const unsigned bit = 1u << static_cast<unsigned>(q);
  if (enabled) {
    quirks_.fetch_or(bit);
  } else {
    quirks_.fetch_and(~bit);
  }
}

void ServerCore::failCall(SimCall call, HRESULT result, int times) {
  std::lock_guard lock(mutex);
  auto& f = failures_[static_cast<std::size_t>(call)];
  if (times == 0) {
    f.reset();
  } else {
    f = Failure{result, times < 0 ? -1 : times};
  }
}

void ServerCore::clearFailure(SimCall call) {
  std::lock_guard lock(mutex);
  failures_[static_cast<std::size_t>(call)].reset();
}

void ServerCore::clearFailures() {
  std::lock_guard lock(mutex);
  for (auto& f : failures_) f.reset();
}

std::size_t ServerCore::callCount(SimCall call) const {
  return calls_[static_cast<std::size_t>(call)].load(std::memory_order_relaxed);
}

DWORD ServerCore::reviseRateLocked(DWORD requested) const {
  if (requested == 0) return baseScanRate;
  const std::uint64_t base = baseScanRate;
  std::uint64_t revised = (std::uint64_t(requested) + base - 1) / base * base;
  if (revised > std::numeric_limits<DWORD>::max()) {
    revised = std::uint64_t(std::numeric_limits<DWORD>::max()) / base * base;
  }
  return static_cast<DWORD>(revised);
}

HRESULT ServerCore::addGroup(const GroupSettings& settings, const SimGroup* cloneOf, REFIID riid,
                             IUnknown** ppUnk, OPCHANDLE* serverHandle, DWORD* revisedRate) {
  ComPtr<SimGroup> group;
  ComPtr<IUnknown> asked;
  HRESULT hr = S_OK;
  {
    std::lock_guard lock(mutex);
    GroupSettings s = settings;
    if (HRESULT admitted = groups.admitNameLocked(s.name); FAILED(admitted)) return admitted;
    const DWORD rate = reviseRateLocked(s.requestedUpdateRate);
    group = opc::makeCom<SimGroup>(shared_from_this(), s, groups.nextHandleLocked(), rate);
    registerGroupLocked(group.get());
    // The group's QueryInterface takes no lock, so asking here keeps a refused
    // group from ever being seen in the name space.
    hr = group->QueryInterface(riid, asked.putVoid());
    if (SUCCEEDED(hr) && asked) {
      groups.takeHandleLocked();
      if (cloneOf) group->copyItemsLocked(*cloneOf);
      groups.addLocked(group);
      if (serverHandle) *serverHandle = group->serverHandle();
      if (revisedRate) *revisedRate = rate;
      hr = rate != s.requestedUpdateRate ? OPC_S_UNSUPPORTEDRATE : S_OK;
      startScannerLocked();
    } else {
      group->leaveNameSpaceLocked();
      hr = E_NOINTERFACE;
    }
  }
  if (FAILED(hr)) return hr;  // the refused group is released here, unlocked
  wakeScanner();
  *ppUnk = asked.detach();
  return hr;
}

SimGroup* ServerCore::findGroupLocked(std::u16string_view name, const SimGroup* except) const {
  return groups.findLocked(name, except);
}

bool ServerCore::takeGroup(OPCHANDLE serverHandle, ComPtr<SimGroup>& taken) {
  std::lock_guard lock(mutex);
  taken = groups.takeLocked(serverHandle);
  if (!taken) return false;
  taken->leaveNameSpaceLocked();
  return true;
}

void ServerCore::close() {
  std::vector<ComPtr<SimGroup>> dropped;
  {
    std::lock_guard lock(mutex);
    dropped = groups.closeLocked();
    for (auto& g : dropped) g->leaveNameSpaceLocked();
  }
  // Released unlocked: a group's destruction must not run under the lock.
}

// ---- Scanning ---------------------------------------------------------------

PassTime ServerCore::nowLocked() const {
  const FILETIME now = clock->now();
  return PassTime{opc::fileTimeTicks(now), now};
}

void ServerCore::sampleLocked(SimItem& item, const PassTime& now) {
  if (!item.generator || item.sampledAt == now.ticks) return;
  item.sampledAt = now.ticks;
  const double seconds = double(std::int64_t(now.ticks - signalEpoch)) / 1e7;
  if (item.generator->next(seconds, *item.value.ptr())) {
    ++item.changeCount;
    item.timeStamp = now.fileTime;
  }
}

void ServerCore::unregisterGroupLocked(SimGroup* group) { std::erase(liveGroupList_, group); }

std::size_t ServerCore::runPass() {
  std::lock_guard pass(scanSignal_->passGate);
  std::vector<Outgoing> calls;
  {
    std::lock_guard lock(mutex);
    const PassTime now = nowLocked();
    for (SimGroup* g : liveGroupList_) g->collectLocked(now, calls);
    if (!calls.empty()) lastUpdateTime = now.fileTime;
  }
  send(calls);
  return calls.size();
}

std::optional<std::chrono::nanoseconds> ServerCore::scanOnce() {
  {
    std::lock_guard lock(mutex);
    if (manualScan) return std::nullopt;
  }
  runPass();
  std::lock_guard lock(mutex);
  if (manualScan) return std::nullopt;
  std::optional<std::uint64_t> next;
  for (const SimGroup* g : liveGroupList_) {
    if (const auto due = g->nextDueLocked()) next = next ? std::min(*next, *due) : *due;
  }
  if (!next) return std::nullopt;
  const std::uint64_t now = nowLocked().ticks;
  if (*next <= now) return std::chrono::nanoseconds(0);
  return std::chrono::nanoseconds((*next - now) * 100);  // ticks are 100 ns
}

std::size_t ServerCore::advance(std::chrono::milliseconds step) {
  std::shared_ptr<ManualClock> manual;
  std::chrono::milliseconds base;
  {
    std::lock_guard lock(mutex);
    manual = std::dynamic_pointer_cast<ManualClock>(clock);
    if (!manual) {
      manual = std::make_shared<ManualClock>(clock->now());
      clock = manual;
    }
    manualScan = true;
    base = std::chrono::milliseconds(baseScanRate);
  }
  wakeScanner();  // it goes idle
  std::size_t calls = 0;
  auto left = std::max(step, std::chrono::milliseconds(0));
  do {
    const auto d = std::min(left, base);
    manual->advance(d);
    calls += runPass();
    left -= d;
  } while (left.count() > 0);
  return calls;
}

void ServerCore::setManualScan(bool manual) {
  {
    std::lock_guard lock(mutex);
    manualScan = manual;
    if (!manual && !groups.groupsLocked().empty()) startScannerLocked();
  }
  wakeScanner();
}

void ServerCore::startScannerLocked() {
  if (manualScan || scanThread_.joinable()) return;
  scanThread_ = std::thread(scanLoop, weak_from_this(), scanSignal_);
}

}  // namespace veze6::sim::detail
