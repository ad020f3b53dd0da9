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
    if (HRESULT admitted = groups.admitNameLocked(s.name); FAILED(admitted)) return admitted;
    handle = groups.takeHandleLocked();
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
    // Another caller may have taken the name meanwhile.
    if (HRESULT admitted = groups.admitNameLocked(s.name); FAILED(admitted)) return admitted;
    groups.addLocked(group);
  }
  if (serverHandle) *serverHandle = handle;
  if (revisedRate) *revisedRate = rate;
  *ppUnk = static_cast<IUnknown*>(asked.detach());
  return rate != s.requestedUpdateRate ? OPC_S_UNSUPPORTEDRATE : S_OK;
}

UaGroup* ServerCore::findGroupLocked(std::u16string_view name, const UaGroup* except) const {
  return groups.findLocked(name, except);
}

bool ServerCore::takeGroup(OPCHANDLE serverHandle, ComPtr<UaGroup>& taken) {
  {
    std::lock_guard lock(mutex);
    taken = groups.takeLocked(serverHandle);
    if (!taken) return false;
  }
  taken->leaveNameSpace();
  return true;
}

void ServerCore::close() {
  std::vector<ComPtr<UaGroup>> dropped;
  {
    std::lock_guard lock(mutex);
    dropped = groups.closeLocked();
  }
  // Released unlocked: a group's destruction makes a UA call.
  for (auto& g : dropped) g->leaveNameSpace();
}

}  // namespace veze6::uab::detail
