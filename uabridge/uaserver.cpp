#include "uaserver.h"

#include "opc/filetime.h"
#include "opc/taskmem.h"
#include "uagroup.h"
#include "uaservercore_p.h"
#include "uavalue.h"

namespace veze6::uab {

namespace {

std::u16string lossReason(const ua::LossEvent& e) {
  std::string text = "The OPC UA server connection was lost";
  text += e.text.empty() ? " (" + ua::statusName(e.reason) + ")" : ": " + e.text;
  return opc::utf8ToUtf16(text);
}

}  // namespace

void UaServer::Shutdown::send(const std::u16string& reason) {
  if (sent.exchange(true)) return;  // once per connection
  point.requestShutdown(reason);
}

UaServer::UaServer(std::shared_ptr<UaSession> session)
    : core_(std::make_shared<detail::ServerCore>(session)),
      shutdown_(std::make_shared<Shutdown>(static_cast<IConnectionPointContainer*>(this))),
      browser_(session),
      properties_(session) {
  session->client.setLossHandler(
      [shutdown = shutdown_](const ua::LossEvent& e) { shutdown->send(lossReason(e)); });
  watchServerState();
}

UaServer::~UaServer() {
  // The point may outlive the server in a client's hands; it must not reach
  // back into a destroyed container, and the sinks are let go now.
  shutdown_->point.detach();
  if (stateSubscription_ != 0) {
    std::vector<ua::StatusCode> results;
    core_->session->client.deleteSubscriptions({stateSubscription_}, results);
  }
  core_->close();
}

void UaServer::watchServerState() {
  // A server announces its shutdown in its state before it closes; the
  // client hears of it then, with time to let go.
  auto& client = core_->session->client;
  ua::SubscriptionSettings settings;
  settings.publishingInterval = 1000;
  std::uint32_t id = 0;
  const ua::StatusCode s = client.createSubscription(
      settings,
      [shutdown = shutdown_](std::uint32_t,
                             const std::vector<ua::MonitoredItemNotification>& changes) {
        for (const auto& c : changes) {
          const auto state = c.value.value.toDouble();
          if (state && *state == double(ua::ServerState::Shutdown))
            shutdown->send(u"The OPC UA server is shutting down");
        }
      },
      id);
  if (ua::isBad(s)) return;  // without the watch, the loss of the session still tells
  stateSubscription_ = id;
  ua::MonitoredItemCreateRequest r;
  r.itemToMonitor = ua::ReadValueId(ua::NodeId(0, ua::nodes::Server_ServerStatus_State));
  std::vector<ua::MonitoredItemCreateResult> results;
  client.createMonitoredItems(id, {r}, results);
}

std::size_t UaServer::liveGroupCount() const { return core_->liveGroups.load(); }
std::size_t UaServer::liveItemCount() const { return core_->liveItems.load(); }
std::uint64_t UaServer::uaCallCount() const { return core_->session->client.callCount(); }

// ---- IOPCServer -----------------------------------------------------------------

HRESULT UaServer::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                           OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                           DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                           REFIID riid, IUnknown** ppUnk) {
  detail::GroupSettings s;
  if (HRESULT hr = opc::addGroupSettings(szName, bActive, dwRequestedUpdateRate, hClientGroup,
                                         pTimeBias, pPercentDeadband, dwLCID, phServerGroup,
                                         pRevisedUpdateRate, ppUnk, s);
      FAILED(hr)) {
    return hr;
  }
  return core_->addGroup(s, nullptr, riid, ppUnk, phServerGroup, pRevisedUpdateRate);
}

HRESULT UaServer::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) {
  return opc::ServerCommon::GetErrorString(dwError, dwLocale, ppString);
}

HRESULT UaServer::GetGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) {
  return core_->groups.groupByName(core_->mutex, szName, riid, ppUnk);
}

HRESULT UaServer::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
  if (ppServerStatus) *ppServerStatus = nullptr;
  if (!ppServerStatus) return E_INVALIDARG;
  auto& client = core_->session->client;
  ua::ServerStatus uaStatus;
  const ua::StatusCode s = client.readServerStatus(uaStatus);
  // A lost session is a server gone, as a dead out-of-process server reads.
  if (ua::isBad(s)) return client.isConnected() ? resultFromStatus(s) : RPC_E_DISCONNECTED;
  OPCSERVERSTATUS status{};
  opc::TaskMem<OPCSERVERSTATUS> block(
      static_cast<OPCSERVERSTATUS*>(CoTaskMemAlloc(sizeof(OPCSERVERSTATUS))));
  if (!block) return E_OUTOFMEMORY;
  if (FAILED(fillServerStatus(uaStatus, status))) return E_OUTOFMEMORY;
  {
    std::lock_guard lock(core_->mutex);
    status.dwGroupCount = static_cast<DWORD>(core_->groups.groupsLocked().size());
  }
  status.dwBandWidth = 0;
  status.ftLastUpdateTime = opc::fileTimeFromTicks(core_->lastUpdate->load());
  *block = status;
  *ppServerStatus = block.release();
  return S_OK;
}

HRESULT UaServer::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
  ComPtr<UaGroup> taken;
  if (!core_->takeGroup(hServerGroup, taken)) return E_INVALIDARG;
  return opc::removedGroupResult(std::move(taken), bForce);
}

HRESULT UaServer::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, IUnknown** ppUnk) {
  return core_->groups.groupEnumerator(core_->mutex, dwScope, riid, ppUnk);
}

// ---- IOPCCommon -------------------------------------------------------------------

HRESULT UaServer::SetLocaleID(LCID dwLcid) { return common_.SetLocaleID(dwLcid); }

HRESULT UaServer::GetLocaleID(LCID* pdwLcid) { return common_.GetLocaleID(pdwLcid); }

HRESULT UaServer::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
  return opc::ServerCommon::QueryAvailableLocaleIDs(pdwCount, pdwLcid);
}

HRESULT UaServer::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
  return opc::ServerCommon::GetErrorString(dwError, ppString);
}

HRESULT UaServer::SetClientName(LPCWSTR szName) { return common_.SetClientName(szName); }

// ---- IConnectionPointContainer ---------------------------------------------------------

HRESULT UaServer::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  return shutdown_->point.EnumConnectionPoints(ppEnum);
}

HRESULT UaServer::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  return shutdown_->point.FindConnectionPoint(riid, ppCP);
}

// ---- Browsing and properties: the classes of their own ----------------------------------

HRESULT UaServer::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
  return browser_.QueryOrganization(pNameSpaceType);
}
HRESULT UaServer::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) {
  return browser_.ChangeBrowsePosition(dwBrowseDirection, szString);
}
HRESULT UaServer::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                   VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                   IEnumString** ppIEnumString) {
  return browser_.BrowseOPCItemIDs(dwBrowseFilterType, szFilterCriteria, vtDataTypeFilter,
                                   dwAccessRightsFilter, ppIEnumString);
}
HRESULT UaServer::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
  return browser_.GetItemID(szItemDataID, szItemID);
}
HRESULT UaServer::BrowseAccessPaths(LPCWSTR szItemID, IEnumString** ppIEnumString) {
  return browser_.BrowseAccessPaths(szItemID, ppIEnumString);
}
HRESULT UaServer::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                           LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) {
  return properties_.QueryAvailableProperties(szItemID, pdwCount, ppPropertyIDs, ppDescriptions,
                                              ppvtDataTypes);
}
HRESULT UaServer::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                    VARIANT** ppvData, HRESULT** ppErrors) {
  return properties_.GetItemProperties(szItemID, dwCount, pdwPropertyIDs, ppvData, ppErrors);
}
HRESULT UaServer::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) {
  return properties_.LookupItemIDs(szItemID, dwCount, pdwPropertyIDs, ppszNewItemIDs, ppErrors);
}

}  // namespace veze6::uab
