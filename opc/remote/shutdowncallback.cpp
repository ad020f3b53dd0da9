#include <kj/async.h>

#include "opc/remote/marshal_p.h"
#include "opc/remote/remoteruntime.h"
#include "opc/remote/shutdowncallback_p.h"

namespace opc::remote {

namespace {

/// Runs its task on the RPC thread when the last copy goes: whether the
/// delivery ran or was dropped, the host gets its answer.
class OnRpcThreadWhenDone {
 public:
  explicit OnRpcThreadWhenDone(std::function<void()> task) : task_(std::move(task)) {}
  ~OnRpcThreadWhenDone() {
    if (task_) RemoteRuntime::instance().post(std::move(task_));
  }
  OnRpcThreadWhenDone(const OnRpcThreadWhenDone&) = delete;
  OnRpcThreadWhenDone& operator=(const OnRpcThreadWhenDone&) = delete;

 private:
  std::function<void()> task_;
};

class ShutdownServer final : public wire::Shutdown::Server {
 public:
  explicit ShutdownServer(std::shared_ptr<Connection> connection)
      : connection_(std::move(connection)) {}

 protected:
  kj::Promise<void> shutdownRequest(ShutdownRequestContext context) override {
    const auto p = context.getParams();
    std::u16string reason;
    if (p.hasReason() && !readWide(p.getReason(), reason)) return kj::READY_NOW;
    auto paf = kj::newPromiseAndFulfiller<void>();
    auto fulfiller = std::make_shared<kj::Own<kj::PromiseFulfiller<void>>>(kj::mv(paf.fulfiller));
    deliverShutdown(connection_, std::move(reason), [fulfiller] { (*fulfiller)->fulfill(); });
    return kj::mv(paf.promise);
  }

 private:
  std::shared_ptr<Connection> connection_;
};

class ShutdownProxy final : public ComObject<IOPCShutdown> {
 public:
  explicit ShutdownProxy(wire::Shutdown::Client callback)
      : callback_(makeRpcOwned<wire::Shutdown::Client>(kj::mv(callback))) {}

  HRESULT ShutdownRequest(LPCWSTR szReason) override {
    // The client's capability belongs to the loop of its connection.
    RpcLoop& loop = loopOf(callback_);
    ComPtr<ShutdownProxy> self(this);
    std::u16string reason(szReason ? szReason : u"");
    auto send = [self, &loop, reason = std::move(reason)] {
      auto req = self->callback_->shutdownRequestRequest();
      req.setReason(wideData(reason));
      loop.tasks().add(req.send().ignoreResult());
    };
    if (loop.isCurrent()) {
      send();
    } else if (!loop.post(std::move(send))) {
      return RPC_E_DISCONNECTED;
    }
    return S_OK;
  }

 private:
  RpcOwned<wire::Shutdown::Client> callback_;
};

}  // namespace

void deliverShutdown(const std::shared_ptr<Connection>& connection, std::u16string reason,
                     std::function<void()> done) {
  auto guard = std::make_shared<OnRpcThreadWhenDone>(std::move(done));
  // The call holds the connection: a delivery whose sender let go of it
  // still reaches the sink.
  deliver(connection, [guard, connection, reason = std::move(reason)](IUnknown* sink) {
    static_cast<IOPCShutdown*>(sink)->ShutdownRequest(reason.c_str());
  });
}

wire::Shutdown::Client makeShutdownServer(std::shared_ptr<Connection> connection) {
  return kj::heap<ShutdownServer>(std::move(connection));
}

ComPtr<IOPCShutdown> makeShutdownProxy(wire::Shutdown::Client callback) {
  return makeCom<ShutdownProxy>(kj::mv(callback));
}

}  // namespace opc::remote
