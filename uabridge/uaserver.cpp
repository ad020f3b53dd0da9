#include "uaserver.h"

#include "opc/enumerator.h"
#include "opc/filetime.h"
#include "opc/servererrors.h"
#include "opc/taskmem.h"
#include "uagroup.h"
#include "uaservercore_p.h"
#include "uavalue.h"

namespace veze6::uab {

namespace {

bool validDeadband(FLOAT d) { return d >= 0.0f && d <= 100.0f; }  // false for NaN

std::u16string lossReason(const ua::LossEvent& e) {
  std::string text = "The OPC UA server connection was lost";
  text += e.text.empty() ? " (" + ua::statusName(e.reason) + ")" : ": " + e.text;
  return opc::utf8ToUtf16(text);
}

}  // namespace

void UaServer::Shutdown::send(const std::u16string& reason) {
  if (sent.exchange(true)) return;  // once per connection
  const auto text = std::make_shared<const std::u16string>(reason);
  point->deliverToAll<IOPCShutdown>(
      [text](IOPCShutdown* sink) { sink->ShutdownRequest(text->c_str()); });
}

UaServer::UaServer(std::shared_ptr<UaSession> session)
    : core_(std::make_shared<detail::ServerCore>(session)),
      shutdown_(std::make_shared<Shutdown>()),
      browser_(session),
      properties_(session) {
  shutdown_->point = opc::makeCom<opc::ConnectionPoint>(
      static_cast<IConnectionPointContainer*>(this), IID_IOPCShutdown);
  session->client.setLossHandler(
      [shutdown = shutdown_](const ua::LossEvent& e) { shutdown->send(lossReason(e)); });
  watchServerState();
}

UaServer::~UaServer() {
  // The point may outlive the server in a client's hands; it must not reach
  // back into a destroyed container, and the sinks are let go now.
  shutdown_->point->detach();
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
  if (ppUnk) *ppUnk = nullptr;
  if (!phServerGroup || !pRevisedUpdateRate || !ppUnk) return E_INVALIDARG;
  if (pPercentDeadband && !validDeadband(*pPercentDeadband)) return E_INVALIDARG;
  detail::GroupSettings s;
  if (szName) s.name.assign(szName, wideLength(szName));
  s.active = bActive != FALSE;
  s.requestedUpdateRate = dwRequestedUpdateRate;
  s.clientHandle = hClientGroup;
  s.timeBias = pTimeBias ? *pTimeBias : detail::localTimeBias();
  s.percentDeadband = pPercentDeadband ? *pPercentDeadband : 0.0f;
  s.lcid = dwLCID;
  return core_->addGroup(s, nullptr, riid, ppUnk, phServerGroup, pRevisedUpdateRate);
}

HRESULT UaServer::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) {
  if (ppString) *ppString = nullptr;
  if (!detail::isSupportedLocale(dwLocale)) return E_INVALIDARG;
  return opc::serverErrorString(dwError, ppString);
}

HRESULT UaServer::GetGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  if (!szName || !ppUnk) return E_INVALIDARG;
  ComPtr<UaGroup> group;
  {
    std::lock_guard lock(core_->mutex);
    group = ComPtr<UaGroup>(core_->findGroupLocked({szName, wideLength(szName)}));
  }
  if (!group) return E_INVALIDARG;
  return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
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
    status.dwGroupCount = static_cast<DWORD>(core_->groups.size());
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
  const bool inUse = taken->refCount() > 1;
  taken.reset();
  return inUse && !bForce ? OPC_S_INUSE : S_OK;
}

HRESULT UaServer::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, IUnknown** ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  if (!ppUnk) return E_INVALIDARG;
  if (dwScope < OPC_ENUM_PRIVATE_CONNECTIONS || dwScope > OPC_ENUM_ALL) return E_INVALIDARG;
  if (riid != IID_IEnumUnknown && riid != IID_IEnumString) return E_NOINTERFACE;
  // Every group is private: the public scopes find none.
  const bool wantPrivate = dwScope != OPC_ENUM_PUBLIC_CONNECTIONS && dwScope != OPC_ENUM_PUBLIC;
  std::vector<ComPtr<IUnknown>> groups;
  std::vector<std::u16string> names;
  if (wantPrivate) {
    std::lock_guard lock(core_->mutex);
    for (const auto& g : core_->groups) {
      groups.emplace_back(g->unknown());
      names.push_back(g->nameLocked());
    }
  }
  const bool empty = groups.empty();
  if (riid == IID_IEnumUnknown) {
    *ppUnk = opc::makeEnumUnknown(std::move(groups)).detach();
  } else {
    *ppUnk = opc::makeEnumString(std::move(names)).detach();
  }
  if (!*ppUnk) return E_OUTOFMEMORY;
  return empty ? S_FALSE : S_OK;
}

// ---- IOPCCommon -------------------------------------------------------------------

HRESULT UaServer::SetLocaleID(LCID dwLcid) {
  if (!detail::isSupportedLocale(dwLcid)) return E_INVALIDARG;
  std::lock_guard lock(core_->mutex);
  core_->locale = dwLcid;
  return S_OK;
}

HRESULT UaServer::GetLocaleID(LCID* pdwLcid) {
  if (!pdwLcid) return E_INVALIDARG;
  std::lock_guard lock(core_->mutex);
  *pdwLcid = core_->locale;
  return S_OK;
}

HRESULT UaServer::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
  if (pdwCount) *pdwCount = 0;
  if (pdwLcid) *pdwLcid = nullptr;
  if (!pdwCount || !pdwLcid) return E_INVALIDARG;
  constexpr LCID kLocales[] = {0, 1033};
  auto* out = static_cast<LCID*>(CoTaskMemAlloc(sizeof(kLocales)));
  if (!out) return E_OUTOFMEMORY;
  std::copy(std::begin(kLocales), std::end(kLocales), out);
  *pdwCount = static_cast<DWORD>(std::size(kLocales));
  *pdwLcid = out;
  return S_OK;
}

HRESULT UaServer::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
  if (ppString) *ppString = nullptr;
  return opc::serverErrorString(dwError, ppString);
}

HRESULT UaServer::SetClientName(LPCWSTR szName) {
  if (!szName) return E_INVALIDARG;
  std::lock_guard lock(core_->mutex);
  core_->clientName.assign(szName, wideLength(szName));
  return S_OK;
}

// ---- IConnectionPointContainer ---------------------------------------------------------

HRESULT UaServer::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (ppEnum) *ppEnum = nullptr;
  if (!ppEnum) return E_POINTER;
  *ppEnum =
      opc::makeEnumConnectionPoints({ComPtr<IConnectionPoint>(shutdown_->point.get())}).detach();
  return S_OK;
}

HRESULT UaServer::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  if (ppCP) *ppCP = nullptr;
  if (!ppCP) return E_POINTER;
  if (riid != IID_IOPCShutdown) return CONNECT_E_NOCONNECTION;
  return ComPtr<IConnectionPoint>(shutdown_->point.get()).copyTo(ppCP);
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
