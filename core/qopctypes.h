// Shared value types of the client library: the requested data type of an
// item and the server status record.
#pragma once

#include <QObject>
#include <QString>

#include "tdatetime.h"

namespace qOPC {
Q_NAMESPACE

/// A COM variant type code as an item's requested or canonical data type;
/// the ordinal is the code passed to and from the server. vtEMPTY asks the
/// server for the item's canonical type; 15 (vtundef) names no type.
enum OPCADatatype {
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

}  // namespace qOPC

using qOPC::OPCADatatype;
using enum qOPC::OPCADatatype;

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
