#include "simgroup.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "generators.h"
#include "opc/connectionpoint.h"
#include "opc/enumerator.h"
#include "opc/taskmem.h"
#include "scan_p.h"
#include "servercore_p.h"

namespace veze6::sim {

namespace {

template <class T>
T* allocArray(DWORD count) {
  return static_cast<T*>(CoTaskMemAlloc(sizeof(T) * std::size_t(count)));
}

// An injected failure of an item call. A server with the ArraysWithFailure
// quirk hands out per-item arrays anyway (each entry carrying the failure,
// results and item states zeroed), which a careful client still frees.
template <class Result = OPCITEMRESULT>
HRESULT injectedFailure(const detail::ServerCore& core, HRESULT result, DWORD count,
                        Result** ppResults, HRESULT** ppErrors) {
  if (!core.quirk(Quirk::ArraysWithFailure) || count == 0 || !ppErrors) return result;
  opc::TaskMem<HRESULT> errors(allocArray<HRESULT>(count));
  opc::TaskMem<Result> results(ppResults ? allocArray<Result>(count) : nullptr);
  if (!errors || (ppResults && !results)) return result;
  std::fill_n(errors.get(), count, result);
  if (ppResults) {
    std::fill_n(results.get(), count, Result{});
    *ppResults = results.release();
  }
  *ppErrors = errors.release();
  return result;
}
HRESULT injectedFailure(const detail::ServerCore& core, HRESULT result, DWORD count, std::nullptr_t,
                        HRESULT** ppErrors) {
  return injectedFailure<OPCITEMRESULT>(core, result, count, nullptr, ppErrors);
}

bool isDataSource(OPCDATASOURCE s) { return s == OPC_DS_CACHE || s == OPC_DS_DEVICE; }

constexpr std::size_t kPrefetchItem = 16;
constexpr std::size_t kPrefetchGenerator = 8;

void prefetchItem(const SimItem& item) {
  // The fields a scan reads and writes, from the value to the sample time.
  __builtin_prefetch(&item.value);
  __builtin_prefetch(&item.sampledAt, 1);
  __builtin_prefetch(&item.euRange);
}

void prefetchGenerator(const SimItem& item) {
  if (item.generator) __builtin_prefetch(item.generator.get());
}

// A write value kept for a later pass: a reference is resolved now, while
// what it points at still exists.
HRESULT keepValue(const VARIANT& value, OleVariant& kept) {
  if (!(value.vt & VT_BYREF)) return VariantCopy(kept.ptr(), &value);
  if (value.vt & VT_ARRAY) return OPC_E_BADTYPE;
  const HRESULT hr = VariantChangeType(kept.ptr(), &value, 0, value.vt & VT_TYPEMASK);
  return FAILED(hr) ? OPC_E_BADTYPE : S_OK;
}

/// One item as the enumerator hands it out.
struct ItemAttributes {
  std::u16string accessPath;
  std::u16string itemId;
  BOOL active;
  OPCHANDLE clientHandle;
  OPCHANDLE serverHandle;
  DWORD accessRights;
  VARTYPE requestedType;
  VARTYPE canonicalType;
  OPCEUTYPE euType;
  OleVariant euInfo;
};

/// Hands out an item's attributes in task memory.
struct ItemAttributesCopy {
  using Elem = OPCITEMATTRIBUTES;
  static bool copy(const ItemAttributes& src, Elem* a) {
    *a = OPCITEMATTRIBUTES{};
    VariantInit(&a->vEUInfo);
    a->szAccessPath = opc::taskStringDup(src.accessPath);
    a->szItemID = opc::taskStringDup(src.itemId);
    if (!a->szAccessPath || !a->szItemID || FAILED(VariantCopy(&a->vEUInfo, &src.euInfo.get()))) {
      drop(a);
      return false;
    }
    a->bActive = src.active;
    a->hClient = src.clientHandle;
    a->hServer = src.serverHandle;
    a->dwAccessRights = src.accessRights;
    a->vtRequestedDataType = src.requestedType;
    a->vtCanonicalDataType = src.canonicalType;
    a->dwEUType = src.euType;
    return true;
  }
  static void drop(Elem* a) {
    CoTaskMemFree(a->szAccessPath);
    CoTaskMemFree(a->szItemID);
    CoTaskMemFree(a->pBlob);
    VariantClear(&a->vEUInfo);
    *a = OPCITEMATTRIBUTES{};
  }
};

bool validDeadband(FLOAT d) { return d >= 0.0f && d <= 100.0f; }  // false for NaN

}  // namespace

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
  if (count == 0 || !defs || !ppResults || !ppErrors) return E_INVALIDARG;
  opc::TaskMem<OPCITEMRESULT> results(allocArray<OPCITEMRESULT>(count));
  opc::TaskMem<HRESULT> errors(allocArray<HRESULT>(count));
  if (!results || !errors) return E_OUTOFMEMORY;

  bool anyFailed = false;
  std::size_t added = 0;
  {
    std::lock_guard lock(core_->mutex);
    for (DWORD i = 0; i < count; ++i) {
      const OPCITEMDEF& def = defs[i];
      OPCITEMRESULT& r = results.get()[i];
      r = OPCITEMRESULT{};
      SimItem* item = nullptr;
      std::uint8_t path = 0;
      HRESULT hr = core_->space.resolve(def.szItemID, def.szAccessPath, &item, &path);
      if (SUCCEEDED(hr)) hr = AddressSpace::checkRequestedType(*item, def.vtRequestedDataType);
      if (SUCCEEDED(hr)) {
        r.vtCanonicalDataType = item->canonicalType;
        r.dwAccessRights = item->accessRights;
        if (add) {
          r.hServer = core_->nextItemHandleLocked();
          index_.emplace(r.hServer, items_.size());
          items_.push_back(GroupItem{item, r.hServer, def.hClient, def.vtRequestedDataType, path,
                                     def.bActive != FALSE});
          ++added;
        }
      } else {
        anyFailed = true;
      }
      errors.get()[i] = hr;
    }
  }
  core_->liveItems.fetch_add(added);
  const HRESULT result = anyFailed ? S_FALSE : S_OK;
  if (core_->quirk(Quirk::NullItemArrays)) return result;
  *ppResults = results.release();
  *ppErrors = errors.release();
  return result;
}

template <class PerItem>
HRESULT SimGroup::forEachHandle(SimCall call, DWORD count, const OPCHANDLE* handles,
                                HRESULT** ppErrors, bool argumentsValid, PerItem perItem) {
  if (ppErrors) *ppErrors = nullptr;
  if (auto injected = core_->enter(call)) {
    return injectedFailure(*core_, *injected, count, nullptr, ppErrors);
  }
  if (count == 0 || !handles || !ppErrors || !argumentsValid) return E_INVALIDARG;
  opc::TaskMem<HRESULT> errors(allocArray<HRESULT>(count));
  if (!errors) return E_OUTOFMEMORY;
  bool anyFailed = false;
  {
    std::lock_guard lock(core_->mutex);
    for (DWORD i = 0; i < count; ++i) {
      GroupItem* item = findItemLocked(handles[i]);
      const HRESULT hr = item ? perItem(*item, i) : OPC_E_INVALIDHANDLE;
      anyFailed = anyFailed || FAILED(hr);
      errors.get()[i] = hr;
    }
  }
  const HRESULT result = anyFailed ? S_FALSE : S_OK;
  if (core_->quirk(Quirk::NullItemArrays)) return result;
  *ppErrors = errors.release();
  return result;
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
  if (!ppUnk) return E_INVALIDARG;
  if (riid != IID_IEnumOPCItemAttributes) return E_NOINTERFACE;
  auto list = std::make_shared<std::vector<ItemAttributes>>();
  {
    std::lock_guard lock(core_->mutex);
    list->reserve(items_.size());
    for (const GroupItem& gi : items_) {
      const SimItem& item = *gi.item;
      ItemAttributes a{std::u16string(core_->space.accessPathName(gi.accessPath)),
                       item.itemId,
                       gi.active ? TRUE : FALSE,
                       gi.clientHandle,
                       gi.serverHandle,
                       item.accessRights,
                       gi.requestedType,
                       item.canonicalType,
                       item.euRange ? OPC_ANALOG : OPC_NOENUM,
                       OleVariant()};
      if (item.euRange) {
        a.euInfo = OleVariant::array(
            VT_R8, {OleVariant(item.euRange->low), OleVariant(item.euRange->high)});
      }
      list->push_back(std::move(a));
    }
  }
  const bool empty = list->empty();
  *ppUnk =
      opc::makeCom<opc::Enumerator<IEnumOPCItemAttributes, ItemAttributes, ItemAttributesCopy>>(
          std::move(list))
          .detach();
  // An empty group still hands out an (empty) enumerator.
  return empty ? S_FALSE : S_OK;
}

// ---- IOPCGroupStateMgt -----------------------------------------------------

HRESULT SimGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                           FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                           OPCHANDLE* phServerGroup) {
  if (ppName) *ppName = nullptr;
  if (auto injected = core_->enter(SimCall::GetState)) return *injected;
  if (!pUpdateRate || !pActive || !ppName || !pTimeBias || !pPercentDeadband || !pLCID ||
      !phClientGroup || !phServerGroup) {
    return E_INVALIDARG;
  }
  std::u16string name;
  {
    std::lock_guard lock(core_->mutex);
    *pUpdateRate = updateRate_;
    *pActive = active_ ? TRUE : FALSE;
    *pTimeBias = timeBias_;
    *pPercentDeadband = percentDeadband_;
    *pLCID = lcid_;
    *phClientGroup = clientHandle_;
    *phServerGroup = serverHandle_;
    name = name_;
  }
  *ppName = opc::taskStringDup(name);
  return *ppName ? S_OK : E_OUTOFMEMORY;
}

HRESULT SimGroup::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                           LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                           OPCHANDLE* phClientGroup) {
  if (auto injected = core_->enter(SimCall::SetState)) return *injected;
  if (!pRevisedUpdateRate) return E_INVALIDARG;
  if (pPercentDeadband && !validDeadband(*pPercentDeadband)) return E_INVALIDARG;
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
  if (!szName || !*szName) return E_INVALIDARG;
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
  detail::GroupSettings s;
  {
    std::lock_guard lock(core_->mutex);
    s.active = false;  // a clone starts inactive
    s.requestedUpdateRate = updateRate_;
    s.clientHandle = clientHandle_;
    s.timeBias = timeBias_;
    s.percentDeadband = percentDeadband_;
    s.lcid = lcid_;
  }
  if (szName) s.name.assign(szName, wideLength(szName));
  const HRESULT hr = core_->addGroup(s, this, riid, ppUnk, nullptr, nullptr);
  // The rate was revised when this group got it; a changed base scan rate
  // since then is not the caller's concern here.
  return SUCCEEDED(hr) ? S_OK : hr;
}

// ---- Scanning (a pass, with the core's lock held) ----------------------------

void SimGroup::markAllInitialLocked() {
  for (GroupItem& gi : items_) gi.initial = true;
}

std::optional<std::uint64_t> SimGroup::nextDueLocked() const {
  if (!pending_.empty()) return 0;
  if (!inNameSpace_ || !active_) return std::nullopt;
  if (callbackPoint_->sinks().generation() != seenCallbacks_ ||
      advises_->generation() != seenAdvises_) {
    return 0;  // a new sink gets its first report now
  }
  return nextScan_;
}

std::shared_ptr<opc::Connection> SimGroup::adviseOf(bool writeResults) const {
  for (auto& c : advises_->snapshot()) {
    if ((c->format == OPCSTMFORMATWRITECOMPLETE) == writeResults) return c;
  }
  return nullptr;
}

void SimGroup::collectLocked(const detail::PassTime& now, std::vector<detail::Outgoing>& out) {
  for (detail::AsyncRequest& r : pending_) completeLocked(r, now, out);
  pending_.clear();
  if (!inNameSpace_ || !active_) return;

  const std::uint64_t callbacks = callbackPoint_->sinks().generation();
  const std::uint64_t advises = advises_->generation();
  const bool newSink = callbacks != seenCallbacks_ || advises != seenAdvises_;
  if (newSink) {
    seenCallbacks_ = callbacks;
    seenAdvises_ = advises;
    markAllInitialLocked();
  }
  const bool due = now.ticks >= nextScan_;
  if (!due && !newSink) return;
  if (due) {
    const std::uint64_t period = std::uint64_t(updateRate_) * 10000u;  // ms to 100 ns ticks
    nextScan_ = nextScan_ == 0 ? now.ticks + period : nextScan_ + period;
    if (nextScan_ <= now.ticks) nextScan_ = now.ticks + period;  // fell behind: no catching up
  }
  const auto callback = enabled_ ? callbackPoint_->sinks().first() : nullptr;
  const auto stream = adviseOf(false);
  if (!callback && !stream) {
    // Nobody listens, but the cache still follows the update rate.
    sampleActiveLocked(now);
    return;
  }
  auto batch = scanLocked(now);
  if (batch->size() == 0) return;
  // The stream is built from the batch before the callback may take its values.
  if (stream) out.push_back({detail::Outgoing::Call::DataStream, stream, batch});
  if (callback) out.push_back({detail::Outgoing::Call::DataChange, callback, batch});
}

std::shared_ptr<detail::ItemBatch> SimGroup::scanLocked(const detail::PassTime& now) {
  auto batch = std::make_shared<detail::ItemBatch>();
  batch->clientGroup = clientHandle_;
  const double band = double(percentDeadband_) / 100.0;
  bool reserved = false;
  const std::size_t n = items_.size();
  for (std::size_t i = 0; i < n; ++i) {
    // The address-space items are scattered on the heap: fetch ahead the
    // ones a few steps on (and, nearer, their generators) so that large
    // groups do not wait on memory at every item.
    if (i + kPrefetchItem < n) prefetchItem(*items_[i + kPrefetchItem].item);
    if (i + kPrefetchGenerator < n) prefetchGenerator(*items_[i + kPrefetchGenerator].item);
    GroupItem& gi = items_[i];
    if (!gi.active) continue;
    SimItem& s = *gi.item;
    core_->sampleLocked(s, now);
    if (!gi.initial) {
      if (s.changeCount == gi.sentChange) continue;
      // Dead band: an analog value that moved too little is not news, unless
      // its quality changed.
      if (band > 0.0 && s.euRange && s.quality == gi.sentQuality) {
        const auto x = numberOf(s.value.get());
        if (x && std::fabs(*x - gi.sentNumber) <= band * (s.euRange->high - s.euRange->low)) {
          continue;
        }
      }
    }
    if (!reserved) {
      // One allocation per array and scan, whatever share of the items changed.
      batch->reserve(items_.size());
      reserved = true;
    }
    gi.initial = false;
    gi.sentChange = s.changeCount;
    gi.sentQuality = s.quality;
    if (s.euRange) gi.sentNumber = numberOf(s.value.get()).value_or(0.0);
    batch->add(gi.clientHandle, s, gi.requestedType, s.quality);
  }
  return batch;
}

void SimGroup::sampleActiveLocked(const detail::PassTime& now) {
  for (GroupItem& gi : items_) {
    if (gi.active) core_->sampleLocked(*gi.item, now);
  }
}

HRESULT SimGroup::readLocked(GroupItem& gi, bool fromDevice, const detail::PassTime& now,
                             VARIANT& value, WORD& quality, FILETIME& timeStamp) {
  SimItem& s = *gi.item;
  if (fromDevice) core_->sampleLocked(s, now);
  timeStamp = s.timeStamp;
  const HRESULT hr = detail::valueForClient(s, gi.requestedType, value);
  if (FAILED(hr)) {
    quality = OPC_QUALITY_BAD;
    return hr;
  }
  // The cache of an inactive item or group is not kept up: out of service.
  quality = !fromDevice && !(active_ && gi.active) ? OPC_QUALITY_OUT_OF_SERVICE : s.quality;
  return S_OK;
}

void SimGroup::completeLocked(detail::AsyncRequest& r, const detail::PassTime& now,
                              std::vector<detail::Outgoing>& out) {
  using Call = detail::Outgoing::Call;
  auto batch = std::make_shared<detail::ItemBatch>();
  batch->clientGroup = clientHandle_;
  batch->transactionId = r.transactionId;
  const auto callback = callbackPoint_->sinks().first();
  if (r.cancelled) {
    // Only DA 2.0 requests stay queued once cancelled: they owe a notice.
    if (callback) out.push_back({Call::CancelComplete, callback, batch});
    return;
  }
  if (r.kind == detail::AsyncRequest::Kind::Write) {
    // An accepted write happens even when nobody is left to hear of it.
    batch->reserve(r.serverHandles.size());
    for (std::size_t i = 0; i < r.serverHandles.size(); ++i) {
      if (GroupItem* gi = findItemLocked(r.serverHandles[i])) {
        batch->addResult(gi->clientHandle, detail::writeItem(*gi->item, r.values[i].get(), now));
      }
    }
    const auto to = r.da10 ? adviseOf(true) : callback;
    if (to) out.push_back({r.da10 ? Call::WriteStream : Call::WriteComplete, to, batch});
    return;
  }
  const auto to = r.da10 ? adviseOf(false) : callback;
  if (!to) return;
  const bool fromDevice = r.source == OPC_DS_DEVICE;
  batch->reserve(r.serverHandles.size());
  for (OPCHANDLE h : r.serverHandles) {
    GroupItem* gi = findItemLocked(h);
    if (!gi) continue;  // removed since: the client no longer knows it
    SimItem& s = *gi->item;
    if (fromDevice) core_->sampleLocked(s, now);
    const WORD quality =
        !fromDevice && !(active_ && gi->active) ? OPC_QUALITY_OUT_OF_SERVICE : s.quality;
    batch->add(gi->clientHandle, s, gi->requestedType, quality);
  }
  // A DA 2.0 refresh answers through OnDataChange, with its transaction id.
  const Call call = r.da10                                          ? Call::DataStream
                    : r.kind == detail::AsyncRequest::Kind::Refresh ? Call::DataChange
                                                                    : Call::ReadComplete;
  out.push_back({call, to, batch});
}

// ---- IOPCSyncIO ---------------------------------------------------------------------

HRESULT SimGroup::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                       OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) {
  if (ppItemValues) *ppItemValues = nullptr;
  if (ppErrors) *ppErrors = nullptr;
  if (auto injected = core_->enter(SimCall::SyncRead)) {
    return injectedFailure(*core_, *injected, dwCount, ppItemValues, ppErrors);
  }
  if (dwCount == 0 || !phServer || !ppItemValues || !ppErrors || !isDataSource(dwSource)) {
    return E_INVALIDARG;
  }
  opc::TaskMem<OPCITEMSTATE> states(allocArray<OPCITEMSTATE>(dwCount));
  opc::TaskMem<HRESULT> errors(allocArray<HRESULT>(dwCount));
  if (!states || !errors) return E_OUTOFMEMORY;
  bool anyFailed = false;
  {
    std::lock_guard lock(core_->mutex);
    const detail::PassTime now = core_->nowLocked();
    for (DWORD i = 0; i < dwCount; ++i) {
      OPCITEMSTATE& st = states.get()[i];
      st = OPCITEMSTATE{};
      st.vDataValue.vt = VT_EMPTY;
      HRESULT hr = OPC_E_INVALIDHANDLE;
      if (GroupItem* gi = findItemLocked(phServer[i])) {
        st.hClient = gi->clientHandle;
        hr = readLocked(*gi, dwSource == OPC_DS_DEVICE, now, st.vDataValue, st.wQuality,
                        st.ftTimeStamp);
      }
      anyFailed = anyFailed || FAILED(hr);
      errors.get()[i] = hr;
    }
  }
  const HRESULT result = anyFailed ? S_FALSE : S_OK;
  if (core_->quirk(Quirk::NullItemArrays)) {
    for (DWORD i = 0; i < dwCount; ++i) VariantClear(&states.get()[i].vDataValue);
    return result;
  }
  *ppItemValues = states.release();
  *ppErrors = errors.release();
  return result;
}

HRESULT SimGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                        HRESULT** ppErrors) {
  std::optional<detail::PassTime> now;
  return forEachHandle(SimCall::SyncWrite, dwCount, phServer, ppErrors, pItemValues != nullptr,
                       [&](GroupItem& item, DWORD i) {
                         if (!now) now = core_->nowLocked();
                         return detail::writeItem(*item.item, pItemValues[i], *now);
                       });
}

// ---- Asynchronous requests -------------------------------------------------------------

HRESULT SimGroup::queueItems(detail::AsyncRequest&& request, DWORD count, const OPCHANDLE* handles,
                             const VARIANT* values, HRESULT** ppErrors, DWORD* id) {
  opc::TaskMem<HRESULT> errors(allocArray<HRESULT>(count));
  if (!errors) return E_OUTOFMEMORY;
  const bool write = request.kind == detail::AsyncRequest::Kind::Write;
  bool anyFailed = false;
  bool queued = false;
  {
    std::lock_guard lock(core_->mutex);
    request.serverHandles.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
      const GroupItem* gi = findItemLocked(handles[i]);
      HRESULT hr = gi ? S_OK : OPC_E_INVALIDHANDLE;
      if (gi && write) {
        if (!(gi->item->accessRights & OPC_WRITEABLE)) {
          hr = OPC_E_BADRIGHTS;
        } else {
          OleVariant kept;
          hr = keepValue(values[i], kept);
          if (SUCCEEDED(hr)) request.values.push_back(std::move(kept));
        }
      }
      // Items refused here take no part in the completion.
      if (SUCCEEDED(hr)) request.serverHandles.push_back(handles[i]);
      anyFailed = anyFailed || FAILED(hr);
      errors.get()[i] = hr;
    }
    if (!request.serverHandles.empty()) {
      request.cancelId = core_->nextRequestIdLocked();
      if (request.da10) request.transactionId = request.cancelId;
      *id = request.cancelId;
      pending_.push_back(std::move(request));
      queued = true;
    }
  }
  if (queued) core_->wakeScanner();
  const HRESULT result = anyFailed ? S_FALSE : S_OK;
  if (core_->quirk(Quirk::NullItemArrays)) return result;
  *ppErrors = errors.release();
  return result;
}

HRESULT SimGroup::queueRefresh(detail::AsyncRequest&& request, DWORD* id) {
  {
    std::lock_guard lock(core_->mutex);
    if (!active_) return E_FAIL;
    for (const GroupItem& gi : items_) {
      if (gi.active) request.serverHandles.push_back(gi.serverHandle);
    }
    if (request.serverHandles.empty()) return E_FAIL;
    request.cancelId = core_->nextRequestIdLocked();
    if (request.da10) request.transactionId = request.cancelId;
    *id = request.cancelId;
    pending_.push_back(std::move(request));
  }
  core_->wakeScanner();
  return S_OK;
}

// ---- IOPCAsyncIO2 -------------------------------------------------------------------------

HRESULT SimGroup::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                       DWORD* pdwCancelID, HRESULT** ppErrors) {
  if (pdwCancelID) *pdwCancelID = 0;
  if (ppErrors) *ppErrors = nullptr;
  if (auto injected = core_->enter(SimCall::AsyncRead)) {
    return injectedFailure(*core_, *injected, dwCount, nullptr, ppErrors);
  }
  if (dwCount == 0 || !phServer || !pdwCancelID || !ppErrors) return E_INVALIDARG;
  if (callbackPoint_->sinks().size() == 0) return CONNECT_E_NOCONNECTION;
  detail::AsyncRequest r;
  r.kind = detail::AsyncRequest::Kind::Read;
  r.source = OPC_DS_DEVICE;
  r.transactionId = dwTransactionID;
  return queueItems(std::move(r), dwCount, phServer, nullptr, ppErrors, pdwCancelID);
}

HRESULT SimGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                        DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) {
  if (pdwCancelID) *pdwCancelID = 0;
  if (ppErrors) *ppErrors = nullptr;
  if (auto injected = core_->enter(SimCall::AsyncWrite)) {
    return injectedFailure(*core_, *injected, dwCount, nullptr, ppErrors);
  }
  if (dwCount == 0 || !phServer || !pItemValues || !pdwCancelID || !ppErrors) return E_INVALIDARG;
  if (callbackPoint_->sinks().size() == 0) return CONNECT_E_NOCONNECTION;
  detail::AsyncRequest r;
  r.kind = detail::AsyncRequest::Kind::Write;
  r.transactionId = dwTransactionID;
  return queueItems(std::move(r), dwCount, phServer, pItemValues, ppErrors, pdwCancelID);
}

HRESULT SimGroup::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) {
  if (pdwCancelID) *pdwCancelID = 0;
  if (auto injected = core_->enter(SimCall::Refresh)) return *injected;
  if (!pdwCancelID || !isDataSource(dwSource)) return E_INVALIDARG;
  if (callbackPoint_->sinks().size() == 0) return CONNECT_E_NOCONNECTION;
  detail::AsyncRequest r;
  r.kind = detail::AsyncRequest::Kind::Refresh;
  r.source = dwSource;
  r.transactionId = dwTransactionID;
  return queueRefresh(std::move(r), pdwCancelID);
}

HRESULT SimGroup::Cancel2(DWORD dwCancelID) {
  if (auto injected = core_->enter(SimCall::Cancel)) return *injected;
  std::lock_guard lock(core_->mutex);
  for (detail::AsyncRequest& r : pending_) {
    if (!r.da10 && !r.cancelled && r.cancelId == dwCancelID) {
      r.cancelled = true;  // OnCancelComplete at the next pass, in place of the completion
      return S_OK;
    }
  }
  return E_FAIL;  // unknown, or already completed
}

HRESULT SimGroup::SetEnable(BOOL bEnable) {
  if (callbackPoint_->sinks().size() == 0) return CONNECT_E_NOCONNECTION;
  {
    std::lock_guard lock(core_->mutex);
    // Switched back on, the client hears of every active item again.
    if (bEnable && !enabled_) markAllInitialLocked();
    enabled_ = bEnable != FALSE;
  }
  core_->wakeScanner();
  return S_OK;
}

HRESULT SimGroup::GetEnable(BOOL* pbEnable) {
  if (!pbEnable) return E_INVALIDARG;
  if (callbackPoint_->sinks().size() == 0) return CONNECT_E_NOCONNECTION;
  std::lock_guard lock(core_->mutex);
  *pbEnable = enabled_ ? TRUE : FALSE;
  return S_OK;
}

// ---- IOPCAsyncIO ----------------------------------------------------------------------------
//
// Any advise connection of the group names a request; read and refresh
// results go to the group's data advise, write results to its write-result
// advise (when there is none, the write still happens).

HRESULT SimGroup::Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                       OPCHANDLE* phServer, DWORD* pTransactionID, HRESULT** ppErrors) {
  if (pTransactionID) *pTransactionID = 0;
  if (ppErrors) *ppErrors = nullptr;
  if (auto injected = core_->enter(SimCall::AsyncRead)) {
    return injectedFailure(*core_, *injected, dwCount, nullptr, ppErrors);
  }
  if (dwCount == 0 || !phServer || !pTransactionID || !ppErrors || !isDataSource(dwSource)) {
    return E_INVALIDARG;
  }
  if (!advises_->find(dwConnection) || !adviseOf(false)) return CONNECT_E_NOCONNECTION;
  detail::AsyncRequest r;
  r.kind = detail::AsyncRequest::Kind::Read;
  r.da10 = true;
  r.source = dwSource;
  return queueItems(std::move(r), dwCount, phServer, nullptr, ppErrors, pTransactionID);
}

HRESULT SimGroup::Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                        VARIANT* pItemValues, DWORD* pTransactionID, HRESULT** ppErrors) {
  if (pTransactionID) *pTransactionID = 0;
  if (ppErrors) *ppErrors = nullptr;
  if (auto injected = core_->enter(SimCall::AsyncWrite)) {
    return injectedFailure(*core_, *injected, dwCount, nullptr, ppErrors);
  }
  if (dwCount == 0 || !phServer || !pItemValues || !pTransactionID || !ppErrors) {
    return E_INVALIDARG;
  }
  if (!advises_->find(dwConnection)) return CONNECT_E_NOCONNECTION;
  detail::AsyncRequest r;
  r.kind = detail::AsyncRequest::Kind::Write;
  r.da10 = true;
  return queueItems(std::move(r), dwCount, phServer, pItemValues, ppErrors, pTransactionID);
}

HRESULT SimGroup::Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) {
  if (pTransactionID) *pTransactionID = 0;
  if (auto injected = core_->enter(SimCall::Refresh)) return *injected;
  if (!pTransactionID || !isDataSource(dwSource)) return E_INVALIDARG;
  if (!advises_->find(dwConnection) || !adviseOf(false)) return CONNECT_E_NOCONNECTION;
  detail::AsyncRequest r;
  r.kind = detail::AsyncRequest::Kind::Refresh;
  r.da10 = true;
  r.source = dwSource;
  return queueRefresh(std::move(r), pTransactionID);
}

HRESULT SimGroup::Cancel(DWORD dwTransactionID) {
  if (auto injected = core_->enter(SimCall::Cancel)) return *injected;
  std::lock_guard lock(core_->mutex);
  const auto it = std::find_if(pending_.begin(), pending_.end(), [&](const auto& r) {
    return r.da10 && r.cancelId == dwTransactionID;
  });
  if (it == pending_.end()) return E_FAIL;
  pending_.erase(it);  // DA 1.0 sends no notice of a cancel
  return S_OK;
}

// ---- IConnectionPointContainer -------------------------------------------------------------

HRESULT SimGroup::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (ppEnum) *ppEnum = nullptr;
  if (!ppEnum) return E_POINTER;
  *ppEnum =
      opc::makeEnumConnectionPoints({ComPtr<IConnectionPoint>(callbackPoint_.get())}).detach();
  return S_OK;
}

HRESULT SimGroup::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  if (ppCP) *ppCP = nullptr;
  if (auto injected = core_->enter(SimCall::GroupFindConnectionPoint)) return *injected;
  if (!ppCP) return E_POINTER;
  if (riid != IID_IOPCDataCallback) return CONNECT_E_NOCONNECTION;
  return ComPtr<IConnectionPoint>(callbackPoint_.get()).copyTo(ppCP);
}

// ---- IDataObject ------------------------------------------------------------------------------
//
// A group's data travels by advise only; fetching or storing data directly is
// not part of an OPC group's data object.

HRESULT SimGroup::GetData(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT SimGroup::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT SimGroup::QueryGetData(FORMATETC*) { return E_NOTIMPL; }
HRESULT SimGroup::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) { return E_NOTIMPL; }
HRESULT SimGroup::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }
HRESULT SimGroup::EnumFormatEtc(DWORD, IEnumFORMATETC**) { return E_NOTIMPL; }

HRESULT SimGroup::DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                          DWORD* pdwConnection) {
  if (pdwConnection) *pdwConnection = 0;
  if (auto injected = core_->enter(SimCall::DAdvise)) return *injected;
  if (!pformatetc || !pAdvSink || !pdwConnection) return E_INVALIDARG;
  const CLIPFORMAT format = pformatetc->cfFormat;
  const bool writeResults = format == OPCSTMFORMATWRITECOMPLETE;
  if (!writeResults && format != OPCSTMFORMATDATA && format != OPCSTMFORMATDATATIME) {
    return DV_E_FORMATETC;
  }
  if (!(pformatetc->tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
  auto connection = std::make_shared<opc::Connection>();
  connection->sink = ComPtr<IUnknown>(pAdvSink);
  connection->format = format;
  connection->advf = advf;
  // One data advise (either data format) and one write-result advise.
  const HRESULT hr = advises_->add(std::move(connection), pdwConnection, [&](const auto& present) {
    return std::none_of(present.begin(), present.end(), [&](const auto& c) {
      return (c->format == OPCSTMFORMATWRITECOMPLETE) == writeResults;
    });
  });
  if (SUCCEEDED(hr)) core_->wakeScanner();
  return hr;
}

HRESULT SimGroup::DUnadvise(DWORD dwConnection) {
  return advises_->remove(dwConnection) ? S_OK : OLE_E_NOCONNECTION;
}

HRESULT SimGroup::EnumDAdvise(IEnumSTATDATA** ppenumAdvise) {
  if (ppenumAdvise) *ppenumAdvise = nullptr;
  if (!ppenumAdvise) return E_INVALIDARG;
  *ppenumAdvise = opc::makeEnumStatData(*advises_).detach();
  return S_OK;
}

}  // namespace veze6::sim
