// The client's proxy of a connection point. A shutdown sink advised through
// it also hears of the connection's loss, as a shutdown request.
#pragma once

#include <memory>

#include "opc/remote/remote.capnp.h"
#include "opc/unknown.h"

namespace opc::remote {

class Session;

/// RPC thread only.
HRESULT makeConnectionPointProxy(const std::shared_ptr<Session>& session,
                                 wire::ObjectRef::Reader ref, REFIID iid, void** ppv);

}  // namespace opc::remote
