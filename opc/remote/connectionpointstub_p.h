// The host's stub of a connection point.
#pragma once

#include <memory>

#include "opc/remote/remote.capnp.h"
#include "opc/unknown.h"

namespace opc::remote {

class HostConnection;

/// The thread of the client's connection only.
wire::Unknown::Client makeConnectionPointStub(const std::shared_ptr<HostConnection>& connection,
                                              const ComPtr<IUnknown>& object);

}  // namespace opc::remote
