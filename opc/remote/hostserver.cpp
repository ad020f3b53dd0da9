#include "opc/classregistry.h"
#include "opc/guid.h"
#include "opc/remote/host.h"
#include "opc/remote/hostconnection_p.h"
#include "opc/remote/hostserver_p.h"
#include "opc/remote/marshal_p.h"
#include "opc/remote/objectref_p.h"
#include "opc/servererrors.h"

namespace opc::remote {

namespace {

std::string className(REFCLSID clsid) {
  if (const auto entry = ClassRegistry::instance().find(clsid); entry && !entry->progId.empty()) {
    return utf16ToUtf8(entry->progId);
  }
  OLECHAR text[40] = {};
  StringFromGUID2(clsid, text, 40);
  return utf16ToUtf8(text);
}

std::string hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

class HostServer final : public wire::Host::Server {
 public:
  explicit HostServer(std::shared_ptr<HostConnection> connection)
      : connection_(std::move(connection)) {}

 protected:
  kj::Promise<void> createInstance(CreateInstanceContext context) override {
    const auto p = context.getParams();
    const CLSID clsid = guidFrom(p.getClsid());
    const auto iids = p.getIids();
    auto r = context.getResults();
    auto results = r.initResults(iids.size());
    const std::string name = className(clsid);

    ComPtr<IUnknown> object;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                  IID_IUnknown, object.putVoid());
    if (FAILED(hr)) {
      connection_->log("create " + name + " failed (" + hex(hr) + ")");
      for (capnp::uint i = 0; i < iids.size(); ++i) results.set(i, hr);
      r.setHr(hr);
      return kj::READY_NOW;
    }
    capnp::uint found = 0;
    for (capnp::uint i = 0; i < iids.size(); ++i) {
      ComPtr<IUnknown> probe;
      const HRESULT qi = object->QueryInterface(guidFrom(iids[i]), probe.putVoid());
      const HRESULT result = SUCCEEDED(qi) && probe ? S_OK : (FAILED(qi) ? qi : E_NOINTERFACE);
      results.set(i, result);
      if (SUCCEEDED(result)) ++found;
    }
    hr = found == iids.size() ? S_OK : found ? CO_S_NOTALLINTERFACES : E_NOINTERFACE;
    r.setHr(hr);
    if (FAILED(hr)) return kj::READY_NOW;
    const auto kind = clsid == CLSID_OPCServerList ? wire::Kind::SERVER_LIST : wire::Kind::SERVER;
    connection_->log("created " + name);
    refFromObject(connection_, object, kind, r.initObject(),
                  [connection = connection_, name] { connection->log("released " + name); });
    return kj::READY_NOW;
  }

  kj::Promise<void> hostName(HostNameContext context) override {
    context.getResults().setName(Host::computerName());
    return kj::READY_NOW;
  }

 private:
  std::shared_ptr<HostConnection> connection_;
};

}  // namespace

wire::Host::Client makeHostServer(std::shared_ptr<HostConnection> connection) {
  return kj::heap<HostServer>(std::move(connection));
}

}  // namespace opc::remote
