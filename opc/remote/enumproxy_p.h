// The client's proxies of enumerators: strings, GUIDs, objects (groups) and
// connection points.
#pragma once

#include <memory>

#include "opc/remote/remote.capnp.h"
#include "opc/unknown.h"

namespace opc::remote {

class Session;

/// RPC thread only; ref's kind says which enumerator.
HRESULT makeEnumProxy(const std::shared_ptr<Session>& session, wire::ObjectRef::Reader ref,
                      REFIID iid, void** ppv);

/// The most elements one Next asks the host for; a larger request is split.
inline constexpr ULONG kMaxEnumBatch = 4096;

}  // namespace opc::remote
