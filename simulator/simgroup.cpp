#include "simgroup.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "generators.h"
#include "opc/connectionpoint.h"
#include "opc/groupstate.h"
#include "opc/itemattributes.h"
#include "opc/itemresults.h"
#include "opc/taskmem.h"
#include "scan_p.h"
#include "servercore_p.h"
#include "simgroup_p.h"

namespace veze6::sim {

using detail::injectedFailure;

SimGroup::SimGroup(std::shared_ptr<detail::ServerCore> core, const detail::GroupSettings& settings,
                   OPCHANDLE serverHandle, DWORD updateRate)
    : core_(std::move(core)),
      serverHandle_(serverHandle),
      name_(settings.name),
      active_(settings.active),
      updateRate_(updateRate),
      clientHandle_(settings.clientHandle),
      timeBias_(settings.timeBias),
      percentDeadband_(settings.percentDeadband),
      lcid_(settings.lcid),
      callbackPoint_(opc::makeCom<opc::ConnectionPoint>(
          static_cast<IConnectionPointContainer*>(this), IID_IOPCDataCallback, 1,
          [signal = core_->scanSignal()] { signal->wake(); })),
      advises_(std::make_unique<opc::SinkList>()) {
  core_->liveGroups.fetch_add(1);
}

SimGroup::~SimGroup() {
  {
    // A pass may be looking at the group until it is off the list.
    std::lock_guard lock(core_->mutex);
    core_->unregisterGroupLocked(this);
  }
  // The sinks go now, unlocked: releasing one may call back into the server.
  callbackPoint_->detach();
  advises_->clear();
  core_->liveItems.fetch_sub(items_.size());
  core_->liveGroups.fetch_sub(1);
  detail::ServerCore::release(core_);
}

bool SimGroup::interfaceEnabled(REFIID riid) const {
  // A DA 1.0 group has only the advise path: no callback point, no
  // IOPCAsyncIO2.
  if (!core_->da10Only) return true;
  return riid != IID_IConnectionPointContainer && riid != IID_IOPCAsyncIO2;
}

GroupItem* SimGroup::findItemLocked(OPCHANDLE serverHandle) {
  const auto it = index_.find(serverHandle);
  return it == index_.end() ? nullptr : &items_[it->second];
}

void SimGroup::removeItemLocked(OPCHANDLE serverHandle) {
  const auto it = index_.find(serverHandle);
  if (it == index_.end()) return;
  const std::size_t pos = it->second;
  index_.erase(it);
  if (pos + 1 != items_.size()) {
    items_[pos] = items_.back();
    index_[items_[pos].serverHandle] = pos;
  }
  items_.pop_back();
}

void SimGroup::copyItemsLocked(const SimGroup& from) {
  for (const GroupItem& src : from.items_) {
    GroupItem copy = src;
    copy.serverHandle = core_->nextItemHandleLocked();
    copy.initial = true;
    index_.emplace(copy.serverHandle, items_.size());
    items_.push_back(copy);
  }
  core_->liveItems.fetch_add(from.items_.size());
}

opc::GroupSettings SimGroup::stateLocked() const {
  return {name_, active_, updateRate_, clientHandle_, timeBias_, percentDeadband_, lcid_};
}

// ---- IOPCItemMgt --------------------------------------------------------------

HRESULT SimGroup::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                           HRESULT** ppErrors) {
  return addOrValidate(true, dwCount, pItemArray, ppAddResults, ppErrors);
}

HRESULT SimGroup::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL /*bBlobUpdate*/,
                                OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) {
  // The simulator keeps no blobs, so there is nothing to update.
  return addOrValidate(false, dwCount, pItemArray, ppValidationResults, ppErrors);
}

HRESULT SimGroup::addOrValidate(bool add, DWORD count, const OPCITEMDEF* defs,
                                OPCITEMRESULT** ppResults, HRESULT** ppErrors) {
  if (ppResults) *ppResults = nullptr;
  if (ppErrors) *ppErrors = nullptr;
  if (auto injected = core_->enter(add ? SimCall::AddItems : SimCall::ValidateItems)) {
    return injectedFailure(*core_, *injected, count, ppResults, ppErrors);
  }
  opc::ItemResults arrays;
  if (HRESULT hr = arrays.start(count, defs, ppResults, ppErrors); FAILED(hr)) return hr;
  std::size_t added = 0;
  {
    std::lock_guard lock(core_->mutex);
    for (DWORD i = 0; i < count; ++i) {
      const OPCITEMDEF& def = defs[i];
      SimItem* item = nullptr;
      std::uint8_t path = 0;
      HRESULT hr = core_->space.resolve(def.szItemID, def.szAccessPath, &item, &path);
      if (SUCCEEDED(hr)) hr = AddressSpace::checkRequestedType(*item, def.vtRequestedDataType);
      arrays.error(i) = hr;
      if (FAILED(hr)) continue;
      OPCITEMRESULT& r = arrays.result(i);
      r.vtCanonicalDataType = item->canonicalType;
      r.dwAccessRights = item->accessRights;
      if (!add) continue;
      r.hServer = core_->nextItemHandleLocked();
      index_.emplace(r.hServer, items_.size());
      items_.push_back(GroupItem{item, r.hServer, def.hClient, def.vtRequestedDataType, path,
                                 def.bActive != FALSE});
      ++added;
    }
  }
  core_->liveItems.fetch_add(added);
  return detail::withheldArrays(*core_, arrays.handOut(ppResults, ppErrors), ppResults, ppErrors);
}

HRESULT SimGroup::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
  std::size_t removed = 0;
  const HRESULT hr = forEachHandle(SimCall::RemoveItems, dwCount, phServer, ppErrors, true,
                                   [&](GroupItem& item, DWORD) {
                                     removeItemLocked(item.serverHandle);
                                     ++removed;
                                     return S_OK;
                                   });
  core_->liveItems.fetch_sub(removed);
  return hr;
}

HRESULT SimGroup::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                 HRESULT** ppErrors) {
  return forEachHandle(SimCall::SetActiveState, dwCount, phServer, ppErrors, true,
                       [&](GroupItem& item, DWORD) {
                         // A reactivated item is reported at the next scan.
                         if (bActive && !item.active) item.initial = true;
                         item.active = bActive != FALSE;
                         return S_OK;
                       });
}

HRESULT SimGroup::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                   HRESULT** ppErrors) {
  return forEachHandle(SimCall::SetClientHandles, dwCount, phServer, ppErrors, phClient != nullptr,
                       [&](GroupItem& item, DWORD i) {
                         item.clientHandle = phClient[i];
                         return S_OK;
                       });
}

HRESULT SimGroup::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                               HRESULT** ppErrors) {
  return forEachHandle(SimCall::SetDatatypes, dwCount, phServer, ppErrors,
                       pRequestedDatatypes != nullptr, [&](GroupItem& item, DWORD i) {
                         const HRESULT hr =
                             AddressSpace::checkRequestedType(*item.item, pRequestedDatatypes[i]);
                         if (SUCCEEDED(hr) && item.requestedType != pRequestedDatatypes[i]) {
                           item.requestedType = pRequestedDatatypes[i];
                           item.initial = true;  // the client wants it again, as asked
                         }
                         return hr;
                       });
}

HRESULT SimGroup::CreateEnumerator(REFIID riid, IUnknown** ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  if (auto injected = core_->enter(SimCall::CreateEnumerator)) return *injected;
  if (HRESULT hr = opc::checkItemEnumerator(riid, ppUnk); FAILED(hr)) return hr;
  std::vector<opc::ItemAttributes> list;
  {
    std::lock_guard lock(core_->mutex);
    list.reserve(items_.size());
    for (const GroupItem& gi : items_) {
      const SimItem& item = *gi.item;
      list.push_back({std::u16string(core_->space.accessPathName(gi.accessPath)), item.itemId,
                      gi.active, gi.clientHandle, gi.serverHandle, item.accessRights,
                      gi.requestedType, item.canonicalType, OPC_NOENUM, OleVariant()});
      if (item.euRange) list.back().setRange(item.euRange->low, item.euRange->high);
    }
  }
  return opc::makeItemEnumerator(std::move(list), ppUnk);
}

// ---- IOPCGroupStateMgt -----------------------------------------------------

HRESULT SimGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                           FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                           OPCHANDLE* phServerGroup) {
  if (ppName) *ppName = nullptr;
  if (auto injected = core_->enter(SimCall::GetState)) return *injected;
  if (HRESULT hr = opc::checkGetState(pUpdateRate, pActive, ppName, pTimeBias, pPercentDeadband,
                                      pLCID, phClientGroup, phServerGroup);
      FAILED(hr)) {
    return hr;
  }
  opc::GroupSettings state;
  {
    std::lock_guard lock(core_->mutex);
    state = stateLocked();
  }
  return opc::getStateAnswer(state, serverHandle_, pUpdateRate, pActive, ppName, pTimeBias,
                             pPercentDeadband, pLCID, phClientGroup, phServerGroup);
}

HRESULT SimGroup::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                           LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                           OPCHANDLE* phClientGroup) {
  if (auto injected = core_->enter(SimCall::SetState)) return *injected;
  if (HRESULT hr = opc::checkSetState(pRevisedUpdateRate, pPercentDeadband); FAILED(hr)) return hr;
  HRESULT hr = S_OK;
  std::lock_guard lock(core_->mutex);
  if (pRequestedUpdateRate) {
    // Read before the revised rate is written: the two may be one variable.
    const DWORD requested = *pRequestedUpdateRate;
    const DWORD revised = core_->reviseRateLocked(requested);
    if (revised != updateRate_) nextScan_ = 0;  // the new rate counts from the next pass
    updateRate_ = revised;
    if (updateRate_ != requested) hr = OPC_S_UNSUPPORTEDRATE;
  }
  *pRevisedUpdateRate = updateRate_;
  if (pActive) {
    if (*pActive && !active_) {
      // A reactivated group reports every active item at once.
      markAllInitialLocked();
      nextScan_ = 0;
    }
    active_ = *pActive != FALSE;
  }
  core_->wakeScanner();
  if (pTimeBias) timeBias_ = *pTimeBias;
  if (pPercentDeadband) percentDeadband_ = *pPercentDeadband;
  if (pLCID) lcid_ = *pLCID;
  if (phClientGroup) clientHandle_ = *phClientGroup;
  return hr;
}

HRESULT SimGroup::SetName(LPCWSTR szName) {
  if (auto injected = core_->enter(SimCall::SetName)) return *injected;
  if (HRESULT hr = opc::checkGroupName(szName); FAILED(hr)) return hr;
  const std::u16string_view name(szName, wideLength(szName));
  std::lock_guard lock(core_->mutex);
  // Only groups in the name space have names to collide with.
  if (inNameSpace_ && core_->findGroupLocked(name, this)) return OPC_E_DUPLICATENAME;
  name_ = name;
  return S_OK;
}

HRESULT SimGroup::CloneGroup(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  if (auto injected = core_->enter(SimCall::CloneGroup)) return *injected;
  if (!ppUnk) return E_INVALIDARG;
  opc::GroupSettings state;
  {
    std::lock_guard lock(core_->mutex);
    state = stateLocked();
  }
  const detail::GroupSettings s{opc::cloneSettings(std::move(state), szName)};
  const HRESULT hr = core_->addGroup(s, this, riid, ppUnk, nullptr, nullptr);
  // The rate was revised when this group got it; a changed base scan rate
  // since then is not the caller's concern here.
  return SUCCEEDED(hr) ? S_OK : hr;
}

}  // namespace veze6::sim
