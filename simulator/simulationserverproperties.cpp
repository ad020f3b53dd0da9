// IOPCItemProperties of the server object, over the property catalogue of
// simproperties.h.
#include <algorithm>
#include <mutex>

#include "opc/taskmem.h"
#include "servercore_p.h"
#include "simproperties.h"
#include "simulationserver.h"

namespace veze6::sim {

namespace {

// More properties than any item has; bounds the arrays a caller can make
// the server allocate.
constexpr DWORD kMaxPropertyRequest = 65536;

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

// Frees task-memory strings handed out so far when a later step fails.
struct StringArrayGuard {
  LPWSTR* strings;
  DWORD count;
  bool armed = true;
  ~StringArrayGuard() {
    if (!armed) return;
    for (DWORD i = 0; i < count; ++i) CoTaskMemFree(strings[i]);
  }
};

}  // namespace

HRESULT SimulationServer::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                   DWORD** ppPropertyIDs, LPWSTR** ppDescriptions,
                                                   VARTYPE** ppvtDataTypes) {
  if (pdwCount) *pdwCount = 0;
  if (ppPropertyIDs) *ppPropertyIDs = nullptr;
  if (ppDescriptions) *ppDescriptions = nullptr;
  if (ppvtDataTypes) *ppvtDataTypes = nullptr;
  if (auto injected = core_->enter(SimCall::QueryAvailableProperties)) return *injected;
  if (!pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes) return E_INVALIDARG;

  std::vector<DWORD> ids;
  std::vector<VARTYPE> types;
  {
    std::lock_guard lock(core_->mutex);
    SimItem* item = nullptr;
    if (const HRESULT hr = resolveItem(core_->space, szItemID, &item); FAILED(hr)) return hr;
    ids = itemPropertyIds(*item, core_->space.isPropertyItem(*item));
    for (DWORD id : ids) types.push_back(propertyDataType(*item, id));
  }
  const DWORD n = static_cast<DWORD>(ids.size());
  opc::TaskMem<DWORD> idOut(static_cast<DWORD*>(CoTaskMemAlloc(n * sizeof(DWORD))));
  opc::TaskMem<LPWSTR> textOut(static_cast<LPWSTR*>(CoTaskMemAlloc(n * sizeof(LPWSTR))));
  opc::TaskMem<VARTYPE> typeOut(static_cast<VARTYPE*>(CoTaskMemAlloc(n * sizeof(VARTYPE))));
  if (!idOut || !textOut || !typeOut) return E_OUTOFMEMORY;
  StringArrayGuard texts{textOut.get(), 0};
  for (DWORD i = 0; i < n; ++i) {
    idOut.get()[i] = ids[i];
    typeOut.get()[i] = types[i];
    textOut.get()[i] = opc::taskStringDup(propertyDescription(ids[i]));
    if (!textOut.get()[i]) return E_OUTOFMEMORY;
    texts.count = i + 1;
  }
  texts.armed = false;
  *pdwCount = n;
  *ppPropertyIDs = idOut.release();
  *ppDescriptions = textOut.release();
  *ppvtDataTypes = typeOut.release();
  return S_OK;
}

HRESULT SimulationServer::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                            VARIANT** ppvData, HRESULT** ppErrors) {
  if (ppvData) *ppvData = nullptr;
  if (ppErrors) *ppErrors = nullptr;
  if (auto injected = core_->enter(SimCall::GetItemProperties)) return *injected;
  if (!ppvData || !ppErrors || !pdwPropertyIDs) return E_INVALIDARG;
  if (dwCount == 0 || dwCount > kMaxPropertyRequest) return E_INVALIDARG;

  opc::TaskMem<VARIANT> values(static_cast<VARIANT*>(CoTaskMemAlloc(dwCount * sizeof(VARIANT))));
  opc::TaskMem<HRESULT> errors(static_cast<HRESULT*>(CoTaskMemAlloc(dwCount * sizeof(HRESULT))));
  if (!values || !errors) return E_OUTOFMEMORY;
  for (DWORD i = 0; i < dwCount; ++i) VariantInit(&values.get()[i]);

  bool allGood = true;
  {
    std::lock_guard lock(core_->mutex);
    SimItem* item = nullptr;
    if (const HRESULT hr = resolveItem(core_->space, szItemID, &item); FAILED(hr)) return hr;
    const auto ids = itemPropertyIds(*item, core_->space.isPropertyItem(*item));
    for (DWORD i = 0; i < dwCount; ++i) {
      if (!hasProperty(ids, pdwPropertyIDs[i])) {
        errors.get()[i] = OPC_E_INVALID_PID;
        allGood = false;
        continue;
      }
      values.get()[i] = propertyValue(*item, pdwPropertyIDs[i], core_->baseScanRate).detach();
      errors.get()[i] = S_OK;
    }
  }
  *ppvData = values.release();
  *ppErrors = errors.release();
  return allGood ? S_OK : S_FALSE;
}

HRESULT SimulationServer::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                        LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) {
  if (ppszNewItemIDs) *ppszNewItemIDs = nullptr;
  if (ppErrors) *ppErrors = nullptr;
  if (auto injected = core_->enter(SimCall::LookupItemIDs)) return *injected;
  if (!ppszNewItemIDs || !ppErrors || !pdwPropertyIDs) return E_INVALIDARG;
  if (dwCount == 0 || dwCount > kMaxPropertyRequest) return E_INVALIDARG;

  std::vector<std::u16string> found(dwCount);
  opc::TaskMem<HRESULT> errors(static_cast<HRESULT*>(CoTaskMemAlloc(dwCount * sizeof(HRESULT))));
  opc::TaskMem<LPWSTR> ids(static_cast<LPWSTR*>(CoTaskMemAlloc(dwCount * sizeof(LPWSTR))));
  if (!errors || !ids) return E_OUTOFMEMORY;
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
  bool allGood = true;
  StringArrayGuard handedOut{ids.get(), 0};
  for (DWORD i = 0; i < dwCount; ++i) {
    ids.get()[i] = nullptr;
    handedOut.count = i + 1;
    if (found[i].empty()) {
      errors.get()[i] = OPC_E_INVALID_PID;
      allGood = false;
      continue;
    }
    ids.get()[i] = opc::taskStringDup(found[i]);
    if (!ids.get()[i]) return E_OUTOFMEMORY;
    errors.get()[i] = S_OK;
  }
  handedOut.armed = false;
  *ppszNewItemIDs = ids.release();
  *ppErrors = errors.release();
  return allGood ? S_OK : S_FALSE;
}

}  // namespace veze6::sim
