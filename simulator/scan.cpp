#include <algorithm>
#include <cmath>

#include "datastream.h"
#include "generators.h"
#include "opc/OPCDA.h"
#include "scan_p.h"

namespace veze6::sim::detail {

namespace {

HRESULT conversionError(HRESULT hr) { return hr == DISP_E_OVERFLOW ? OPC_E_RANGE : OPC_E_BADTYPE; }

bool isRangedNumber(const SimItem& item) {
  return item.euRange && opc::isNumeric(item.canonicalType);
}

/// A global block freed when the last holder lets go (a delivery dropped
/// unrun frees it too).
struct GlobalBlock {
  explicit GlobalBlock(HGLOBAL h) : handle(h) {}
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;
  ~GlobalBlock() { free(); }
  void free() {
    if (handle) GlobalFree(handle);
    handle = nullptr;
  }
  HGLOBAL handle;
};

void sendStream(const Outgoing& o) {
  const ItemBatch& b = *o.batch;
  HGLOBAL h = nullptr;
  CLIPFORMAT format = o.to->format;
  if (o.call == Outgoing::Call::WriteStream) {
    h = buildWriteCompleteStream(b.clientGroup, b.transactionId, b.size(), b.clientHandles.data(),
                                 b.errors.data());
    format = CLIPFORMAT(OPCSTMFORMATWRITECOMPLETE);
  } else {
    h = buildDataStream(format == OPCSTMFORMATDATATIME, b.clientGroup, b.transactionId, b.size(),
                        b.clientHandles.data(), b.values.data(), b.qualities.data(),
                        b.timeStamps.data());
  }
  if (!h) return;  // out of memory: this update is lost, the next one follows
  auto block = std::make_shared<GlobalBlock>(h);
  deliver(o.to, [block, format](IUnknown* sink) {
    FORMATETC fe{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = block->handle;
    medium.pUnkForRelease = nullptr;
    static_cast<IAdviseSink*>(sink)->OnDataChange(&fe, &medium);
    // The block is the server's; it goes once the sink has returned.
    block->free();
  });
}

}  // namespace

void send(const std::vector<Outgoing>& calls) {
  for (const Outgoing& o : calls) {
    switch (o.call) {
      case Outgoing::Call::DataChange:
        opc::sendBatch(o.to, opc::DataCallback::DataChange, o.batch);
        break;
      case Outgoing::Call::ReadComplete:
        opc::sendBatch(o.to, opc::DataCallback::ReadComplete, o.batch);
        break;
      case Outgoing::Call::WriteComplete:
        opc::sendBatch(o.to, opc::DataCallback::WriteComplete, o.batch);
        break;
      case Outgoing::Call::CancelComplete:
        opc::sendBatch(o.to, opc::DataCallback::CancelComplete, o.batch);
        break;
      case Outgoing::Call::DataStream:
      case Outgoing::Call::WriteStream:
        sendStream(o);
        break;
    }
  }
}

void ScanSignal::wake() {
  {
    std::lock_guard lock(mutex);
    ++generation;
  }
  wakeup.notify_all();
}

HRESULT convertForClient(const SimItem& item, VARTYPE requested, VARIANT& out) {
  const VARIANT& value = item.value.get();
  if (requested == VT_EMPTY || requested == value.vt) {
    const HRESULT hr = VariantCopy(&out, &value);
    return FAILED(hr) ? hr : S_OK;
  }
  const HRESULT hr = VariantChangeType(&out, &value, 0, requested);
  return FAILED(hr) ? conversionError(hr) : S_OK;
}

HRESULT writeItem(SimItem& item, const VARIANT& value, const PassTime& now) {
  if (!(item.accessRights & OPC_WRITEABLE)) return OPC_E_BADRIGHTS;
  HRESULT result = S_OK;
  OleVariant converted;
  HRESULT hr = S_OK;
  if (isRangedNumber(item)) {
    OleVariant number;
    hr = VariantChangeType(number.ptr(), &value, 0, VT_R8);
    if (FAILED(hr)) return conversionError(hr);
    double x = number.get().dblVal;
    const EngineeringRange& r = *item.euRange;
    if (std::isnan(x) || x < r.low || x > r.high) {
      if (!item.clampWrites || std::isnan(x)) return OPC_E_RANGE;
      x = std::clamp(x, r.low, r.high);
      result = OPC_S_CLAMP;
      hr = VariantChangeType(converted.ptr(), &OleVariant(x).get(), 0, item.canonicalType);
    } else {
      hr = VariantChangeType(converted.ptr(), &value, 0, item.canonicalType);
    }
  } else {
    hr = VariantChangeType(converted.ptr(), &value, 0, item.canonicalType);
  }
  if (FAILED(hr) || converted.vt() != item.canonicalType) return conversionError(hr);
  if (!(converted == item.value)) {
    item.value = std::move(converted);
    ++item.changeCount;
  }
  item.timeStamp = now.fileTime;
  return result;
}

}  // namespace veze6::sim::detail
