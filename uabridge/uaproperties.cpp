#include "uaproperties.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "opc/servercommon.h"
#include "opc/taskmem.h"
#include "uanodeinfo.h"
#include "uavalue.h"

namespace veze6::uab {

namespace {

constexpr std::size_t kMaxItemIdLength = 4096;

// What the properties of one variable come from.
struct Item {
  ua::NodeId node;
  NodeInfo info;
  std::optional<ua::NodeId> euRange;
  std::optional<ua::NodeId> instrumentRange;
  std::optional<ua::NodeId> engineeringUnits;
  std::optional<ua::NodeId> enumStrings;

  bool analog() const { return euRange.has_value(); }
  bool enumerated() const { return !analog() && enumStrings.has_value(); }
};

// Resolves a caller's item id: the variable, its attributes and the nodes
// of its properties, or the call's error.
HRESULT resolve(UaSession& session, LPCWSTR szItemID, Item& item) {
  if (!szItemID) return OPC_E_INVALIDITEMID;
  std::size_t n = 0;
  while (szItemID[n]) {
    if (++n > kMaxItemIdLength) return OPC_E_INVALIDITEMID;
  }
  if (HRESULT hr = parseItemId({szItemID, n}, session.namespaces, item.node); FAILED(hr)) {
    return hr;
  }
  std::vector<NodeInfo> infos;
  if (ua::isBad(readNodeInfo(session, {item.node}, infos, NodeDetail::Full)) || infos.size() != 1)
    return E_FAIL;
  item.info = std::move(infos[0]);
  if (FAILED(item.info.error)) return item.info.error;

  ua::BrowseDescription d;
  d.nodeId = item.node;
  d.referenceTypeId = ua::NodeId(0, ua::nodes::HasProperty);
  d.nodeClassMask = std::uint32_t(ua::NodeClass::Variable);
  std::vector<ua::BrowseResult> results;
  if (ua::isBad(session.client.browse({d}, results)) || results.size() != 1) return E_FAIL;
  if (ua::isBad(results[0].status)) return S_OK;  // no properties to be had
  for (const auto& r : results[0].references) {
    auto local = localNodeId(r.nodeId, session.namespaces);
    if (!local || !r.isForward) continue;
    const std::string& name = r.browseName.name;
    if (name == "EURange") item.euRange = local;
    if (name == "InstrumentRange") item.instrumentRange = local;
    if (name == "EngineeringUnits") item.engineeringUnits = local;
    if (name == "EnumStrings") item.enumStrings = local;
  }
  return S_OK;
}

std::vector<DWORD> propertyIds(const Item& item) {
  std::vector<DWORD> ids = {OPC_PROP_CDT, OPC_PROP_VALUE, OPC_PROP_QUALITY, OPC_PROP_TIME,
                            OPC_PROP_RIGHTS};
  if (item.info.minimumSamplingInterval >= 0) ids.push_back(OPC_PROP_SCANRATE);
  if (item.analog() || item.enumerated()) {
    ids.push_back(OPC_PROP_EUTYPE);
    ids.push_back(OPC_PROP_EUINFO);
  }
  if (item.engineeringUnits) ids.push_back(OPC_PROP_UNIT);
  if (!item.info.description.text.empty()) ids.push_back(OPC_PROP_DESC);
  if (item.euRange) {
    ids.push_back(OPC_PROP_HIEU);
    ids.push_back(OPC_PROP_LOEU);
  }
  if (item.instrumentRange) {
    ids.push_back(OPC_PROP_HIRANGE);
    ids.push_back(OPC_PROP_LORANGE);
  }
  return ids;
}

VARTYPE propertyType(const Item& item, DWORD id) {
  switch (id) {
    case OPC_PROP_CDT:
    case OPC_PROP_QUALITY:
      return VT_I2;
    case OPC_PROP_VALUE:
      return item.info.canonicalType;
    case OPC_PROP_TIME:
      return VT_DATE;
    case OPC_PROP_RIGHTS:
    case OPC_PROP_EUTYPE:
      return VT_I4;
    case OPC_PROP_SCANRATE:
      return VT_R4;
    case OPC_PROP_EUINFO:
      return item.analog() ? VT_ARRAY | VT_R8 : VT_ARRAY | VT_BSTR;
    case OPC_PROP_UNIT:
    case OPC_PROP_DESC:
      return VT_BSTR;
    default:
      return VT_R8;
  }
}

bool contains(const std::vector<DWORD>& ids, DWORD id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// The values the requested properties need, read in one call.
struct Values {
  std::optional<ua::DataValue> value, euRange, instrumentRange, engineeringUnits, enumStrings;
};

HRESULT readValues(UaSession& session, const Item& item, const std::vector<DWORD>& wanted,
                   Values& out) {
  const auto wants = [&](std::initializer_list<DWORD> ids) {
    return std::any_of(ids.begin(), ids.end(), [&](DWORD id) { return contains(wanted, id); });
  };
  std::vector<ua::ReadValueId> reads;
  std::vector<std::optional<ua::DataValue>*> slots;
  const auto add = [&](const ua::NodeId& node, std::optional<ua::DataValue>& slot) {
    reads.emplace_back(node);
    slots.push_back(&slot);
  };
  if (wants({OPC_PROP_VALUE, OPC_PROP_QUALITY, OPC_PROP_TIME})) add(item.node, out.value);
  if (item.euRange && wants({OPC_PROP_EUINFO, OPC_PROP_HIEU, OPC_PROP_LOEU})) {
    add(*item.euRange, out.euRange);
  }
  if (item.instrumentRange && wants({OPC_PROP_HIRANGE, OPC_PROP_LORANGE})) {
    add(*item.instrumentRange, out.instrumentRange);
  }
  if (item.engineeringUnits && wants({OPC_PROP_UNIT})) {
    add(*item.engineeringUnits, out.engineeringUnits);
  }
  if (item.enumerated() && wants({OPC_PROP_EUINFO})) add(*item.enumStrings, out.enumStrings);
  if (reads.empty()) return S_OK;
  std::vector<ua::DataValue> results;
  if (ua::isBad(session.client.read(reads, results, ua::TimestampsToReturn::Both, 0)) ||
      results.size() != reads.size()) {
    return E_FAIL;
  }
  for (std::size_t i = 0; i < reads.size(); ++i) *slots[i] = std::move(results[i]);
  return S_OK;
}

HRESULT rangeBound(const std::optional<ua::DataValue>& range, bool high, OleVariant& out) {
  if (!range) return E_FAIL;
  if (ua::isBad(range->status)) return resultFromStatus(range->status);
  const auto* x = std::get_if<ua::ExtensionObject>(&range->value.value);
  const auto bounds = x ? decodeRange(*x) : std::nullopt;
  if (!bounds) return E_FAIL;
  out = OleVariant(high ? bounds->second : bounds->first);
  return S_OK;
}

HRESULT propertyValue(const Item& item, const Values& v, DWORD id, OleVariant& out) {
  switch (id) {
    case OPC_PROP_CDT:
      out = OleVariant(SHORT(item.info.canonicalType));
      return S_OK;
    case OPC_PROP_VALUE: {
      if (!v.value) return E_FAIL;
      ItemValue value = itemValueFromUa(*v.value);
      if (FAILED(value.error)) return value.error;
      out = std::move(value.value);
      return S_OK;
    }
    case OPC_PROP_QUALITY:
      if (!v.value) return E_FAIL;
      out = OleVariant(SHORT(qualityFromStatus(v.value->status)));
      return S_OK;
    case OPC_PROP_TIME: {
      if (!v.value) return E_FAIL;
      const ua::DateTime t =
          v.value->sourceTimestamp ? v.value->sourceTimestamp : v.value->serverTimestamp;
      out = OleVariant::fromDate(dateFromUa(t));
      return S_OK;
    }
    case OPC_PROP_RIGHTS:
      out = OleVariant(LONG(item.info.accessRights));
      return S_OK;
    case OPC_PROP_SCANRATE:
      out = OleVariant(FLOAT(item.info.minimumSamplingInterval));
      return S_OK;
    case OPC_PROP_EUTYPE:
      out = OleVariant(LONG(item.analog() ? OPC_ANALOG : OPC_ENUMERATED));
      return S_OK;
    case OPC_PROP_EUINFO: {
      if (item.analog()) {
        OleVariant low, high;
        if (HRESULT hr = rangeBound(v.euRange, false, low); FAILED(hr)) return hr;
        if (HRESULT hr = rangeBound(v.euRange, true, high); FAILED(hr)) return hr;
        out = OleVariant::array(VT_R8, {low, high});
        return out.isArray() ? S_OK : E_OUTOFMEMORY;
      }
      if (!v.enumStrings) return E_FAIL;
      if (ua::isBad(v.enumStrings->status)) return resultFromStatus(v.enumStrings->status);
      VARIANT texts;
      if (FAILED(variantFromUa(v.enumStrings->value, &texts))) return E_FAIL;
      out = OleVariant::attach(texts);
      // Anything but a list of texts is no set of enumeration labels.
      return out.vt() == (VT_ARRAY | VT_BSTR) ? S_OK : (out.clear(), E_FAIL);
    }
    case OPC_PROP_UNIT: {
      if (!v.engineeringUnits) return E_FAIL;
      if (ua::isBad(v.engineeringUnits->status)) {
        return resultFromStatus(v.engineeringUnits->status);
      }
      const auto* x = std::get_if<ua::ExtensionObject>(&v.engineeringUnits->value.value);
      const auto name = x ? decodeEuDisplayName(*x) : std::nullopt;
      if (!name) return E_FAIL;
      out = OleVariant(opc::utf8ToUtf16(name->text));
      return S_OK;
    }
    case OPC_PROP_DESC:
      out = OleVariant(opc::utf8ToUtf16(item.info.description.text));
      return S_OK;
    case OPC_PROP_HIEU:
    case OPC_PROP_LOEU:
      return rangeBound(v.euRange, id == OPC_PROP_HIEU, out);
    case OPC_PROP_HIRANGE:
    case OPC_PROP_LORANGE:
      return rangeBound(v.instrumentRange, id == OPC_PROP_HIRANGE, out);
    default:
      return OPC_E_INVALID_PID;
  }
}

}  // namespace

UaProperties::UaProperties(std::shared_ptr<UaSession> session) : session_(std::move(session)) {}

HRESULT UaProperties::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                               DWORD** ppPropertyIDs, LPWSTR** ppDescriptions,
                                               VARTYPE** ppvtDataTypes) {
  if (HRESULT hr = opc::checkAvailablePropertiesRequest(pdwCount, ppPropertyIDs, ppDescriptions,
                                                        ppvtDataTypes);
      FAILED(hr)) {
    return hr;
  }
  Item item;
  if (HRESULT hr = resolve(*session_, szItemID, item); FAILED(hr)) return hr;
  const std::vector<DWORD> ids = propertyIds(item);
  std::vector<VARTYPE> types;
  for (DWORD id : ids) types.push_back(propertyType(item, id));
  return opc::availablePropertiesAnswer(ids, types, pdwCount, ppPropertyIDs, ppDescriptions,
                                        ppvtDataTypes);
}

HRESULT UaProperties::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                        VARIANT** ppvData, HRESULT** ppErrors) {
  if (HRESULT hr = opc::checkPropertyRequest(dwCount, pdwPropertyIDs, ppvData, ppErrors);
      FAILED(hr)) {
    return hr;
  }
  Item item;
  if (HRESULT hr = resolve(*session_, szItemID, item); FAILED(hr)) return hr;
  const std::vector<DWORD> has = propertyIds(item);
  const std::vector<DWORD> wanted(pdwPropertyIDs, pdwPropertyIDs + dwCount);
  Values values;
  if (HRESULT hr = readValues(*session_, item, wanted, values); FAILED(hr)) return hr;

  std::vector<OleVariant> out(dwCount);
  std::vector<HRESULT> errors(dwCount);
  for (DWORD i = 0; i < dwCount; ++i) {
    errors[i] = contains(has, wanted[i]) ? propertyValue(item, values, wanted[i], out[i])
                                         : OPC_E_INVALID_PID;
  }
  return opc::itemPropertiesAnswer(std::move(out), errors, ppvData, ppErrors);
}

HRESULT UaProperties::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                    LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) {
  if (HRESULT hr = opc::checkPropertyRequest(dwCount, pdwPropertyIDs, ppszNewItemIDs, ppErrors);
      FAILED(hr)) {
    return hr;
  }
  Item item;
  if (HRESULT hr = resolve(*session_, szItemID, item); FAILED(hr)) return hr;
  std::vector<std::u16string> found(dwCount);
  for (DWORD i = 0; i < dwCount; ++i) {
    // Only the enumeration labels are a node whose value is the property.
    if (pdwPropertyIDs[i] == OPC_PROP_EUINFO && item.enumerated()) {
      found[i] = itemIdText(*item.enumStrings);
    }
  }
  return opc::lookupItemIdsAnswer(found, ppszNewItemIDs, ppErrors);
}

}  // namespace veze6::uab
