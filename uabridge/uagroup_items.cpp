// IOPCItemMgt: items are monitored items of the group's subscription.
#include <algorithm>

#include "opc/itemattributes.h"
#include "opc/itemresults.h"
#include "uagroup_p.h"
#include "uanodeinfo.h"
#include "uaservercore_p.h"
#include "uavalue.h"

namespace veze6::uab {

namespace {

HRESULT checkRequestedType(VARTYPE canonical, VARTYPE requested) {
  return convertibleType(canonical, requested) ? S_OK : OPC_E_BADTYPE;
}

}  // namespace

HRESULT UaGroup::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                          HRESULT** ppErrors) {
  return addOrValidate(true, dwCount, pItemArray, ppAddResults, ppErrors);
}

HRESULT UaGroup::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL /*bBlobUpdate*/,
                               OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) {
  // No blobs: nothing to update.
  return addOrValidate(false, dwCount, pItemArray, ppValidationResults, ppErrors);
}

HRESULT UaGroup::addOrValidate(bool add, DWORD count, const OPCITEMDEF* defs,
                               OPCITEMRESULT** ppResults, HRESULT** ppErrors) {
  opc::ItemResults arrays;
  if (HRESULT hr = arrays.start(count, defs, ppResults, ppErrors); FAILED(hr)) return hr;

  // The ids first: what does not parse never reaches the server.
  std::vector<ua::NodeId> nodes;
  std::vector<DWORD> asked;  // def index of each node
  nodes.reserve(count);
  asked.reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    const OPCITEMDEF& def = defs[i];
    HRESULT hr = S_OK;
    ua::NodeId node;
    if (def.szAccessPath && *def.szAccessPath) {
      hr = OPC_E_UNKNOWNPATH;  // UA has no access paths
    } else if (!def.szItemID) {
      hr = OPC_E_INVALIDITEMID;
    } else {
      hr = parseItemId(std::u16string_view(def.szItemID, wideLength(def.szItemID)),
                       session_->namespaces, node);
    }
    arrays.error(i) = hr;
    if (SUCCEEDED(hr)) {
      nodes.push_back(std::move(node));
      asked.push_back(i);
    }
  }

  std::vector<NodeInfo> infos;
  if (!nodes.empty()) {
    const ua::StatusCode s = readNodeInfo(*session_, nodes, infos);
    if (ua::isBad(s) || infos.size() != nodes.size()) {
      const HRESULT hr = detail::failureOf(s);
      for (DWORD i : asked) arrays.error(i) = hr;
      nodes.clear();
      asked.clear();
      infos.clear();
    }
  }

  std::lock_guard calls(calls_);
  std::vector<OPCHANDLE> added;
  std::vector<DWORD> addedIndex;
  {
    std::lock_guard lock(data_->mutex);
    for (std::size_t k = 0; k < nodes.size(); ++k) {
      const DWORD i = asked[k];
      const NodeInfo& info = infos[k];
      HRESULT hr = info.error;
      if (SUCCEEDED(hr)) hr = checkRequestedType(info.canonicalType, defs[i].vtRequestedDataType);
      arrays.error(i) = hr;
      if (FAILED(hr)) continue;
      OPCITEMRESULT& r = arrays.result(i);
      r.vtCanonicalDataType = info.canonicalType;
      r.dwAccessRights = info.accessRights;
      if (!add) continue;
      UaGroupItem item;
      item.serverHandle = core_->nextItemHandle();
      item.clientHandle = defs[i].hClient;
      item.itemId.assign(defs[i].szItemID, wideLength(defs[i].szItemID));
      item.node = std::move(nodes[k]);
      item.builtinType = info.builtinType;
      item.valueRank = info.valueRank;
      item.requestedType = defs[i].vtRequestedDataType;
      item.canonicalType = info.canonicalType;
      item.accessRights = info.accessRights;
      item.active = defs[i].bActive != FALSE;
      r.hServer = item.serverHandle;
      added.push_back(item.serverHandle);
      addedIndex.push_back(i);
      data_->order.push_back(item.serverHandle);
      data_->items.emplace(item.serverHandle, std::move(item));
    }
    core_->liveItems.fetch_add(added.size());
  }
  if (!added.empty()) {
    bool deadband;
    {
      std::lock_guard lock(data_->mutex);
      deadband = percentDeadband_ > 0.0f;
    }
    if (deadband) lookUpRanges(added);
    // An item the server does not monitor fails (and hands out no result).
    monitor(added, arrays.errors(), addedIndex);
  }
  return arrays.handOut(ppResults, ppErrors);
}

void UaGroup::monitor(const std::vector<OPCHANDLE>& handles, HRESULT* errors,
                      const std::vector<DWORD>& index) {
  std::vector<ua::MonitoredItemCreateRequest> requests;
  requests.reserve(handles.size());
  {
    std::lock_guard lock(data_->mutex);
    for (OPCHANDLE h : handles) {
      const UaGroupItem& item = data_->items.at(h);
      ua::MonitoredItemCreateRequest r;
      r.itemToMonitor = ua::ReadValueId(item.node);
      std::tie(r.monitoringMode, r.requestedParameters.filter) = itemFilter(item);
      r.requestedParameters.clientHandle = h;
      // Sampled at the update rate, like the publishing: a server sampling
      // at the publishing interval on its own ("-1") may sample slower.
      r.requestedParameters.samplingInterval = data_->updateRate;
      requests.push_back(std::move(r));
    }
  }
  std::vector<ua::MonitoredItemCreateResult> results;
  const ua::StatusCode s =
      session_->client.createMonitoredItems(subscriptionId_, requests, results);
  const bool whole = ua::isGood(s) && results.size() == handles.size();
  std::size_t removed = 0;
  std::lock_guard lock(data_->mutex);
  for (std::size_t k = 0; k < handles.size(); ++k) {
    const ua::StatusCode itemStatus = whole ? results[k].status : s;
    if (ua::isGood(itemStatus)) {
      data_->items.at(handles[k]).monitoredItemId = results[k].monitoredItemId;
      continue;
    }
    errors[index[k]] = detail::failureOf(itemStatus);
    data_->items.erase(handles[k]);
    ++removed;
  }
  if (removed) {
    std::erase_if(data_->order, [&](OPCHANDLE h) { return !data_->items.contains(h); });
    core_->liveItems.fetch_sub(removed);
  }
}

void UaGroup::lookUpRanges(std::vector<OPCHANDLE> handles) {
  std::vector<ua::BrowsePath> paths;
  {
    std::lock_guard lock(data_->mutex);
    std::erase_if(handles, [&](OPCHANDLE h) {
      const auto it = data_->items.find(h);
      return it == data_->items.end() || it->second.euChecked;
    });
    for (OPCHANDLE h : handles) {
      ua::BrowsePath p;
      p.startingNode = data_->items.at(h).node;
      ua::RelativePathElement e;
      e.referenceTypeId = ua::NodeId(0, ua::nodes::HasProperty);
      e.targetName = ua::QualifiedName{0, "EURange"};
      p.relativePath.push_back(e);
      paths.push_back(std::move(p));
    }
  }
  if (paths.empty()) return;
  auto& client = session_->client;
  std::vector<ua::BrowsePathResult> found;
  if (ua::isBad(client.translateBrowsePaths(paths, found)) || found.size() != paths.size()) return;
  std::vector<ua::ReadValueId> reads;
  std::vector<OPCHANDLE> withRange;
  for (std::size_t k = 0; k < found.size(); ++k) {
    if (ua::isBad(found[k].status) || found[k].targets.empty()) continue;
    const auto node = localNodeId(found[k].targets.front().targetId, session_->namespaces);
    if (!node) continue;
    reads.emplace_back(*node);
    withRange.push_back(handles[k]);
  }
  std::vector<ua::DataValue> values;
  if (!reads.empty() && (ua::isBad(client.read(reads, values, ua::TimestampsToReturn::Neither)) ||
                         values.size() != reads.size())) {
    return;
  }
  std::lock_guard lock(data_->mutex);
  for (OPCHANDLE h : handles) {
    if (auto it = data_->items.find(h); it != data_->items.end()) it->second.euChecked = true;
  }
  for (std::size_t k = 0; k < values.size(); ++k) {
    const auto* eo = std::get_if<ua::ExtensionObject>(&values[k].value.value);
    if (!eo) continue;
    if (auto it = data_->items.find(withRange[k]); it != data_->items.end())
      it->second.euRange = decodeRange(*eo);
  }
}

// The calls that take server handles, under the lock of the group's items.
template <class PerItem>
static HRESULT forEachHandle(UaGroupData& data, DWORD count, const OPCHANDLE* handles,
                             HRESULT** ppErrors, bool argumentsValid, PerItem perItem) {
  return opc::forEachItemHandle(
      data.mutex, count, handles, ppErrors, argumentsValid,
      [&data](OPCHANDLE h) {
        const auto it = data.items.find(h);
        return it != data.items.end() ? &it->second : nullptr;
      },
      perItem);
}

HRESULT UaGroup::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
  std::lock_guard calls(calls_);
  std::vector<std::uint32_t> monitored;
  std::vector<OPCHANDLE> removed;
  const HRESULT hr =
      forEachHandle(*data_, dwCount, phServer, ppErrors, true, [&](UaGroupItem& item, DWORD) {
        if (item.monitoredItemId) monitored.push_back(item.monitoredItemId);
        removed.push_back(item.serverHandle);
        return S_OK;
      });
  if (removed.empty()) return hr;
  {
    std::lock_guard lock(data_->mutex);
    for (OPCHANDLE h : removed) data_->items.erase(h);
    std::erase_if(data_->order, [&](OPCHANDLE h) { return !data_->items.contains(h); });
  }
  core_->liveItems.fetch_sub(removed.size());
  if (!monitored.empty()) {
    std::vector<ua::StatusCode> results;
    session_->client.deleteMonitoredItems(subscriptionId_, monitored, results);
  }
  return hr;
}

HRESULT UaGroup::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                HRESULT** ppErrors) {
  std::lock_guard calls(calls_);
  const bool active = bActive != FALSE;
  std::vector<std::uint32_t> changed;
  const HRESULT hr =
      forEachHandle(*data_, dwCount, phServer, ppErrors, true, [&](UaGroupItem& item, DWORD) {
        if (item.active != active && item.monitoredItemId) changed.push_back(item.monitoredItemId);
        item.active = active;
        return S_OK;
      });
  // A reactivated monitored item reports its current value by itself.
  if (!changed.empty()) {
    std::vector<ua::StatusCode> results;
    session_->client.setMonitoringMode(
        subscriptionId_, active ? ua::MonitoringMode::Reporting : ua::MonitoringMode::Disabled,
        changed, results);
  }
  return hr;
}

HRESULT UaGroup::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                  HRESULT** ppErrors) {
  return forEachHandle(*data_, dwCount, phServer, ppErrors, phClient != nullptr,
                       [&](UaGroupItem& item, DWORD i) {
                         item.clientHandle = phClient[i];
                         return S_OK;
                       });
}

HRESULT UaGroup::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                              HRESULT** ppErrors) {
  return forEachHandle(*data_, dwCount, phServer, ppErrors, pRequestedDatatypes != nullptr,
                       [&](UaGroupItem& item, DWORD i) {
                         const HRESULT hr =
                             checkRequestedType(item.canonicalType, pRequestedDatatypes[i]);
                         if (SUCCEEDED(hr)) item.requestedType = pRequestedDatatypes[i];
                         return hr;
                       });
}

HRESULT UaGroup::CreateEnumerator(REFIID riid, IUnknown** ppUnk) {
  if (HRESULT hr = opc::checkItemEnumerator(riid, ppUnk); FAILED(hr)) return hr;
  std::vector<opc::ItemAttributes> list;
  {
    std::lock_guard lock(data_->mutex);
    list.reserve(data_->order.size());
    for (OPCHANDLE h : data_->order) {
      const UaGroupItem& item = data_->items.at(h);
      // UA has no access paths.
      list.push_back({u"", item.itemId, item.active, item.clientHandle, item.serverHandle,
                      item.accessRights, item.requestedType, item.canonicalType, OPC_NOENUM,
                      OleVariant()});
      if (item.euRange) list.back().setRange(item.euRange->first, item.euRange->second);
    }
  }
  return opc::makeItemEnumerator(std::move(list), ppUnk);
}

HRESULT UaGroup::copyItemsFrom(UaGroup& from) {
  std::vector<UaGroupItem> copies;
  {
    std::lock_guard lock(from.data_->mutex);
    for (OPCHANDLE h : from.data_->order) {
      UaGroupItem copy = from.data_->items.at(h);
      copy.monitoredItemId = 0;
      copy.haveValue = false;
      copy.value = OleVariant();
      copies.push_back(std::move(copy));
    }
  }
  if (copies.empty()) return S_OK;
  std::lock_guard calls(calls_);
  std::vector<OPCHANDLE> handles;
  {
    std::lock_guard lock(data_->mutex);
    for (UaGroupItem& c : copies) {
      c.serverHandle = core_->nextItemHandle();
      handles.push_back(c.serverHandle);
      data_->order.push_back(c.serverHandle);
      data_->items.emplace(c.serverHandle, std::move(c));
    }
  }
  core_->liveItems.fetch_add(handles.size());
  std::vector<HRESULT> errors(handles.size(), S_OK);
  std::vector<DWORD> index(handles.size());
  for (DWORD k = 0; k < index.size(); ++k) index[k] = k;
  monitor(handles, errors.data(), index);
  return S_OK;
}

}  // namespace veze6::uab
