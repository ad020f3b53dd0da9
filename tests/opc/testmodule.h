// The classes of the test server module (testmodule.cpp), shared between the
// module and the tests that load it.
#pragma once

#include "opc/comtypes.h"

namespace opc::test {

/// Served: an object answering IOPCCommon.
inline constexpr CLSID kModuleCommon{0x5EED0300, 0, 0, {0x7E, 0x57, 0, 0, 0, 0, 0, 1}};
/// Known to the module, but its factory fails with E_OUTOFMEMORY.
inline constexpr CLSID kModuleFactoryFails{0x5EED0301, 0, 0, {0x7E, 0x57, 0, 0, 0, 0, 0, 1}};
/// Not served: the entry point answers CLASS_E_CLASSNOTAVAILABLE.
inline constexpr CLSID kModuleNotServed{0x5EED0302, 0, 0, {0x7E, 0x57, 0, 0, 0, 0, 0, 1}};

/// Exported by the module: the address of the class registry it sees.
inline constexpr const char* kModuleRegistryProbe = "veze6TestModuleRegistry";

}  // namespace opc::test
