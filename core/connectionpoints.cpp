#include "connectionpoints.h"

namespace {

// The point for iid, or empty. A server that throws instead of answering
// has no point as far as the client is concerned.
ComPtr<IConnectionPoint> findPoint(IUnknown* source, REFIID iid) {
  if (!source) return {};
  try {
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(source->QueryInterface(IID_IConnectionPointContainer, container.putVoid())) ||
        !container)
      return {};
    ComPtr<IConnectionPoint> point;
    if (FAILED(container->FindConnectionPoint(iid, point.put()))) return {};
    return point;
  } catch (...) {
    return {};
  }
}

}  // namespace

HRESULT AdviseConnectionPoint(IUnknown* source, REFIID iid, IUnknown* sink, DWORD& cookie) {
  const ComPtr<IConnectionPoint> point = findPoint(source, iid);
  if (!point) return E_FAIL;
  return point->Advise(sink, &cookie);
}

HRESULT UnadviseConnectionPoint(IUnknown* source, REFIID iid, DWORD cookie) {
  const ComPtr<IConnectionPoint> point = findPoint(source, iid);
  if (!point) return E_FAIL;
  return point->Unadvise(cookie);
}
