// The classes of the test server module (testmodule.cpp), shared between the
// module and the tests that load it, and the object it serves.
#pragma once

#include "opc/OPCCOMN.h"
#include "opc/com.h"

namespace opc::test {

/// An object answering IOPCCommon (with the given locale) and IOPCShutdown
/// only.
class CommonObject final : public ComObject<IOPCCommon, IOPCShutdown> {
 public:
  explicit CommonObject(LCID locale = 0) : locale_(locale) {}

  HRESULT SetLocaleID(LCID) override { return S_OK; }
  HRESULT GetLocaleID(LCID* p) override {
    if (!p) return E_INVALIDARG;
    *p = locale_;
    return S_OK;
  }
  HRESULT QueryAvailableLocaleIDs(DWORD*, LCID**) override { return E_NOTIMPL; }
  HRESULT GetErrorString(HRESULT, LPWSTR*) override { return E_NOTIMPL; }
  HRESULT SetClientName(LPCWSTR) override { return S_OK; }
  HRESULT ShutdownRequest(LPCWSTR) override { return S_OK; }

 private:
  LCID locale_;
};

/// Served: an object answering IOPCCommon.
inline constexpr CLSID kModuleCommon{0x5EED0300, 0, 0, {0x7E, 0x57, 0, 0, 0, 0, 0, 1}};
/// Known to the module, but its factory fails with E_OUTOFMEMORY.
inline constexpr CLSID kModuleFactoryFails{0x5EED0301, 0, 0, {0x7E, 0x57, 0, 0, 0, 0, 0, 1}};
/// Not served: the entry point answers CLASS_E_CLASSNOTAVAILABLE.
inline constexpr CLSID kModuleNotServed{0x5EED0302, 0, 0, {0x7E, 0x57, 0, 0, 0, 0, 0, 1}};

/// Exported by the module: the address of the class registry it sees.
inline constexpr const char* kModuleRegistryProbe = "veze6TestModuleRegistry";

}  // namespace opc::test
