#include "simproperties.h"

#include <algorithm>
#include <array>
#include <mutex>

#include "opc/filetime.h"
#include "opc/taskmem.h"
#include "servercore_p.h"
#include "simulationserver.h"

namespace veze6::sim {

namespace {

struct PropertyName {
  DWORD id;
  std::u16string_view description;
  std::u16string_view itemName;  // empty: no item id of its own
};

constexpr std::array<PropertyName, 17> kProperties = {{
    {OPC_PROP_CDT, u"Item Canonical DataType", u""},
    {OPC_PROP_VALUE, u"Item Value", u""},
    {OPC_PROP_QUALITY, u"Item Quality", u""},
    {OPC_PROP_TIME, u"Item Timestamp", u""},
    {OPC_PROP_RIGHTS, u"Item Access Rights", u""},
    {OPC_PROP_SCANRATE, u"Server Scan Rate", u""},
    {OPC_PROP_EUTYPE, u"Item EU Type", u""},
    {OPC_PROP_EUINFO, u"Item EUInfo", u""},
    {OPC_PROP_UNIT, u"EU Units", u"EUUnits"},
    {OPC_PROP_DESC, u"Item Description", u"Description"},
    {OPC_PROP_HIEU, u"High EU", u"HighEU"},
    {OPC_PROP_LOEU, u"Low EU", u"LowEU"},
    {OPC_PROP_HIRANGE, u"High Instrument Range", u"HighIR"},
    {OPC_PROP_LORANGE, u"Low Instrument Range", u"LowIR"},
    {OPC_PROP_CLOSE, u"Contact Close Label", u"CloseLabel"},
    {OPC_PROP_OPEN, u"Contact Open Label", u"OpenLabel"},
    {OPC_PROP_TIMEZONE, u"Item Timezone", u"TimeZone"},
}};

const PropertyName* lookup(DWORD id) {
  const auto it = std::find_if(kProperties.begin(), kProperties.end(),
                               [id](const PropertyName& p) { return p.id == id; });
  return it == kProperties.end() ? nullptr : &*it;
}

// The labels of a boolean item's two states.
constexpr std::u16string_view kCloseLabel = u"On";
constexpr std::u16string_view kOpenLabel = u"Off";

// Days from 1601-01-01 (FILETIME's start) to 1899-12-30 (DATE's day 0).
constexpr double kFileTimeDaysBeforeDate = 109205.0;
constexpr double kTicksPerDay = 864000000000.0;

// The time stamp as a date, in UTC like the stamp itself.
DATE stampAsDate(const FILETIME& ft) {
  return double(opc::fileTimeTicks(ft)) / kTicksPerDay - kFileTimeDaysBeforeDate;
}

OleVariant wordValue(WORD w) { return OleVariant(SHORT(w)); }

}  // namespace

std::u16string_view propertyDescription(DWORD propertyId) {
  const PropertyName* p = lookup(propertyId);
  return p ? p->description : std::u16string_view();
}

std::u16string_view propertyItemName(DWORD propertyId) {
  const PropertyName* p = lookup(propertyId);
  return p ? p->itemName : std::u16string_view();
}

std::vector<DWORD> itemPropertyIds(const SimItem& item, bool isPropertyItem) {
  std::vector<DWORD> ids = {OPC_PROP_CDT,    OPC_PROP_VALUE,    OPC_PROP_QUALITY, OPC_PROP_TIME,
                            OPC_PROP_RIGHTS, OPC_PROP_SCANRATE, OPC_PROP_EUTYPE,  OPC_PROP_EUINFO};
  if (isPropertyItem) return ids;
  if (item.euRange) ids.push_back(OPC_PROP_UNIT);
  ids.push_back(OPC_PROP_DESC);
  if (item.euRange) {
    for (DWORD id : {OPC_PROP_HIEU, OPC_PROP_LOEU, OPC_PROP_HIRANGE, OPC_PROP_LORANGE}) {
      ids.push_back(id);
    }
  }
  if (item.canonicalType == VT_BOOL) {
    ids.push_back(OPC_PROP_CLOSE);
    ids.push_back(OPC_PROP_OPEN);
  }
  if (item.canonicalType == VT_DATE) ids.push_back(OPC_PROP_TIMEZONE);
  return ids;
}

VARTYPE propertyDataType(const SimItem& item, DWORD propertyId) {
  switch (propertyId) {
    case OPC_PROP_CDT:
    case OPC_PROP_QUALITY:
      return VT_I2;
    case OPC_PROP_VALUE:
      return item.canonicalType;
    case OPC_PROP_TIME:
      return VT_DATE;
    case OPC_PROP_RIGHTS:
    case OPC_PROP_EUTYPE:
    case OPC_PROP_TIMEZONE:
      return VT_I4;
    case OPC_PROP_SCANRATE:
      return VT_R4;
    case OPC_PROP_EUINFO:
      // Analog items give their range as two doubles; others give nothing.
      return item.euRange ? VARTYPE(VT_ARRAY | VT_R8) : VARTYPE(VT_EMPTY);
    case OPC_PROP_HIEU:
    case OPC_PROP_LOEU:
    case OPC_PROP_HIRANGE:
    case OPC_PROP_LORANGE:
      return VT_R8;
    default:
      return VT_BSTR;  // units, description, contact labels
  }
}

OleVariant propertyValue(const SimItem& item, DWORD propertyId, DWORD scanRateMs) {
  const auto& range = item.euRange;
  switch (propertyId) {
    case OPC_PROP_CDT:
      return wordValue(item.canonicalType);
    case OPC_PROP_VALUE:
      return item.value;
    case OPC_PROP_QUALITY:
      return wordValue(item.quality);
    case OPC_PROP_TIME:
      return OleVariant::fromDate(stampAsDate(item.timeStamp));
    case OPC_PROP_RIGHTS:
      return OleVariant(LONG(item.accessRights));
    case OPC_PROP_SCANRATE:
      return OleVariant(FLOAT(scanRateMs));
    case OPC_PROP_EUTYPE:
      return OleVariant(LONG(range ? OPC_ANALOG : OPC_NOENUM));
    case OPC_PROP_EUINFO:
      if (!range) return OleVariant();
      return OleVariant::array(VT_R8, {OleVariant(range->low), OleVariant(range->high)});
    case OPC_PROP_UNIT:
      return OleVariant(std::u16string_view(item.euUnits));
    case OPC_PROP_DESC:
      return OleVariant(std::u16string_view(item.description));
    case OPC_PROP_HIEU:
    case OPC_PROP_HIRANGE:
      // The simulated instruments measure exactly their engineering range.
      return range ? OleVariant(range->high) : OleVariant();
    case OPC_PROP_LOEU:
    case OPC_PROP_LORANGE:
      return range ? OleVariant(range->low) : OleVariant();
    case OPC_PROP_CLOSE:
      return OleVariant(kCloseLabel);
    case OPC_PROP_OPEN:
      return OleVariant(kOpenLabel);
    case OPC_PROP_TIMEZONE:
      // Date values are the server machine's local time.
      return OleVariant(LONG(detail::localTimeBias()));
    default:
      return OleVariant();
  }
}

std::unique_ptr<SimItem> makePropertyItem(const SimItem& owner, std::u16string_view name) {
  const auto it = std::find_if(kProperties.begin(), kProperties.end(), [&](const PropertyName& p) {
    return !p.itemName.empty() && p.itemName == name;
  });
  if (it == kProperties.end()) return nullptr;
  const auto ids = itemPropertyIds(owner, false);
  if (std::find(ids.begin(), ids.end(), it->id) == ids.end()) return nullptr;

  auto item = std::make_unique<SimItem>();
  item->itemId = owner.itemId;
  item->itemId += AddressSpace::kSeparator;
  item->itemId += name;
  item->canonicalType = propertyDataType(owner, it->id);
  item->accessRights = OPC_READABLE;
  item->description = it->description;
  // The scan rate is no property with an item of its own, so 0 is unused.
  item->value = propertyValue(owner, it->id, 0);
  item->quality = OPC_QUALITY_GOOD;
  item->timeStamp = owner.timeStamp;
  return item;
}

// ---- IOPCItemProperties of the server object ------------------------------------------------

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
