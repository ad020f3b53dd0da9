#include <kj/debug.h>

#include "opc/remote/shutdowncallback_p.h"
#include "opc/remote/stubbase_p.h"

namespace opc::remote {

namespace {

class ConnectionPointStub final : public wire::ConnectionPoint::Server, private StubBase {
 public:
  ConnectionPointStub(std::shared_ptr<HostConnection> connection, ComPtr<IConnectionPoint> point)
      : StubBase(std::move(connection), nullptr), point_(std::move(point)) {}

 protected:
  kj::Promise<void> queryInterface(QueryInterfaceContext context) override {
    return answer(context, E_NOINTERFACE);
  }

  kj::Promise<void> getConnectionInterface(GetConnectionInterfaceContext context) override {
    IID iid{};
    const HRESULT hr = point_->GetConnectionInterface(&iid);
    auto r = context.getResults();
    r.setHr(hr);
    setGuid(r.initIid(), iid);
    return kj::READY_NOW;
  }

  kj::Promise<void> getConnectionPointContainer(
      GetConnectionPointContainerContext context) override {
    ComPtr<IConnectionPointContainer> container;
    const HRESULT hr = point_->GetConnectionPointContainer(container.put());
    // The container is a server object or a group.
    const auto kind =
        container && container.as<IOPCServer>() ? wire::Kind::SERVER : wire::Kind::GROUP;
    return answerObject(context, hr, container, kind, [](auto r) { return r.initContainer(); });
  }

  kj::Promise<void> advise(AdviseContext context) override {
    const auto sink = context.getParams().getSink();
    ComPtr<IUnknown> local;
    switch (sink.which()) {
      case wire::Sink::DATA_CALLBACK:
        local = makeDataCallbackProxy(connection(), sink.getDataCallback());
        break;
      case wire::Sink::SHUTDOWN:
        local = makeShutdownProxy(sink.getShutdown());
        break;
      default:
        break;
    }
    if (!local) return answer(context, CONNECT_E_CANNOTCONNECT);
    DWORD cookie = 0;
    const HRESULT hr = point_->Advise(local.get(), &cookie);
    auto r = context.getResults();
    r.setHr(hr);
    r.setCookie(cookie);
    return kj::READY_NOW;
  }

  kj::Promise<void> unadvise(UnadviseContext context) override {
    return answer(context, point_->Unadvise(context.getParams().getCookie()));
  }

 private:
  ComPtr<IConnectionPoint> point_;
};

}  // namespace

wire::Unknown::Client makeConnectionPointStub(const std::shared_ptr<HostConnection>& connection,
                                              const ComPtr<IUnknown>& object) {
  auto point = object.as<IConnectionPoint>();
  if (!point) return wire::Unknown::Client(KJ_EXCEPTION(FAILED, "not a connection point"));
  return kj::heap<ConnectionPointStub>(connection, std::move(point));
}

}  // namespace opc::remote
