// The host's stub of a server object.
#pragma once

#include <functional>
#include <memory>

#include "opc/remote/remote.capnp.h"
#include "opc/unknown.h"

namespace opc::remote {

class HostConnection;

/// The thread of the client's connection only.
wire::Unknown::Client makeServerStub(const std::shared_ptr<HostConnection>& connection,
                                     const ComPtr<IUnknown>& object,
                                     std::function<void()> onRelease);

}  // namespace opc::remote
