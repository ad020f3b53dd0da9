#include <kj/debug.h>

#include "opc/remote/remoteproxy_p.h"
#include "opc/remote/stubbase_p.h"

namespace opc::remote {

namespace {

class ServerListProxy final : public RemoteProxy<wire::ServerList, IOPCServerList> {
 public:
  using RemoteProxy::RemoteProxy;

  HRESULT EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired,
                                  CATID rgcatidReq[], IEnumGUID** ppenumClsid) override {
    if (!ppenumClsid) return E_POINTER;
    *ppenumClsid = nullptr;
    if ((cImplemented && !rgcatidImpl) || (cRequired && !rgcatidReq)) return E_INVALIDARG;
    return call([&]() {
      auto req = cap().enumClassesOfCategoriesRequest();
      auto implemented = req.initImplemented(cImplemented);
      for (ULONG i = 0; i < cImplemented; ++i) setGuid(implemented[i], rgcatidImpl[i]);
      auto required = req.initRequired(cRequired);
      for (ULONG i = 0; i < cRequired; ++i) setGuid(required[i], rgcatidReq[i]);
      return req.send().then(
          [&](auto&& r) { return objectOut(r.getHr(), r.getEnumerator(), ppenumClsid); });
    });
  }

  HRESULT GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType) override {
    if (!ppszProgID || !ppszUserType) return E_POINTER;
    *ppszProgID = nullptr;
    *ppszUserType = nullptr;
    const CLSID id = clsid;
    return call([&]() {
      auto req = cap().getClassDetailsRequest();
      setGuid(req.initClsid(), id);
      return req.send().then([&](auto&& r) -> HRESULT {
        const HRESULT hr = r.getHr();
        if (FAILED(hr)) return hr;
        TaskString progId, userType;
        if (!taskWide(r.hasProgId(), r.getProgId(), progId.put()) ||
            !taskWide(r.hasUserType(), r.getUserType(), userType.put())) {
          return RPC_E_INVALID_DATA;
        }
        *ppszProgID = progId.release();
        *ppszUserType = userType.release();
        return hr;
      });
    });
  }

  HRESULT CLSIDFromProgID(LPCOLESTR szProgId, CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    return call([&]() {
      auto req = cap().clsidFromProgIdRequest();
      if (szProgId) req.setProgId(wideData(szProgId));
      return req.send().then([&](auto&& r) -> HRESULT {
        if (SUCCEEDED(r.getHr())) *clsid = guidFrom(r.getClsid());
        return r.getHr();
      });
    });
  }
};

class ServerListStub final : public wire::ServerList::Server, private StubBase {
 public:
  ServerListStub(std::shared_ptr<HostConnection> connection, ComPtr<IOPCServerList> list,
                 std::function<void()> onRelease)
      : StubBase(std::move(connection), std::move(onRelease)), list_(std::move(list)) {}

 protected:
  kj::Promise<void> queryInterface(QueryInterfaceContext context) override {
    return answer(context, E_NOINTERFACE);
  }

  kj::Promise<void> enumClassesOfCategories(EnumClassesOfCategoriesContext context) override {
    const auto p = context.getParams();
    std::vector<CATID> implemented, required;
    for (const auto g : p.getImplemented()) implemented.push_back(guidFrom(g));
    for (const auto g : p.getRequired()) required.push_back(guidFrom(g));
    ComPtr<IEnumGUID> classes;
    const HRESULT hr = list_->EnumClassesOfCategories(
        static_cast<ULONG>(implemented.size()), implemented.data(),
        static_cast<ULONG>(required.size()), required.data(), classes.put());
    return answerObject(context, hr, classes, wire::Kind::ENUM_GUID,
                        [](auto r) { return r.initEnumerator(); });
  }

  kj::Promise<void> getClassDetails(GetClassDetailsContext context) override {
    TaskString progId, userType;
    const HRESULT hr = list_->GetClassDetails(guidFrom(context.getParams().getClsid()),
                                              progId.put(), userType.put());
    auto r = context.getResults();
    r.setHr(hr);
    if (SUCCEEDED(hr)) {
      if (progId) r.setProgId(wideData(progId.get()));
      if (userType) r.setUserType(wideData(userType.get()));
    }
    return kj::READY_NOW;
  }

  kj::Promise<void> clsidFromProgId(ClsidFromProgIdContext context) override {
    const auto p = context.getParams();
    WideArg progId;
    if (!progId.read(p.hasProgId(), p.getProgId())) return answer(context, E_INVALIDARG);
    CLSID clsid{};
    const HRESULT hr = list_->CLSIDFromProgID(progId.get(), &clsid);
    auto r = context.getResults();
    r.setHr(hr);
    setGuid(r.initClsid(), clsid);
    return kj::READY_NOW;
  }

 private:
  ComPtr<IOPCServerList> list_;
};

}  // namespace

HRESULT makeServerListProxy(const std::shared_ptr<Session>& session, wire::ObjectRef::Reader ref,
                            REFIID iid, void** ppv) {
  return makeCom<ServerListProxy>(session, ref)->QueryInterface(iid, ppv);
}

wire::Unknown::Client makeServerListStub(const std::shared_ptr<HostConnection>& connection,
                                         const ComPtr<IUnknown>& object,
                                         std::function<void()> onRelease) {
  auto list = object.as<IOPCServerList>();
  if (!list) return wire::Unknown::Client(KJ_EXCEPTION(FAILED, "not a server list"));
  return kj::heap<ServerListStub>(connection, std::move(list), std::move(onRelease));
}

}  // namespace opc::remote
