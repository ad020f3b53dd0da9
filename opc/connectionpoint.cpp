#include "connectionpoint.h"

#include "enumerator.h"

namespace opc {

ConnectionPoint::ConnectionPoint(IConnectionPointContainer* container, REFIID iid,
                                 std::size_t maxSinks, std::function<void()> onAdvise)
    : container_(container), iid_(iid), onAdvise_(std::move(onAdvise)), sinks_(maxSinks) {}

HRESULT ConnectionPoint::GetConnectionInterface(IID* pIID) {
  if (!pIID) return E_POINTER;
  *pIID = iid_;
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
  if (!ppCPC) return E_POINTER;
  std::lock_guard lock(mutex_);
  *ppCPC = container_;
  if (!container_) return E_UNEXPECTED;  // the owning object is gone
  container_->AddRef();
  return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
  if (!pdwCookie) return E_POINTER;
  *pdwCookie = 0;
  if (!pUnkSink) return E_POINTER;
  {
    std::lock_guard lock(mutex_);
    // Nobody would ever call or release a sink given to an orphaned point.
    if (detached_) return E_UNEXPECTED;
  }
  if (sinks_.full()) return CONNECT_E_ADVISELIMIT;
  // Asked outside every lock: the sink's QueryInterface may call back.
  ComPtr<IUnknown> sink;
  if (FAILED(pUnkSink->QueryInterface(iid_, sink.putVoid())) || !sink) {
    return CONNECT_E_CANNOTCONNECT;
  }
  auto connection = std::make_shared<Connection>();
  connection->sink = std::move(sink);
  const HRESULT hr = sinks_.add(std::move(connection), pdwCookie);
  if (SUCCEEDED(hr) && onAdvise_) onAdvise_();
  return hr;
}

HRESULT ConnectionPoint::Unadvise(DWORD dwCookie) {
  return sinks_.remove(dwCookie) ? S_OK : CONNECT_E_NOCONNECTION;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** ppEnum) {
  if (!ppEnum) return E_POINTER;
  auto held = std::make_shared<HeldList<CONNECTDATA>>();
  for (const auto& c : sinks_.snapshot()) {
    held->refs.push_back(c->sink);
    held->data.push_back(CONNECTDATA{c->sink.get(), c->cookie});
  }
  using Copy = CountedFieldCopy<CONNECTDATA, &CONNECTDATA::pUnk>;
  *ppEnum = makeEnumerator<IEnumConnections, Copy>(std::move(held)).detach();
  return S_OK;
}

void ConnectionPoint::detach() {
  {
    std::lock_guard lock(mutex_);
    container_ = nullptr;
    detached_ = true;
  }
  sinks_.clear();
}

ComPtr<IEnumConnectionPoints> makeEnumConnectionPoints(
    std::vector<ComPtr<IConnectionPoint>> points) {
  return makeEnumerator<IEnumConnectionPoints, InterfaceCopy<IConnectionPoint>>(std::move(points));
}

}  // namespace opc
