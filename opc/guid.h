// GUID text forms: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hex.
#pragma once

#include "objidl.h"

HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);      // CO_E_CLASSSTRING when malformed
HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz);  // task memory
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz,
                    int cchMax);  // chars written incl. zero, 0 if short
