// The shutdown callback across the connection: on the client the capability
// the host calls, handing each request to the sink's apartment; on the host
// the IOPCShutdown a server calls, which sends the request and never waits.
#pragma once

#include <memory>

#include "opc/OPCCOMN.h"
#include "opc/remote/remote.capnp.h"
#include "opc/sinklist.h"

namespace opc::remote {

/// Client, RPC thread: requests reach connection's sink by the apartment
/// rule; each is answered once the sink has run (or the advise has gone).
wire::Shutdown::Client makeShutdownServer(std::shared_ptr<Connection> connection);

/// Host: callable from any thread.
ComPtr<IOPCShutdown> makeShutdownProxy(wire::Shutdown::Client callback);

/// Client: hands reason to the sink by the apartment rule, and runs `done`
/// on the RPC thread once it ran there (or the advise has gone).
void deliverShutdown(const std::shared_ptr<Connection>& connection, std::u16string reason,
                     std::function<void()> done = nullptr);

}  // namespace opc::remote
