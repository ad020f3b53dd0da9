// The client's proxy of a server object: IOPCServer, IOPCCommon,
// IOPCServerPublicGroups, IOPCItemProperties, IOPCBrowseServerAddressSpace
// and IConnectionPointContainer over one capability.
#include "opc/remote/remoteproxy_p.h"
#include "opc/remote/tasklist_p.h"

namespace opc::remote {

namespace {

void freeText(LPWSTR& text) { CoTaskMemFree(text); }

// The calls that answer per property id, and how their values come off the
// wire.
struct PropertyValues {
  using Value = VARIANT;
  static auto request(wire::ServerObject::Client& cap) { return cap.getItemPropertiesRequest(); }
  template <class Response>
  static auto values(Response& r) {
    return r.getValues();
  }
  static bool read(wire::Variant::Reader in, VARIANT* out) { return readVariant(in, out); }
  static void clear(VARIANT& value) { VariantClear(&value); }
};

struct PropertyItemIds {
  using Value = LPWSTR;
  static auto request(wire::ServerObject::Client& cap) { return cap.lookupItemIdsRequest(); }
  template <class Response>
  static auto values(Response& r) {
    return r.getItemIds();
  }
  // An empty entry is a property without an item of its own.
  static bool read(capnp::Data::Reader in, LPWSTR* out) {
    return taskWide(in.size() != 0, in, out);
  }
  static void clear(LPWSTR& itemId) { CoTaskMemFree(itemId); }
};

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
        if (SUCCEEDED(hr) && phServerGroup) *phServerGroup = r.getServerGroup();
        if (SUCCEEDED(hr) && pRevisedUpdateRate) *pRevisedUpdateRate = r.getRevisedUpdateRate();
        return objectOut(hr, r.getGroup(), iid, reinterpret_cast<void**>(ppUnk));
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
      return req.send().then(
          [&](auto&& r) { return textOut(r.getHr(), r.hasText(), r.getText(), ppString); });
    });
  }

  HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) override {
    return groupByName([this] { return cap().getGroupByNameRequest(); }, szName, riid, ppUnk);
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
      return req.send().then(AnswerCode{});
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
      // S_FALSE: nothing to enumerate, and no enumerator.
      return req.send().then([&, iid](auto&& r) {
        return optionalObjectOut(r.getHr(), r.getEnumerator(), iid,
                                 reinterpret_cast<void**>(ppUnk));
      });
    });
  }

  // ---- IOPCCommon ----
  HRESULT SetLocaleID(LCID dwLcid) override {
    return call([&]() {
      auto req = cap().setLocaleIdRequest();
      req.setLcid(dwLcid);
      return req.send().then(AnswerCode{});
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
      return req.send().then(
          [&](auto&& r) { return textOut(r.getHr(), r.hasText(), r.getText(), ppString); });
    });
  }

  HRESULT SetClientName(LPCWSTR szName) override {
    return call([&]() {
      auto req = cap().setClientNameRequest();
      if (szName) req.setName(wideData(szName));
      return req.send().then(AnswerCode{});
    });
  }

  // ---- IOPCServerPublicGroups ----
  HRESULT GetPublicGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) override {
    return groupByName([this] { return cap().getPublicGroupByNameRequest(); }, szName, riid, ppUnk);
  }

  HRESULT RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) override {
    return call([&]() {
      auto req = cap().removePublicGroupRequest();
      req.setServerGroup(hServerGroup);
      req.setForce(bForce != FALSE);
      return req.send().then(AnswerCode{});
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
        TaskList<DWORD> ids;
        TaskList<VARTYPE> types;
        TaskList<LPWSTR> texts(freeText);
        HRESULT taken = ids.take(list, [](auto p, DWORD* out) {
          *out = p.getId();
          return true;
        });
        if (SUCCEEDED(taken)) {
          taken = types.take(list, [](auto p, VARTYPE* out) {
            *out = p.getDataType();
            return true;
          });
        }
        if (SUCCEEDED(taken)) {
          taken = texts.take(list, [](auto p, LPWSTR* out) {
            return taskWide(p.hasDescription(), p.getDescription(), out);
          });
        }
        if (FAILED(taken)) return taken;
        *pdwCount = list.size();
        *ppPropertyIDs = ids.release();
        *ppDescriptions = texts.release();
        *ppvtDataTypes = types.release();
        return hr;
      });
    });
  }

  HRESULT GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                            VARIANT** ppvData, HRESULT** ppErrors) override {
    return perProperty<PropertyValues>(szItemID, dwCount, pdwPropertyIDs, ppvData, ppErrors);
  }

  HRESULT LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                        LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) override {
    return perProperty<PropertyItemIds>(szItemID, dwCount, pdwPropertyIDs, ppszNewItemIDs,
                                        ppErrors);
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
      return req.send().then(AnswerCode{});
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
      return req.send().then(
          [&](auto&& r) { return optionalObjectOut(r.getHr(), r.getEnumerator(), ppIEnumString); });
    });
  }

  HRESULT GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override {
    if (!szItemID) return E_POINTER;
    *szItemID = nullptr;
    return call([&]() {
      auto req = cap().getItemIdRequest();
      if (szItemDataID) req.setItemDataId(wideData(szItemDataID));
      return req.send().then(
          [&](auto&& r) { return textOut(r.getHr(), r.hasItemId(), r.getItemId(), szItemID); });
    });
  }

  HRESULT BrowseAccessPaths(LPCWSTR szItemID, IEnumString** ppIEnumString) override {
    if (!ppIEnumString) return E_POINTER;
    *ppIEnumString = nullptr;
    return call([&]() {
      auto req = cap().browseAccessPathsRequest();
      if (szItemID) req.setItemId(wideData(szItemID));
      return req.send().then(
          [&](auto&& r) { return optionalObjectOut(r.getHr(), r.getEnumerator(), ppIEnumString); });
    });
  }

  // ---- IConnectionPointContainer ----
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    return call([&]() {
      return cap().enumConnectionPointsRequest().send().then(
          [&](auto&& r) { return optionalObjectOut(r.getHr(), r.getEnumerator(), ppEnum); });
    });
  }

  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
    if (!ppCP) return E_POINTER;
    *ppCP = nullptr;
    const IID iid = riid;
    return call([&]() {
      auto req = cap().findConnectionPointRequest();
      setGuid(req.initIid(), iid);
      return req.send().then([&](auto&& r) { return objectOut(r.getHr(), r.getPoint(), ppCP); });
    });
  }

 private:
  /// A call that finds a group by its name; `makeRequest` makes its request.
  template <class MakeRequest>
  HRESULT groupByName(MakeRequest makeRequest, LPCWSTR name, REFIID riid, IUnknown** ppUnk) {
    if (!ppUnk) return E_POINTER;
    *ppUnk = nullptr;
    const IID iid = riid;
    return call([&]() {
      auto req = makeRequest();
      if (name) req.setName(wideData(name));
      setGuid(req.initIid(), iid);
      return req.send().then([&, iid](auto&& r) {
        return objectOut(r.getHr(), r.getGroup(), iid, reinterpret_cast<void**>(ppUnk));
      });
    });
  }

  /// A call that takes an item and property ids and answers per id: a value
  /// (as `Per` reads it off the wire) and an error.
  template <class Per>
  HRESULT perProperty(LPWSTR item, DWORD count, DWORD* propertyIds, typename Per::Value** values,
                      HRESULT** errors) {
    if (!values || !errors || (count && !propertyIds)) return E_POINTER;
    *values = nullptr;
    *errors = nullptr;
    return call([&]() {
      auto req = Per::request(cap());
      if (item) req.setItemId(wideData(item));
      auto ids = req.initIds(count);
      for (DWORD i = 0; i < count; ++i) ids.set(i, propertyIds[i]);
      return req.send().then([&](auto&& r) {
        return takeWithErrors(r.getHr(), Per::values(r), r.getErrors(), count, Per::read,
                              Per::clear, values, errors);
      });
    });
  }
};

}  // namespace

HRESULT makeServerProxy(const std::shared_ptr<Session>& session, wire::ObjectRef::Reader ref,
                        REFIID iid, void** ppv) {
  const auto proxy = makeCom<ServerProxy>(session, ref);
  return proxy->QueryInterface(iid, ppv);
}

}  // namespace opc::remote
