// The client's proxy and the host's stub of the server list object, which
// enumerates the servers registered on the host's computer.
#pragma once

#include <memory>

#include "opc/remote/remote.capnp.h"
#include "opc/unknown.h"

namespace opc::remote {

class Session;
class HostConnection;

/// RPC thread only.
HRESULT makeServerListProxy(const std::shared_ptr<Session>& session, wire::ObjectRef::Reader ref,
                            REFIID iid, void** ppv);
wire::Unknown::Client makeServerListStub(const std::shared_ptr<HostConnection>& connection,
                                         const ComPtr<IUnknown>& object,
                                         std::function<void()> onRelease);

}  // namespace opc::remote
