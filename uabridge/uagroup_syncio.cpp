// IOPCSyncIO, and the reads and writes the asynchronous requests share.
#include <algorithm>

#include "opc/taskmem.h"
#include "uagroup_p.h"
#include "uaservercore_p.h"

namespace veze6::uab {

namespace detail {

namespace {

/// A per-item read failure the client should hear of as an error rather
/// than only as bad quality: the item is gone or may not be read.
bool isItemError(ua::StatusCode s) {
  const ua::StatusCode code = s & 0xFFFF0000u;
  return code == ua::status::BadNodeIdUnknown || code == 0x803A0000u /* BadNotReadable */ ||
         code == ua::status::BadUserAccessDenied || code == ua::status::BadAttributeIdInvalid;
}

}  // namespace

void readItems(UaSession& session, UaGroupData& data, const std::vector<OPCHANDLE>& handles,
               bool fromDevice, ItemBatch& out) {
  out.reserve(handles.size());
  std::vector<ua::ReadValueId> nodes;
  std::vector<std::size_t> slots;  // out's entry of each node read
  std::vector<UaGroupItem> asked;  // what the reads fill, then convert
  DWORD maxAge = 0;
  {
    std::lock_guard lock(data.mutex);
    maxAge = data.updateRate;
    for (OPCHANDLE h : handles) {
      const auto it = data.items.find(h);
      if (it == data.items.end()) {
        out.addResult(0, OPC_E_INVALIDHANDLE);
        VARIANT& v = out.values.emplace_back();
        VariantInit(&v);
        out.qualities.push_back(OPC_QUALITY_BAD);
        out.timeStamps.push_back(FILETIME{});
        continue;
      }
      const UaGroupItem& item = it->second;
      if (!fromDevice && item.haveValue) {
        // The cache of an inactive item or group is not kept up: out of service.
        const bool live = data.active && item.active;
        addValue(out, item, live ? std::nullopt : std::optional<WORD>(OPC_QUALITY_OUT_OF_SERVICE));
        continue;
      }
      slots.push_back(out.size());
      nodes.emplace_back(item.node);
      UaGroupItem shell;
      shell.clientHandle = item.clientHandle;
      shell.requestedType = item.requestedType;
      shell.active = fromDevice || (data.active && item.active);  // what the quality may say
      asked.push_back(std::move(shell));
      out.addResult(item.clientHandle, S_OK);  // a place, filled below
      VARIANT& v = out.values.emplace_back();
      VariantInit(&v);
      out.qualities.push_back(OPC_QUALITY_BAD);
      out.timeStamps.push_back(FILETIME{});
    }
  }
  if (nodes.empty()) return;
  std::vector<ua::DataValue> values;
  const ua::StatusCode s = session.client.read(nodes, values, ua::TimestampsToReturn::Both,
                                               fromDevice ? 0.0 : double(maxAge));
  const bool whole = ua::isGood(s) && values.size() == nodes.size();
  for (std::size_t k = 0; k < nodes.size(); ++k) {
    const std::size_t at = slots[k];
    if (!whole) {
      out.qualities[at] = qualityFromStatus(s);
      out.errors[at] = failureOf(s);
      continue;
    }
    ItemValue v = itemValueFromUa(values[k]);
    UaGroupItem& item = asked[k];
    item.value = std::move(v.value);
    item.quality = v.quality;
    item.timestamp = v.timestamp;
    item.valueError = v.error;
    HRESULT hr = v.error;
    if (SUCCEEDED(hr))
      hr = changeToRequestedType(item.value.get(), item.requestedType, &out.values[at]);
    if (SUCCEEDED(hr) && isItemError(values[k].status)) hr = resultFromStatus(values[k].status);
    out.qualities[at] = FAILED(hr)     ? WORD(OPC_QUALITY_BAD)
                        : !item.active ? WORD(OPC_QUALITY_OUT_OF_SERVICE)
                                       : v.quality;
    out.timeStamps[at] = v.timestamp;
    out.errors[at] = hr;
  }
}

std::vector<HRESULT> writeItems(UaSession& session, UaGroupData& data,
                                const std::vector<OPCHANDLE>& handles, const VARIANT* values,
                                std::vector<OPCHANDLE>* clientHandles) {
  std::vector<HRESULT> errors(handles.size(), OPC_E_INVALIDHANDLE);
  if (clientHandles) clientHandles->assign(handles.size(), 0);
  std::vector<ua::WriteValue> writes;
  std::vector<std::size_t> slots;
  {
    std::lock_guard lock(data.mutex);
    for (std::size_t i = 0; i < handles.size(); ++i) {
      const auto it = data.items.find(handles[i]);
      if (it == data.items.end()) continue;
      const UaGroupItem& item = it->second;
      if (clientHandles) (*clientHandles)[i] = item.clientHandle;
      if (!(item.accessRights & OPC_WRITEABLE)) {
        errors[i] = OPC_E_BADRIGHTS;
        continue;
      }
      ua::WriteValue w;
      errors[i] = uaFromVariant(values[i], item.builtinType, item.valueRank, w.value.value);
      if (FAILED(errors[i])) continue;
      w.nodeId = item.node;  // the Value attribute only: no status, no time stamps
      writes.push_back(std::move(w));
      slots.push_back(i);
    }
  }
  if (writes.empty()) return errors;
  std::vector<ua::StatusCode> results;
  const ua::StatusCode s = session.client.write(writes, results);
  const bool whole = ua::isGood(s) && results.size() == writes.size();
  for (std::size_t k = 0; k < writes.size(); ++k) {
    errors[slots[k]] = whole ? resultFromStatus(results[k]) : failureOf(s);
  }
  return errors;
}

}  // namespace detail

HRESULT UaGroup::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                      OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) {
  if (ppItemValues) *ppItemValues = nullptr;
  if (ppErrors) *ppErrors = nullptr;
  if (dwCount == 0 || !phServer || !ppItemValues || !ppErrors ||
      (dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE)) {
    return E_INVALIDARG;
  }
  opc::TaskMem<OPCITEMSTATE> states(detail::allocArray<OPCITEMSTATE>(dwCount));
  opc::TaskMem<HRESULT> errors(detail::allocArray<HRESULT>(dwCount));
  if (!states || !errors) return E_OUTOFMEMORY;
  detail::ItemBatch batch;
  detail::readItems(*session_, *data_, std::vector<OPCHANDLE>(phServer, phServer + dwCount),
                    dwSource == OPC_DS_DEVICE, batch);
  bool anyFailed = false;
  for (DWORD i = 0; i < dwCount; ++i) {
    OPCITEMSTATE& st = states.get()[i];
    st = OPCITEMSTATE{};
    st.hClient = batch.clientHandles[i];
    st.vDataValue = batch.values[i];  // taken over: the batch lets go of it
    batch.values[i].vt = VT_EMPTY;
    st.wQuality = batch.qualities[i];
    st.ftTimeStamp = batch.timeStamps[i];
    errors.get()[i] = batch.errors[i];
    anyFailed = anyFailed || FAILED(batch.errors[i]);
  }
  *ppItemValues = states.release();
  *ppErrors = errors.release();
  return anyFailed ? S_FALSE : S_OK;
}

HRESULT UaGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                       HRESULT** ppErrors) {
  if (ppErrors) *ppErrors = nullptr;
  if (dwCount == 0 || !phServer || !pItemValues || !ppErrors) return E_INVALIDARG;
  opc::TaskMem<HRESULT> errors(detail::allocArray<HRESULT>(dwCount));
  if (!errors) return E_OUTOFMEMORY;
  const std::vector<HRESULT> results = detail::writeItems(
      *session_, *data_, std::vector<OPCHANDLE>(phServer, phServer + dwCount), pItemValues);
  std::copy(results.begin(), results.end(), errors.get());
  const bool anyFailed =
      std::any_of(results.begin(), results.end(), [](HRESULT hr) { return FAILED(hr); });
  *ppErrors = errors.release();
  return anyFailed ? S_FALSE : S_OK;
}

}  // namespace veze6::uab
