// The host's stubs of enumerators: strings, GUIDs, objects (groups) and
// connection points.
#pragma once

#include <memory>

#include "opc/remote/remote.capnp.h"
#include "opc/unknown.h"

namespace opc::remote {

class HostConnection;

/// The thread of the client's connection only; null for a kind that is no enumerator of these.
wire::Unknown::Client makeEnumStub(const std::shared_ptr<HostConnection>& connection,
                                   const ComPtr<IUnknown>& object, wire::Kind kind);

}  // namespace opc::remote
