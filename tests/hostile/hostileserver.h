// A server that misbehaves on request: it wraps a simulation server and does
// to each call what the script (hostilescript.h) says. Registered by code as
// "Veze6.Hostile.1" (DA 2.0) and "Veze6.Hostile.DA10.1" (DA 1.0 only).
#pragma once

#include "opc/OPCCOMN.h"
#include "opc/OPCDA.h"
#include "opc/unknown.h"
#include "simulator/simulationcontrol.h"

namespace hostile {

/// {5B0E2C61-7A43-4F1D-9E85-3C2A9D41B7E0}
inline constexpr CLSID CLSID_Hostile{
    0x5B0E2C61, 0x7A43, 0x4F1D, {0x9E, 0x85, 0x3C, 0x2A, 0x9D, 0x41, 0xB7, 0xE0}};
/// {5B0E2C62-7A43-4F1D-9E85-3C2A9D41B7E0}
inline constexpr CLSID CLSID_HostileDA10{
    0x5B0E2C62, 0x7A43, 0x4F1D, {0x9E, 0x85, 0x3C, 0x2A, 0x9D, 0x41, 0xB7, 0xE0}};

/// Registers both classes; idempotent.
void registerHostileServer();

/// The simulation server inside a hostile one (for its values, scans and
/// shutdown requests); empty for any other object.
ComPtr<veze6::sim::SimulationControl> simulationOf(IUnknown* server);

/// {5B0E2C63-7A43-4F1D-9E85-3C2A9D41B7E0}
inline constexpr IID IID_HostileServer{
    0x5B0E2C63, 0x7A43, 0x4F1D, {0x9E, 0x85, 0x3C, 0x2A, 0x9D, 0x41, 0xB7, 0xE0}};

/// What tells a hostile server apart (this process only).
struct HostileServer : IUnknown {
  OPC_INTERFACE_IID(HostileServer)
  virtual ComPtr<veze6::sim::SimulationControl> simulation() = 0;

 protected:
  ~HostileServer() = default;
};

}  // namespace hostile
