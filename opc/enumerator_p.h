// Internal to the platform layer, not API: the enumerator object behind
// makeEnumString, makeEnumGUID, makeEnumUnknown and the connection point's
// IEnumConnections.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "unknown.h"

namespace opc::detail {

/// Enumerates a fixed list shared between clones. `Copy` turns one stored item
/// into the element handed to the caller: `bool operator()(const Item&, Elem*)`,
/// returning false when it could not (out of memory); `Drop` undoes a copy
/// that was handed out when a later copy of the same call fails.
template <class Iface, class Elem, class Item, class Copy, class Drop>
class ListEnumerator final : public ComObject<Iface> {
 public:
  using Items = std::shared_ptr<const std::vector<Item>>;

  explicit ListEnumerator(Items items, std::size_t pos = 0) : items_(std::move(items)), pos_(pos) {}

  HRESULT Next(ULONG celt, Elem* rgelt, ULONG* pceltFetched) override {
    if (pceltFetched) *pceltFetched = 0;
    if (celt == 0) return S_OK;
    if (!rgelt) return E_POINTER;
    std::lock_guard lock(mutex_);
    ULONG n = 0;
    while (n < celt && pos_ + n < items_->size()) {
      if (!Copy{}((*items_)[pos_ + n], &rgelt[n])) {
        for (ULONG i = 0; i < n; ++i) Drop{}(&rgelt[i]);
        return E_OUTOFMEMORY;
      }
      ++n;
    }
    pos_ += n;
    if (pceltFetched) *pceltFetched = n;
    return n == celt ? S_OK : S_FALSE;
  }

  HRESULT Skip(ULONG celt) override {
    std::lock_guard lock(mutex_);
    const std::size_t left = items_->size() - pos_;
    if (celt > left) {
      pos_ = items_->size();
      return S_FALSE;
    }
    pos_ += celt;
    return S_OK;
  }

  HRESULT Reset() override {
    std::lock_guard lock(mutex_);
    pos_ = 0;
    return S_OK;
  }

  HRESULT Clone(Iface** ppenum) override {
    if (!ppenum) return E_POINTER;
    std::size_t pos;
    {
      std::lock_guard lock(mutex_);
      pos = pos_;
    }
    *ppenum = makeCom<ListEnumerator>(items_, pos).detach();
    return S_OK;
  }

 private:
  std::mutex mutex_;
  Items items_;
  std::size_t pos_;
};

}  // namespace opc::detail
