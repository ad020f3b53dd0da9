// The group stub: reads and writes, the data object and the connection
// point container.
#include <cstring>

#include "callbacks_p.h"
#include "groupstub_p.h"
#include "groupstub_util_p.h"
#include "itemmarshal_p.h"
#include "marshal_p.h"
#include "objectref_p.h"

namespace opc::remote {

namespace {

/// Write values as the server takes them; cleared when they go.
class Values {
 public:
  Values() = default;
  Values(const Values&) = delete;
  Values& operator=(const Values&) = delete;
  ~Values() {
    for (VARIANT& v : values_) VariantClear(&v);
  }
  /// False for a value that does not decode.
  bool read(capnp::List<wire::Variant>::Reader list) {
    values_.resize(list.size());
    for (VARIANT& v : values_) VariantInit(&v);
    for (unsigned i = 0; i < list.size(); ++i) {
      if (!readVariant(list[i], &values_[i])) return false;
    }
    return true;
  }
  std::size_t size() const { return values_.size(); }
  VARIANT* data() { return values_.empty() ? nullptr : values_.data(); }

 private:
  std::vector<VARIANT> values_;
};

/// The handles and values of a write: E_INVALIDARG unless there is one
/// decodable value per handle.
template <class Params>
HRESULT readWrite(Params p, std::vector<OPCHANDLE>& handles, Values& values) {
  handles = numbers<OPCHANDLE>(p.getServerHandles());
  if (!values.read(p.getValues()) || values.size() != handles.size()) return E_INVALIDARG;
  return S_OK;
}

}  // namespace

// ---- IOPCSyncIO ---------------------------------------------------------------------------

kj::Promise<void> GroupStub::read(SyncIo::ReadContext context) {
  const auto p = context.getParams();
  auto results = context.getResults();
  if (!syncIO_) return answer(context, E_NOINTERFACE);
  auto handles = numbers<OPCHANDLE>(p.getServerHandles());
  const DWORD count = DWORD(handles.size());
  OPCITEMSTATE* states = nullptr;
  HRESULT* errors = nullptr;
  const HRESULT hr =
      syncIO_->Read(OPCDATASOURCE(p.getSource()), count, dataOf(handles), &states, &errors);
  if (SUCCEEDED(hr) && states && errors) {
    putItemStates(results.initItemStates(), count, states, errors);
  }
  freeItemStates(states, count);
  CoTaskMemFree(errors);
  return answer(context, hr);
}

kj::Promise<void> GroupStub::write(SyncIo::WriteContext context) {
  if (!syncIO_) return answer(context, E_NOINTERFACE);
  std::vector<OPCHANDLE> handles;
  Values values;
  if (FAILED(readWrite(context.getParams(), handles, values))) return answer(context, E_INVALIDARG);
  HRESULT* errors = nullptr;
  const HRESULT hr = syncIO_->Write(DWORD(handles.size()), dataOf(handles), values.data(), &errors);
  return answerErrors(context, hr, errors, handles.size());
}

// ---- IOPCAsyncIO2 ---------------------------------------------------------------------------

kj::Promise<void> GroupStub::read(AsyncIo2::ReadContext context) {
  const auto p = context.getParams();
  auto results = context.getResults();
  if (!asyncIO2_) return answer(context, E_NOINTERFACE);
  auto handles = numbers<OPCHANDLE>(p.getServerHandles());
  DWORD cancelId = 0;
  HRESULT* errors = nullptr;
  const HRESULT hr = asyncIO2_->Read(DWORD(handles.size()), dataOf(handles), p.getTransactionId(),
                                     &cancelId, &errors);
  if (SUCCEEDED(hr)) results.setCancelId(cancelId);
  return answerErrors(context, hr, errors, handles.size());
}

kj::Promise<void> GroupStub::write(AsyncIo2::WriteContext context) {
  const auto p = context.getParams();
  auto results = context.getResults();
  if (!asyncIO2_) return answer(context, E_NOINTERFACE);
  std::vector<OPCHANDLE> handles;
  Values values;
  if (FAILED(readWrite(p, handles, values))) return answer(context, E_INVALIDARG);
  DWORD cancelId = 0;
  HRESULT* errors = nullptr;
  const HRESULT hr = asyncIO2_->Write(DWORD(handles.size()), dataOf(handles), values.data(),
                                      p.getTransactionId(), &cancelId, &errors);
  if (SUCCEEDED(hr)) results.setCancelId(cancelId);
  return answerErrors(context, hr, errors, handles.size());
}

kj::Promise<void> GroupStub::refresh2(Refresh2Context context) {
  const auto p = context.getParams();
  auto results = context.getResults();
  if (!asyncIO2_) return answer(context, E_NOINTERFACE);
  DWORD cancelId = 0;
  const HRESULT hr =
      asyncIO2_->Refresh2(OPCDATASOURCE(p.getSource()), p.getTransactionId(), &cancelId);
  if (SUCCEEDED(hr)) results.setCancelId(cancelId);
  return answer(context, hr);
}

kj::Promise<void> GroupStub::cancel2(Cancel2Context context) {
  if (!asyncIO2_) return answer(context, E_NOINTERFACE);
  return answer(context, asyncIO2_->Cancel2(context.getParams().getCancelId()));
}

kj::Promise<void> GroupStub::setEnable(SetEnableContext context) {
  if (!asyncIO2_) return answer(context, E_NOINTERFACE);
  return answer(context, asyncIO2_->SetEnable(context.getParams().getEnable() ? TRUE : FALSE));
}

kj::Promise<void> GroupStub::getEnable(GetEnableContext context) {
  auto results = context.getResults();
  if (!asyncIO2_) return answer(context, E_NOINTERFACE);
  BOOL enabled = FALSE;
  const HRESULT hr = asyncIO2_->GetEnable(&enabled);
  if (SUCCEEDED(hr)) results.setEnable(enabled != FALSE);
  return answer(context, hr);
}

// ---- IOPCAsyncIO ----------------------------------------------------------------------------

kj::Promise<void> GroupStub::read(AsyncIo::ReadContext context) {
  const auto p = context.getParams();
  auto results = context.getResults();
  if (!asyncIO_) return answer(context, E_NOINTERFACE);
  auto handles = numbers<OPCHANDLE>(p.getServerHandles());
  DWORD transactionId = 0;
  HRESULT* errors = nullptr;
  const HRESULT hr =
      asyncIO_->Read(p.getConnection(), OPCDATASOURCE(p.getSource()), DWORD(handles.size()),
                     dataOf(handles), &transactionId, &errors);
  if (SUCCEEDED(hr)) results.setTransactionId(transactionId);
  return answerErrors(context, hr, errors, handles.size());
}

kj::Promise<void> GroupStub::write(AsyncIo::WriteContext context) {
  const auto p = context.getParams();
  auto results = context.getResults();
  if (!asyncIO_) return answer(context, E_NOINTERFACE);
  std::vector<OPCHANDLE> handles;
  Values values;
  if (FAILED(readWrite(p, handles, values))) return answer(context, E_INVALIDARG);
  DWORD transactionId = 0;
  HRESULT* errors = nullptr;
  const HRESULT hr = asyncIO_->Write(p.getConnection(), DWORD(handles.size()), dataOf(handles),
                                     values.data(), &transactionId, &errors);
  if (SUCCEEDED(hr)) results.setTransactionId(transactionId);
  return answerErrors(context, hr, errors, handles.size());
}

kj::Promise<void> GroupStub::refresh(RefreshContext context) {
  const auto p = context.getParams();
  auto results = context.getResults();
  if (!asyncIO_) return answer(context, E_NOINTERFACE);
  DWORD transactionId = 0;
  const HRESULT hr =
      asyncIO_->Refresh(p.getConnection(), OPCDATASOURCE(p.getSource()), &transactionId);
  if (SUCCEEDED(hr)) results.setTransactionId(transactionId);
  return answer(context, hr);
}

kj::Promise<void> GroupStub::cancel(CancelContext context) {
  if (!asyncIO_) return answer(context, E_NOINTERFACE);
  return answer(context, asyncIO_->Cancel(context.getParams().getTransactionId()));
}

// ---- IDataObject ------------------------------------------------------------------------------

kj::Promise<void> GroupStub::getData(GetDataContext context) {
  auto results = context.getResults();
  if (!dataObject_) return answer(context, E_NOINTERFACE);
  FORMATETC format{};
  if (const HRESULT hr = readFormat(context.getParams().getFormat(), format); FAILED(hr))
    return answer(context, hr);
  STGMEDIUM medium{};
  HRESULT hr = dataObject_->GetData(&format, &medium);
  if (SUCCEEDED(hr)) {
    // Only a global block has a wire form.
    const void* block = medium.tymed == TYMED_HGLOBAL ? GlobalLock(medium.hGlobal) : nullptr;
    if (block) {
      results.setTymed(TYMED_HGLOBAL);
      results.setData(
          capnp::Data::Reader(static_cast<const kj::byte*>(block), GlobalSize(medium.hGlobal)));
      GlobalUnlock(medium.hGlobal);
    } else {
      hr = DV_E_TYMED;
    }
    ReleaseStgMedium(&medium);
  }
  return answer(context, hr);
}

kj::Promise<void> GroupStub::queryGetData(QueryGetDataContext context) {
  if (!dataObject_) return answer(context, E_NOINTERFACE);
  FORMATETC format{};
  if (const HRESULT hr = readFormat(context.getParams().getFormat(), format); FAILED(hr))
    return answer(context, hr);
  return answer(context, dataObject_->QueryGetData(&format));
}

kj::Promise<void> GroupStub::dAdvise(DAdviseContext context) {
  const auto p = context.getParams();
  auto results = context.getResults();
  if (!dataObject_) return answer(context, E_NOINTERFACE);
  if (!p.hasSink()) return answer(context, E_INVALIDARG);
  FORMATETC format{};
  if (const HRESULT hr = readFormat(p.getFormat(), format); FAILED(hr)) return answer(context, hr);
  const ComPtr<IAdviseSink> sink = makeAdviseSinkProxy(connection_, p.getSink());
  DWORD connection = 0;
  const HRESULT hr = dataObject_->DAdvise(&format, p.getAdvf(), sink.get(), &connection);
  if (SUCCEEDED(hr)) results.setConnection(connection);
  return answer(context, hr);
}

kj::Promise<void> GroupStub::dUnadvise(DUnadviseContext context) {
  if (!dataObject_) return answer(context, E_NOINTERFACE);
  return answer(context, dataObject_->DUnadvise(context.getParams().getConnection()));
}

// ---- IConnectionPointContainer ------------------------------------------------------------------

kj::Promise<void> GroupStub::enumConnectionPoints(EnumConnectionPointsContext context) {
  auto results = context.getResults();
  if (!container_) return answer(context, E_NOINTERFACE);
  ComPtr<IEnumConnectionPoints> points;
  const HRESULT hr = container_->EnumConnectionPoints(points.put());
  if (SUCCEEDED(hr) && points) {
    refFromObject(connection_, ComPtr<IUnknown>(points), wire::Kind::ENUM_CONNECTION_POINTS,
                  results.initEnumerator());
  }
  return answer(context, hr);
}

kj::Promise<void> GroupStub::findConnectionPoint(FindConnectionPointContext context) {
  auto results = context.getResults();
  if (!container_) return answer(context, E_NOINTERFACE);
  ComPtr<IConnectionPoint> point;
  const HRESULT hr =
      container_->FindConnectionPoint(guidFrom(context.getParams().getIid()), point.put());
  if (SUCCEEDED(hr) && point) {
    refFromObject(connection_, ComPtr<IUnknown>(point), wire::Kind::CONNECTION_POINT,
                  results.initPoint());
  }
  return answer(context, hr);
}

}  // namespace opc::remote
