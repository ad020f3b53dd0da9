// TqOPCItemProperty: one property of an item as a server describes it, with
// the value last read.
#pragma once

#include <QString>

#include "opc/variant.h"

class TqOPCItemProperty {
 public:
  /// The OPC property id.
  qint32 PropertyID = 0;
  /// The server's description of the property.
  QString Description;
  /// The property's variant type code.
  qint32 DataType = 0;
  /// The last value read; empty until read and after a failed read.
  OleVariant Value;
};
