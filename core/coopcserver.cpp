#include "coopcserver.h"

#include "exceptions.h"
#include "opc/OPCCOMN.h"
#include "opc/classregistry.h"
#include "opc/endpointclasses.h"
#include "qopcconversions.h"
#include "qopclogging.h"

ComPtr<IOPCServer> CoOPCServer::Create(const CLSID& clsid, const QString& computer) {
  ComPtr<IUnknown> object;
  if (computer.trimmed().isEmpty()) {
    OleCheck(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                              IID_IUnknown, object.putVoid()));
  } else {
    opc::Bstr name = TextToWide(computer);
    COSERVERINFO info{0, name.get(), nullptr, 0};
    MULTI_QI request{&IID_IUnknown, nullptr, S_OK};
    const HRESULT hr = CoCreateInstanceEx(
        clsid, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER, &info, 1, &request);
    object = ComPtr<IUnknown>::attach(request.pItf);  // released on every path below
    OleCheck(hr);
    OleCheck(request.hr);
  }
  if (!object) {
    qCWarning(lcOpc) << "server class created no object";
    return {};
  }
  ComPtr<IOPCServer> server;
  OleCheck(object.as(server));
  return server;
}

bool CoOPCServer::ResolveOnComputer(const QString& progId, const QString& computer, CLSID& clsid) {
  opc::Bstr name = TextToWide(computer);
  COSERVERINFO info{0, name.get(), nullptr, 0};
  MULTI_QI request{&IID_IOPCServerList, nullptr, S_OK};
  const HRESULT hr = CoCreateInstanceEx(
      CLSID_OPCServerList, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER, &info, 1, &request);
  const auto list = ComPtr<IOPCServerList>::attach(static_cast<IOPCServerList*>(request.pItf));
  if (FAILED(hr) || FAILED(request.hr) || !list) return false;
  const opc::Bstr wide = TextToWide(progId);
  return SUCCEEDED(list->CLSIDFromProgID(wide.get(), &clsid));
}

ComPtr<IOPCServer> CoOPCServer::CreateForEndpoint(const QString& url) {
  opc::EndpointSettings settings;
  settings.url = url.toStdString();
  ComPtr<IOPCServer> server;
  OleCheck(opc::createEndpointObject(settings, IID_IOPCServer, server.putVoid()));
  return server;
}

HRESULT qOPCInitSecurity() {
  return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                              RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
}
