// Registration of the bridge: servers named by an opc.tcp URL (a server
// name, or the Endpoint of a registration-file section) are created as
// bridge server objects connected to that OPC UA server.
#pragma once

#include "opc/endpointclasses.h"

namespace veze6::uab {

/// Registers the factory of the "opc.tcp" scheme (opc/endpointclasses.h).
/// Idempotent.
void registerUaBridge();
void unregisterUaBridge();

/// The factory: connects to the endpoint with the settings' security (a
/// policy without a mode gets SignAndEncrypt; nothing at all: None, and a
/// server that offers only secured endpoints is a fault that says so) and
/// user (the password is the first line of the password file), then makes
/// the server object and queries it for riid. A failure to connect is
/// reported through opc::warn with the reason, and answered with
/// HRESULT_RPC_S_SERVER_UNAVAILABLE (server not reached), E_ACCESSDENIED
/// (security or user refused), E_INVALIDARG (settings that make no sense)
/// or E_FAIL.
HRESULT createUaServer(const opc::EndpointSettings& settings, REFIID riid, void** ppv);

}  // namespace veze6::uab
