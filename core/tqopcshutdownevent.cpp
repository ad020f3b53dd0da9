#include "tqopcshutdownevent.h"

#include "connectionpoints.h"
#include "tqopcserver.h"

ComPtr<TqOPCShutdownEvent> TqOPCShutdownEvent::Create(TqOPCServer* server) {
  // Advised only once the first reference is held: a server that takes and
  // drops a reference during Advise must not destroy a half-made object.
  ComPtr<TqOPCShutdownEvent> event = opc::makeCom<TqOPCShutdownEvent>();
  event->server_.store(server, std::memory_order_release);
  event->connection_ = server->connection_;
  event->adviseResult_ = E_FAIL;
  const ComPtr<IOPCServer> opcServer = server->GetOPCServer();
  DWORD cookie = 0;
  event->adviseResult_ = AdviseConnectionPoint(opcServer.get(), IID_IOPCShutdown,
                                               static_cast<IOPCShutdown*>(event.get()), cookie);
  event->cookie_ = cookie;
  return event;
}

TqOPCShutdownEvent::TqOPCShutdownEvent() : apartment_(opc::Apartment::current()) {}

HRESULT TqOPCShutdownEvent::ShutdownRequest(LPCWSTR szReason) {
  const QString reason = szReason ? QString::fromUtf16(szReason) : QString();
  if (onOwnThread()) {
    notify(reason);
  } else {
    // The component may be busy or going away on its own thread; the
    // request waits there, and finds it detached if it has gone.
    ComPtr<TqOPCShutdownEvent> self(this);
    apartment_->post([self, reason] { self->notify(reason); });
  }
  return S_OK;
}

void TqOPCShutdownEvent::notify(const QString& reason) {
  if (TqOPCServer* server = Server()) {
    server->shutdownReason_ = reason;
    PostMessage(server->GetHandle(), CM_OPCSHUTDOWN, connection_, 0);
  }
}

void TqOPCShutdownEvent::unadvise() {
  TqOPCServer* server = Server();
  if (adviseResult_ != S_OK || !server) return;
  // The server as the component holds it now; none held, nothing called.
  if (IOPCServer* opcServer = server->server_.get())
    UnadviseConnectionPoint(opcServer, IID_IOPCShutdown, cookie_);
}

void TqOPCShutdownEvent::Detach() {
  unadvise();
  adviseResult_ = E_FAIL;
  server_.store(nullptr, std::memory_order_release);
}

TqOPCShutdownEvent::~TqOPCShutdownEvent() { unadvise(); }
