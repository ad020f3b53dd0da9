// TqOPCShutdownEvent: the server component's shutdown callback. The server
// calls ShutdownRequest when it wants its clients gone; the callback posts
// CM_OPCSHUTDOWN to the component's hidden window and returns, and the
// component then tells the application and disconnects on its own thread.
#pragma once

#include <atomic>

#include "opc/OPCCOMN.h"

class TqOPCServer;

class TqOPCShutdownEvent final : public opc::ComObject<IOPCShutdown> {
 public:
  /// A callback for server, advised on the server's IOPCServer through its
  /// shutdown connection point. A server without one leaves AdviseResult at
  /// E_FAIL; that is not an error. The reference returned is the caller's.
  static ComPtr<TqOPCShutdownEvent> Create(TqOPCServer* server);

  /// Posts CM_OPCSHUTDOWN (wParam 0, lParam 0) to the component's hidden
  /// window and returns S_OK; the reason is not carried. Callable from any
  /// thread. After Detach it does nothing.
  HRESULT ShutdownRequest(LPCWSTR szReason) override;

  /// Unadvises (while advised and the component holds its server) and
  /// forgets the component, so that a server keeping the callback can no
  /// longer reach a component that has moved on. The component calls it as
  /// it lets go of the callback.
  void Detach();

  /// The component served; null after Detach.
  TqOPCServer* Server() const { return server_.load(std::memory_order_acquire); }
  DWORD Cookie() const { return cookie_; }
  HRESULT AdviseResult() const { return adviseResult_; }

  /// Not advised, serving nothing; use Create.
  TqOPCShutdownEvent() = default;

 private:
  /// Unadvises as Detach does, when still attached.
  ~TqOPCShutdownEvent() override;
  void unadvise();

  std::atomic<TqOPCServer*> server_{nullptr};
  DWORD cookie_ = 0;
  HRESULT adviseResult_ = E_FAIL;
};
