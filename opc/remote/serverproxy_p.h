// The client's proxy of a server object.
#pragma once

#include <memory>

#include "opc/remote/remote.capnp.h"
#include "opc/unknown.h"

namespace opc::remote {

class Session;

/// RPC thread only.
HRESULT makeServerProxy(const std::shared_ptr<Session>& session, wire::ObjectRef::Reader ref,
                        REFIID iid, void** ppv);

}  // namespace opc::remote
