// TqopcServerItem: one OPC server found by a server enumeration.
#pragma once

#include <QString>

#include "qopctypes.h"

class TqopcServerItem {
 public:
  /// The enumeration's computer when the server was found (empty: this one).
  QString ComputerName;
  /// The server's user-type description.
  QString UserType;
  QString ProgID;
  /// The class id in braces, upper-case hex; empty when it could not be
  /// written.
  QString ClsId;
  /// Every category the server was found in.
  tqopcServerSet Categories;
};
