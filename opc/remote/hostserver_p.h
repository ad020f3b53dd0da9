// The bootstrap object of a host connection: creates the objects a client
// asks for and tells the host's name.
#pragma once

#include <memory>

#include "opc/remote/remote.capnp.h"

namespace opc::remote {

class HostConnection;

wire::Host::Client makeHostServer(std::shared_ptr<HostConnection> connection);

}  // namespace opc::remote
