#include "syserror.h"

#include <cstdio>

namespace opc {

namespace {

struct SystemText {
  HRESULT code;
  const char* text;
};

constexpr SystemText kTexts[] = {
    {S_OK, "The operation completed successfully."},
    {E_UNEXPECTED, "Catastrophic failure"},
    {E_NOTIMPL, "Not implemented"},
    {E_NOINTERFACE, "No such interface supported"},
    {E_POINTER, "Invalid pointer"},
    {E_ABORT, "Operation aborted"},
    {E_FAIL, "Unspecified error"},
    {E_PENDING, "The data necessary to complete this operation is not yet available."},
    {E_ACCESSDENIED, "Access is denied."},
    {E_HANDLE, "The handle is invalid."},
    {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {E_INVALIDARG, "The parameter is incorrect."},
    {OLE_E_ADVISENOTSUPPORTED, "This implementation doesn't take advises"},
    {OLE_E_NOCONNECTION, "Not able to find the connection"},
    {DV_E_FORMATETC, "Invalid FORMATETC structure"},
    {DV_E_TYMED, "Invalid tymed"},
    {CLASS_E_NOAGGREGATION, "Class does not support aggregation (or class object is remote)"},
    {CLASS_E_CLASSNOTAVAILABLE, "ClassFactory cannot supply requested class"},
    {REGDB_E_CLASSNOTREG, "Class not registered"},
    {REGDB_E_READREGDB, "Could not read key from registry"},
    {CONNECT_E_NOCONNECTION, "There is no connection for this connection ID"},
    {CONNECT_E_ADVISELIMIT,
     "This implementation's limit for advisory connections has been reached"},
    {CONNECT_E_CANNOTCONNECT, "Connection attempt failed"},
    {CO_E_NOTINITIALIZED, "CoInitialize has not been called."},
    {CO_E_CLASSSTRING, "Invalid class string"},
    {CO_E_DLLNOTFOUND, "DLL for class not found"},
    {CO_E_ERRORINDLL, "Error in the DLL"},
    {CO_E_SERVER_EXEC_FAILURE, "Server execution failed"},
    {CO_S_NOTALLINTERFACES, "Not all the requested interfaces were available"},
    {DISP_E_TYPEMISMATCH, "Type mismatch."},
    {DISP_E_BADVARTYPE, "Bad variable type."},
    {DISP_E_OVERFLOW, "Out of present range."},
    {DISP_E_BADINDEX, "Invalid index."},
    {DISP_E_ARRAYISLOCKED, "Memory is locked."},
    {RPC_E_CALL_REJECTED, "Call was rejected by callee."},
    {RPC_E_SERVERFAULT, "The server threw an exception."},
    {RPC_E_DISCONNECTED, "The object invoked has disconnected from its clients."},
    {RPC_E_TIMEOUT, "This operation returned because the timeout period expired."},
    {RPC_E_WRONG_THREAD,
     "The application called an interface that was marshalled for a different thread."},
    {RPC_E_TOO_LATE,
     "Security must be initialized before any interfaces are marshalled or unmarshalled. It "
     "cannot be changed once initialized."},
    {HRESULT_RPC_S_SERVER_UNAVAILABLE, "The RPC server is unavailable."},
    {HRESULT_RPC_S_CALL_FAILED, "The remote procedure call failed."},
};

}  // namespace

std::string systemErrorText(HRESULT hr) {
  for (const auto& t : kTexts) {
    if (t.code == hr) return t.text;
  }
  return {};
}

std::string comErrorMessage(HRESULT hr) {
  std::string text = systemErrorText(hr);
  if (!text.empty()) return text;
  char buf[32];
  std::snprintf(buf, sizeof buf, "Error 0x%08X", static_cast<unsigned>(hr));
  return buf;
}

}  // namespace opc
