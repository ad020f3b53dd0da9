// The connection point of server objects: sinks advised by cookie and called
// on the apartment that advised them (sinklist.h).
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "objidl.h"
#include "opcexport.h"
#include "sinklist.h"

namespace opc {

/// One connection point over a SinkList. The container is not counted; its
/// owner calls detach() before the container goes away, after which the
/// point refuses new sinks and has dropped the old ones. Thread-safe.
class VEZE6_OPC_EXPORT ConnectionPoint final : public ComObject<IConnectionPoint> {
 public:
  /// `maxSinks` 0: no limit. `onAdvise` runs (unlocked) after every
  /// successful Advise.
  ConnectionPoint(IConnectionPointContainer* container, REFIID iid, std::size_t maxSinks = 0,
                  std::function<void()> onAdvise = nullptr);

  HRESULT GetConnectionInterface(IID* pIID) override;
  /// E_UNEXPECTED once detached.
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
  /// Queries the sink for the point's interface (CONNECT_E_CANNOTCONNECT when
  /// refused) and keeps that reference; CONNECT_E_ADVISELIMIT past maxSinks,
  /// E_UNEXPECTED once detached.
  HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
  /// CONNECT_E_NOCONNECTION for an unknown cookie.
  HRESULT Unadvise(DWORD dwCookie) override;
  HRESULT EnumConnections(IEnumConnections** ppEnum) override;

  const IID& interfaceId() const { return iid_; }
  SinkList& sinks() { return sinks_; }
  const SinkList& sinks() const { return sinks_; }

  /// Calls `call` with each sink as `I` by the apartment rule; returns how
  /// many sinks there were. `call` is copied for each posted call.
  template <class I>
  std::size_t deliverToAll(const std::function<void(I*)>& call) const {
    const auto connections = sinks_.snapshot();
    for (const auto& c : connections) {
      deliver(c, [call](IUnknown* sink) { call(static_cast<I*>(sink)); });
    }
    return connections.size();
  }

  void detach();

 private:
  mutable std::mutex mutex_;
  IConnectionPointContainer* container_;  // guarded by mutex_
  bool detached_ = false;                 // guarded by mutex_
  const IID iid_;
  const std::function<void()> onAdvise_;
  SinkList sinks_;
};

/// IEnumConnectionPoints over a fixed set of points.
VEZE6_OPC_EXPORT ComPtr<IEnumConnectionPoints> makeEnumConnectionPoints(
    std::vector<ComPtr<IConnectionPoint>> points);

}  // namespace opc
