#include <algorithm>

#include "uabatch_p.h"
#include "uagroup.h"
#include "uavalue.h"

namespace veze6::uab::detail {

namespace {

template <class T>
T* dataOf(std::vector<T>& v) {
  return v.empty() ? nullptr : v.data();
}

}  // namespace

ItemBatch::~ItemBatch() {
  for (VARIANT& v : values) VariantClear(&v);
}

void ItemBatch::reserve(std::size_t n) {
  clientHandles.reserve(n);
  values.reserve(n);
  qualities.reserve(n);
  timeStamps.reserve(n);
  errors.reserve(n);
}

void ItemBatch::add(const UaGroupItem& item, std::optional<WORD> quality) {
  VARIANT& v = values.emplace_back();
  VariantInit(&v);
  HRESULT hr = item.valueError;
  if (SUCCEEDED(hr)) hr = changeToRequestedType(item.value.get(), item.requestedType, &v);
  clientHandles.push_back(item.clientHandle);
  qualities.push_back(FAILED(hr) ? WORD(OPC_QUALITY_BAD) : quality.value_or(item.quality));
  timeStamps.push_back(item.timestamp);
  errors.push_back(hr);
}

void ItemBatch::addResult(OPCHANDLE clientHandle, HRESULT error) {
  clientHandles.push_back(clientHandle);
  errors.push_back(error);
}

HRESULT ItemBatch::masterQuality() const {
  return std::all_of(qualities.begin(), qualities.end(),
                     [](WORD q) { return (q & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD; })
             ? S_OK
             : S_FALSE;
}

HRESULT ItemBatch::masterError() const {
  return std::all_of(errors.begin(), errors.end(), [](HRESULT e) { return e == S_OK; }) ? S_OK
                                                                                        : S_FALSE;
}

void send(const std::shared_ptr<opc::Connection>& to, Call call, std::shared_ptr<ItemBatch> batch) {
  if (!to) return;
  opc::deliver(to, [b = std::move(batch), call](IUnknown* sink) {
    auto* cb = static_cast<IOPCDataCallback*>(sink);
    const DWORD n = DWORD(b->size());
    switch (call) {
      case Call::DataChange:
        cb->OnDataChange(b->transactionId, b->clientGroup, b->masterQuality(), b->masterError(), n,
                         dataOf(b->clientHandles), dataOf(b->values), dataOf(b->qualities),
                         dataOf(b->timeStamps), dataOf(b->errors));
        break;
      case Call::ReadComplete:
        cb->OnReadComplete(b->transactionId, b->clientGroup, b->masterQuality(), b->masterError(),
                           n, dataOf(b->clientHandles), dataOf(b->values), dataOf(b->qualities),
                           dataOf(b->timeStamps), dataOf(b->errors));
        break;
      case Call::WriteComplete:
        cb->OnWriteComplete(b->transactionId, b->clientGroup, b->masterError(), n,
                            dataOf(b->clientHandles), dataOf(b->errors));
        break;
      case Call::CancelComplete:
        cb->OnCancelComplete(b->transactionId, b->clientGroup);
        break;
    }
  });
}

}  // namespace veze6::uab::detail
