// IUnknown, the counted interface reference ComPtr and the ComObject base that
// implements reference counting and QueryInterface for objects of this
// process (servers, sinks, enumerators).
#pragma once

#include <atomic>
#include <type_traits>
#include <utility>

#include "comtypes.h"
#include "diag.h"
#include "opcexport.h"

/// Gives an interface struct its identifier, read by ComPtr::as and ComObject.
#define OPC_INTERFACE_IID(Iface) \
  static constexpr const IID& iid() { return IID_##Iface; }

inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct VEZE6_OPC_EXPORT IUnknown {
  OPC_INTERFACE_IID(IUnknown)
  virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

/// Counted reference to an interface. Releases on destruction; copying adds a
/// reference. `put()` hands out the address for an out-parameter after
/// releasing what was held.
template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  /// Takes a new reference to p (AddRef).
  explicit ComPtr(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) noexcept : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  ComPtr(const ComPtr<U>& o) noexcept : ComPtr(static_cast<T*>(o.get())) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  ComPtr(ComPtr<U>&& o) noexcept : p_(o.detach()) {}
  ~ComPtr() { reset(); }

  ComPtr& operator=(const ComPtr& o) noexcept {
    ComPtr(o).swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    ComPtr(std::move(o)).swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) noexcept {
    reset();
    return *this;
  }

  /// Adopts p without adding a reference (an out-parameter's result).
  static ComPtr attach(T* p) noexcept {
    ComPtr r;
    r.p_ = p;
    return r;
  }
  /// Gives up the reference without releasing it; the caller owns it.
  [[nodiscard]] T* detach() noexcept { return std::exchange(p_, nullptr); }

  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  void swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  /// Releases what is held and returns the address for an out-parameter.
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

  /// Queries the held object for interface U; empty when refused or empty.
  template <class U>
  ComPtr<U> as() const noexcept {
    ComPtr<U> r;
    if (p_) p_->QueryInterface(U::iid(), r.putVoid());
    return r;
  }
  /// Queries for U and reports the server's result code.
  template <class U>
  HRESULT as(ComPtr<U>& out) const noexcept {
    if (!p_) {
      out.reset();
      return E_POINTER;
    }
    return p_->QueryInterface(U::iid(), out.putVoid());
  }

  /// Copies the reference into an out-parameter with AddRef (S_OK), or
  /// E_POINTER for a null destination.
  HRESULT copyTo(T** out) const noexcept {
    if (!out) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.p_ == b.p_; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

namespace opc {

namespace detail {
template <class First, class... Rest>
struct FirstOf {
  using type = First;
};
}  // namespace detail

/// Base of every COM-style object implemented in this process: a thread-safe
/// reference count that deletes the object at zero, QueryInterface over the
/// listed interfaces (and IUnknown), and the live-object counter tests read.
/// Create instances with makeCom.
template <class... Interfaces>
class VEZE6_OPC_EXPORT ComObject : public Interfaces... {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(static_cast<Primary*>(this));
    } else if (!(... || tryInterface<Interfaces>(riid, ppv))) {
      if (!queryExtra(riid, ppv)) return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    const ULONG n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (n == 0) delete this;
    return n;
  }
  /// The current count, for tests and diagnostics only.
  ULONG refCount() const { return refs_.load(); }

  /// The object's own IUnknown.
  IUnknown* unknown() { return static_cast<IUnknown*>(static_cast<Primary*>(this)); }

 protected:
  ComObject() { diag::objectCreated(); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;
  virtual ~ComObject() { diag::objectDestroyed(); }

  /// Whether QueryInterface hands out a listed interface; a server that
  /// presents fewer interfaces (an older protocol version) refuses some.
  virtual bool interfaceEnabled(REFIID) const { return true; }
  /// Interfaces not in the list (for instance a base interface); the
  /// implementation stores the pointer without AddRef and returns true.
  virtual bool queryExtra(REFIID, void**) { return false; }

 private:
  using Primary = typename detail::FirstOf<Interfaces...>::type;

  template <class I>
  bool tryInterface(REFIID riid, void** ppv) {
    if (riid != I::iid() || !interfaceEnabled(riid)) return false;
    *ppv = static_cast<I*>(this);
    return true;
  }

  std::atomic<ULONG> refs_{0};
};

/// Creates a ComObject-derived object and returns the first reference to it.
template <class T, class... Args>
ComPtr<T> makeCom(Args&&... args) {
  return ComPtr<T>(new T(std::forward<Args>(args)...));
}

}  // namespace opc
