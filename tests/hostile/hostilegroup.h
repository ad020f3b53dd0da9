// The hostile server's group: wraps a simulation server group, does to each
// call what the script says, and relays the group's callbacks to the client,
// mangled as the script says.
#pragma once

#include "opc/OPCDA.h"
#include "opc/connectionpoint.h"

namespace hostile {

/// A hostile group around `inner` (a simulation server group). Shutdown acts
/// ask the sinks of `shutdownPoint` (may be null: DA 1.0).
ComPtr<IUnknown> makeHostileGroup(ComPtr<IUnknown> inner,
                                  ComPtr<opc::ConnectionPoint> shutdownPoint,
                                  OPCHANDLE clientGroup);

/// Asks every sink of `point` to shut down, on this thread or (kForeignThread)
/// on one of the server's own.
void requestShutdown(const ComPtr<opc::ConnectionPoint>& point);

}  // namespace hostile
