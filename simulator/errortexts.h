// The simulation server's texts for result codes (GetErrorString): those
// every server object of the platform answers with.
#pragma once

#include <string>

#include "opc/comtypes.h"
#include "opc/servererrors.h"

namespace veze6::sim {

/// The server's text for an OPC result code, else the system's text for a
/// common COM code; empty when the code is unknown to both.
inline std::u16string serverErrorText(HRESULT code) { return opc::serverErrorText(code); }

}  // namespace veze6::sim
