// Shared value types of the client library: the requested data type of an
// item, the browser's access-rights filter, the server categories and the
// server status record.
#pragma once

#include <QObject>
#include <QString>

#include "tdatetime.h"

namespace qOPC {
Q_NAMESPACE

/// A COM variant type code as an item's requested or canonical data type;
/// the ordinal is the code passed to and from the server. vtEMPTY asks the
/// server for the item's canonical type; 15 (vtundef) names no type.
/// The underlying type is fixed so that any code a server or a stored form
/// names (an array type such as VT_ARRAY | VT_R8) is a valid value.
enum OPCADatatype : int {
  vtEMPTY,
  vtNULL,
  vtI2,
  vtI4,
  vtR4,
  vtR8,
  vtCY,
  vtDATE,
  vtBSTR,
  vtDISPATCH,
  vtERROR,
  vtBOOL,
  vtVARIANT,
  vtUNKNOWN,
  vtDECIMAL,
  vtundef,
  vtI1,
  vtUI1,
  vtUI2,
  vtUI4,
  vtI8,
  vtUI8,
  vtINT,
  vtUINT,
  vtVOID,
  vtHRESULT,
  vtPTR,
  vtSAFEARRAY,
  vtCARRAY,
  vtUSERDEFINED,
  vtLPSTR,
  vtLPWSTR,
};
Q_ENUM_NS(OPCADatatype)

/// Access rights an item must have to be listed by a browser; the flag
/// values are the OPC access-rights mask bits (readable 1, writable 2).
enum OPCAcess {
  opcReadable = 0x1,
  opcWritable = 0x2,
};
Q_DECLARE_FLAGS(OPCAcesstype, OPCAcess)
Q_FLAG_NS(OPCAcesstype)

/// The server categories a server enumeration asks for and finds servers in.
enum tqopcServerType {
  svr_DA20 = 0x1,  ///< OPC Data Access 2.0
  svr_DA10 = 0x2,  ///< OPC Data Access 1.0
  svr_AE10 = 0x4,  ///< OPC Alarms and Events 1.0
};
Q_DECLARE_FLAGS(tqopcServerSet, tqopcServerType)
Q_FLAG_NS(tqopcServerSet)

}  // namespace qOPC

Q_DECLARE_OPERATORS_FOR_FLAGS(qOPC::OPCAcesstype)
Q_DECLARE_OPERATORS_FOR_FLAGS(qOPC::tqopcServerSet)

using qOPC::OPCADatatype;
using enum qOPC::OPCADatatype;
using qOPC::OPCAcess;
using qOPC::OPCAcesstype;
using enum qOPC::OPCAcess;
using qOPC::tqopcServerSet;
using qOPC::tqopcServerType;
using enum qOPC::tqopcServerType;

/// The server's status as the application sees it (times are local).
struct tServerStateRec {
  TDateTime StartTime = 0;
  TDateTime CurrentTime = 0;
  TDateTime LastUpdateTime = 0;
  qint32 ServerState = 0;  ///< OPC server state code 1..5
  qint32 GroupCount = 0;
  qint32 BandWidth = 0;
  qint32 MajorVersion = 0;
  qint32 MinorVersion = 0;
  qint32 BuildNumber = 0;
  QString VendorInfo;
};
