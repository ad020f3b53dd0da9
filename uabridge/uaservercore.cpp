#include <algorithm>
#include <ctime>

#include "opc/syserror.h"
#include "opc/taskmem.h"
#include "uagroup.h"
#include "uaservercore_p.h"

namespace veze6::uab::detail {

HRESULT ServerCore::addGroup(const GroupSettings& settings, UaGroup* cloneOf, REFIID riid,
                             IUnknown** ppUnk, OPCHANDLE* serverHandle, DWORD* revisedRate) {
  GroupSettings s = settings;
  OPCHANDLE handle = 0;
  {
    std::lock_guard lock(mutex);
    if (closed) return RPC_E_DISCONNECTED;
    if (s.name.empty()) {
      s.name = uniqueGroupNameLocked();
    } else if (findGroupLocked(s.name)) {
      return OPC_E_DUPLICATENAME;
    }
    if (nextGroupHandle_ == 0) ++nextGroupHandle_;
    handle = nextGroupHandle_++;
  }
  // The subscription is made unlocked: it takes a round trip to the server.
  const ComPtr<UaGroup> group = opc::makeCom<UaGroup>(shared_from_this(), s, handle);
  ComPtr<IUnknown> asked;
  HRESULT hr = group->QueryInterface(riid, asked.putVoid());
  if (FAILED(hr) || !asked) return E_NOINTERFACE;
  DWORD rate = 0;
  hr = group->subscribe(s.requestedUpdateRate, &rate);
  if (FAILED(hr)) return hr;
  if (cloneOf) group->copyItemsFrom(*cloneOf);
  {
    std::lock_guard lock(mutex);
    if (closed) return RPC_E_DISCONNECTED;
    // Another caller may have taken the name meanwhile.
    if (findGroupLocked(s.name)) return OPC_E_DUPLICATENAME;
    groups.push_back(group);
  }
  if (serverHandle) *serverHandle = handle;
  if (revisedRate) *revisedRate = rate;
  *ppUnk = static_cast<IUnknown*>(asked.detach());
  return rate != s.requestedUpdateRate ? OPC_S_UNSUPPORTEDRATE : S_OK;
}

bool ServerCore::takeGroup(OPCHANDLE serverHandle, ComPtr<UaGroup>& taken) {
  {
    std::lock_guard lock(mutex);
    const auto it = std::find_if(groups.begin(), groups.end(),
                                 [&](const auto& g) { return g->serverHandle() == serverHandle; });
    if (it == groups.end()) return false;
    taken = std::move(*it);
    groups.erase(it);
  }
  taken->leaveNameSpace();
  return true;
}

void ServerCore::close() {
  std::vector<ComPtr<UaGroup>> dropped;
  {
    std::lock_guard lock(mutex);
    closed = true;
    dropped.swap(groups);
  }
  // Released unlocked: a group's destruction makes a UA call.
  for (auto& g : dropped) g->leaveNameSpace();
}

std::u16string ServerCore::uniqueGroupNameLocked() {
  for (;;) {
    const std::string name = "Group" + std::to_string(++groupNameCounter_);
    std::u16string wide(name.begin(), name.end());
    if (!findGroupLocked(wide)) return wide;
  }
}

UaGroup* ServerCore::findGroupLocked(std::u16string_view name, const UaGroup* except) const {
  for (const auto& g : groups) {
    if (g.get() != except && g->nameLocked() == name) return g.get();
  }
  return nullptr;
}

DWORD ServerCore::nextRequestId() {
  DWORD id = nextRequestId_.fetch_add(1);
  if (id == 0) id = nextRequestId_.fetch_add(1);
  return id;
}

bool isSupportedLocale(LCID lcid) { return lcid == 0 || lcid == 1033; }

LONG localTimeBias() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (!localtime_r(&now, &local)) return 0;
  return static_cast<LONG>(-local.tm_gmtoff / 60);
}

}  // namespace veze6::uab::detail
