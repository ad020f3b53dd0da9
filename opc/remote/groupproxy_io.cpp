// The group proxy: reads and writes, the data object and the connection
// point container.
#include "callbacks_p.h"
#include "groupproxy_p.h"
#include "groupreply_p.h"
#include "itemmarshal_p.h"

namespace opc::remote {

namespace {

/// Values into a request; E_INVALIDARG for one the wire cannot carry.
HRESULT putValues(capnp::List<wire::Variant>::Builder list, const VARIANT* values) {
  for (unsigned i = 0; i < list.size(); ++i) {
    if (FAILED(setVariant(list[i], values[i]))) return E_INVALIDARG;
  }
  return S_OK;
}

}  // namespace

// ---- IOPCSyncIO -----------------------------------------------------------------------

HRESULT GroupProxy::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                         OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) {
  if (!ppItemValues || !ppErrors) return E_INVALIDARG;
  *ppItemValues = nullptr;
  *ppErrors = nullptr;
  if (dwCount && !phServer) return E_INVALIDARG;
  return call([&]() {
    auto request = as<wire::OpcSyncIo>().readRequest();
    request.setSource(dwSource);
    putNumbers(request.initServerHandles(dwCount), phServer);
    return request.send().then([&](auto&& r) {
      const HRESULT hr = r.getHr();
      if (FAILED(hr)) return hr;
      if (r.hasItemStates()) {
        const HRESULT taken = takeItemStates(r.getItemStates(), dwCount, ppItemValues, ppErrors);
        return FAILED(taken) ? taken : hr;
      }
      TaskOut<HRESULT> errors;
      if (!taskArray<HRESULT>(r.getErrors(), dwCount, errors.put())) return RPC_E_INVALID_DATA;
      OPCITEMSTATE* states = nullptr;
      if (const HRESULT taken = takeItemStates(r.getStates(), dwCount, &states); FAILED(taken))
        return taken;
      *ppItemValues = states;
      *ppErrors = errors.release();
      return hr;
    });
  });
}

HRESULT GroupProxy::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                          HRESULT** ppErrors) {
  if (!ppErrors) return E_INVALIDARG;
  *ppErrors = nullptr;
  if (dwCount && (!phServer || !pItemValues)) return E_INVALIDARG;
  return call([&]() -> kj::Promise<HRESULT> {
    auto request = as<wire::OpcSyncIo>().writeRequest();
    putNumbers(request.initServerHandles(dwCount), phServer);
    if (const HRESULT hr = putValues(request.initValues(dwCount), pItemValues); FAILED(hr))
      return hr;
    return request.send().then(
        [&](auto&& r) { return takeErrors(r.getHr(), r.getErrors(), dwCount, ppErrors); });
  });
}

// ---- IOPCAsyncIO2 ------------------------------------------------------------------------

HRESULT GroupProxy::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                         DWORD* pdwCancelID, HRESULT** ppErrors) {
  if (!pdwCancelID || !ppErrors) return E_INVALIDARG;
  *ppErrors = nullptr;
  if (dwCount && !phServer) return E_INVALIDARG;
  return call([&]() {
    auto request = as<wire::OpcAsyncIo2>().readRequest();
    putNumbers(request.initServerHandles(dwCount), phServer);
    request.setTransactionId(dwTransactionID);
    return request.send().then([&](auto&& r) {
      const HRESULT hr = takeErrors(r.getHr(), r.getErrors(), dwCount, ppErrors);
      if (SUCCEEDED(hr)) *pdwCancelID = r.getCancelId();
      return hr;
    });
  });
}

HRESULT GroupProxy::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                          DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) {
  if (!pdwCancelID || !ppErrors) return E_INVALIDARG;
  *ppErrors = nullptr;
  if (dwCount && (!phServer || !pItemValues)) return E_INVALIDARG;
  return call([&]() -> kj::Promise<HRESULT> {
    auto request = as<wire::OpcAsyncIo2>().writeRequest();
    putNumbers(request.initServerHandles(dwCount), phServer);
    if (const HRESULT hr = putValues(request.initValues(dwCount), pItemValues); FAILED(hr))
      return hr;
    request.setTransactionId(dwTransactionID);
    return request.send().then([&](auto&& r) {
      const HRESULT hr = takeErrors(r.getHr(), r.getErrors(), dwCount, ppErrors);
      if (SUCCEEDED(hr)) *pdwCancelID = r.getCancelId();
      return hr;
    });
  });
}

HRESULT GroupProxy::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) {
  if (!pdwCancelID) return E_INVALIDARG;
  return call([&]() {
    auto request = as<wire::OpcAsyncIo2>().refresh2Request();
    request.setSource(dwSource);
    request.setTransactionId(dwTransactionID);
    return request.send().then([&](auto&& r) {
      const HRESULT hr = r.getHr();
      if (SUCCEEDED(hr)) *pdwCancelID = r.getCancelId();
      return hr;
    });
  });
}

HRESULT GroupProxy::Cancel2(DWORD dwCancelID) {
  return call([&]() {
    auto request = as<wire::OpcAsyncIo2>().cancel2Request();
    request.setCancelId(dwCancelID);
    return request.send().then([](auto&& r) { return HRESULT(r.getHr()); });
  });
}

HRESULT GroupProxy::SetEnable(BOOL bEnable) {
  return call([&]() {
    auto request = as<wire::OpcAsyncIo2>().setEnableRequest();
    request.setEnable(bEnable != FALSE);
    return request.send().then([](auto&& r) { return HRESULT(r.getHr()); });
  });
}

HRESULT GroupProxy::GetEnable(BOOL* pbEnable) {
  if (!pbEnable) return E_INVALIDARG;
  return call([&]() {
    return as<wire::OpcAsyncIo2>().getEnableRequest().send().then([&](auto&& r) {
      const HRESULT hr = r.getHr();
      if (SUCCEEDED(hr)) *pbEnable = r.getEnable() ? TRUE : FALSE;
      return hr;
    });
  });
}

// ---- IOPCAsyncIO --------------------------------------------------------------------------

HRESULT GroupProxy::Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                         OPCHANDLE* phServer, DWORD* pTransactionID, HRESULT** ppErrors) {
  if (!pTransactionID || !ppErrors) return E_INVALIDARG;
  *ppErrors = nullptr;
  if (dwCount && !phServer) return E_INVALIDARG;
  return call([&]() {
    auto request = as<wire::OpcAsyncIo>().readRequest();
    request.setConnection(dwConnection);
    request.setSource(dwSource);
    putNumbers(request.initServerHandles(dwCount), phServer);
    return request.send().then([&](auto&& r) {
      const HRESULT hr = takeErrors(r.getHr(), r.getErrors(), dwCount, ppErrors);
      if (SUCCEEDED(hr)) *pTransactionID = r.getTransactionId();
      return hr;
    });
  });
}

HRESULT GroupProxy::Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                          VARIANT* pItemValues, DWORD* pTransactionID, HRESULT** ppErrors) {
  if (!pTransactionID || !ppErrors) return E_INVALIDARG;
  *ppErrors = nullptr;
  if (dwCount && (!phServer || !pItemValues)) return E_INVALIDARG;
  return call([&]() -> kj::Promise<HRESULT> {
    auto request = as<wire::OpcAsyncIo>().writeRequest();
    request.setConnection(dwConnection);
    putNumbers(request.initServerHandles(dwCount), phServer);
    if (const HRESULT hr = putValues(request.initValues(dwCount), pItemValues); FAILED(hr))
      return hr;
    return request.send().then([&](auto&& r) {
      const HRESULT hr = takeErrors(r.getHr(), r.getErrors(), dwCount, ppErrors);
      if (SUCCEEDED(hr)) *pTransactionID = r.getTransactionId();
      return hr;
    });
  });
}

HRESULT GroupProxy::Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) {
  if (!pTransactionID) return E_INVALIDARG;
  return call([&]() {
    auto request = as<wire::OpcAsyncIo>().refreshRequest();
    request.setConnection(dwConnection);
    request.setSource(dwSource);
    return request.send().then([&](auto&& r) {
      const HRESULT hr = r.getHr();
      if (SUCCEEDED(hr)) *pTransactionID = r.getTransactionId();
      return hr;
    });
  });
}

HRESULT GroupProxy::Cancel(DWORD dwTransactionID) {
  return call([&]() {
    auto request = as<wire::OpcAsyncIo>().cancelRequest();
    request.setTransactionId(dwTransactionID);
    return request.send().then([](auto&& r) { return HRESULT(r.getHr()); });
  });
}

// ---- IDataObject ---------------------------------------------------------------------------

HRESULT GroupProxy::GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) {
  if (!pformatetcIn || !pmedium) return E_INVALIDARG;
  *pmedium = STGMEDIUM{};
  return call([&]() -> kj::Promise<HRESULT> {
    auto request = as<wire::DataObject>().getDataRequest();
    if (!putFormat(request.initFormat(), *pformatetcIn)) return DV_E_FORMATETC;
    return request.send().then([&](auto&& r) {
      const HRESULT hr = r.getHr();
      if (FAILED(hr)) return hr;
      if (r.getTymed() != TYMED_HGLOBAL) return RPC_E_INVALID_DATA;
      HGLOBAL h = globalFromData(r.getData());
      if (!h) return E_OUTOFMEMORY;
      pmedium->tymed = TYMED_HGLOBAL;
      pmedium->hGlobal = h;
      pmedium->pUnkForRelease = nullptr;
      return hr;
    });
  });
}

HRESULT GroupProxy::QueryGetData(FORMATETC* pformatetc) {
  if (!pformatetc) return E_INVALIDARG;
  return call([&]() -> kj::Promise<HRESULT> {
    auto request = as<wire::DataObject>().queryGetDataRequest();
    if (!putFormat(request.initFormat(), *pformatetc)) return DV_E_FORMATETC;
    return request.send().then([](auto&& r) { return HRESULT(r.getHr()); });
  });
}

HRESULT GroupProxy::DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                            DWORD* pdwConnection) {
  if (!pformatetc || !pAdvSink || !pdwConnection) return E_INVALIDARG;
  *pdwConnection = 0;
  // The sink is called where it was advised, as an in-process server does.
  const ComPtr<IAdviseSink> sink(pAdvSink);
  const std::shared_ptr<Apartment> apartment = Apartment::current();
  return call([&]() -> kj::Promise<HRESULT> {
    auto request = as<wire::DataObject>().dAdviseRequest();
    if (!putFormat(request.initFormat(), *pformatetc)) return DV_E_FORMATETC;
    request.setAdvf(advf);
    request.setSink(makeAdviseSinkServer(sink, apartment));
    return request.send().then([&](auto&& r) {
      const HRESULT hr = r.getHr();
      if (SUCCEEDED(hr)) *pdwConnection = r.getConnection();
      return hr;
    });
  });
}

HRESULT GroupProxy::DUnadvise(DWORD dwConnection) {
  return call([&]() {
    auto request = as<wire::DataObject>().dUnadviseRequest();
    request.setConnection(dwConnection);
    return request.send().then([](auto&& r) { return HRESULT(r.getHr()); });
  });
}

// ---- IConnectionPointContainer -------------------------------------------------------------

HRESULT GroupProxy::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  return call([&]() {
    return as<wire::ConnectionPointContainer>().enumConnectionPointsRequest().send().then(
        [&](auto&& r) { return optionalObjectOut(r.getHr(), r.getEnumerator(), ppEnum); });
  });
}

HRESULT GroupProxy::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  if (!ppCP) return E_POINTER;
  *ppCP = nullptr;
  return call([&]() {
    auto request = as<wire::ConnectionPointContainer>().findConnectionPointRequest();
    setGuid(request.initIid(), riid);
    return request.send().then([&](auto&& r) { return objectOut(r.getHr(), r.getPoint(), ppCP); });
  });
}

}  // namespace opc::remote
