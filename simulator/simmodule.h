// The simulation server as an in-process server module (target
// veze6simmodule): its class, served through the module entry point, and
// named by the registration file the build writes to
// servers.d/veze6-simulation-module.conf in the build folder.
#pragma once

#include <string_view>

#include "opc/comtypes.h"

namespace veze6::sim {

/// {E2A8F5C1-4B7D-4C2E-9A36-8D1F0B5C7E94}; distinct from the classes the
/// simulator registers by code, so both can live in one process.
inline constexpr CLSID CLSID_Veze6SimulationModule{
    0xE2A8F5C1, 0x4B7D, 0x4C2E, {0x9A, 0x36, 0x8D, 0x1F, 0x0B, 0x5C, 0x7E, 0x94}};
inline constexpr std::u16string_view kSimulationModuleProgId = u"Veze6.SimulationModule.1";
inline constexpr std::u16string_view kSimulationModuleUserType =
    u"Veze6 OPC DA Simulation Server (module)";

}  // namespace veze6::sim
