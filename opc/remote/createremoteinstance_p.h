// Object creation on another computer, for CoCreateInstanceEx.
#pragma once

#include <string_view>

#include "opc/activation.h"

namespace opc::remote {

/// Creates the class on the host `host` names ("name", "name:port",
/// "[v6]:port") and queries it for each entry of results, which it fills
/// like CoCreateInstanceEx. HRESULT_RPC_S_SERVER_UNAVAILABLE when the host
/// cannot be reached.
HRESULT createRemoteInstance(REFCLSID clsid, std::u16string_view host, DWORD count,
                             MULTI_QI* results);

}  // namespace opc::remote
