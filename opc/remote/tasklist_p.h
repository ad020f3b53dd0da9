// Internal to the remote transport; not API.
//
// An out-array a proxy builds from an answer: a task-memory block filled
// element by element. When an element turns out malformed, the elements
// filled so far are let go of and the block is freed, so a failing call
// leaves nothing allocated.
#pragma once

#include <utility>

#include "opc/remote/marshal_p.h"
#include "opc/taskmem.h"

namespace opc::remote {

template <class T>
class TaskList {
 public:
  /// `clear` lets go of what one element holds (null: elements hold nothing).
  explicit TaskList(void (*clear)(T&) = nullptr) : clear_(clear) {}
  TaskList(const TaskList&) = delete;
  TaskList& operator=(const TaskList&) = delete;
  ~TaskList() { reset(); }

  /// One element per element of `in`, each made by `read(in[i], &element)`.
  /// E_OUTOFMEMORY when no block could be had, RPC_E_INVALID_DATA when
  /// `read` refuses an element.
  template <class List, class Read>
  HRESULT take(List in, Read read) {
    reset();
    const capnp::uint n = in.size();
    // An empty list still gives the caller a block, as a server does.
    p_ = static_cast<T*>(CoTaskMemAlloc(std::size_t(n) * sizeof(T)));
    if (!p_ && n) return E_OUTOFMEMORY;
    for (; filled_ < n; ++filled_) {
      if (!read(in[filled_], &p_[filled_])) {
        reset();
        return RPC_E_INVALID_DATA;
      }
    }
    return S_OK;
  }

  /// Hands the block to the caller.
  [[nodiscard]] T* release() {
    filled_ = 0;
    return std::exchange(p_, nullptr);
  }

 private:
  void reset() {
    for (capnp::uint i = 0; clear_ && i < filled_; ++i) clear_(p_[i]);
    CoTaskMemFree(p_);
    p_ = nullptr;
    filled_ = 0;
  }

  void (*clear_)(T&);
  T* p_ = nullptr;
  capnp::uint filled_ = 0;
};

/// The out-arrays of a call that answers per element of its request: the
/// values, each made by `read` (and let go of by `clear` on failure), and
/// the per-element errors, both as task memory. RPC_E_INVALID_DATA, with
/// nothing allocated, when either list is not `count` long or a value is
/// malformed.
template <class T, class Values, class Errors, class Read>
HRESULT takeWithErrors(HRESULT hr, Values values, Errors errors, DWORD count, Read read,
                       void (*clear)(T&), T** valuesOut, HRESULT** errorsOut) {
  if (FAILED(hr)) return hr;
  if (values.size() != count) return RPC_E_INVALID_DATA;
  TaskOut<HRESULT> codes;
  if (!taskArray(errors, count, codes.put())) return RPC_E_INVALID_DATA;
  TaskList<T> list(clear);
  const HRESULT taken = list.take(values, read);
  if (FAILED(taken)) return taken;
  *valuesOut = list.release();
  *errorsOut = codes.release();
  return hr;
}

}  // namespace opc::remote
