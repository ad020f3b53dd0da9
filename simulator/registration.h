// Registration of the simulation server in the process's class registry, so
// that clients create it by ProgID or class id like any OPC server.
#pragma once

#include <string_view>

#include "opc/comtypes.h"

namespace veze6::sim {

/// The DA 1.0/2.0 simulation server.
/// {6DC45BF5-BEA8-441B-A0C1-C0F82FF66FDE}
inline constexpr CLSID CLSID_Veze6Simulation{
    0x6DC45BF5, 0xBEA8, 0x441B, {0xA0, 0xC1, 0xC0, 0xF8, 0x2F, 0xF6, 0x6F, 0xDE}};
/// The same server presenting itself as DA 1.0 only.
/// {294D6CA6-53C3-4870-96CA-613BF8B88852}
inline constexpr CLSID CLSID_Veze6SimulationDA10{
    0x294D6CA6, 0x53C3, 0x4870, {0x96, 0xCA, 0x61, 0x3B, 0xF8, 0xB8, 0x88, 0x52}};

inline constexpr std::u16string_view kSimulationProgId = u"Veze6.Simulation.1";
inline constexpr std::u16string_view kSimulationDA10ProgId = u"Veze6.Simulation.DA10.1";
inline constexpr std::u16string_view kSimulationUserType = u"Veze6 OPC DA Simulation Server";
inline constexpr std::u16string_view kSimulationDA10UserType =
    u"Veze6 OPC DA Simulation Server (DA 1.0)";

/// Registers both classes (DA 1.0/2.0 with the categories of both versions,
/// DA 1.0-only with the DA 1.0 category), each with the "OPC" marker.
/// Idempotent: classes already registered are left as they are.
void registerSimulationServer();
/// Removes both classes from the class registry.
void unregisterSimulationServer();

}  // namespace veze6::sim
