// The client sinks a server object holds (connection points, data-object
// advises), and the one way calls reach them.
//
// Apartment rule: a sink is called on the thread that advised it. Each
// connection remembers the apartment that was current when the client
// advised; a call from any other thread is posted there with its arguments
// copied, and a posted call whose connection has gone since (unadvised, or
// its owner destroyed) does nothing. Without an apartment (a std-only host)
// the call is made directly on the calling thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "apartment.h"
#include "objidl.h"
#include "opcexport.h"

namespace opc {

/// One advised sink.
struct Connection {
  DWORD cookie = 0;
  /// The advised interface (IOPCDataCallback, IAdviseSink, IOPCShutdown...)
  /// held as IUnknown; cast back with `as<I>()`.
  ComPtr<IUnknown> sink;
  /// The apartment current when the client advised; null: call directly.
  std::shared_ptr<Apartment> apartment;
  /// The stream format and flags of a data-object advise (0 for
  /// connection points).
  CLIPFORMAT format = 0;
  DWORD advf = 0;
  std::atomic<bool> connected{true};

  template <class I>
  I* as() const {
    return static_cast<I*>(sink.get());
  }
};

/// Calls `call` with the connection's sink by the apartment rule. The call
/// must own everything it refers to (it may run later, on another thread).
VEZE6_OPC_EXPORT void deliver(const std::shared_ptr<Connection>& to,
                              std::function<void(IUnknown*)> call);

/// The sinks of one connection point or data object, with cookies 1, 2, ...
/// never reused. Thread-safe; never calls a sink.
class VEZE6_OPC_EXPORT SinkList {
 public:
  explicit SinkList(std::size_t maxSinks = 0) : maxSinks_(maxSinks) {}
  SinkList(const SinkList&) = delete;
  SinkList& operator=(const SinkList&) = delete;
  ~SinkList() { clear(); }

  using Admit = std::function<bool(const std::vector<std::shared_ptr<Connection>>&)>;
  /// Adds a connection (its sink already the interface wanted, format and
  /// flags set), giving it a cookie and the calling thread's apartment.
  /// CONNECT_E_ADVISELIMIT past maxSinks, or when `admit` (run under the
  /// list's lock with the connections so far) refuses.
  HRESULT add(std::shared_ptr<Connection> connection, DWORD* cookie, const Admit& admit = nullptr);
  /// False for an unknown cookie.
  bool remove(DWORD cookie);
  /// Drops every sink (their references are released after the lock).
  void clear();

  std::vector<std::shared_ptr<Connection>> snapshot() const;
  std::shared_ptr<Connection> find(DWORD cookie) const;
  /// The first connection (one-sink points), or null.
  std::shared_ptr<Connection> first() const;
  std::size_t size() const;
  bool full() const;
  /// Grows with every sink added: a scan notices new clients by it.
  std::uint64_t generation() const { return generation_.load(std::memory_order_acquire); }

 private:
  mutable std::mutex mutex_;
  const std::size_t maxSinks_;
  DWORD nextCookie_ = 1;
  std::vector<std::shared_ptr<Connection>> connections_;
  std::atomic<std::uint64_t> generation_{0};
};

/// IEnumSTATDATA over a data object's advises as they are now.
VEZE6_OPC_EXPORT ComPtr<IEnumSTATDATA> makeEnumStatData(const SinkList& advises);

}  // namespace opc
