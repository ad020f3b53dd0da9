// TqOPCShutdownEvent: the server component's shutdown callback. The server
// calls ShutdownRequest when it wants its clients gone; the callback posts
// CM_OPCSHUTDOWN to the component's hidden window and returns, and the
// component then tells the application and disconnects on its own thread.
//
// Threads: the callback belongs to the thread that created it (the
// component's). A request arriving on any other thread touches nothing of
// the component there: it is handed to the component's thread through the
// apartment, where it runs as if made there.
#pragma once

#include <QString>
#include <atomic>
#include <memory>

#include "messages.h"
#include "opc/OPCCOMN.h"
#include "opc/apartment.h"

class TqOPCServer;

class TqOPCShutdownEvent final : public opc::ComObject<IOPCShutdown> {
 public:
  /// A callback for server's current connection, advised on the server's
  /// IOPCServer through its shutdown connection point. A server without one
  /// leaves AdviseResult at E_FAIL; that is not an error. The reference
  /// returned is the caller's.
  static ComPtr<TqOPCShutdownEvent> Create(TqOPCServer* server);

  /// Posts CM_OPCSHUTDOWN (wParam the connection it was advised for, lParam
  /// 0) to the component's hidden window and returns S_OK; the reason goes
  /// to the component's serverShutdown signal and log (OnServerShutdown
  /// keeps its empty text). Callable from any thread; from another thread than the
  /// component's the post is made on the component's thread. After Detach
  /// it does nothing.
  HRESULT ShutdownRequest(LPCWSTR szReason) override;

  /// Unadvises (while advised and the component holds its server) and
  /// forgets the component, so that a server keeping the callback can no
  /// longer reach a component that has moved on. The component calls it as
  /// it lets go of the callback, on its own thread.
  void Detach();

  /// The component served; null after Detach.
  TqOPCServer* Server() const { return server_.load(std::memory_order_acquire); }
  DWORD Cookie() const { return cookie_; }
  HRESULT AdviseResult() const { return adviseResult_; }
  /// The component's connection the callback was advised for.
  WPARAM Connection() const { return connection_; }

  /// Not advised, serving nothing; use Create.
  TqOPCShutdownEvent();

 private:
  /// Unadvises as Detach does, when still attached.
  ~TqOPCShutdownEvent() override;
  void unadvise();
  /// The post itself, on the component's thread.
  void notify(const QString& reason);
  bool onOwnThread() const { return !apartment_ || apartment_->isCurrentThread(); }

  std::atomic<TqOPCServer*> server_{nullptr};
  DWORD cookie_ = 0;
  HRESULT adviseResult_ = E_FAIL;
  WPARAM connection_ = 0;
  std::shared_ptr<opc::Apartment> apartment_;  // the owning thread's
};
