#include "opc/remote/remoteproxy_p.h"
#include "opc/remote/shutdowncallback_p.h"

namespace opc::remote {

namespace {

class ConnectionPointProxy final : public RemoteProxy<wire::ConnectionPoint, IConnectionPoint> {
 public:
  using RemoteProxy::RemoteProxy;

  HRESULT GetConnectionInterface(IID* pIID) override {
    if (!pIID) return E_POINTER;
    IID iid{};
    const HRESULT hr = connectionInterface(iid);
    if (SUCCEEDED(hr)) *pIID = iid;
    return hr;
  }

  HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override {
    if (!ppCPC) return E_POINTER;
    *ppCPC = nullptr;
    return call([&]() {
      return cap().getConnectionPointContainerRequest().send().then(
          [&](auto&& r) { return objectOut(r.getHr(), r.getContainer(), ppCPC); });
    });
  }

  HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override {
    if (!pUnkSink || !pdwCookie) return E_POINTER;
    *pdwCookie = 0;
    IID iid{};
    HRESULT hr = connectionInterface(iid);
    if (FAILED(hr)) return hr;
    // The sink is called on the apartment advising it, as in process.
    auto connection = std::make_shared<Connection>();
    connection->apartment = Apartment::current();
    ComPtr<IOPCDataCallback> dataCallback;
    if (iid == IID_IOPCShutdown) {
      const auto shutdown = ComPtr<IUnknown>(pUnkSink).as<IOPCShutdown>();
      if (!shutdown) return CONNECT_E_CANNOTCONNECT;
      connection->sink = shutdown;
    } else if (iid == IID_IOPCDataCallback) {
      dataCallback = ComPtr<IUnknown>(pUnkSink).as<IOPCDataCallback>();
      if (!dataCallback) return CONNECT_E_CANNOTCONNECT;
    } else {
      return CONNECT_E_CANNOTCONNECT;
    }
    DWORD cookie = 0;
    hr = call([&]() {
      auto req = cap().adviseRequest();
      if (connection->sink) {
        req.initSink().setShutdown(makeShutdownServer(connection));
      } else {
        req.initSink().setDataCallback(makeDataCallbackServer(dataCallback, connection->apartment));
      }
      return req.send().then([&](auto&& r) -> HRESULT {
        cookie = r.getCookie();
        return r.getHr();
      });
    });
    if (FAILED(hr)) return hr;
    *pdwCookie = cookie;
    if (connection->sink) {
      // A lost connection reaches the sink as the host's own shutdown would.
      session()->setLossListener(cookie, [connection, reason = session()->lossText()] {
        deliverShutdown(connection, reason);
      });
    }
    return hr;
  }

  HRESULT Unadvise(DWORD dwCookie) override {
    IID iid{};
    if (SUCCEEDED(connectionInterface(iid)) && iid == IID_IOPCShutdown) {
      session()->removeLossListener(dwCookie);
    }
    return call([&]() {
      auto req = cap().unadviseRequest();
      req.setCookie(dwCookie);
      return req.send().then(AnswerCode{});
    });
  }

  HRESULT EnumConnections(IEnumConnections** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
  }

 private:
  /// The point's interface, asked once.
  HRESULT connectionInterface(IID& iid) {
    {
      std::lock_guard lock(mutex_);
      if (known_) {
        iid = iid_;
        return S_OK;
      }
    }
    IID asked{};
    const HRESULT hr = call([&]() {
      return cap().getConnectionInterfaceRequest().send().then([&](auto&& r) -> HRESULT {
        asked = guidFrom(r.getIid());
        return r.getHr();
      });
    });
    if (FAILED(hr)) return hr;
    std::lock_guard lock(mutex_);
    iid_ = iid = asked;
    known_ = true;
    return S_OK;
  }

  std::mutex mutex_;
  bool known_ = false;  // guarded by mutex_
  IID iid_{};           // guarded by mutex_
};

}  // namespace

HRESULT makeConnectionPointProxy(const std::shared_ptr<Session>& session,
                                 wire::ObjectRef::Reader ref, REFIID iid, void** ppv) {
  return makeCom<ConnectionPointProxy>(session, ref)->QueryInterface(iid, ppv);
}

}  // namespace opc::remote
