// The group proxy: item management and group state.
#include "groupproxy_p.h"
#include "groupreply_p.h"
#include "itemmarshal_p.h"

namespace opc::remote {

// ---- IOPCItemMgt --------------------------------------------------------------------

namespace {

template <class Request>
kj::Promise<HRESULT> sendItems(Request request, DWORD count, OPCITEMRESULT** results,
                               HRESULT** errors) {
  return request.send().then([count, results, errors](auto&& r) {
    const HRESULT hr = r.getHr();
    if (FAILED(hr)) return hr;
    OPCITEMRESULT* made = nullptr;
    if (const HRESULT taken = takeItemResults(r.getResults(), count, &made); FAILED(taken))
      return taken;
    HRESULT* codes = nullptr;
    if (!taskArray<HRESULT>(r.getErrors(), count, &codes)) {
      freeItemResults(made, count);
      return RPC_E_INVALID_DATA;
    }
    *results = made;
    *errors = codes;
    return hr;
  });
}

}  // namespace

HRESULT GroupProxy::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                             HRESULT** ppErrors) {
  if (!ppAddResults || !ppErrors) return E_INVALIDARG;
  *ppAddResults = nullptr;
  *ppErrors = nullptr;
  if (dwCount && !pItemArray) return E_INVALIDARG;
  return call([&]() {
    auto request = as<wire::OpcItemMgt>().addItemsRequest(itemDefsSize(pItemArray, dwCount));
    putItemDefs(request.initItems(dwCount), pItemArray);
    return sendItems(std::move(request), dwCount, ppAddResults, ppErrors);
  });
}

HRESULT GroupProxy::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                  OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) {
  if (!ppValidationResults || !ppErrors) return E_INVALIDARG;
  *ppValidationResults = nullptr;
  *ppErrors = nullptr;
  if (dwCount && !pItemArray) return E_INVALIDARG;
  return call([&]() {
    auto request = as<wire::OpcItemMgt>().validateItemsRequest(itemDefsSize(pItemArray, dwCount));
    putItemDefs(request.initItems(dwCount), pItemArray);
    request.setBlobUpdate(bBlobUpdate != FALSE);
    return sendItems(std::move(request), dwCount, ppValidationResults, ppErrors);
  });
}

HRESULT GroupProxy::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
  if (!ppErrors) return E_INVALIDARG;
  *ppErrors = nullptr;
  if (dwCount && !phServer) return E_INVALIDARG;
  return call([&]() {
    auto request = as<wire::OpcItemMgt>().removeItemsRequest();
    putNumbers(request.initServerHandles(dwCount), phServer);
    return request.send().then(
        [&](auto&& r) { return takeErrors(r.getHr(), r.getErrors(), dwCount, ppErrors); });
  });
}

HRESULT GroupProxy::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                   HRESULT** ppErrors) {
  if (!ppErrors) return E_INVALIDARG;
  *ppErrors = nullptr;
  if (dwCount && !phServer) return E_INVALIDARG;
  return call([&]() {
    auto request = as<wire::OpcItemMgt>().setActiveStateRequest();
    putNumbers(request.initServerHandles(dwCount), phServer);
    request.setActive(bActive != FALSE);
    return request.send().then(
        [&](auto&& r) { return takeErrors(r.getHr(), r.getErrors(), dwCount, ppErrors); });
  });
}

HRESULT GroupProxy::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                     HRESULT** ppErrors) {
  if (!ppErrors) return E_INVALIDARG;
  *ppErrors = nullptr;
  if (dwCount && (!phServer || !phClient)) return E_INVALIDARG;
  return call([&]() {
    auto request = as<wire::OpcItemMgt>().setClientHandlesRequest();
    putNumbers(request.initServerHandles(dwCount), phServer);
    putNumbers(request.initClientHandles(dwCount), phClient);
    return request.send().then(
        [&](auto&& r) { return takeErrors(r.getHr(), r.getErrors(), dwCount, ppErrors); });
  });
}

HRESULT GroupProxy::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                 HRESULT** ppErrors) {
  if (!ppErrors) return E_INVALIDARG;
  *ppErrors = nullptr;
  if (dwCount && (!phServer || !pRequestedDatatypes)) return E_INVALIDARG;
  return call([&]() {
    auto request = as<wire::OpcItemMgt>().setDatatypesRequest();
    putNumbers(request.initServerHandles(dwCount), phServer);
    putNumbers(request.initDataTypes(dwCount), pRequestedDatatypes);
    return request.send().then(
        [&](auto&& r) { return takeErrors(r.getHr(), r.getErrors(), dwCount, ppErrors); });
  });
}

HRESULT GroupProxy::CreateEnumerator(REFIID riid, IUnknown** ppUnk) {
  if (!ppUnk) return E_INVALIDARG;
  *ppUnk = nullptr;
  return call([&]() {
    auto request = as<wire::OpcItemMgt>().createEnumeratorRequest();
    setGuid(request.initIid(), riid);
    return request.send().then(
        [&](auto&& r) { return optionalObjectOut(r.getHr(), r.getEnumerator(), riid, ppUnk); });
  });
}

// ---- IOPCGroupStateMgt ------------------------------------------------------------------

HRESULT GroupProxy::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                             FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                             OPCHANDLE* phServerGroup) {
  if (!pUpdateRate || !pActive || !ppName || !pTimeBias || !pPercentDeadband || !pLCID ||
      !phClientGroup || !phServerGroup) {
    return E_INVALIDARG;
  }
  *ppName = nullptr;
  return call([&]() {
    return as<wire::OpcGroupStateMgt>().getStateRequest().send().then([&](auto&& r) {
      const HRESULT hr = r.getHr();
      if (FAILED(hr)) return hr;
      const auto s = r.getState();
      LPWSTR name = nullptr;
      if (!taskWide(s.hasName(), s.getName(), &name)) return RPC_E_INVALID_DATA;
      *pUpdateRate = s.getUpdateRate();
      *pActive = s.getActive() ? TRUE : FALSE;
      *ppName = name;
      *pTimeBias = s.getTimeBias();
      *pPercentDeadband = s.getPercentDeadband();
      *pLCID = s.getLcid();
      *phClientGroup = s.getClientGroup();
      *phServerGroup = s.getServerGroup();
      return hr;
    });
  });
}

HRESULT GroupProxy::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                             LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                             OPCHANDLE* phClientGroup) {
  return call([&]() {
    auto request = as<wire::OpcGroupStateMgt>().setStateRequest();
    if (pRequestedUpdateRate) request.setRequestedUpdateRate(*pRequestedUpdateRate);
    request.setHasUpdateRate(pRequestedUpdateRate != nullptr);
    if (pActive) request.setActive(*pActive != FALSE);
    request.setHasActive(pActive != nullptr);
    if (pTimeBias) request.setTimeBias(*pTimeBias);
    request.setHasTimeBias(pTimeBias != nullptr);
    if (pPercentDeadband) request.setPercentDeadband(*pPercentDeadband);
    request.setHasPercentDeadband(pPercentDeadband != nullptr);
    if (pLCID) request.setLcid(*pLCID);
    request.setHasLcid(pLCID != nullptr);
    if (phClientGroup) request.setClientGroup(*phClientGroup);
    request.setHasClientGroup(phClientGroup != nullptr);
    return request.send().then([&](auto&& r) {
      const HRESULT hr = r.getHr();
      if (SUCCEEDED(hr) && pRevisedUpdateRate) *pRevisedUpdateRate = r.getRevisedUpdateRate();
      return hr;
    });
  });
}

HRESULT GroupProxy::SetName(LPCWSTR szName) {
  return call([&]() {
    auto request = as<wire::OpcGroupStateMgt>().setNameRequest();
    if (szName) request.setName(wideData(szName));
    return request.send().then([](auto&& r) { return HRESULT(r.getHr()); });
  });
}

HRESULT GroupProxy::CloneGroup(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) {
  if (!ppUnk) return E_INVALIDARG;
  *ppUnk = nullptr;
  return call([&]() {
    auto request = as<wire::OpcGroupStateMgt>().cloneGroupRequest();
    if (szName) request.setName(wideData(szName));
    setGuid(request.initIid(), riid);
    return request.send().then(
        [&](auto&& r) { return objectOut(r.getHr(), r.getGroup(), riid, ppUnk); });
  });
}

// ---- IOPCPublicGroupStateMgt --------------------------------------------------------------

HRESULT GroupProxy::GetState(BOOL* pPublic) {
  if (!pPublic) return E_INVALIDARG;
  return call([&]() {
    return as<wire::OpcPublicGroupStateMgt>().getPublicStateRequest().send().then([&](auto&& r) {
      const HRESULT hr = r.getHr();
      if (SUCCEEDED(hr)) *pPublic = r.getPublic() ? TRUE : FALSE;
      return hr;
    });
  });
}

HRESULT GroupProxy::MoveToPublic() {
  return call([&]() {
    return as<wire::OpcPublicGroupStateMgt>().moveToPublicRequest().send().then(
        [](auto&& r) { return HRESULT(r.getHr()); });
  });
}

// ---- factory ------------------------------------------------------------------------------

HRESULT makeGroupProxy(const std::shared_ptr<Session>& session, wire::ObjectRef::Reader ref,
                       REFIID iid, void** ppv) {
  *ppv = nullptr;
  if (!ref.hasObject()) return RPC_E_INVALID_DATA;
  auto proxy = makeCom<GroupProxy>(session, ref);
  return proxy->QueryInterface(iid, ppv);
}

}  // namespace opc::remote
