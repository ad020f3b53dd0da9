// IOPCItemProperties of the server object, over the property catalogue of
// simproperties.h.
#include <algorithm>
#include <mutex>

#include "opc/servercommon.h"
#include "servercore_p.h"
#include "simproperties.h"
#include "simulationserver.h"

namespace veze6::sim {

namespace {

// Resolves a caller's item id under the lock: the item, or the call's error.
HRESULT resolveItem(AddressSpace& space, LPCWSTR szItemID, SimItem** item) {
  *item = nullptr;
  if (!szItemID) return OPC_E_INVALIDITEMID;
  const auto id = boundedWideView(szItemID, AddressSpace::kMaxItemIdLength);
  if (!id || FAILED(AddressSpace::checkItemIdSyntax(*id))) return OPC_E_INVALIDITEMID;
  *item = space.find(*id);
  return *item ? S_OK : OPC_E_UNKNOWNITEMID;
}

bool hasProperty(const std::vector<DWORD>& ids, DWORD id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

}  // namespace

HRESULT SimulationServer::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                   DWORD** ppPropertyIDs, LPWSTR** ppDescriptions,
                                                   VARTYPE** ppvtDataTypes) {
  // The outputs are nulled also for an injected failure.
  const HRESULT args =
      opc::checkAvailablePropertiesRequest(pdwCount, ppPropertyIDs, ppDescriptions, ppvtDataTypes);
  if (auto injected = core_->enter(SimCall::QueryAvailableProperties)) return *injected;
  if (FAILED(args)) return args;

  std::vector<DWORD> ids;
  std::vector<VARTYPE> types;
  {
    std::lock_guard lock(core_->mutex);
    SimItem* item = nullptr;
    if (const HRESULT hr = resolveItem(core_->space, szItemID, &item); FAILED(hr)) return hr;
    ids = itemPropertyIds(*item, core_->space.isPropertyItem(*item));
    for (DWORD id : ids) types.push_back(propertyDataType(*item, id));
  }
  return opc::availablePropertiesAnswer(ids, types, pdwCount, ppPropertyIDs, ppDescriptions,
                                        ppvtDataTypes);
}

HRESULT SimulationServer::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                            VARIANT** ppvData, HRESULT** ppErrors) {
  const HRESULT args = opc::checkPropertyRequest(dwCount, pdwPropertyIDs, ppvData, ppErrors);
  if (auto injected = core_->enter(SimCall::GetItemProperties)) return *injected;
  if (FAILED(args)) return args;
  std::vector<OleVariant> values(dwCount);
  std::vector<HRESULT> errors(dwCount, OPC_E_INVALID_PID);
  {
    std::lock_guard lock(core_->mutex);
    SimItem* item = nullptr;
    if (const HRESULT hr = resolveItem(core_->space, szItemID, &item); FAILED(hr)) return hr;
    const auto ids = itemPropertyIds(*item, core_->space.isPropertyItem(*item));
    for (DWORD i = 0; i < dwCount; ++i) {
      if (!hasProperty(ids, pdwPropertyIDs[i])) continue;
      values[i] = propertyValue(*item, pdwPropertyIDs[i], core_->baseScanRate);
      errors[i] = S_OK;
    }
  }
  return opc::itemPropertiesAnswer(std::move(values), errors, ppvData, ppErrors);
}

HRESULT SimulationServer::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                        LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) {
  const HRESULT args = opc::checkPropertyRequest(dwCount, pdwPropertyIDs, ppszNewItemIDs, ppErrors);
  if (auto injected = core_->enter(SimCall::LookupItemIDs)) return *injected;
  if (FAILED(args)) return args;
  std::vector<std::u16string> found(dwCount);
  {
    std::lock_guard lock(core_->mutex);
    SimItem* item = nullptr;
    if (const HRESULT hr = resolveItem(core_->space, szItemID, &item); FAILED(hr)) return hr;
    const auto has = itemPropertyIds(*item, core_->space.isPropertyItem(*item));
    for (DWORD i = 0; i < dwCount; ++i) {
      const std::u16string_view name = propertyItemName(pdwPropertyIDs[i]);
      if (name.empty() || !hasProperty(has, pdwPropertyIDs[i])) continue;
      std::u16string id = item->itemId;
      id += AddressSpace::kSeparator;
      id += name;
      // An owner near the length limit leaves no room for a property id.
      if (SUCCEEDED(AddressSpace::checkItemIdSyntax(id))) found[i] = std::move(id);
    }
  }
  return opc::lookupItemIdsAnswer(found, ppszNewItemIDs, ppErrors);
}

}  // namespace veze6::sim
