#include "servererrors.h"

#include "OPCtypes.h"
#include "syserror.h"
#include "taskmem.h"

namespace opc {

std::u16string serverErrorText(HRESULT code) {
  switch (code) {
    case OPC_E_INVALIDHANDLE:
      return u"The value of the handle is invalid.";
    case OPC_E_BADTYPE:
      return u"The server cannot convert the data between the requested data type and the "
             u"canonical data type.";
    case OPC_E_PUBLIC:
      return u"The requested operation cannot be done on a public group.";
    case OPC_E_BADRIGHTS:
      return u"The item's access rights do not allow the operation.";
    case OPC_E_UNKNOWNITEMID:
      return u"The item is no longer available in the server address space.";
    case OPC_E_INVALIDITEMID:
      return u"The item definition does not conform to the server's syntax.";
    case OPC_E_INVALIDFILTER:
      return u"The filter string is not valid.";
    case OPC_E_UNKNOWNPATH:
      return u"The item's access path is not known to the server.";
    case OPC_E_RANGE:
      return u"The value was out of range.";
    case OPC_E_DUPLICATENAME:
      return u"Duplicate name not allowed.";
    case OPC_S_UNSUPPORTEDRATE:
      return u"The server does not support the requested data rate but will use the closest "
             u"available rate.";
    case OPC_S_CLAMP:
      return u"A value passed to write was accepted but the output was clamped.";
    case OPC_S_INUSE:
      return u"The operation cannot be completed because the object still has references that "
             u"exist.";
    case OPC_E_INVALIDCONFIGFILE:
      return u"The server's configuration file is an invalid format.";
    case OPC_E_NOTFOUND:
      return u"The requested object (e.g. a public group) was not found.";
    case OPC_E_INVALID_PID:
      return u"The specified property ID is not valid for the item.";
    default:
      break;
  }
  // Codes of the platform: the system's own wording, as a server would get
  // it from the operating system.
  return utf8ToUtf16(systemErrorText(code));
}

HRESULT serverErrorString(HRESULT code, LPWSTR* ppString) {
  if (!ppString) return E_INVALIDARG;
  *ppString = nullptr;
  const std::u16string text = serverErrorText(code);
  if (text.empty()) return E_INVALIDARG;
  *ppString = taskStringDup(text);
  return *ppString ? S_OK : E_OUTOFMEMORY;
}

}  // namespace opc
