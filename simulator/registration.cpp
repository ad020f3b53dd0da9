#include "registration.h"

#include "opc/OPCDA.h"
#include "opc/classregistry.h"
#include "simulationserver.h"

namespace veze6::sim {

namespace {

opc::ClassEntry entryFor(REFCLSID clsid, std::u16string_view progId, std::u16string_view userType,
                         bool da10Only) {
  opc::ClassEntry e;
  e.clsid = clsid;
  e.progId = progId;
  e.userType = userType;
  e.categories = da10Only ? std::vector<CATID>{CATID_OPCDAServer10}
                          : std::vector<CATID>{CATID_OPCDAServer10, CATID_OPCDAServer20};
  e.opcMarker = true;
  e.create = [da10Only](REFIID riid, void** ppv) -> HRESULT {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    SimulationOptions options;
    options.da10Only = da10Only;
    const ComPtr<IOPCServer> server = createSimulationServer(options);
    return server->QueryInterface(riid, ppv);
  };
  return e;
}

}  // namespace

void registerSimulationServer() {
  auto& registry = opc::ClassRegistry::instance();
  if (!registry.find(CLSID_Veze6Simulation)) {
    registry.registerClass(
        entryFor(CLSID_Veze6Simulation, kSimulationProgId, kSimulationUserType, false));
  }
  if (!registry.find(CLSID_Veze6SimulationDA10)) {
    registry.registerClass(
        entryFor(CLSID_Veze6SimulationDA10, kSimulationDA10ProgId, kSimulationDA10UserType, true));
  }
}

void unregisterSimulationServer() {
  auto& registry = opc::ClassRegistry::instance();
  registry.unregisterClass(CLSID_Veze6Simulation);
  registry.unregisterClass(CLSID_Veze6SimulationDA10);
}

}  // namespace veze6::sim
