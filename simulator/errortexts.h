// The simulation server's own texts for result codes (GetErrorString).
#pragma once

#include <string>

#include "opc/comtypes.h"

namespace veze6::sim {

/// The server's text for an OPC result code, else the system's text for a
/// common COM code; empty when the code is unknown to both.
std::u16string serverErrorText(HRESULT code);

}  // namespace veze6::sim
