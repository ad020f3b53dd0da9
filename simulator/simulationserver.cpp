#include "simulationserver.h"

#include <mutex>

#include "opc/taskmem.h"
#include "servercore_p.h"
#include "simgroup.h"
#include "simulationcontrol_p.h"

namespace veze6::sim {

SimulationServer::SimulationServer(const SimulationOptions& options)
    : core_(std::make_shared<detail::ServerCore>(options)),
      shutdown_(static_cast<IConnectionPointContainer*>(this)),
      flatAddressSpace_(options.flatAddressSpace) {
  detail::serverCreated();
}

SimulationServer::~SimulationServer() {
  // The point may outlive the server in a client's hands; it must not reach
  // back into a destroyed container, and the sinks are let go now.
  shutdown_.detach();
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
  // The arguments are read (and the output nulled) before an injected failure.
  detail::GroupSettings s;
  const HRESULT args =
      opc::addGroupSettings(szName, bActive, dwRequestedUpdateRate, hClientGroup, pTimeBias,
                            pPercentDeadband, dwLCID, phServerGroup, pRevisedUpdateRate, ppUnk, s);
  if (auto injected = core_->enter(SimCall::AddGroup)) return *injected;
  if (FAILED(args)) return args;
  return core_->addGroup(s, nullptr, riid, ppUnk, phServerGroup, pRevisedUpdateRate);
}

HRESULT SimulationServer::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) {
  if (ppString) *ppString = nullptr;
  if (auto injected = core_->enter(SimCall::GetErrorString)) return *injected;
  return opc::ServerCommon::GetErrorString(dwError, dwLocale, ppString);
}

HRESULT SimulationServer::GetGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  if (auto injected = core_->enter(SimCall::GetGroupByName)) return *injected;
  return core_->groups.groupByName(core_->mutex, szName, riid, ppUnk);
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
    status.dwGroupCount = static_cast<DWORD>(core_->groups.groupsLocked().size());
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
  return opc::removedGroupResult(std::move(taken), bForce);
}

HRESULT SimulationServer::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                                IUnknown** ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  if (auto injected = core_->enter(SimCall::CreateGroupEnumerator)) return *injected;
  return core_->groups.groupEnumerator(core_->mutex, dwScope, riid, ppUnk);
}

// ---- IOPCCommon -------------------------------------------------------------------

HRESULT SimulationServer::SetLocaleID(LCID dwLcid) {
  if (auto injected = core_->enter(SimCall::SetLocaleID)) return *injected;
  return common_.SetLocaleID(dwLcid);
}

HRESULT SimulationServer::GetLocaleID(LCID* pdwLcid) {
  if (auto injected = core_->enter(SimCall::GetLocaleID)) return *injected;
  return common_.GetLocaleID(pdwLcid);
}

HRESULT SimulationServer::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
  if (pdwCount) *pdwCount = 0;
  if (pdwLcid) *pdwLcid = nullptr;
  if (auto injected = core_->enter(SimCall::QueryAvailableLocaleIDs)) return *injected;
  return opc::ServerCommon::QueryAvailableLocaleIDs(pdwCount, pdwLcid);
}

HRESULT SimulationServer::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
  if (ppString) *ppString = nullptr;
  if (auto injected = core_->enter(SimCall::CommonGetErrorString)) return *injected;
  return opc::ServerCommon::GetErrorString(dwError, ppString);
}

HRESULT SimulationServer::SetClientName(LPCWSTR szName) {
  if (auto injected = core_->enter(SimCall::SetClientName)) return *injected;
  return common_.SetClientName(szName);
}

// ---- IConnectionPointContainer ---------------------------------------------------------

HRESULT SimulationServer::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (ppEnum) *ppEnum = nullptr;
  if (auto injected = core_->enter(SimCall::EnumConnectionPoints)) return *injected;
  return shutdown_.EnumConnectionPoints(ppEnum);
}

HRESULT SimulationServer::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  if (ppCP) *ppCP = nullptr;
  if (auto injected = core_->enter(SimCall::FindConnectionPoint)) return *injected;
  return shutdown_.FindConnectionPoint(riid, ppCP);
}

// ---- SimulationControl ------------------------------------------------------------------

std::size_t SimulationServer::requestShutdown(std::u16string_view reason) {
  return shutdown_.requestShutdown(reason);
}

std::size_t SimulationServer::shutdownSinkCount() const { return shutdown_.sinkCount(); }

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

std::u16string SimulationServer::clientName() const { return common_.clientName(); }

LCID SimulationServer::localeId() const { return common_.locale(); }

std::size_t SimulationServer::groupCount() const {
  std::lock_guard lock(core_->mutex);
  return core_->groups.groupsLocked().size();
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
