// The standard descriptions of the OPC item property ids, the texts every
// server object hands out from QueryAvailableProperties.
#pragma once

#include <string_view>

#include "comtypes.h"
#include "opcexport.h"

namespace opc {

/// "Item Canonical DataType" for 1 and so on; empty for an id the standard
/// does not describe.
VEZE6_OPC_EXPORT std::u16string_view propertyDescription(DWORD propertyId);

}  // namespace opc
