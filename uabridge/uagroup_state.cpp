// The group's life, its state and its subscription.
#include <cmath>

#include "opc/groupstate.h"
#include "opc/taskmem.h"
#include "opc/warnings.h"
#include "uagroup_p.h"
#include "uaservercore_p.h"
#include "uavalue.h"

namespace veze6::uab {

namespace {

DWORD rateOf(double interval) {
  if (!(interval > 0)) return 0;
  return interval >= 4294967295.0 ? 0xFFFFFFFFu : DWORD(std::ceil(interval));
}

}  // namespace

UaGroup::UaGroup(std::shared_ptr<detail::ServerCore> core, const detail::GroupSettings& settings,
                 OPCHANDLE serverHandle)
    : core_(std::move(core)),
      session_(core_->session),
      data_(std::make_shared<UaGroupData>()),
      serverHandle_(serverHandle),
      name_(settings.name),
      timeBias_(settings.timeBias),
      percentDeadband_(settings.percentDeadband),
      lcid_(settings.lcid) {
  data_->active = settings.active;
  data_->clientGroup = settings.clientHandle;
  data_->lastUpdate = core_->lastUpdate;
  // A new sink hears of every active item at once. The point lives in the
  // shared data, which must never own the session: it is reached weakly.
  data_->callbackPoint = opc::makeCom<opc::ConnectionPoint>(
      static_cast<IConnectionPointContainer*>(this), IID_IOPCDataCallback, 1,
      [session = std::weak_ptr<UaSession>(session_), data = std::weak_ptr<UaGroupData>(data_)] {
        const auto s = session.lock();
        const auto d = data.lock();
        if (s && d) detail::resendCache(*s, d);
      });
  core_->liveGroups.fetch_add(1);
}

UaGroup::~UaGroup() {
  data_->callbackPoint->detach();
  std::size_t items = 0;
  {
    std::lock_guard lock(data_->mutex);
    data_->inNameSpace = false;
    items = data_->items.size();
    // Queued requests complete no more: nobody holds the group to hear them.
    for (const auto& p : pending_) {
      int queued = Pending::Queued;
      p->state.compare_exchange_strong(queued, Pending::Cancelled);
    }
  }
  if (subscriptionId_ != 0) {
    std::vector<ua::StatusCode> results;
    session_->client.deleteSubscriptions({subscriptionId_}, results);
  }
  core_->liveItems.fetch_sub(items);
  core_->liveGroups.fetch_sub(1);
}

HRESULT UaGroup::subscribe(DWORD requestedRate, DWORD* revisedRate) {
  ua::SubscriptionSettings settings;
  settings.publishingInterval = requestedRate;
  settings.publishingEnabled = data_->active;
  ua::SubscriptionSettings revised;
  std::uint32_t id = 0;
  const auto data = data_;
  const ua::StatusCode s = session_->client.createSubscription(
      settings,
      [data](std::uint32_t, const std::vector<ua::MonitoredItemNotification>& changes) {
        data->onDataChange(changes);
      },
      id, &revised);
  if (s == ua::status::BadTooManySubscriptions) {
    // Otherwise the user sees only an unspecified failure of one more group.
    opc::warn(
        "the OPC UA server allows no more subscriptions on this connection; each group "
        "is one (and one watches the server state): put the items in fewer groups");
  }
  if (ua::isBad(s)) return detail::failureOf(s);
  subscriptionId_ = id;
  std::lock_guard lock(data_->mutex);
  data_->updateRate = rateOf(revised.publishingInterval);
  if (revisedRate) *revisedRate = data_->updateRate;
  return S_OK;
}

void UaGroup::leaveNameSpace() {
  std::lock_guard lock(data_->mutex);
  data_->inNameSpace = false;
}

std::pair<ua::MonitoringMode, ua::ExtensionObject> UaGroup::itemFilter(
    const UaGroupItem& item) const {
  const auto mode = item.active ? ua::MonitoringMode::Reporting : ua::MonitoringMode::Disabled;
  if (percentDeadband_ > 0.0f && item.euRange)
    return {mode, ua::Client::deadbandFilter(ua::DeadbandType::Percent, percentDeadband_)};
  return {mode, {}};
}

void UaGroup::modifyItems(bool rangedOnly) {
  std::vector<ua::MonitoredItemModifyRequest> requests;
  {
    std::lock_guard lock(data_->mutex);
    for (const auto& [handle, item] : data_->items) {
      if ((rangedOnly && !item.euRange) || item.monitoredItemId == 0) continue;
      ua::MonitoredItemModifyRequest r;
      r.monitoredItemId = item.monitoredItemId;
      r.requestedParameters.clientHandle = handle;
      r.requestedParameters.samplingInterval = data_->updateRate;
      r.requestedParameters.filter = itemFilter(item).second;
      requests.push_back(std::move(r));
    }
  }
  if (requests.empty()) return;
  std::vector<ua::MonitoredItemModifyResult> results;
  session_->client.modifyMonitoredItems(subscriptionId_, requests, results);
}

opc::GroupSettings UaGroup::state() {
  opc::GroupSettings s;
  {
    std::lock_guard lock(core_->mutex);
    s.name = name_;
  }
  std::lock_guard lock(data_->mutex);
  s.active = data_->active;
  s.requestedUpdateRate = data_->updateRate;
  s.clientHandle = data_->clientGroup;
  s.timeBias = timeBias_;
  s.percentDeadband = percentDeadband_;
  s.lcid = lcid_;
  return s;
}

// ---- IOPCGroupStateMgt -----------------------------------------------------

HRESULT UaGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                          FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                          OPCHANDLE* phServerGroup) {
  if (HRESULT hr = opc::checkGetState(pUpdateRate, pActive, ppName, pTimeBias, pPercentDeadband,
                                      pLCID, phClientGroup, phServerGroup);
      FAILED(hr)) {
    return hr;
  }
  return opc::getStateAnswer(state(), serverHandle_, pUpdateRate, pActive, ppName, pTimeBias,
                             pPercentDeadband, pLCID, phClientGroup, phServerGroup);
}

HRESULT UaGroup::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                          LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                          OPCHANDLE* phClientGroup) {
  if (HRESULT hr = opc::checkSetState(pRevisedUpdateRate, pPercentDeadband); FAILED(hr)) return hr;
  std::lock_guard calls(calls_);
  HRESULT result = S_OK;
  auto& client = session_->client;
  if (pRequestedUpdateRate) {
    // Read before the revised rate is written: the two may be one variable.
    const DWORD requested = *pRequestedUpdateRate;
    ua::SubscriptionSettings settings;
    settings.publishingInterval = requested;
    ua::SubscriptionSettings revised;
    const ua::StatusCode s = client.modifySubscription(subscriptionId_, settings, &revised);
    if (ua::isBad(s)) return detail::failureOf(s);
    bool changed;
    {
      std::lock_guard lock(data_->mutex);
      const DWORD rate = rateOf(revised.publishingInterval);
      changed = rate != data_->updateRate;
      data_->updateRate = rate;
      if (rate != requested) result = OPC_S_UNSUPPORTEDRATE;
    }
    if (changed) modifyItems();  // the items sample at the new rate
  }
  bool reactivated = false;
  if (pActive) {
    bool wasActive;
    {
      std::lock_guard lock(data_->mutex);
      wasActive = data_->active;
    }
    const bool active = *pActive != FALSE;
    if (active != wasActive) {
      std::vector<ua::StatusCode> results;
      const ua::StatusCode s = client.setPublishingMode(active, {subscriptionId_}, results);
      if (ua::isBad(s)) return detail::failureOf(s);
      std::lock_guard lock(data_->mutex);
      data_->active = active;
      reactivated = active;
    }
  }
  if (pPercentDeadband && *pPercentDeadband != percentDeadband_) {
    std::vector<OPCHANDLE> handles;
    {
      std::lock_guard lock(data_->mutex);
      percentDeadband_ = *pPercentDeadband;
      handles = data_->order;
    }
    if (percentDeadband_ > 0.0f) lookUpRanges(handles);
    // Only items with a range carry a dead band filter, on or off.
    modifyItems(true);
  }
  {
    std::lock_guard lock(data_->mutex);
    *pRevisedUpdateRate = data_->updateRate;
    if (pTimeBias) timeBias_ = *pTimeBias;
    if (pLCID) lcid_ = *pLCID;
    if (phClientGroup) data_->clientGroup = *phClientGroup;
  }
  // A reactivated group reports every active item at once.
  if (reactivated) detail::resendCache(*session_, data_);
  return result;
}

HRESULT UaGroup::SetName(LPCWSTR szName) {
  if (HRESULT hr = opc::checkGroupName(szName); FAILED(hr)) return hr;
  const std::u16string_view name(szName, wideLength(szName));
  bool inNameSpace;
  {
    std::lock_guard lock(data_->mutex);
    inNameSpace = data_->inNameSpace;
  }
  std::lock_guard lock(core_->mutex);
  // Only groups in the name space have names to collide with.
  if (inNameSpace && core_->findGroupLocked(name, this)) return OPC_E_DUPLICATENAME;
  name_ = name;
  return S_OK;
}

HRESULT UaGroup::CloneGroup(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  if (!ppUnk) return E_INVALIDARG;
  const detail::GroupSettings s{opc::cloneSettings(state(), szName)};
  const HRESULT hr = core_->addGroup(s, this, riid, ppUnk, nullptr, nullptr);
  return SUCCEEDED(hr) ? S_OK : hr;
}

}  // namespace veze6::uab
