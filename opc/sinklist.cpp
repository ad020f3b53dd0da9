#include "sinklist.h"

#include <algorithm>

#include "enumerator.h"

namespace opc {

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
  c->apartment = Apartment::current();
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

bool SinkList::full() const {
  std::lock_guard lock(mutex_);
  return maxSinks_ && connections_.size() >= maxSinks_;
}

ComPtr<IEnumSTATDATA> makeEnumStatData(const SinkList& advises) {
  auto held = std::make_shared<HeldList<STATDATA>>();
  for (const auto& c : advises.snapshot()) {
    STATDATA d{};
    d.formatetc = FORMATETC{c->format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    d.advf = c->advf;
    d.pAdvSink = c->as<IAdviseSink>();
    d.dwConnection = c->cookie;
    held->refs.push_back(c->sink);
    held->data.push_back(d);
  }
  return makeEnumerator<IEnumSTATDATA, CountedFieldCopy<STATDATA, &STATDATA::pAdvSink>>(
      std::move(held));
}

}  // namespace opc
