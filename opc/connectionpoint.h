// A ready-made connection point for server objects of this process.
#pragma once

#include <mutex>
#include <vector>

#include "objidl.h"

namespace opc {

/// One connection point: sinks advised by cookie (1, 2, ... never reused).
/// The container is not counted; its owner calls detachContainer() before the
/// container goes away. Thread-safe.
class ConnectionPoint final : public ComObject<IConnectionPoint> {
 public:
  ConnectionPoint(IConnectionPointContainer* container, REFIID iid, std::size_t maxSinks = 0);

  HRESULT GetConnectionInterface(IID* pIID) override;
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
  /// Queries the sink for the point's interface (CONNECT_E_CANNOTCONNECT when
  /// refused) and keeps that reference; CONNECT_E_ADVISELIMIT past maxSinks.
  HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
  /// CONNECT_E_NOCONNECTION for an unknown cookie.
  HRESULT Unadvise(DWORD dwCookie) override;
  HRESULT EnumConnections(IEnumConnections** ppEnum) override;

  const IID& interfaceId() const { return iid_; }
  /// The advised sinks at this moment, each counted; call them after the
  /// snapshot is taken so a sink may unadvise during the call.
  std::vector<ComPtr<IUnknown>> sinks() const;
  template <class I>
  std::vector<ComPtr<I>> sinksAs() const {
    std::vector<ComPtr<I>> out;
    for (auto& s : sinks()) out.push_back(ComPtr<I>(static_cast<I*>(s.get())));
    return out;
  }
  std::size_t sinkCount() const;
  /// Drops every sink (a server shutting down).
  void clear();
  void detachContainer();

 private:
  struct Connection {
    DWORD cookie;
    ComPtr<IUnknown> sink;  // holds the point's interface, as queried
  };
  mutable std::mutex mutex_;
  IConnectionPointContainer* container_;
  IID iid_;
  std::size_t maxSinks_;
  DWORD nextCookie_ = 1;
  std::vector<Connection> connections_;
};

}  // namespace opc
