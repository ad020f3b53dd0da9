// Task memory (memory a server hands to its caller and the caller frees),
// BSTR wide strings, and the RAII guards that make releasing them automatic.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "comtypes.h"
#include "opcexport.h"

VEZE6_OPC_EXPORT LPVOID CoTaskMemAlloc(std::size_t cb);
VEZE6_OPC_EXPORT LPVOID CoTaskMemRealloc(LPVOID pv, std::size_t cb);
VEZE6_OPC_EXPORT void CoTaskMemFree(LPVOID pv);

/// Length-prefixed wide string; SysAllocStringLen(nullptr, n) allocates n
/// zeroed characters. Every BSTR is zero-terminated.
VEZE6_OPC_EXPORT BSTR SysAllocString(LPCOLESTR psz);
VEZE6_OPC_EXPORT BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch);
VEZE6_OPC_EXPORT void SysFreeString(BSTR bstr);
VEZE6_OPC_EXPORT UINT SysStringLen(BSTR bstr);

namespace opc {

/// Copies a wide string into task memory (what a server returns as LPWSTR).
VEZE6_OPC_EXPORT LPWSTR taskStringDup(std::u16string_view s);

/// Deleter for task memory blocks.
struct TaskMemFree {
  void operator()(void* p) const noexcept { CoTaskMemFree(p); }
};

/// Owns a task-memory block (an array of T the server returned).
template <class T>
using TaskMem = std::unique_ptr<T, TaskMemFree>;

/// Guard for a task-memory out-parameter: pass `put()` to the call, the block
/// is freed when the guard goes out of scope.
template <class T>
class TaskOut {
 public:
  TaskOut() = default;
  TaskOut(const TaskOut&) = delete;
  TaskOut& operator=(const TaskOut&) = delete;
  ~TaskOut() { CoTaskMemFree(p_); }
  T** put() {
    CoTaskMemFree(p_);
    p_ = nullptr;
    return &p_;
  }
  T* get() const { return p_; }
  T& operator[](std::size_t i) const { return p_[i]; }
  explicit operator bool() const { return p_ != nullptr; }
  [[nodiscard]] T* release() { return std::exchange(p_, nullptr); }

 private:
  T* p_ = nullptr;
};

/// A task-memory wide string returned by a server (LPWSTR out-parameter).
using TaskString = TaskOut<OLECHAR>;

/// Owns a BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::u16string_view s)
      : p_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
  Bstr(const Bstr& o) : Bstr(o.view()) {}
  Bstr(Bstr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Bstr& operator=(Bstr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Bstr() { SysFreeString(p_); }

  static Bstr attach(BSTR p) {
    Bstr b;
    b.p_ = p;
    return b;
  }
  [[nodiscard]] BSTR detach() { return std::exchange(p_, nullptr); }
  BSTR get() const { return p_; }
  BSTR* put() {
    SysFreeString(std::exchange(p_, nullptr));
    return &p_;
  }
  std::u16string_view view() const { return p_ ? std::u16string_view(p_, SysStringLen(p_)) : u""; }
  std::size_t size() const { return SysStringLen(p_); }

 private:
  BSTR p_ = nullptr;
};

/// UTF-8 <-> UTF-16 for the std-only layers (invalid sequences become U+FFFD).
VEZE6_OPC_EXPORT std::u16string utf8ToUtf16(std::string_view s);
VEZE6_OPC_EXPORT std::string utf16ToUtf8(std::u16string_view s);

}  // namespace opc
