// OPC result codes and their texts: EOPCException, OPCCheck and
// GetOPCErrorMessage.
#pragma once

#include <QString>

#include "exceptions.h"
#include "opc/comtypes.h"

/// The exception raised for failed OPC calls and for the server component's
/// own faults. It carries only its message.
class EOPCException : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EOPCException"; }
};

/// The English text of an OPC result code (DA 2.0 and Alarms and Events
/// codes), or the empty string for every other code. Never raises.
QString GetOPCErrorMessage(HRESULT code);

/// Does nothing for a success code (zero or positive). A failure code with a
/// text raises EOPCException with that text; any other failure raises
/// EOleSysError with the system's text and the code.
void OPCCheck(HRESULT code);
