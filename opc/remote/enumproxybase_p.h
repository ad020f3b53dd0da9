// Internal to the remote transport; not API.
//
// What every enumerator proxy shares: Next's trips to the host in batches,
// Skip, Reset and Clone. The proxies differ only in how Next hands the
// elements over (into the caller's array, or as one task-memory block) and
// in the code a missing out-argument gets.
#pragma once

#include <algorithm>

#include "opc/remote/remoteproxy_p.h"

namespace opc::remote {

template <class Cap, class I, HRESULT kNoArgument>
class EnumProxyBase : public RemoteProxy<Cap, I> {
  using Base = RemoteProxy<Cap, I>;

 public:
  using Base::Base;

  HRESULT Skip(ULONG celt) override {
    return this->call([&]() {
      auto req = this->cap().skipRequest();
      req.setCount(celt);
      return req.send().then(AnswerCode{});
    });
  }

  HRESULT Reset() override {
    return this->call([&]() { return this->cap().resetRequest().send().then(AnswerCode{}); });
  }

  HRESULT Clone(I** ppEnum) override {
    if (!ppEnum) return kNoArgument;
    *ppEnum = nullptr;
    return this->call([&]() {
      return this->cap().cloneRequest().send().then(
          [&](auto&& r) { return this->objectOut(r.getHr(), r.getEnumerator(), ppEnum); });
    });
  }

 protected:
  /// Asks the host for up to celt elements, at most kMaxEnumBatch a trip; a
  /// short batch ends the enumeration. `take(element, index)` keeps each one
  /// as it arrives and refuses a malformed one. `fetched` counts the
  /// elements kept, also on failure (for the caller to let go of).
  template <class Take>
  HRESULT fetch(ULONG celt, ULONG& fetched, Take take) {
    fetched = 0;
    HRESULT hr = S_OK;
    while (fetched < celt) {
      const ULONG want = std::min(celt - fetched, kMaxEnumBatch);
      ULONG got = 0;
      hr = this->call([&]() {
        auto req = this->cap().nextRequest();
        req.setCount(want);
        return req.send().then([&](auto&& r) -> HRESULT {
          const HRESULT result = r.getHr();
          if (FAILED(result)) return result;
          const auto items = r.getItems();
          if (items.size() > want) return RPC_E_INVALID_DATA;
          for (; got < items.size(); ++got) {
            if (!take(items[got], fetched + got)) return RPC_E_INVALID_DATA;
          }
          return result;
        });
      });
      fetched += got;
      if (FAILED(hr) || got < want) break;
    }
    return hr;
  }
};

}  // namespace opc::remote
