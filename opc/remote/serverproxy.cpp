// The client's proxy of a server object: IOPCServer, IOPCCommon,
// IOPCServerPublicGroups, IOPCItemProperties, IOPCBrowseServerAddressSpace
// and IConnectionPointContainer over one capability.
#include "opc/remote/remoteproxy_p.h"
#include "opc/remote/serverproxy_p.h"

namespace opc::remote {

namespace {

using Reply = capnp::Response<capnp::AnyPointer>;

class ServerProxy final
    : public RemoteProxy<wire::ServerObject, IOPCServer, IOPCCommon, IOPCServerPublicGroups,
                         IOPCItemProperties, IOPCBrowseServerAddressSpace,
                         IConnectionPointContainer> {
 public:
  using RemoteProxy::RemoteProxy;

  // ---- IOPCServer ----
  HRESULT AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                   OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID,
                   OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate, REFIID riid,
                   IUnknown** ppUnk) override {
    if (!ppUnk) return E_POINTER;
    *ppUnk = nullptr;
    const IID iid = riid;
    return call([&]() {
      auto req = cap().addGroupRequest();
      if (szName) req.setName(wideData(szName));
      req.setActive(bActive != FALSE);
      req.setRequestedUpdateRate(dwRequestedUpdateRate);
      req.setClientGroup(hClientGroup);
      req.setHasTimeBias(pTimeBias != nullptr);
      if (pTimeBias) req.setTimeBias(*pTimeBias);
      req.setHasPercentDeadband(pPercentDeadband != nullptr);
      if (pPercentDeadband) req.setPercentDeadband(*pPercentDeadband);
      req.setLcid(dwLCID);
      setGuid(req.initIid(), iid);
      return req.send().then([&, iid](auto&& r) -> HRESULT {
        const HRESULT hr = r.getHr();
        if (FAILED(hr)) return hr;
        if (phServerGroup) *phServerGroup = r.getServerGroup();
        if (pRevisedUpdateRate) *pRevisedUpdateRate = r.getRevisedUpdateRate();
        const HRESULT made =
            proxyFromRef(session(), r.getGroup(), iid, reinterpret_cast<void**>(ppUnk));
        return FAILED(made) ? made : hr;
      });
    });
  }

  HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override {
    if (!ppString) return E_POINTER;
    *ppString = nullptr;
    return call([&]() {
      auto req = static_cast<wire::OpcServer::Client&>(cap()).getErrorStringRequest();
      req.setError(dwError);
      req.setLcid(dwLocale);
      return req.send().then([&](auto&& r) -> HRESULT {
        const HRESULT hr = r.getHr();
        if (FAILED(hr)) return hr;
        return replyCode(hr, taskWide(r.hasText(), r.getText(), ppString));
      });
    });
  }

  HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) override {
    if (!ppUnk) return E_POINTER;
    *ppUnk = nullptr;
    const IID iid = riid;
    return call([&]() {
      auto req = cap().getGroupByNameRequest();
      if (szName) req.setName(wideData(szName));
      setGuid(req.initIid(), iid);
      return req.send().then([&, iid](auto&& r) -> HRESULT {
        const HRESULT hr = r.getHr();
        if (FAILED(hr)) return hr;
        const HRESULT made =
            proxyFromRef(session(), r.getGroup(), iid, reinterpret_cast<void**>(ppUnk));
        return FAILED(made) ? made : hr;
      });
    });
  }

  HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus) override {
    if (!ppServerStatus) return E_POINTER;
    *ppServerStatus = nullptr;
    return call([&]() {
      return cap().getStatusRequest().send().then([&](auto&& r) -> HRESULT {
        const HRESULT hr = r.getHr();
        if (FAILED(hr)) return hr;
        if (!r.hasStatus()) return RPC_E_INVALID_DATA;
        const auto s = r.getStatus();
        TaskMem<OPCSERVERSTATUS> status(
            static_cast<OPCSERVERSTATUS*>(CoTaskMemAlloc(sizeof(OPCSERVERSTATUS))));
        if (!status) return E_OUTOFMEMORY;
        *status = OPCSERVERSTATUS{};
        status->ftStartTime = timeFrom(s.getStartTime());
        status->ftCurrentTime = timeFrom(s.getCurrentTime());
        status->ftLastUpdateTime = timeFrom(s.getLastUpdateTime());
        status->dwServerState = static_cast<OPCSERVERSTATE>(s.getServerState());
        status->dwGroupCount = s.getGroupCount();
        status->dwBandWidth = s.getBandWidth();
        status->wMajorVersion = s.getMajorVersion();
        status->wMinorVersion = s.getMinorVersion();
        status->wBuildNumber = s.getBuildNumber();
        if (!taskWide(s.hasVendorInfo(), s.getVendorInfo(), &status->szVendorInfo)) {
          return RPC_E_INVALID_DATA;
        }
        *ppServerStatus = status.release();
        return hr;
      });
    });
  }

  HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override {
    return call([&]() {
      auto req = cap().removeGroupRequest();
      req.setServerGroup(hServerGroup);
      req.setForce(bForce != FALSE);
      return req.send().then([](auto&& r) -> HRESULT { return r.getHr(); });
    });
  }

  HRESULT CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, IUnknown** ppUnk) override {
    if (!ppUnk) return E_POINTER;
    *ppUnk = nullptr;
    const IID iid = riid;
    return call([&]() {
      auto req = cap().createGroupEnumeratorRequest();
      req.setScope(dwScope);
      setGuid(req.initIid(), iid);
      return req.send().then([&, iid](auto&& r) -> HRESULT {
        const HRESULT hr = r.getHr();
        // S_FALSE: nothing to enumerate, and no enumerator.
        if (FAILED(hr) || !r.getEnumerator().hasObject()) return hr;
        const HRESULT made =
            proxyFromRef(session(), r.getEnumerator(), iid, reinterpret_cast<void**>(ppUnk));
        return FAILED(made) ? made : hr;
      });
    });
  }

  // ---- IOPCCommon ----
  HRESULT SetLocaleID(LCID dwLcid) override {
    return call([&]() {
      auto req = cap().setLocaleIdRequest();
      req.setLcid(dwLcid);
      return req.send().then([](auto&& r) -> HRESULT { return r.getHr(); });
    });
  }

  HRESULT GetLocaleID(LCID* pdwLcid) override {
    if (!pdwLcid) return E_POINTER;
    return call([&]() {
      return cap().getLocaleIdRequest().send().then([&](auto&& r) -> HRESULT {
        if (SUCCEEDED(r.getHr())) *pdwLcid = r.getLcid();
        return r.getHr();
      });
    });
  }

  HRESULT QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override {
    if (!pdwCount || !pdwLcid) return E_POINTER;
    *pdwCount = 0;
    *pdwLcid = nullptr;
    return call([&]() {
      return cap().queryAvailableLocaleIdsRequest().send().then([&](auto&& r) -> HRESULT {
        const HRESULT hr = r.getHr();
        if (FAILED(hr)) return hr;
        const auto list = r.getLcids();
        if (!taskArray(list, list.size(), pdwLcid)) return E_OUTOFMEMORY;
        *pdwCount = list.size();
        return hr;
      });
    });
  }

  HRESULT GetErrorString(HRESULT dwError, LPWSTR* ppString) override {
    if (!ppString) return E_POINTER;
    *ppString = nullptr;
    return call([&]() {
      auto req = static_cast<wire::OpcCommon::Client&>(cap()).getErrorStringRequest();
      req.setError(dwError);
      return req.send().then([&](auto&& r) -> HRESULT {
        const HRESULT hr = r.getHr();
        if (FAILED(hr)) return hr;
        return replyCode(hr, taskWide(r.hasText(), r.getText(), ppString));
      });
    });
  }

  HRESULT SetClientName(LPCWSTR szName) override {
    return call([&]() {
      auto req = cap().setClientNameRequest();
      if (szName) req.setName(wideData(szName));
      return req.send().then([](auto&& r) -> HRESULT { return r.getHr(); });
    });
  }

  // ---- IOPCServerPublicGroups ----
  HRESULT GetPublicGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) override {
    if (!ppUnk) return E_POINTER;
    *ppUnk = nullptr;
    const IID iid = riid;
    return call([&]() {
      auto req = cap().getPublicGroupByNameRequest();
      if (szName) req.setName(wideData(szName));
      setGuid(req.initIid(), iid);
      return req.send().then([&, iid](auto&& r) -> HRESULT {
        const HRESULT hr = r.getHr();
        if (FAILED(hr)) return hr;
        const HRESULT made =
            proxyFromRef(session(), r.getGroup(), iid, reinterpret_cast<void**>(ppUnk));
        return FAILED(made) ? made : hr;
      });
    });
  }

  HRESULT RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) override {
    return call([&]() {
      auto req = cap().removePublicGroupRequest();
      req.setServerGroup(hServerGroup);
      req.setForce(bForce != FALSE);
      return req.send().then([](auto&& r) -> HRESULT { return r.getHr(); });
    });
  }

  // ---- IOPCItemProperties ----
  HRESULT QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                   LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) override {
    if (!pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes) return E_POINTER;
    *pdwCount = 0;
    *ppPropertyIDs = nullptr;
    *ppDescriptions = nullptr;
    *ppvtDataTypes = nullptr;
    return call([&]() {
      auto req = cap().queryAvailablePropertiesRequest();
      if (szItemID) req.setItemId(wideData(szItemID));
      return req.send().then([&](auto&& r) -> HRESULT {
        const HRESULT hr = r.getHr();
        if (FAILED(hr)) return hr;
        const auto list = r.getProperties();
        const std::size_t n = list.size();
        TaskMem<DWORD> ids(static_cast<DWORD*>(CoTaskMemAlloc(n * sizeof(DWORD))));
        TaskMem<LPWSTR> texts(static_cast<LPWSTR*>(CoTaskMemAlloc(n * sizeof(LPWSTR))));
        TaskMem<VARTYPE> types(static_cast<VARTYPE*>(CoTaskMemAlloc(n * sizeof(VARTYPE))));
        if (n && (!ids || !texts || !types)) return E_OUTOFMEMORY;
        std::size_t done = 0;
        bool ok = true;
        for (; done < n && ok; ++done) {
          const auto p = list[static_cast<capnp::uint>(done)];
          ids.get()[done] = p.getId();
          types.get()[done] = p.getDataType();
          ok = taskWide(p.hasDescription(), p.getDescription(), &texts.get()[done]);
        }
        if (!ok) {
          for (std::size_t i = 0; i < done; ++i) CoTaskMemFree(texts.get()[i]);
          return RPC_E_INVALID_DATA;
        }
        *pdwCount = static_cast<DWORD>(n);
        *ppPropertyIDs = ids.release();
        *ppDescriptions = texts.release();
        *ppvtDataTypes = types.release();
        return hr;
      });
    });
  }

  HRESULT GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                            VARIANT** ppvData, HRESULT** ppErrors) override {
    if (!ppvData || !ppErrors || (dwCount && !pdwPropertyIDs)) return E_POINTER;
    *ppvData = nullptr;
    *ppErrors = nullptr;
    return call([&]() {
      auto req = cap().getItemPropertiesRequest();
      if (szItemID) req.setItemId(wideData(szItemID));
      auto ids = req.initIds(dwCount);
      for (DWORD i = 0; i < dwCount; ++i) ids.set(i, pdwPropertyIDs[i]);
      return req.send().then([&](auto&& r) -> HRESULT {
        const HRESULT hr = r.getHr();
        if (FAILED(hr)) return hr;
        const auto values = r.getValues();
        if (values.size() != dwCount) return RPC_E_INVALID_DATA;
        TaskOut<HRESULT> errors;
        if (!taskArray(r.getErrors(), dwCount, errors.put())) return RPC_E_INVALID_DATA;
        TaskMem<VARIANT> data(static_cast<VARIANT*>(CoTaskMemAlloc(dwCount * sizeof(VARIANT))));
        if (dwCount && !data) return E_OUTOFMEMORY;
        for (DWORD i = 0; i < dwCount; ++i) {
          if (!readVariant(values[i], &data.get()[i])) {
            for (DWORD k = 0; k < i; ++k) VariantClear(&data.get()[k]);
            return RPC_E_INVALID_DATA;
          }
        }
        *ppvData = data.release();
        *ppErrors = errors.release();
        return hr;
      });
    });
  }

  HRESULT LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                        LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) override {
    if (!ppszNewItemIDs || !ppErrors || (dwCount && !pdwPropertyIDs)) return E_POINTER;
    *ppszNewItemIDs = nullptr;
    *ppErrors = nullptr;
    return call([&]() {
      auto req = cap().lookupItemIdsRequest();
      if (szItemID) req.setItemId(wideData(szItemID));
      auto ids = req.initIds(dwCount);
      for (DWORD i = 0; i < dwCount; ++i) ids.set(i, pdwPropertyIDs[i]);
      return req.send().then([&](auto&& r) -> HRESULT {
        const HRESULT hr = r.getHr();
        if (FAILED(hr)) return hr;
        const auto texts = r.getItemIds();
        if (texts.size() != dwCount) return RPC_E_INVALID_DATA;
        TaskOut<HRESULT> errors;
        if (!taskArray(r.getErrors(), dwCount, errors.put())) return RPC_E_INVALID_DATA;
        TaskMem<LPWSTR> out(static_cast<LPWSTR*>(CoTaskMemAlloc(dwCount * sizeof(LPWSTR))));
        if (dwCount && !out) return E_OUTOFMEMORY;
        for (DWORD i = 0; i < dwCount; ++i) {
          // An empty entry is a property without an item of its own.
          const bool has = texts[i].size() != 0;
          if (!taskWide(has, texts[i], &out.get()[i])) {
            for (DWORD k = 0; k < i; ++k) CoTaskMemFree(out.get()[k]);
            return RPC_E_INVALID_DATA;
          }
        }
        *ppszNewItemIDs = out.release();
        *ppErrors = errors.release();
        return hr;
      });
    });
  }

  // ---- IOPCBrowseServerAddressSpace ----
  HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override {
    if (!pNameSpaceType) return E_POINTER;
    return call([&]() {
      return cap().queryOrganizationRequest().send().then([&](auto&& r) -> HRESULT {
        if (SUCCEEDED(r.getHr()))
          *pNameSpaceType = static_cast<OPCNAMESPACETYPE>(r.getNameSpaceType());
        return r.getHr();
      });
    });
  }

  HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) override {
    return call([&]() {
      auto req = cap().changeBrowsePositionRequest();
      req.setDirection(dwBrowseDirection);
      if (szString) req.setName(wideData(szString));
      return req.send().then([](auto&& r) -> HRESULT { return r.getHr(); });
    });
  }

  HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                           VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                           IEnumString** ppIEnumString) override {
    if (!ppIEnumString) return E_POINTER;
    *ppIEnumString = nullptr;
    return call([&]() {
      auto req = cap().browseOpcItemIdsRequest();
      req.setFilterType(dwBrowseFilterType);
      if (szFilterCriteria) req.setFilterCriteria(wideData(szFilterCriteria));
      req.setDataTypeFilter(vtDataTypeFilter);
      req.setAccessRightsFilter(dwAccessRightsFilter);
      return req.send().then([&](auto&& r) -> HRESULT {
        return enumeratorOut(r.getHr(), r.getEnumerator(), ppIEnumString);
      });
    });
  }

  HRESULT GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override {
    if (!szItemID) return E_POINTER;
    *szItemID = nullptr;
    return call([&]() {
      auto req = cap().getItemIdRequest();
      if (szItemDataID) req.setItemDataId(wideData(szItemDataID));
      return req.send().then([&](auto&& r) -> HRESULT {
        const HRESULT hr = r.getHr();
        if (FAILED(hr)) return hr;
        return replyCode(hr, taskWide(r.hasItemId(), r.getItemId(), szItemID));
      });
    });
  }

  HRESULT BrowseAccessPaths(LPCWSTR szItemID, IEnumString** ppIEnumString) override {
    if (!ppIEnumString) return E_POINTER;
    *ppIEnumString = nullptr;
    return call([&]() {
      auto req = cap().browseAccessPathsRequest();
      if (szItemID) req.setItemId(wideData(szItemID));
      return req.send().then([&](auto&& r) -> HRESULT {
        return enumeratorOut(r.getHr(), r.getEnumerator(), ppIEnumString);
      });
    });
  }

  // ---- IConnectionPointContainer ----
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    return call([&]() {
      return cap().enumConnectionPointsRequest().send().then(
          [&](auto&& r) -> HRESULT { return enumeratorOut(r.getHr(), r.getEnumerator(), ppEnum); });
    });
  }

  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
    if (!ppCP) return E_POINTER;
    *ppCP = nullptr;
    const IID iid = riid;
    return call([&]() {
      auto req = cap().findConnectionPointRequest();
      setGuid(req.initIid(), iid);
      return req.send().then([&](auto&& r) -> HRESULT {
        const HRESULT hr = r.getHr();
        if (FAILED(hr)) return hr;
        const HRESULT made = proxyFromRef(session(), r.getPoint(), ppCP);
        return FAILED(made) ? made : hr;
      });
    });
  }

 private:
  /// An enumerator out-parameter: S_FALSE and friends may come without one.
  template <class I>
  HRESULT enumeratorOut(HRESULT hr, wire::ObjectRef::Reader ref, I** out) {
    if (FAILED(hr) || !ref.hasObject()) return hr;
    const HRESULT made = proxyFromRef(session(), ref, out);
    return FAILED(made) ? made : hr;
  }
};

}  // namespace

HRESULT makeServerProxy(const std::shared_ptr<Session>& session, wire::ObjectRef::Reader ref,
                        REFIID iid, void** ppv) {
  const auto proxy = makeCom<ServerProxy>(session, ref);
  return proxy->QueryInterface(iid, ppv);
}

}  // namespace opc::remote
