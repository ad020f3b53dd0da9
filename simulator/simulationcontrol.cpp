#include "simulationcontrol.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <vector>

#include "simulationcontrol_p.h"

namespace veze6::sim {

namespace {

constexpr std::array<std::string_view, kSimCallCount> kCallNames = {
    "AddGroup",
    "GetErrorString",
    "GetGroupByName",
    "GetStatus",
    "RemoveGroup",
    "CreateGroupEnumerator",
    "SetLocaleID",
    "GetLocaleID",
    "QueryAvailableLocaleIDs",
    "CommonGetErrorString",
    "SetClientName",
    "EnumConnectionPoints",
    "FindConnectionPoint",
    "AddItems",
    "ValidateItems",
    "RemoveItems",
    "SetActiveState",
    "SetClientHandles",
    "SetDatatypes",
    "CreateEnumerator",
    "GetState",
    "SetState",
    "SetName",
    "CloneGroup",
    "SyncRead",
    "SyncWrite",
    "AsyncRead",
    "AsyncWrite",
    "Refresh",
    "Cancel",
    "GroupFindConnectionPoint",
    "DAdvise",
    "QueryOrganization",
    "ChangeBrowsePosition",
    "BrowseOPCItemIDs",
    "GetItemID",
    "BrowseAccessPaths",
    "QueryAvailableProperties",
    "GetItemProperties",
    "LookupItemIDs",
};

struct Hooks {
  std::mutex mutex;
  std::uint64_t nextId = 1;
  std::vector<std::pair<std::uint64_t, CreationHook>> hooks;
};

Hooks& hooks() {
  static Hooks h;
  return h;
}

std::atomic<std::size_t> g_liveServers{0};

}  // namespace

std::string_view simCallName(SimCall call) {
  const auto i = static_cast<std::size_t>(call);
  return i < kCallNames.size() ? kCallNames[i] : std::string_view();
}

std::optional<SimCall> simCallFromName(std::string_view name) {
  const auto it = std::find(kCallNames.begin(), kCallNames.end(), name);
  if (it == kCallNames.end()) return std::nullopt;
  return static_cast<SimCall>(it - kCallNames.begin());
}

ScopedCreationHook::ScopedCreationHook(CreationHook hook) {
  auto& h = hooks();
  std::lock_guard lock(h.mutex);
  id_ = h.nextId++;
  h.hooks.emplace_back(id_, std::move(hook));
}

ScopedCreationHook::~ScopedCreationHook() {
  auto& h = hooks();
  std::lock_guard lock(h.mutex);
  std::erase_if(h.hooks, [&](const auto& e) { return e.first == id_; });
}

std::size_t liveServerCount() { return g_liveServers.load(); }

namespace detail {

void runCreationHooks(SimulationControl& control) {
  std::vector<CreationHook> current;
  {
    auto& h = hooks();
    std::lock_guard lock(h.mutex);
    for (const auto& e : h.hooks) current.push_back(e.second);
  }
  // Run unlocked: a hook may create servers or install hooks itself.
  for (const auto& hook : current) hook(control);
}

void serverCreated() { g_liveServers.fetch_add(1); }
void serverDestroyed() { g_liveServers.fetch_sub(1); }

}  // namespace detail

}  // namespace veze6::sim
