#include "itembatch.h"

#include <algorithm>

#include "variant.h"

namespace opc {

namespace {

template <class T>
T* dataOf(std::vector<T>& v) {
  return v.empty() ? nullptr : v.data();
}

}  // namespace

ItemBatch::~ItemBatch() {
  // Plain scalars own nothing: most values of a data change need no call.
  for (VARIANT& v : values) {
    if (!isPlainVariantType(v.vt)) VariantClear(&v);
  }
}

void ItemBatch::reserve(std::size_t n) {
  clientHandles.reserve(n);
  values.reserve(n);
  qualities.reserve(n);
  timeStamps.reserve(n);
  errors.reserve(n);
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

void sendBatch(const std::shared_ptr<Connection>& to, DataCallback call,
               std::shared_ptr<ItemBatch> batch) {
  if (!to) return;
  deliver(to, [b = std::move(batch), call](IUnknown* sink) {
    auto* cb = static_cast<IOPCDataCallback*>(sink);
    const DWORD n = DWORD(b->size());
    switch (call) {
      case DataCallback::DataChange:
        cb->OnDataChange(b->transactionId, b->clientGroup, b->masterQuality(), b->masterError(), n,
                         dataOf(b->clientHandles), dataOf(b->values), dataOf(b->qualities),
                         dataOf(b->timeStamps), dataOf(b->errors));
        break;
      case DataCallback::ReadComplete:
        cb->OnReadComplete(b->transactionId, b->clientGroup, b->masterQuality(), b->masterError(),
                           n, dataOf(b->clientHandles), dataOf(b->values), dataOf(b->qualities),
                           dataOf(b->timeStamps), dataOf(b->errors));
        break;
      case DataCallback::WriteComplete:
        cb->OnWriteComplete(b->transactionId, b->clientGroup, b->masterError(), n,
                            dataOf(b->clientHandles), dataOf(b->errors));
        break;
      case DataCallback::CancelComplete:
        cb->OnCancelComplete(b->transactionId, b->clientGroup);
        break;
    }
  });
}

}  // namespace opc
