// GUID text forms: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hex.
#pragma once

#include "objidl.h"
#include "opcexport.h"

VEZE6_OPC_EXPORT HRESULT CLSIDFromString(LPCOLESTR lpsz,
                                         CLSID* pclsid);  // CO_E_CLASSSTRING when malformed
VEZE6_OPC_EXPORT HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz);  // task memory
VEZE6_OPC_EXPORT int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz,
                                     int cchMax);  // chars written incl. zero, 0 if short
