#include "connectionpoint.h"

#include <algorithm>

#include "enumerator_p.h"

namespace opc {

namespace {

struct CopyConnection {
  bool operator()(const CONNECTDATA& c, CONNECTDATA* out) const {
    *out = c;
    if (out->pUnk) out->pUnk->AddRef();
    return true;
  }
};
struct DropConnection {
  void operator()(CONNECTDATA* c) const {
    if (c->pUnk) c->pUnk->Release();
    c->pUnk = nullptr;
  }
};

// The list an IEnumConnections walks: the sinks are held by the enumerator so
// that they stay valid after an Unadvise.
struct HeldConnections {
  std::vector<ComPtr<IUnknown>> refs;
  std::vector<CONNECTDATA> data;
};

}  // namespace

ConnectionPoint::ConnectionPoint(IConnectionPointContainer* container, REFIID iid,
                                 std::size_t maxSinks)
    : container_(container), iid_(iid), maxSinks_(maxSinks) {}

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
    if (maxSinks_ && connections_.size() >= maxSinks_) return CONNECT_E_ADVISELIMIT;
  }
  // The sink is asked outside the lock: its QueryInterface may call back.
  ComPtr<IUnknown> sink;
  if (FAILED(pUnkSink->QueryInterface(iid_, sink.putVoid())) || !sink) {
    return CONNECT_E_CANNOTCONNECT;
  }
  std::lock_guard lock(mutex_);
  if (maxSinks_ && connections_.size() >= maxSinks_) return CONNECT_E_ADVISELIMIT;
  const DWORD cookie = nextCookie_++;
  connections_.push_back(Connection{cookie, std::move(sink)});
  *pdwCookie = cookie;
  return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD dwCookie) {
  ComPtr<IUnknown> released;  // dropped after the lock, the sink may call back
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(connections_.begin(), connections_.end(),
                           [&](const Connection& c) { return c.cookie == dwCookie; });
    if (dwCookie == 0 || it == connections_.end()) return CONNECT_E_NOCONNECTION;
    released = std::move(it->sink);
    connections_.erase(it);
  }
  return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** ppEnum) {
  if (!ppEnum) return E_POINTER;
  auto held = std::make_shared<HeldConnections>();
  {
    std::lock_guard lock(mutex_);
    for (const auto& c : connections_) {
      held->refs.push_back(c.sink);
      held->data.push_back(CONNECTDATA{c.sink.get(), c.cookie});
    }
  }
  // The data vector shares the lifetime of the references that keep its
  // pointers valid.
  std::shared_ptr<const std::vector<CONNECTDATA>> items(held, &held->data);
  using E = detail::ListEnumerator<IEnumConnections, CONNECTDATA, CONNECTDATA, CopyConnection,
                                   DropConnection>;
  *ppEnum = makeCom<E>(std::move(items)).detach();
  return S_OK;
}

std::vector<ComPtr<IUnknown>> ConnectionPoint::sinks() const {
  std::lock_guard lock(mutex_);
  std::vector<ComPtr<IUnknown>> out;
  out.reserve(connections_.size());
  for (const auto& c : connections_) out.push_back(c.sink);
  return out;
}

std::size_t ConnectionPoint::sinkCount() const {
  std::lock_guard lock(mutex_);
  return connections_.size();
}

void ConnectionPoint::clear() {
  std::vector<Connection> dropped;
  {
    std::lock_guard lock(mutex_);
    dropped.swap(connections_);
  }
}

void ConnectionPoint::detachContainer() {
  std::lock_guard lock(mutex_);
  container_ = nullptr;
}

}  // namespace opc
