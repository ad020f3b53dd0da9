#include <algorithm>
#include <ctime>
#include <limits>

#include "servercore_p.h"
#include "simgroup.h"

namespace veze6::sim::detail {

bool isSupportedLocale(LCID lcid) { return lcid == 0 || lcid == 1033; }

LONG localTimeBias() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (!localtime_r(&now, &local)) return 0;
  return static_cast<LONG>(-local.tm_gmtoff / 60);
}

ServerCore::ServerCore(const SimulationOptions& options)
    : da10Only(options.da10Only),
      baseScanRate(std::max<DWORD>(options.baseScanRateMs, 1)),
      clock(options.clock ? options.clock : std::make_shared<SystemClock>()),
      vendorInfo(options.vendorInfo) {
  startTime = clock->now();
  // Until data is sent, the last update is the start.
  lastUpdateTime = startTime;
  if (options.defaultItems) space.populateDefault(startTime);
  if (options.extendAddressSpace) options.extendAddressSpace(space);
}

ServerCore::~ServerCore() = default;

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

std::u16string ServerCore::uniqueGroupNameLocked() {
  for (;;) {
    const std::string n = "Group" + std::to_string(++groupNameCounter_);
    std::u16string name(n.begin(), n.end());
    if (!findGroupLocked(name)) return name;
  }
}

SimGroup* ServerCore::findGroupLocked(std::u16string_view name, const SimGroup* except) const {
  for (const auto& g : groups) {
    if (g.get() != except && g->nameLocked() == name) return g.get();
  }
  return nullptr;
}

OPCHANDLE ServerCore::nextItemHandleLocked() {
  if (nextItemHandle_ == 0) ++nextItemHandle_;  // 0 is never a handle
  return nextItemHandle_++;
}

HRESULT ServerCore::addGroup(const GroupSettings& settings, const SimGroup* cloneOf, REFIID riid,
                             IUnknown** ppUnk, OPCHANDLE* serverHandle, DWORD* revisedRate) {
  ComPtr<SimGroup> group;
  ComPtr<IUnknown> asked;
  HRESULT hr = S_OK;
  {
    std::lock_guard lock(mutex);
    if (closed) return RPC_E_DISCONNECTED;
    GroupSettings s = settings;
    if (s.name.empty()) {
      s.name = uniqueGroupNameLocked();
    } else if (findGroupLocked(s.name)) {
      return OPC_E_DUPLICATENAME;
    }
    const DWORD rate = reviseRateLocked(s.requestedUpdateRate);
    if (nextGroupHandle_ == 0) ++nextGroupHandle_;
    group = opc::makeCom<SimGroup>(shared_from_this(), s, nextGroupHandle_, rate);
    // The group's QueryInterface takes no lock, so asking here keeps a refused
    // group from ever being seen in the name space.
    hr = group->QueryInterface(riid, asked.putVoid());
    if (SUCCEEDED(hr) && asked) {
      ++nextGroupHandle_;
      if (cloneOf) group->copyItemsLocked(*cloneOf);
      groups.push_back(group);
      if (serverHandle) *serverHandle = group->serverHandle();
      if (revisedRate) *revisedRate = rate;
      hr = rate != s.requestedUpdateRate ? OPC_S_UNSUPPORTEDRATE : S_OK;
    } else {
      group->leaveNameSpaceLocked();
      hr = E_NOINTERFACE;
    }
  }
  if (FAILED(hr)) return hr;  // the refused group is released here, unlocked
  *ppUnk = asked.detach();
  return hr;
}

bool ServerCore::takeGroup(OPCHANDLE serverHandle, ComPtr<SimGroup>& taken) {
  std::lock_guard lock(mutex);
  const auto it = std::find_if(groups.begin(), groups.end(),
                               [&](const auto& g) { return g->serverHandle() == serverHandle; });
  if (it == groups.end()) return false;
  (*it)->leaveNameSpaceLocked();
  taken = std::move(*it);
  groups.erase(it);
  return true;
}

void ServerCore::close() {
  std::vector<ComPtr<SimGroup>> dropped;
  {
    std::lock_guard lock(mutex);
    closed = true;
    for (auto& g : groups) g->leaveNameSpaceLocked();
    dropped.swap(groups);
  }
  // Released unlocked: a group's destruction must not run under the lock.
}

}  // namespace veze6::sim::detail
