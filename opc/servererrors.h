// The texts every server object answers GetErrorString with: the OPC result
// codes' standard wording, else the system's text for a common COM code.
#pragma once

#include <string>

#include "comtypes.h"
#include "opcexport.h"

namespace opc {

/// The text for an OPC result code, else the system's text for a common COM
/// code; empty when the code is unknown to both.
VEZE6_OPC_EXPORT std::u16string serverErrorText(HRESULT code);

/// GetErrorString's answer: the text as task memory in *ppString;
/// E_INVALIDARG for a null pointer or an unknown code, E_OUTOFMEMORY.
VEZE6_OPC_EXPORT HRESULT serverErrorString(HRESULT code, LPWSTR* ppString);

}  // namespace opc
