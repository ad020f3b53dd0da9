// The operating system's texts for common result codes.
#pragma once

#include <string>

#include "comtypes.h"
#include "opcexport.h"

namespace opc {

/// The system's text for a result code, without a trailing line break;
/// empty when the code is not known to the table.
VEZE6_OPC_EXPORT std::string systemErrorText(HRESULT hr);

/// The text shown for a COM error: the system text, or the platform's
/// generic wording "Error 0x%08X" when there is none.
VEZE6_OPC_EXPORT std::string comErrorMessage(HRESULT hr);

}  // namespace opc
