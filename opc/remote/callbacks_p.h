// Internal to the remote transport; not API.
//
// The callbacks of a group across the wire, both ends.
//
// Client: the client's IOPCDataCallback and IAdviseSink served as
// capabilities. A call arrives on the RPC thread, is handed to the sink's
// apartment (the one current when the client advised) with its arguments
// owned, and is answered only once the sink has run there, so the host
// learns how fast the component really takes its calls.
//
// Host: IOPCDataCallback and IAdviseSink handed to the server, implemented
// over the client's capabilities. Each keeps at most kCallsInFlight calls
// unanswered and queues the rest in a CallbackQueue (latest value per item,
// completions kept, order kept), so a busy component bounds what waits on
// both sides. They never block: the server's call returns at once.
#pragma once

#include <cstddef>
#include <memory>

#include "opc/OPCDA.h"
#include "opc/apartment.h"
#include "opc/opcexport.h"
#include "opc/remote/remote.capnp.h"

namespace opc::remote {

class HostConnection;

/// Calls a host keeps unanswered per client sink.
inline constexpr int kCallsInFlight = 2;

// ---- client side -----------------------------------------------------------

/// Serves `sink` on the RPC thread; calls reach it through `apartment`
/// (directly on the RPC thread when null). Call on the RPC thread.
wire::DataCallback::Client makeDataCallbackServer(ComPtr<IOPCDataCallback> sink,
                                                  std::shared_ptr<Apartment> apartment);
wire::AdviseSink::Client makeAdviseSinkServer(ComPtr<IAdviseSink> sink,
                                              std::shared_ptr<Apartment> apartment);

// ---- host side ---------------------------------------------------------------

/// The client's data callback as the server sees it. Call on the thread of
/// the client's connection.
ComPtr<IOPCDataCallback> makeDataCallbackProxy(const std::shared_ptr<HostConnection>& connection,
                                               wire::DataCallback::Client client);
ComPtr<IAdviseSink> makeAdviseSinkProxy(const std::shared_ptr<HostConnection>& connection,
                                        wire::AdviseSink::Client client);

}  // namespace opc::remote
