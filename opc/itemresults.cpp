#include "itemresults.h"

#include <algorithm>

namespace opc {

HRESULT ItemResults::allocate(DWORD count, bool withResults) {
  count_ = count;
  errors_.reset(static_cast<HRESULT*>(CoTaskMemAlloc(sizeof(HRESULT) * std::size_t(count))));
  if (withResults) {
    results_.reset(
        static_cast<OPCITEMRESULT*>(CoTaskMemAlloc(sizeof(OPCITEMRESULT) * std::size_t(count))));
  }
  if (!errors_ || (withResults && !results_)) return E_OUTOFMEMORY;
  std::fill_n(errors_.get(), count, S_OK);
  if (withResults) std::fill_n(results_.get(), count, OPCITEMRESULT{});
  return S_OK;
}

HRESULT ItemResults::start(DWORD count, const OPCITEMDEF* defs, OPCITEMRESULT** ppResults,
                           HRESULT** ppErrors) {
  if (ppResults) *ppResults = nullptr;
  if (ppErrors) *ppErrors = nullptr;
  if (count == 0 || !defs || !ppResults || !ppErrors) return E_INVALIDARG;
  return allocate(count, true);
}

HRESULT ItemResults::start(DWORD count, const OPCHANDLE* handles, HRESULT** ppErrors,
                           bool argumentsValid) {
  if (ppErrors) *ppErrors = nullptr;
  if (count == 0 || !handles || !ppErrors || !argumentsValid) return E_INVALIDARG;
  return allocate(count, false);
}

HRESULT ItemResults::handOut(OPCITEMRESULT** ppResults, HRESULT** ppErrors) {
  bool anyFailed = false;
  for (DWORD i = 0; i < count_; ++i) {
    if (SUCCEEDED(errors_.get()[i])) continue;
    anyFailed = true;
    if (results_) results_.get()[i] = OPCITEMRESULT{};
  }
  if (ppResults) *ppResults = results_.release();
  *ppErrors = errors_.release();
  return anyFailed ? S_FALSE : S_OK;
}

}  // namespace opc
