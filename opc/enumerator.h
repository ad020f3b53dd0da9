// The enumerator object every server object hands out (IEnumString,
// IEnumConnections, IEnumConnectionPoints, IEnumSTATDATA,
// IEnumOPCItemAttributes, ...): a fixed list shared between clones, walked by
// a position of each clone's own.
//
// Every instance answers alike:
// - Next zeroes the fetched count (and a callee-allocated array pointer)
//   first; asking for nothing is S_OK, a missing array E_POINTER, more than
//   one element without a fetched count E_INVALIDARG; S_FALSE when fewer were
//   left than asked for.
// - When a copy runs out of memory, the copies made by that call are dropped,
//   the position stays where it was and the answer is E_OUTOFMEMORY.
// - Skip past the end stops at the end with S_FALSE; Clone(nullptr) is
//   E_POINTER.
#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <vector>

#include "taskmem.h"
#include "unknown.h"

namespace opc {

namespace detail {

// What Next writes into, read off the interface's own declaration: `Elem*`
// for a caller's array, `Elem**` for an array the enumerator allocates.
template <class Method>
struct NextOut;
template <class C, class Out>
struct NextOut<HRESULT (C::*)(ULONG, Out, ULONG*)> {
  using type = Out;
};

}  // namespace detail

/// Enumerates `Item`s as `Policy::Elem`s. The policy provides
///   using Elem = ...;
///   static bool copy(const Item&, Elem*);  // false when out of memory,
///                                          // leaving nothing to release
///   static void drop(Elem*);               // releases a copy again
template <class Iface, class Item, class Policy>
class Enumerator final : public ComObject<Iface> {
 public:
  using Elem = typename Policy::Elem;
  using Out = typename detail::NextOut<decltype(&Iface::Next)>::type;
  using Items = std::shared_ptr<const std::vector<Item>>;

  explicit Enumerator(Items items, std::size_t pos = 0) : items_(std::move(items)), pos_(pos) {}

  HRESULT Next(ULONG celt, Out out, ULONG* pceltFetched) override {
    if (pceltFetched) *pceltFetched = 0;
    if constexpr (kAllocates) {
      if (out) *out = nullptr;
    }
    if (celt == 0) return S_OK;
    if (!out) return E_POINTER;
    if (celt > 1 && !pceltFetched) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    const std::size_t n = std::min<std::size_t>(celt, items_->size() - pos_);
    Elem* dest = nullptr;
    TaskMem<Elem> owned;
    if constexpr (kAllocates) {
      if (n == 0) return S_FALSE;
      owned.reset(static_cast<Elem*>(CoTaskMemAlloc(n * sizeof(Elem))));
      if (!owned) return E_OUTOFMEMORY;
      dest = owned.get();
    } else {
      dest = out;
    }
    for (std::size_t i = 0; i < n; ++i) {
      if (!Policy::copy((*items_)[pos_ + i], &dest[i])) {
        for (std::size_t k = 0; k < i; ++k) Policy::drop(&dest[k]);
        return E_OUTOFMEMORY;
      }
    }
    if constexpr (kAllocates) *out = owned.release();
    pos_ += n;
    if (pceltFetched) *pceltFetched = ULONG(n);
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

  HRESULT Clone(Iface** ppenum) override {
    if (!ppenum) return E_POINTER;
    *ppenum = nullptr;
    std::size_t pos;
    {
      std::lock_guard lock(mutex_);
      pos = pos_;
    }
    try {
      *ppenum = makeCom<Enumerator>(items_, pos).detach();
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  static constexpr bool kAllocates = std::is_same_v<Out, Elem**>;
  static_assert(kAllocates || std::is_same_v<Out, Elem*>,
                "Policy::Elem does not match the interface's Next");

  const Items items_;
  std::mutex mutex_;
  std::size_t pos_;
};

/// Hands out counted interface pointers (IEnumUnknown, IEnumConnectionPoints).
template <class I>
struct InterfaceCopy {
  using Elem = I*;
  static bool copy(const ComPtr<I>& p, Elem* out) {
    p.copyTo(out);
    return true;
  }
  static void drop(Elem* p) {
    if (*p) (*p)->Release();
    *p = nullptr;
  }
};

/// Hands out plain values (IEnumGUID).
template <class T>
struct ValueCopy {
  using Elem = T;
  static bool copy(const T& v, Elem* out) {
    *out = v;
    return true;
  }
  static void drop(Elem*) {}
};

/// An enumerator over `items`, positioned at their start.
template <class Iface, class Policy, class Item>
ComPtr<Iface> makeEnumerator(std::vector<Item> items) {
  return makeCom<Enumerator<Iface, Item, Policy>>(
      std::make_shared<const std::vector<Item>>(std::move(items)));
}

/// Elements that point at sinks (CONNECTDATA, STATDATA), with the references
/// that keep those pointers valid for as long as any clone walks them, also
/// after the sinks were unadvised.
template <class T>
struct HeldList {
  std::vector<ComPtr<IUnknown>> refs;
  std::vector<T> data;
};

/// Hands out such an element with a reference of its own on the interface
/// pointer `Field`.
template <class T, auto Field>
struct CountedFieldCopy {
  using Elem = T;
  static bool copy(const T& v, Elem* out) {
    *out = v;
    if (out->*Field) (out->*Field)->AddRef();
    return true;
  }
  static void drop(Elem* v) {
    if (v->*Field) (v->*Field)->Release();
    v->*Field = nullptr;
  }
};

/// An enumerator over a held list.
template <class Iface, class Policy, class T>
ComPtr<Iface> makeEnumerator(std::shared_ptr<HeldList<T>> held) {
  const std::vector<T>& data = held->data;
  return makeCom<Enumerator<Iface, T, Policy>>(
      std::shared_ptr<const std::vector<T>>(std::move(held), &data));
}

}  // namespace opc
