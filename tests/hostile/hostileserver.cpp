#include "hostileserver.h"

#include "hostileact.h"
#include "hostilegroup.h"
#include "opc/classregistry.h"
#include "opc/connectionpoint.h"
#include "opc/enumerator.h"
#include "simulator/simulationserver.h"

namespace hostile {

namespace sim = veze6::sim;

namespace {

/// Act::WrongCount: a string enumerator whose counts are wrong: first it claims
/// five strings more than the caller's array holds, then one fewer than it
/// wrote, and it never ends (S_OK and the list again, forever).
class LyingEnumString final : public opc::ComObject<IEnumString> {
 public:
  explicit LyingEnumString(ComPtr<IEnumString> inner) : inner_(std::move(inner)) {}

  HRESULT Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) override {
    ULONG fetched = 0;
    HRESULT hr = inner_->Next(celt, rgelt, &fetched);
    if (SUCCEEDED(hr) && fetched == 0) {
      inner_->Reset();
      hr = inner_->Next(celt, rgelt, &fetched);
    }
    if (FAILED(hr)) return hr;
    ++calls_;
    if (pceltFetched)
      *pceltFetched = calls_ == 1 ? celt + 5 : calls_ == 2 && fetched > 1 ? fetched - 1 : fetched;
    return S_OK;
  }
  HRESULT Skip(ULONG celt) override { return inner_->Skip(celt); }
  HRESULT Reset() override { return inner_->Reset(); }
  HRESULT Clone(IEnumString** ppenum) override {
    if (!ppenum) return E_POINTER;
    ComPtr<IEnumString> copy;
    const HRESULT hr = inner_->Clone(copy.put());
    if (FAILED(hr)) return hr;
    *ppenum = opc::makeCom<LyingEnumString>(std::move(copy)).detach();
    return S_OK;
  }

 private:
  ComPtr<IEnumString> inner_;
  unsigned calls_ = 0;
};

HRESULT lieAbout(SimCall call, HRESULT hr, IEnumString** ppEnum) {
  if (SUCCEEDED(hr) && ppEnum && *ppEnum && Script::instance().step(call).act == Act::WrongCount)
    *ppEnum = opc::makeCom<LyingEnumString>(ComPtr<IEnumString>::attach(*ppEnum)).detach();
  return hr;
}

class Server final
    : public opc::ComObject<IOPCServer, IOPCCommon, IConnectionPointContainer,
                            IOPCBrowseServerAddressSpace, IOPCItemProperties, HostileServer> {
 public:
  explicit Server(bool da10Only) {
    sim::SimulationOptions options;
    options.da10Only = da10Only;
    options.manualScan = true;
    server_ = sim::createSimulationServer(options);
    control_ = server_.as<sim::SimulationControl>();
    common_ = server_.as<IOPCCommon>();
    browse_ = server_.as<IOPCBrowseServerAddressSpace>();
    properties_ = server_.as<IOPCItemProperties>();
    if (!da10Only) {
      shutdownPoint_ =
          opc::makeCom<opc::ConnectionPoint>(static_cast<IConnectionPointContainer*>(this),
                                             IID_IOPCShutdown, 0, [this] { remember(); });
    }
  }
  ~Server() override {
    if (!shutdownPoint_) return;
    shutdownPoint_->detach();
    // Sinks the client gave up are asked to shut down once more, later.
    if (Script::instance().mangles(kKeepSinks)) {
      for (const auto& sink : ever_) {
        Script::instance().keep([sink] { sink->ShutdownRequest(u"hostile: long gone"); });
      }
    }
  }

  // ---- IOPCServer ----------------------------------------------------------------
  HRESULT AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                   OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID,
                   OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate, REFIID riid,
                   IUnknown** ppUnk) override {
    if (ppUnk) *ppUnk = nullptr;
    return act(SimCall::AddGroup, [&] {
      ComPtr<IUnknown> inner;
      DWORD unwritten = 0;
      if (Script::instance().step(SimCall::AddGroup).act == Act::Unrevised)
        pRevisedUpdateRate = &unwritten;
      const HRESULT hr = server_->AddGroup(szName, bActive, dwRequestedUpdateRate, hClientGroup,
                                           pTimeBias, pPercentDeadband, dwLCID, phServerGroup,
                                           pRevisedUpdateRate, IID_IUnknown, inner.put());
      if (FAILED(hr) || !ppUnk) return hr;
      const ComPtr<IUnknown> group = makeHostileGroup(inner, shutdownPoint_, hClientGroup);
      const HRESULT q = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
      return FAILED(q) ? q : hr;
    });
  }
  HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override {
    if (ppString) *ppString = nullptr;
    return act(SimCall::GetErrorString,
               [&] { return server_->GetErrorString(dwError, dwLocale, ppString); });
  }
  HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) override {
    if (ppUnk) *ppUnk = nullptr;
    return act(SimCall::GetGroupByName,
               [&] { return server_->GetGroupByName(szName, riid, ppUnk); });
  }
  HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus) override {
    if (ppServerStatus) *ppServerStatus = nullptr;
    return act(SimCall::GetStatus, [&] { return server_->GetStatus(ppServerStatus); });
  }
  HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override {
    return act(SimCall::RemoveGroup, [&] { return server_->RemoveGroup(hServerGroup, bForce); });
  }
  HRESULT CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, IUnknown** ppUnk) override {
    if (ppUnk) *ppUnk = nullptr;
    return act(SimCall::CreateGroupEnumerator,
               [&] { return server_->CreateGroupEnumerator(dwScope, riid, ppUnk); });
  }

  // ---- IOPCCommon ------------------------------------------------------------------
  HRESULT SetLocaleID(LCID dwLcid) override {
    return act(SimCall::SetLocaleID, [&] { return common_->SetLocaleID(dwLcid); });
  }
  HRESULT GetLocaleID(LCID* pdwLcid) override {
    return act(SimCall::GetLocaleID, [&] { return common_->GetLocaleID(pdwLcid); });
  }
  HRESULT QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override {
    if (pdwLcid) *pdwLcid = nullptr;
    if (pdwCount) *pdwCount = 0;
    const HRESULT hr = act(SimCall::QueryAvailableLocaleIDs,
                           [&] { return common_->QueryAvailableLocaleIDs(pdwCount, pdwLcid); });
    if (nulled(SimCall::QueryAvailableLocaleIDs) && pdwCount) *pdwCount = 3;
    return hr;
  }
  HRESULT GetErrorString(HRESULT dwError, LPWSTR* ppString) override {
    if (ppString) *ppString = nullptr;
    return act(SimCall::CommonGetErrorString,
               [&] { return common_->GetErrorString(dwError, ppString); });
  }
  HRESULT SetClientName(LPCWSTR szName) override {
    return act(SimCall::SetClientName, [&] { return common_->SetClientName(szName); });
  }

  // ---- IConnectionPointContainer: the shutdown point ---------------------------------
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return act(SimCall::EnumConnectionPoints, [&] {
      if (!ppEnum) return E_POINTER;
      *ppEnum = opc::makeEnumConnectionPoints({ComPtr<IConnectionPoint>(shutdownPoint_)}).detach();
      return S_OK;
    });
  }
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
    if (ppCP) *ppCP = nullptr;
    return act(SimCall::FindConnectionPoint, [&] {
      if (!ppCP) return E_POINTER;
      if (riid != IID_IOPCShutdown) return CONNECT_E_NOCONNECTION;
      return ComPtr<IConnectionPoint>(shutdownPoint_).copyTo(ppCP);
    });
  }

  // ---- IOPCBrowseServerAddressSpace ---------------------------------------------------
  HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override {
    return act(SimCall::QueryOrganization,
               [&] { return browse_->QueryOrganization(pNameSpaceType); });
  }
  HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) override {
    return act(SimCall::ChangeBrowsePosition,
               [&] { return browse_->ChangeBrowsePosition(dwBrowseDirection, szString); });
  }
  HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                           VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                           IEnumString** ppIEnumString) override {
    if (ppIEnumString) *ppIEnumString = nullptr;
    return lieAbout(SimCall::BrowseOPCItemIDs,
                    act(SimCall::BrowseOPCItemIDs,
                        [&] {
                          return browse_->BrowseOPCItemIDs(dwBrowseFilterType, szFilterCriteria,
                                                           vtDataTypeFilter, dwAccessRightsFilter,
                                                           ppIEnumString);
                        }),
                    ppIEnumString);
  }
  HRESULT GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override {
    if (szItemID) *szItemID = nullptr;
    return act(SimCall::GetItemID, [&] { return browse_->GetItemID(szItemDataID, szItemID); });
  }
  HRESULT BrowseAccessPaths(LPCWSTR szItemID, IEnumString** ppIEnumString) override {
    if (ppIEnumString) *ppIEnumString = nullptr;
    return lieAbout(SimCall::BrowseAccessPaths,
                    act(SimCall::BrowseAccessPaths,
                        [&] { return browse_->BrowseAccessPaths(szItemID, ppIEnumString); }),
                    ppIEnumString);
  }

  // ---- IOPCItemProperties ------------------------------------------------------------------
  HRESULT QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                   LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) override {
    if (pdwCount) *pdwCount = 0;
    if (ppPropertyIDs) *ppPropertyIDs = nullptr;
    if (ppDescriptions) *ppDescriptions = nullptr;
    if (ppvtDataTypes) *ppvtDataTypes = nullptr;
    const HRESULT hr = act(SimCall::QueryAvailableProperties, [&] {
      return properties_->QueryAvailableProperties(szItemID, pdwCount, ppPropertyIDs,
                                                   ppDescriptions, ppvtDataTypes);
    });
    if (nulled(SimCall::QueryAvailableProperties) && pdwCount) *pdwCount = 3;
    return hr;
  }
  HRESULT GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                            VARIANT** ppvData, HRESULT** ppErrors) override {
    if (ppvData) *ppvData = nullptr;
    if (ppErrors) *ppErrors = nullptr;
    const HRESULT hr = act(SimCall::GetItemProperties, [&] {
      return properties_->GetItemProperties(szItemID, dwCount, pdwPropertyIDs, ppvData, ppErrors);
    });
    return mixErrors(SimCall::GetItemProperties, hr, ppErrors ? *ppErrors : nullptr, dwCount);
  }
  HRESULT LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                        LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) override {
    if (ppszNewItemIDs) *ppszNewItemIDs = nullptr;
    if (ppErrors) *ppErrors = nullptr;
    const HRESULT hr = act(SimCall::LookupItemIDs, [&] {
      return properties_->LookupItemIDs(szItemID, dwCount, pdwPropertyIDs, ppszNewItemIDs,
                                        ppErrors);
    });
    return mixErrors(SimCall::LookupItemIDs, hr, ppErrors ? *ppErrors : nullptr, dwCount);
  }

  // ---- HostileServer -----------------------------------------------------------------
  ComPtr<sim::SimulationControl> simulation() override { return control_; }

 protected:
  bool interfaceEnabled(REFIID riid) const override {
    if (riid == IID_HostileServer) return true;
    if (riid == IID_IConnectionPointContainer) return bool(shutdownPoint_);
    ComPtr<IUnknown> probe;
    return SUCCEEDED(server_->QueryInterface(riid, probe.putVoid()));
  }

 private:
  template <class Work>
  HRESULT act(SimCall call, Work&& work) {
    return perform(
        call, std::forward<Work>(work), [this] { requestShutdown(shutdownPoint_); }, [] {});
  }

  static bool nulled(SimCall call) { return Script::instance().step(call).act == Act::NullOut; }

  void remember() {
    std::lock_guard lock(mutex_);
    for (const auto& c : shutdownPoint_->sinks().snapshot()) {
      ComPtr<IOPCShutdown> sink(c->as<IOPCShutdown>());
      if (std::find(ever_.begin(), ever_.end(), sink) == ever_.end()) ever_.push_back(sink);
    }
  }

  ComPtr<IOPCServer> server_;
  ComPtr<sim::SimulationControl> control_;
  ComPtr<IOPCCommon> common_;
  ComPtr<IOPCBrowseServerAddressSpace> browse_;
  ComPtr<IOPCItemProperties> properties_;
  ComPtr<opc::ConnectionPoint> shutdownPoint_;
  std::mutex mutex_;
  std::vector<ComPtr<IOPCShutdown>> ever_;  // every sink ever advised
};

opc::ClassEntry entryFor(REFCLSID clsid, std::u16string_view progId, bool da10Only) {
  opc::ClassEntry e;
  e.clsid = clsid;
  e.progId = progId;
  e.userType = u"Veze6 hostile test server";
  e.categories = da10Only ? std::vector<CATID>{CATID_OPCDAServer10}
                          : std::vector<CATID>{CATID_OPCDAServer10, CATID_OPCDAServer20};
  e.opcMarker = true;
  e.create = [da10Only](REFIID riid, void** ppv) -> HRESULT {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return opc::makeCom<Server>(da10Only)->QueryInterface(riid, ppv);
  };
  return e;
}

}  // namespace

void requestShutdown(const ComPtr<opc::ConnectionPoint>& point) {
  if (!point) return;
  std::vector<ComPtr<IOPCShutdown>> sinks;
  for (const auto& c : point->sinks().snapshot()) sinks.emplace_back(c->as<IOPCShutdown>());
  auto call = [sinks] {
    for (const auto& s : sinks) s->ShutdownRequest(u"hostile: going away now");
  };
  if (Script::instance().mangles(kForeignThread))
    Script::instance().runForeign(call);
  else
    call();
}

void registerHostileServer() {
  auto& registry = opc::ClassRegistry::instance();
  if (!registry.find(CLSID_Hostile))
    registry.registerClass(entryFor(CLSID_Hostile, u"Veze6.Hostile.1", false));
  if (!registry.find(CLSID_HostileDA10))
    registry.registerClass(entryFor(CLSID_HostileDA10, u"Veze6.Hostile.DA10.1", true));
}

ComPtr<sim::SimulationControl> simulationOf(IUnknown* server) {
  ComPtr<HostileServer> hostile;
  if (!server || FAILED(server->QueryInterface(IID_HostileServer, hostile.putVoid()))) return {};
  return hostile->simulation();
}

}  // namespace hostile
