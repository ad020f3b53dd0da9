#include <algorithm>

#include "sinks_p.h"

namespace veze6::sim::detail {

namespace {

/// An enumerator over a fixed list of counted interfaces, shared by clones.
/// `Elem` is what Next hands out; `toElem` fills one element and adds a
/// reference for the caller.
template <class Iface, class Elem, class Item, class ToElem>
class FixedEnum final : public opc::ComObject<Iface> {
 public:
  using Items = std::shared_ptr<const std::vector<Item>>;
  explicit FixedEnum(Items items, std::size_t pos = 0) : items_(std::move(items)), pos_(pos) {}

  HRESULT Next(ULONG celt, Elem* rgelt, ULONG* pceltFetched) override {
    if (pceltFetched) *pceltFetched = 0;
    if (celt == 0) return S_OK;
    if (!rgelt) return E_POINTER;
    if (celt > 1 && !pceltFetched) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    ULONG n = 0;
    while (n < celt && pos_ < items_->size()) ToElem{}((*items_)[pos_++], &rgelt[n++]);
    if (pceltFetched) *pceltFetched = n;
    return n == celt ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG celt) override {
    std::lock_guard lock(mutex_);
    const std::size_t left = items_->size() - pos_;
    pos_ += std::min<std::size_t>(celt, left);
    return celt <= left ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    std::lock_guard lock(mutex_);
    pos_ = 0;
    return S_OK;
  }
  HRESULT Clone(Iface** ppEnum) override {
    if (!ppEnum) return E_POINTER;
    std::lock_guard lock(mutex_);
    *ppEnum = opc::makeCom<FixedEnum>(items_, pos_).detach();
    return S_OK;
  }

 private:
  const Items items_;
  std::mutex mutex_;
  std::size_t pos_;
};

struct HeldConnection {
  ComPtr<IUnknown> sink;
  DWORD cookie;
};
struct ConnectionToElem {
  void operator()(const HeldConnection& c, CONNECTDATA* out) const {
    out->pUnk = c.sink.get();
    out->dwCookie = c.cookie;
    if (out->pUnk) out->pUnk->AddRef();
  }
};
struct HeldAdvise {
  ComPtr<IUnknown> sink;
  STATDATA data;
};
struct AdviseToElem {
  void operator()(const HeldAdvise& a, STATDATA* out) const {
    *out = a.data;
    if (out->pAdvSink) out->pAdvSink->AddRef();
  }
};
struct PointToElem {
  void operator()(const ComPtr<IConnectionPoint>& p, IConnectionPoint** out) const {
    p.copyTo(out);
  }
};

}  // namespace

void deliver(const std::shared_ptr<Connection>& to, std::function<void(IUnknown*)> call) {
  if (!to || !call) return;
  if (to->apartment && !to->apartment->isCurrentThread()) {
    // The task holds the connection weakly: an unadvised sink is released at
    // once, and a call for it that is still queued finds nothing to call.
    std::weak_ptr<Connection> weak = to;
    to->apartment->post([weak, call = std::move(call)] {
      const auto c = weak.lock();
      if (c && c->connected.load()) call(c->sink.get());
    });
    return;
  }
  if (to->connected.load()) call(to->sink.get());
}

HRESULT SinkList::add(std::shared_ptr<Connection> c, DWORD* cookie, const Admit& admit) {
  c->apartment = opc::Apartment::current();
  {
    std::lock_guard lock(mutex_);
    if (maxSinks_ && connections_.size() >= maxSinks_) return CONNECT_E_ADVISELIMIT;
    if (admit && !admit(connections_)) return CONNECT_E_ADVISELIMIT;
    if (nextCookie_ == 0) ++nextCookie_;  // 0 is never a cookie
    c->cookie = nextCookie_++;
    connections_.push_back(c);
    generation_.fetch_add(1, std::memory_order_release);
  }
  *cookie = c->cookie;
  return S_OK;
}

bool SinkList::remove(DWORD cookie) {
  std::shared_ptr<Connection> removed;  // released after the lock
  {
    std::lock_guard lock(mutex_);
    const auto it = std::find_if(connections_.begin(), connections_.end(),
                                 [&](const auto& c) { return c->cookie == cookie; });
    if (cookie == 0 || it == connections_.end()) return false;
    removed = std::move(*it);
    connections_.erase(it);
  }
  removed->connected.store(false);
  return true;
}

void SinkList::clear() {
  std::vector<std::shared_ptr<Connection>> dropped;
  {
    std::lock_guard lock(mutex_);
    dropped.swap(connections_);
  }
  for (const auto& c : dropped) c->connected.store(false);
}

std::vector<std::shared_ptr<Connection>> SinkList::snapshot() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

std::shared_ptr<Connection> SinkList::find(DWORD cookie) const {
  std::lock_guard lock(mutex_);
  for (const auto& c : connections_) {
    if (c->cookie == cookie) return c;
  }
  return nullptr;
}

std::shared_ptr<Connection> SinkList::first() const {
  std::lock_guard lock(mutex_);
  return connections_.empty() ? nullptr : connections_.front();
}

std::size_t SinkList::size() const {
  std::lock_guard lock(mutex_);
  return connections_.size();
}

SinkPoint::SinkPoint(IConnectionPointContainer* container, REFIID iid, std::size_t maxSinks,
                     std::function<void()> onAdvise)
    : container_(container), iid_(iid), onAdvise_(std::move(onAdvise)), sinks_(maxSinks) {}

HRESULT SinkPoint::GetConnectionInterface(IID* pIID) {
  if (!pIID) return E_POINTER;
  *pIID = iid_;
  return S_OK;
}

HRESULT SinkPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
  if (!ppCPC) return E_POINTER;
  std::lock_guard lock(mutex_);
  *ppCPC = container_;
  if (!container_) return E_UNEXPECTED;  // the owning object is gone
  container_->AddRef();
  return S_OK;
}

HRESULT SinkPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
  if (!pdwCookie) return E_POINTER;
  *pdwCookie = 0;
  if (!pUnkSink) return E_POINTER;
  {
    std::lock_guard lock(mutex_);
    // Nobody would ever call or release a sink given to an orphaned point.
    if (!container_) return E_UNEXPECTED;
  }
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

HRESULT SinkPoint::Unadvise(DWORD dwCookie) {
  return sinks_.remove(dwCookie) ? S_OK : CONNECT_E_NOCONNECTION;
}

HRESULT SinkPoint::EnumConnections(IEnumConnections** ppEnum) {
  if (!ppEnum) return E_POINTER;
  auto held = std::make_shared<std::vector<HeldConnection>>();
  for (const auto& c : sinks_.snapshot()) held->push_back({c->sink, c->cookie});
  using E = FixedEnum<IEnumConnections, CONNECTDATA, HeldConnection, ConnectionToElem>;
  *ppEnum = opc::makeCom<E>(std::move(held)).detach();
  return S_OK;
}

void SinkPoint::detach() {
  {
    std::lock_guard lock(mutex_);
    container_ = nullptr;
  }
  sinks_.clear();
}

ComPtr<IEnumConnectionPoints> makeEnumConnectionPoints(
    std::vector<ComPtr<IConnectionPoint>> points) {
  using E =
      FixedEnum<IEnumConnectionPoints, IConnectionPoint*, ComPtr<IConnectionPoint>, PointToElem>;
  return opc::makeCom<E>(
      std::make_shared<const std::vector<ComPtr<IConnectionPoint>>>(std::move(points)));
}

ComPtr<IEnumSTATDATA> makeEnumStatData(const SinkList& advises) {
  auto held = std::make_shared<std::vector<HeldAdvise>>();
  for (const auto& c : advises.snapshot()) {
    STATDATA d{};
    d.formatetc = FORMATETC{c->format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    d.advf = c->advf;
    d.pAdvSink = c->as<IAdviseSink>();
    d.dwConnection = c->cookie;
    held->push_back({c->sink, d});
  }
  using E = FixedEnum<IEnumSTATDATA, STATDATA, HeldAdvise, AdviseToElem>;
  return opc::makeCom<E>(std::move(held));
}

}  // namespace veze6::sim::detail
