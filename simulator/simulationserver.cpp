#include "simulationserver.h"

#include <mutex>

#include "opc/servererrors.h"
#include "opc/taskmem.h"
#include "servercore_p.h"
#include "simgroup.h"
#include "simulationcontrol_p.h"

namespace veze6::sim {

namespace {

bool validDeadband(FLOAT d) { return d >= 0.0f && d <= 100.0f; }  // false for NaN

}  // namespace

SimulationServer::SimulationServer(const SimulationOptions& options)
    : core_(std::make_shared<detail::ServerCore>(options)),
      flatAddressSpace_(options.flatAddressSpace) {
  shutdownPoint_ = opc::makeCom<opc::ConnectionPoint>(static_cast<IConnectionPointContainer*>(this),
                                                      IID_IOPCShutdown);
  detail::serverCreated();
}

SimulationServer::~SimulationServer() {
  // The point may outlive the server in a client's hands; it must not reach
  // back into a destroyed container, and the sinks are let go now.
  shutdownPoint_->detach();
  core_->close();
  detail::ServerCore::release(core_);
  detail::serverDestroyed();
}

bool SimulationServer::interfaceEnabled(REFIID riid) const {
  if (!core_->da10Only) return true;
  // A DA 1.0 server has no connection points, no OPC Common and no item
  // properties.
  return riid != IID_IConnectionPointContainer && riid != IID_IOPCCommon &&
         riid != IID_IOPCItemProperties;
}

// ---- IOPCServer -----------------------------------------------------------------

HRESULT SimulationServer::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                   OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                   DWORD dwLCID, OPCHANDLE* phServerGroup,
                                   DWORD* pRevisedUpdateRate, REFIID riid, IUnknown** ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  if (auto injected = core_->enter(SimCall::AddGroup)) return *injected;
  if (!phServerGroup || !pRevisedUpdateRate || !ppUnk) return E_INVALIDARG;
  if (pPercentDeadband && !validDeadband(*pPercentDeadband)) return E_INVALIDARG;
  detail::GroupSettings s;
  if (szName) s.name.assign(szName, wideLength(szName));
  s.active = bActive != FALSE;
  s.requestedUpdateRate = dwRequestedUpdateRate;
  s.clientHandle = hClientGroup;
  // Without a time bias the group takes the server machine's own.
  s.timeBias = pTimeBias ? *pTimeBias : detail::localTimeBias();
  s.percentDeadband = pPercentDeadband ? *pPercentDeadband : 0.0f;
  s.lcid = dwLCID;
  return core_->addGroup(s, nullptr, riid, ppUnk, phServerGroup, pRevisedUpdateRate);
}

HRESULT SimulationServer::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) {
  if (ppString) *ppString = nullptr;
  if (auto injected = core_->enter(SimCall::GetErrorString)) return *injected;
  if (!detail::isSupportedLocale(dwLocale)) return E_INVALIDARG;
  return opc::serverErrorString(dwError, ppString);
}

HRESULT SimulationServer::GetGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  if (auto injected = core_->enter(SimCall::GetGroupByName)) return *injected;
  if (!szName || !ppUnk) return E_INVALIDARG;
  ComPtr<SimGroup> group;
  {
    std::lock_guard lock(core_->mutex);
    group = ComPtr<SimGroup>(core_->findGroupLocked({szName, wideLength(szName)}));
  }
  if (!group) return E_INVALIDARG;
  return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
}

HRESULT SimulationServer::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
  if (ppServerStatus) *ppServerStatus = nullptr;
  if (auto injected = core_->enter(SimCall::GetStatus)) return *injected;
  if (!ppServerStatus) return E_INVALIDARG;
  if (core_->quirk(Quirk::NullStatus)) return S_OK;

  OPCSERVERSTATUS status{};
  std::u16string vendor;
  std::shared_ptr<Clock> clock;
  {
    std::lock_guard lock(core_->mutex);
    status.ftStartTime = core_->startTime;
    status.ftLastUpdateTime = core_->lastUpdateTime;
    status.dwServerState = core_->state;
    status.dwGroupCount = static_cast<DWORD>(core_->groups.size());
    vendor = core_->vendorInfo;
    clock = core_->clock;
  }
  status.ftCurrentTime = clock->now();
  status.dwBandWidth = 0;  // in-process: no link in use
  status.wMajorVersion = kSimulationMajorVersion;
  status.wMinorVersion = kSimulationMinorVersion;
  status.wBuildNumber = kSimulationBuildNumber;

  opc::TaskMem<OPCSERVERSTATUS> block(
      static_cast<OPCSERVERSTATUS*>(CoTaskMemAlloc(sizeof(OPCSERVERSTATUS))));
  if (!block) return E_OUTOFMEMORY;
  if (!core_->quirk(Quirk::NullVendorInfo)) {
    status.szVendorInfo = opc::taskStringDup(vendor);
    if (!status.szVendorInfo) return E_OUTOFMEMORY;
  }
  *block = status;
  *ppServerStatus = block.release();
  return S_OK;
}

HRESULT SimulationServer::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
  if (auto injected = core_->enter(SimCall::RemoveGroup)) return *injected;
  ComPtr<SimGroup> taken;
  if (!core_->takeGroup(hServerGroup, taken)) return E_INVALIDARG;
  // The name space held the only reference unless the client still holds the
  // group; it is gone from the name space either way and keeps answering.
  // (Server-side work on a group, such as a scan, must therefore not hold its
  // own reference across this call, or the answer would be in use wrongly.)
  const bool inUse = taken->refCount() > 1;
  taken.reset();
  return inUse && !bForce ? OPC_S_INUSE : S_OK;
}

HRESULT SimulationServer::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                                IUnknown** ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  if (auto injected = core_->enter(SimCall::CreateGroupEnumerator)) return *injected;
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
  // Nothing to enumerate still hands out an (empty) enumerator.
  return empty ? S_FALSE : S_OK;
}

// ---- IOPCCommon -------------------------------------------------------------------

HRESULT SimulationServer::SetLocaleID(LCID dwLcid) {
  if (auto injected = core_->enter(SimCall::SetLocaleID)) return *injected;
  if (!detail::isSupportedLocale(dwLcid)) return E_INVALIDARG;
  std::lock_guard lock(core_->mutex);
  core_->locale = dwLcid;
  return S_OK;
}

HRESULT SimulationServer::GetLocaleID(LCID* pdwLcid) {
  if (auto injected = core_->enter(SimCall::GetLocaleID)) return *injected;
  if (!pdwLcid) return E_INVALIDARG;
  std::lock_guard lock(core_->mutex);
  *pdwLcid = core_->locale;
  return S_OK;
}

HRESULT SimulationServer::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
  if (pdwCount) *pdwCount = 0;
  if (pdwLcid) *pdwLcid = nullptr;
  if (auto injected = core_->enter(SimCall::QueryAvailableLocaleIDs)) return *injected;
  if (!pdwCount || !pdwLcid) return E_INVALIDARG;
  constexpr LCID kLocales[] = {0, 1033};
  auto* out = static_cast<LCID*>(CoTaskMemAlloc(sizeof(kLocales)));
  if (!out) return E_OUTOFMEMORY;
  std::copy(std::begin(kLocales), std::end(kLocales), out);
  *pdwCount = static_cast<DWORD>(std::size(kLocales));
  *pdwLcid = out;
  return S_OK;
}

HRESULT SimulationServer::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
  if (ppString) *ppString = nullptr;
  if (auto injected = core_->enter(SimCall::CommonGetErrorString)) return *injected;
  // Both supported locales read English.
  return opc::serverErrorString(dwError, ppString);
}

HRESULT SimulationServer::SetClientName(LPCWSTR szName) {
  if (auto injected = core_->enter(SimCall::SetClientName)) return *injected;
  if (!szName) return E_INVALIDARG;
  std::lock_guard lock(core_->mutex);
  core_->clientName.assign(szName, wideLength(szName));
  return S_OK;
}

// ---- IConnectionPointContainer ---------------------------------------------------------

HRESULT SimulationServer::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (ppEnum) *ppEnum = nullptr;
  if (auto injected = core_->enter(SimCall::EnumConnectionPoints)) return *injected;
  if (!ppEnum) return E_POINTER;
  *ppEnum =
      opc::makeEnumConnectionPoints({ComPtr<IConnectionPoint>(shutdownPoint_.get())}).detach();
  return S_OK;
}

HRESULT SimulationServer::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  if (ppCP) *ppCP = nullptr;
  if (auto injected = core_->enter(SimCall::FindConnectionPoint)) return *injected;
  if (!ppCP) return E_POINTER;
  if (riid != IID_IOPCShutdown) return CONNECT_E_NOCONNECTION;
  *ppCP = shutdownPoint_.get();
  (*ppCP)->AddRef();
  return S_OK;
}

// ---- SimulationControl ------------------------------------------------------------------

std::size_t SimulationServer::requestShutdown(std::u16string_view reason) {
  const auto text = std::make_shared<const std::u16string>(reason);
  return shutdownPoint_->deliverToAll<IOPCShutdown>(
      [text](IOPCShutdown* sink) { sink->ShutdownRequest(text->c_str()); });
}

std::size_t SimulationServer::shutdownSinkCount() const { return shutdownPoint_->sinks().size(); }

void SimulationServer::setServerState(OPCSERVERSTATE state) {
  std::lock_guard lock(core_->mutex);
  core_->state = state;
}

OPCSERVERSTATE SimulationServer::serverState() const {
  std::lock_guard lock(core_->mutex);
  return core_->state;
}

void SimulationServer::failCall(SimCall call, HRESULT result, int times) {
  core_->failCall(call, result, times);
}

void SimulationServer::clearFailure(SimCall call) { core_->clearFailure(call); }

void SimulationServer::clearFailures() { core_->clearFailures(); }

void SimulationServer::setQuirk(Quirk quirk, bool enabled) { core_->setQuirk(quirk, enabled); }

std::size_t SimulationServer::callCount(SimCall call) const { return core_->callCount(call); }

void SimulationServer::setBaseScanRate(DWORD milliseconds) {
  {
    std::lock_guard lock(core_->mutex);
    core_->baseScanRate = std::max<DWORD>(milliseconds, 1);
  }
  core_->wakeScanner();
}

DWORD SimulationServer::baseScanRate() const {
  std::lock_guard lock(core_->mutex);
  return core_->baseScanRate;
}

void SimulationServer::setClock(std::shared_ptr<Clock> clock) {
  {
    std::lock_guard lock(core_->mutex);
    core_->clock = clock ? std::move(clock) : std::make_shared<SystemClock>();
  }
  core_->wakeScanner();
}

void SimulationServer::setStartTime(FILETIME time) {
  std::lock_guard lock(core_->mutex);
  core_->startTime = time;
}

void SimulationServer::setLastUpdateTime(FILETIME time) {
  std::lock_guard lock(core_->mutex);
  core_->lastUpdateTime = time;
}

void SimulationServer::setVendorInfo(std::u16string_view text) {
  std::lock_guard lock(core_->mutex);
  core_->vendorInfo = text;
}

std::u16string SimulationServer::clientName() const {
  std::lock_guard lock(core_->mutex);
  return core_->clientName;
}

LCID SimulationServer::localeId() const {
  std::lock_guard lock(core_->mutex);
  return core_->locale;
}

std::size_t SimulationServer::groupCount() const {
  std::lock_guard lock(core_->mutex);
  return core_->groups.size();
}

std::size_t SimulationServer::liveGroupCount() const { return core_->liveGroups.load(); }

std::size_t SimulationServer::liveItemCount() const { return core_->liveItems.load(); }

bool SimulationServer::isDA10Only() const { return core_->da10Only; }

HRESULT SimulationServer::itemValue(std::u16string_view itemId, OleVariant& value) const {
  std::lock_guard lock(core_->mutex);
  const SimItem* item = core_->space.find(itemId);
  if (!item) return OPC_E_UNKNOWNITEMID;
  value = item->value;
  return S_OK;
}

HRESULT SimulationServer::setItemValue(std::u16string_view itemId, const OleVariant& value) {
  std::shared_ptr<Clock> clock;
  {
    std::lock_guard lock(core_->mutex);
    clock = core_->clock;
  }
  const FILETIME now = clock->now();
  std::lock_guard lock(core_->mutex);
  SimItem* item = core_->space.find(itemId);
  if (!item) return OPC_E_UNKNOWNITEMID;
  HRESULT hr = S_OK;
  OleVariant converted =
      value.vt() == item->canonicalType ? value : value.changedTo(item->canonicalType, &hr);
  if (FAILED(hr)) return hr;
  if (!(converted == item->value)) ++item->changeCount;
  item->value = std::move(converted);
  item->timeStamp = now;
  return S_OK;
}

HRESULT SimulationServer::setItemQuality(std::u16string_view itemId, WORD quality) {
  std::lock_guard lock(core_->mutex);
  SimItem* item = core_->space.find(itemId);
  if (!item) return OPC_E_UNKNOWNITEMID;
  if (item->quality != quality) {
    item->quality = quality;
    ++item->changeCount;
    item->timeStamp = core_->nowLocked().fileTime;
  }
  return S_OK;
}

HRESULT SimulationServer::itemQuality(std::u16string_view itemId, WORD& quality) const {
  std::lock_guard lock(core_->mutex);
  const SimItem* item = core_->space.find(itemId);
  if (!item) return OPC_E_UNKNOWNITEMID;
  quality = item->quality;
  return S_OK;
}

void SimulationServer::setManualScan(bool manual) { core_->setManualScan(manual); }

bool SimulationServer::manualScan() const {
  std::lock_guard lock(core_->mutex);
  return core_->manualScan;
}

std::size_t SimulationServer::runScan() { return core_->runPass(); }

std::size_t SimulationServer::advance(std::chrono::milliseconds step) {
  return core_->advance(step);
}

ComPtr<IOPCServer> createSimulationServer(const SimulationOptions& options) {
  ComPtr<SimulationServer> server = opc::makeCom<SimulationServer>(options);
  detail::runCreationHooks(*server);
  return ComPtr<IOPCServer>(static_cast<IOPCServer*>(server.get()));
}

}  // namespace veze6::sim
