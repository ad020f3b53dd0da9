// The entry point of the simulation server module.
#include "simmodule.h"

#include "opc/inprocmodule.h"
#include "simulationserver.h"

extern "C" VEZE6_MODULE_EXPORT HRESULT Veze6GetClassObject(REFCLSID rclsid, REFIID riid,
                                                           void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != veze6::sim::CLSID_Veze6SimulationModule) return CLASS_E_CLASSNOTAVAILABLE;
  const ComPtr<IClassFactory> factory = opc::makeClassFactory([](REFIID iid, void** out) {
    const ComPtr<IOPCServer> server = veze6::sim::createSimulationServer();
    return server->QueryInterface(iid, out);
  });
  return factory->QueryInterface(riid, ppv);
}
