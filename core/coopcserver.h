// Creation of OPC server objects on the local or a named computer, and the
// process's security initialisation.
#pragma once

#include <QString>

#include "opc/OPCDA.h"

class CoOPCServer {
 public:
  /// Creates the server object of class clsid. A computer name that is empty
  /// when trimmed creates it on this computer; any other name (passed
  /// untrimmed) creates it there. The object is asked for IOPCServer.
  /// Failures raise EOleSysError with the code and the system's text. The
  /// result is the caller's reference; it is empty only when the server
  /// reported success without handing out an object.
  static ComPtr<IOPCServer> Create(const CLSID& clsid, const QString& computer);
  /// Creates the server object reached by a URL through the factory
  /// registered for its scheme (opc/endpointclasses.h), anonymously and with
  /// the scheme's default security; failures raise EOleSysError as above.
  static ComPtr<IOPCServer> CreateForEndpoint(const QString& url);
  /// The class id the server list of `computer` (not empty when trimmed)
  /// gives for progId: a server may be registered only there. False when
  /// the computer cannot be reached or does not know the name.
  static bool ResolveOnComputer(const QString& progId, const QString& computer, CLSID& clsid);
};

/// Initialises the process's COM security once: no security descriptor,
/// automatic authentication services, authentication level none,
/// impersonation, no capabilities. Returns the result unchanged; a second
/// call reports RPC_E_TOO_LATE. The library never calls it itself; an
/// application calls it at start-up (_STR_NODCOM is the text for a failure).
HRESULT qOPCInitSecurity();
