// Connection-point advise and unadvise on a server interface: the shutdown
// callback on the server object and the data callback on a group use them.
#pragma once

#include "opc/objidl.h"

/// Connects sink to the connection point for iid of source: source is asked
/// for IConnectionPointContainer (a refusal, or an exception on the way,
/// counts as having none), the container for the point, the point advises
/// the sink. Returns the point's result (the cookie in cookie), or E_FAIL when
/// source is null or any step is missing. Every interface taken is released.
HRESULT AdviseConnectionPoint(IUnknown* source, REFIID iid, IUnknown* sink, DWORD& cookie);
/// Disconnects the sink with cookie from the point for iid of source, found
/// the same way; E_FAIL when any step is missing.
HRESULT UnadviseConnectionPoint(IUnknown* source, REFIID iid, DWORD cookie);
