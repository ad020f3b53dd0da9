// The group's callbacks: IConnectionPointContainer and IDataObject.
#include <algorithm>
#include <cmath>
#include <mutex>

#include "generators.h"
#include "opc/connectionpoint.h"
#include "opc/enumerator.h"
#include "opc/taskmem.h"
#include "scan_p.h"
#include "servercore_p.h"
#include "simgroup.h"

namespace veze6::sim {

// ---- IConnectionPointContainer -------------------------------------------------------------

HRESULT SimGroup::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (ppEnum) *ppEnum = nullptr;
  if (!ppEnum) return E_POINTER;
  *ppEnum =
      opc::makeEnumConnectionPoints({ComPtr<IConnectionPoint>(callbackPoint_.get())}).detach();
  return S_OK;
}

HRESULT SimGroup::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  if (ppCP) *ppCP = nullptr;
  if (auto injected = core_->enter(SimCall::GroupFindConnectionPoint)) return *injected;
  if (!ppCP) return E_POINTER;
  if (riid != IID_IOPCDataCallback) return CONNECT_E_NOCONNECTION;
  return ComPtr<IConnectionPoint>(callbackPoint_.get()).copyTo(ppCP);
}

// ---- IDataObject ------------------------------------------------------------------------------
//
// A group's data travels by advise only; fetching or storing data directly is
// not part of an OPC group's data object.

HRESULT SimGroup::GetData(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT SimGroup::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT SimGroup::QueryGetData(FORMATETC*) { return E_NOTIMPL; }
HRESULT SimGroup::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) { return E_NOTIMPL; }
HRESULT SimGroup::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }
HRESULT SimGroup::EnumFormatEtc(DWORD, IEnumFORMATETC**) { return E_NOTIMPL; }

HRESULT SimGroup::DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                          DWORD* pdwConnection) {
  if (pdwConnection) *pdwConnection = 0;
  if (auto injected = core_->enter(SimCall::DAdvise)) return *injected;
  if (!pformatetc || !pAdvSink || !pdwConnection) return E_INVALIDARG;
  const CLIPFORMAT format = pformatetc->cfFormat;
  const bool writeResults = format == OPCSTMFORMATWRITECOMPLETE;
  if (!writeResults && format != OPCSTMFORMATDATA && format != OPCSTMFORMATDATATIME) {
    return DV_E_FORMATETC;
  }
  if (!(pformatetc->tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
  auto connection = std::make_shared<opc::Connection>();
  connection->sink = ComPtr<IUnknown>(pAdvSink);
  connection->format = format;
  connection->advf = advf;
  // One data advise (either data format) and one write-result advise.
  const HRESULT hr = advises_->add(std::move(connection), pdwConnection, [&](const auto& present) {
    return std::none_of(present.begin(), present.end(), [&](const auto& c) {
      return (c->format == OPCSTMFORMATWRITECOMPLETE) == writeResults;
    });
  });
  if (SUCCEEDED(hr)) core_->wakeScanner();
  return hr;
}

HRESULT SimGroup::DUnadvise(DWORD dwConnection) {
  return advises_->remove(dwConnection) ? S_OK : OLE_E_NOCONNECTION;
}

HRESULT SimGroup::EnumDAdvise(IEnumSTATDATA** ppenumAdvise) {
  if (ppenumAdvise) *ppenumAdvise = nullptr;
  if (!ppenumAdvise) return E_INVALIDARG;
  *ppenumAdvise = opc::makeEnumStatData(*advises_).detach();
  return S_OK;
}

}  // namespace veze6::sim
