// Objects across the connection: the client makes a proxy from the object
// reference a reply carries, the host makes the stub (the capability) for an
// object it hands out. Both dispatch on the object's kind. The group side
// and every kind's proxy and stub are reached through the entry points declared
// at the end, which the kinds' own files define.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "opc/OPCCOMN.h"
#include "opc/OPCDA.h"
#include "opc/apartment.h"
#include "opc/remote/remote.capnp.h"
#include "opc/unknown.h"

namespace opc::remote {

class Session;
class HostConnection;

/// The interfaces an object of the kind may implement (IUnknown aside).
const std::vector<IID>& kindInterfaces(wire::Kind kind);

/// The listed interfaces of a reference.
std::vector<IID> listedInterfaces(wire::ObjectRef::Reader ref);

// ---- Client side (RPC thread) ------------------------------------------------

/// The proxy for ref, queried for iid into *ppv. RPC_E_INVALID_DATA when the
/// reference carries no object, E_NOINTERFACE when iid is not listed.
HRESULT proxyFromRef(const std::shared_ptr<Session>& session, wire::ObjectRef::Reader ref,
                     REFIID iid, void** ppv);

/// The same for an optional out-parameter of a call that succeeded: the proxy
/// when the reply carries an object, RPC_E_INVALID_DATA otherwise.
template <class I>
HRESULT proxyFromRef(const std::shared_ptr<Session>& session, wire::ObjectRef::Reader ref,
                     I** out) {
  return proxyFromRef(session, ref, I::iid(), reinterpret_cast<void**>(out));
}

// ---- Host side (the thread of the client's connection) -------------------------

/// Fills ref with the stub for object (of the given kind) and the kind's
/// interfaces it implements. `onRelease` runs when the client has let the
/// stub go (the connection's log of releases). A null object leaves ref empty.
void refFromObject(const std::shared_ptr<HostConnection>& connection, ComPtr<IUnknown> object,
                   wire::Kind kind, wire::ObjectRef::Builder ref,
                   std::function<void()> onRelease = nullptr);

// ---- Entry points of every kind ---------------------------------------------------
// Each kind's files define its own; the dispatch above reaches them by kind
// only, so that a proxy or stub handing out objects of other kinds needs no
// more than this header.

/// Client: the proxy of a server object.
HRESULT makeServerProxy(const std::shared_ptr<Session>& session, wire::ObjectRef::Reader ref,
                        REFIID iid, void** ppv);
/// Host: the stub of a server object.
wire::Unknown::Client makeServerStub(const std::shared_ptr<HostConnection>& connection,
                                     const ComPtr<IUnknown>& object,
                                     std::function<void()> onRelease);
/// Client: the proxy of the server list object, which enumerates the servers
/// registered on the host's computer.
HRESULT makeServerListProxy(const std::shared_ptr<Session>& session, wire::ObjectRef::Reader ref,
                            REFIID iid, void** ppv);
/// Host: the stub of the server list object.
wire::Unknown::Client makeServerListStub(const std::shared_ptr<HostConnection>& connection,
                                         const ComPtr<IUnknown>& object,
                                         std::function<void()> onRelease);
/// Client: the proxy of a connection point. A shutdown sink advised through
/// it also hears of the connection's loss, as a shutdown request.
HRESULT makeConnectionPointProxy(const std::shared_ptr<Session>& session,
                                 wire::ObjectRef::Reader ref, REFIID iid, void** ppv);
/// Host: the stub of a connection point.
wire::Unknown::Client makeConnectionPointStub(const std::shared_ptr<HostConnection>& connection,
                                              const ComPtr<IUnknown>& object);
/// Client: the proxy of an enumerator of strings, GUIDs, objects (groups) or
/// connection points; ref's kind says which.
HRESULT makeEnumProxy(const std::shared_ptr<Session>& session, wire::ObjectRef::Reader ref,
                      REFIID iid, void** ppv);
/// Host: the stub of such an enumerator; null for a kind that is none of them.
wire::Unknown::Client makeEnumStub(const std::shared_ptr<HostConnection>& connection,
                                   const ComPtr<IUnknown>& object, wire::Kind kind);

/// Client: the proxy of a group (every group interface listed in ref).
HRESULT makeGroupProxy(const std::shared_ptr<Session>& session, wire::ObjectRef::Reader ref,
                       REFIID iid, void** ppv);
/// Host: the stub of a group.
wire::Unknown::Client makeGroupStub(const std::shared_ptr<HostConnection>& connection,
                                    ComPtr<IUnknown> group);
/// Client: the proxy of a group's item enumerator.
HRESULT makeEnumItemAttributesProxy(const std::shared_ptr<Session>& session,
                                    wire::ObjectRef::Reader ref, REFIID iid, void** ppv);
/// Host: the stub of a group's item enumerator.
wire::Unknown::Client makeEnumItemAttributesStub(const std::shared_ptr<HostConnection>& connection,
                                                 ComPtr<IUnknown> enumerator);
/// Client: the capability the host calls for an advised data callback;
/// calls reach the sink in `apartment` (directly when null).
wire::DataCallback::Client makeDataCallbackServer(ComPtr<IOPCDataCallback> sink,
                                                  std::shared_ptr<Apartment> apartment);
/// Host: the data callback a server calls, over the client's capability.
ComPtr<IOPCDataCallback> makeDataCallbackProxy(const std::shared_ptr<HostConnection>& connection,
                                               wire::DataCallback::Client callback);

}  // namespace opc::remote
