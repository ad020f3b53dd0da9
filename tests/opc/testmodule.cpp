// A small in-process server module for the module-loading tests.
#include "testmodule.h"

#include "opc/classregistry.h"
#include "opc/inprocmodule.h"

extern "C" VEZE6_MODULE_EXPORT HRESULT Veze6GetClassObject(REFCLSID rclsid, REFIID riid,
                                                           void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  ComPtr<IClassFactory> factory;
  if (rclsid == opc::test::kModuleCommon) {
    factory = opc::makeClassFactory([](REFIID iid, void** out) {
      return opc::makeCom<opc::test::CommonObject>(1033)->QueryInterface(iid, out);
    });
  } else if (rclsid == opc::test::kModuleFactoryFails) {
    factory = opc::makeClassFactory([](REFIID, void**) { return E_OUTOFMEMORY; });
  } else {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return factory->QueryInterface(riid, ppv);
}

extern "C" VEZE6_MODULE_EXPORT void* veze6TestModuleRegistry() {
  return &opc::ClassRegistry::instance();
}
