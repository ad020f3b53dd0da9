// OPC DA types, structures, constants and result codes of the OPC standard.
#pragma once

#include "comtypes.h"
#include "variant.h"

using OPCHANDLE = DWORD;

enum OPCDATASOURCE : DWORD { OPC_DS_CACHE = 1, OPC_DS_DEVICE = 2 };
enum OPCBROWSETYPE : DWORD { OPC_BRANCH = 1, OPC_LEAF = 2, OPC_FLAT = 3 };
enum OPCNAMESPACETYPE : DWORD { OPC_NS_HIERARCHIAL = 1, OPC_NS_FLAT = 2 };
enum OPCBROWSEDIRECTION : DWORD { OPC_BROWSE_UP = 1, OPC_BROWSE_DOWN = 2, OPC_BROWSE_TO = 3 };
enum OPCEUTYPE : DWORD { OPC_NOENUM = 0, OPC_ANALOG = 1, OPC_ENUMERATED = 2 };
enum OPCSERVERSTATE : DWORD {
  OPC_STATUS_RUNNING = 1,
  OPC_STATUS_FAILED = 2,
  OPC_STATUS_NOCONFIG = 3,
  OPC_STATUS_SUSPENDED = 4,
  OPC_STATUS_TEST = 5,
};
enum OPCENUMSCOPE : DWORD {
  OPC_ENUM_PRIVATE_CONNECTIONS = 1,
  OPC_ENUM_PUBLIC_CONNECTIONS = 2,
  OPC_ENUM_ALL_CONNECTIONS = 3,
  OPC_ENUM_PRIVATE = 4,
  OPC_ENUM_PUBLIC = 5,
  OPC_ENUM_ALL = 6,
};

// DA 1.0 data stream headers (in an HGLOBAL, see IDataObject advise).
struct OPCGROUPHEADER {
  DWORD dwSize;
  DWORD dwItemCount;
  OPCHANDLE hClientGroup;
  DWORD dwTransactionID;
  HRESULT hrStatus;
};
struct OPCITEMHEADER1 {
  OPCHANDLE hClient;
  DWORD dwValueOffset;
  WORD wQuality;
  WORD wReserved;
  FILETIME ftTimeStampItem;
};
struct OPCITEMHEADER2 {
  OPCHANDLE hClient;
  DWORD dwValueOffset;
  WORD wQuality;
  WORD wReserved;
};
struct OPCGROUPHEADERWRITE {
  DWORD dwItemCount;
  OPCHANDLE hClientGroup;
  DWORD dwTransactionID;
  HRESULT hrStatus;
};
struct OPCITEMHEADERWRITE {
  OPCHANDLE hClient;
  HRESULT dwError;
};
static_assert(sizeof(OPCGROUPHEADER) == 20 && sizeof(OPCITEMHEADER1) == 20 &&
                  sizeof(OPCITEMHEADER2) == 12 && sizeof(OPCGROUPHEADERWRITE) == 16 &&
                  sizeof(OPCITEMHEADERWRITE) == 8,
              "OPC stream headers keep their standard sizes");

struct OPCITEMSTATE {
  OPCHANDLE hClient;
  FILETIME ftTimeStamp;
  WORD wQuality;
  WORD wReserved;
  VARIANT vDataValue;
};

struct OPCSERVERSTATUS {
  FILETIME ftStartTime;
  FILETIME ftCurrentTime;
  FILETIME ftLastUpdateTime;
  OPCSERVERSTATE dwServerState;
  DWORD dwGroupCount;
  DWORD dwBandWidth;
  WORD wMajorVersion;
  WORD wMinorVersion;
  WORD wBuildNumber;
  WORD wReserved;
  LPWSTR szVendorInfo;
};

struct OPCITEMDEF {
  LPWSTR szAccessPath;
  LPWSTR szItemID;
  BOOL bActive;
  OPCHANDLE hClient;
  DWORD dwBlobSize;
  BYTE* pBlob;
  VARTYPE vtRequestedDataType;
  WORD wReserved;
};

struct OPCITEMATTRIBUTES {
  LPWSTR szAccessPath;
  LPWSTR szItemID;
  BOOL bActive;
  OPCHANDLE hClient;
  OPCHANDLE hServer;
  DWORD dwAccessRights;
  DWORD dwBlobSize;
  BYTE* pBlob;
  VARTYPE vtRequestedDataType;
  VARTYPE vtCanonicalDataType;
  OPCEUTYPE dwEUType;
  VARIANT vEUInfo;
};

struct OPCITEMRESULT {
  OPCHANDLE hServer;
  VARTYPE vtCanonicalDataType;
  WORD wReserved;
  DWORD dwAccessRights;
  DWORD dwBlobSize;
  BYTE* pBlob;
};

// Access rights.
inline constexpr DWORD OPC_READABLE = 1;
inline constexpr DWORD OPC_WRITEABLE = 2;

// Quality bits.
inline constexpr WORD OPC_QUALITY_MASK = 0xC0;
inline constexpr WORD OPC_STATUS_MASK = 0xFC;
inline constexpr WORD OPC_LIMIT_MASK = 0x03;
inline constexpr WORD OPC_QUALITY_BAD = 0x00;
inline constexpr WORD OPC_QUALITY_UNCERTAIN = 0x40;
inline constexpr WORD OPC_QUALITY_GOOD = 0xC0;
inline constexpr WORD OPC_QUALITY_CONFIG_ERROR = 0x04;
inline constexpr WORD OPC_QUALITY_NOT_CONNECTED = 0x08;
inline constexpr WORD OPC_QUALITY_DEVICE_FAILURE = 0x0C;
inline constexpr WORD OPC_QUALITY_SENSOR_FAILURE = 0x10;
inline constexpr WORD OPC_QUALITY_LAST_KNOWN = 0x14;
inline constexpr WORD OPC_QUALITY_COMM_FAILURE = 0x18;
inline constexpr WORD OPC_QUALITY_OUT_OF_SERVICE = 0x1C;
inline constexpr WORD OPC_QUALITY_LAST_USABLE = 0x44;
inline constexpr WORD OPC_QUALITY_SENSOR_CAL = 0x50;
inline constexpr WORD OPC_QUALITY_EGU_EXCEEDED = 0x54;
inline constexpr WORD OPC_QUALITY_SUB_NORMAL = 0x58;
inline constexpr WORD OPC_QUALITY_LOCAL_OVERRIDE = 0xD8;
inline constexpr WORD OPC_LIMIT_OK = 0x00;
inline constexpr WORD OPC_LIMIT_LOW = 0x01;
inline constexpr WORD OPC_LIMIT_HIGH = 0x02;
inline constexpr WORD OPC_LIMIT_CONST = 0x03;

// Standard item property ids.
inline constexpr DWORD OPC_PROP_CDT = 1;
inline constexpr DWORD OPC_PROP_VALUE = 2;
inline constexpr DWORD OPC_PROP_QUALITY = 3;
inline constexpr DWORD OPC_PROP_TIME = 4;
inline constexpr DWORD OPC_PROP_RIGHTS = 5;
inline constexpr DWORD OPC_PROP_SCANRATE = 6;
inline constexpr DWORD OPC_PROP_EUTYPE = 7;
inline constexpr DWORD OPC_PROP_EUINFO = 8;
inline constexpr DWORD OPC_PROP_UNIT = 100;
inline constexpr DWORD OPC_PROP_DESC = 101;
inline constexpr DWORD OPC_PROP_HIEU = 102;
inline constexpr DWORD OPC_PROP_LOEU = 103;
inline constexpr DWORD OPC_PROP_HIRANGE = 104;
inline constexpr DWORD OPC_PROP_LORANGE = 105;
inline constexpr DWORD OPC_PROP_CLOSE = 106;
inline constexpr DWORD OPC_PROP_OPEN = 107;
inline constexpr DWORD OPC_PROP_TIMEZONE = 108;

// OPC result codes (DA 2.0 and Alarms and Events).
inline constexpr HRESULT OPC_E_INVALIDHANDLE = hresult(0xC0040001);
inline constexpr HRESULT OPC_E_BADTYPE = hresult(0xC0040004);
inline constexpr HRESULT OPC_E_PUBLIC = hresult(0xC0040005);
inline constexpr HRESULT OPC_E_BADRIGHTS = hresult(0xC0040006);
inline constexpr HRESULT OPC_E_UNKNOWNITEMID = hresult(0xC0040007);
inline constexpr HRESULT OPC_E_INVALIDITEMID = hresult(0xC0040008);
inline constexpr HRESULT OPC_E_INVALIDFILTER = hresult(0xC0040009);
inline constexpr HRESULT OPC_E_UNKNOWNPATH = hresult(0xC004000A);
inline constexpr HRESULT OPC_E_RANGE = hresult(0xC004000B);
inline constexpr HRESULT OPC_E_DUPLICATENAME = hresult(0xC004000C);
inline constexpr HRESULT OPC_S_UNSUPPORTEDRATE = hresult(0x0004000D);
inline constexpr HRESULT OPC_S_CLAMP = hresult(0x0004000E);
inline constexpr HRESULT OPC_S_INUSE = hresult(0x0004000F);
inline constexpr HRESULT OPC_E_INVALIDCONFIGFILE = hresult(0xC0040010);
inline constexpr HRESULT OPC_E_NOTFOUND = hresult(0xC0040011);
inline constexpr HRESULT OPC_S_ALREADYACKED = hresult(0x00040200);
inline constexpr HRESULT OPC_S_INVALIDBUFFERTIME = hresult(0x00040201);
inline constexpr HRESULT OPC_S_INVALIDMAXSIZE = hresult(0x00040202);
inline constexpr HRESULT OPC_E_INVALID_PID = hresult(0xC0040203);
inline constexpr HRESULT OPC_E_BUSY = hresult(0xC0040205);
inline constexpr HRESULT OPC_E_NOINFO = hresult(0xC0040206);
