// Basic COM-style types shared by the platform layer, the OPC declarations,
// the simulation server and the client library. The names follow the
// Windows SDK so that the OPC interface declarations read like the standard's
// headers; the sizes are fixed so that binary OPC data streams keep their
// layout on every platform.
#pragma once

#ifndef Q_MOC_RUN  // Qt's moc cannot parse <compare>, and needs none of it
#include <compare>
#endif
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

using BYTE = std::uint8_t;
using CHAR = char;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using WORD = std::uint16_t;
using INT = std::int32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using BOOL = std::int32_t;
using FLOAT = float;
using DOUBLE = double;
using DATE = double;
using SCODE = std::int32_t;
using HRESULT = std::int32_t;
using LCID = DWORD;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using CLIPFORMAT = WORD;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using LPWSTR = OLECHAR*;
using LPCWSTR = const OLECHAR*;
using BSTR = OLECHAR*;
using HGLOBAL = void*;
using LPVOID = void*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

/// Currency: a 64-bit integer scaled by 10,000.
struct CY {
  LONGLONG int64;
};

/// UTC time in 100-nanosecond units since 1601-01-01.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) { return hr < 0; }

/// Builds an HRESULT from its unsigned hexadecimal spelling.
inline constexpr HRESULT hresult(std::uint32_t code) { return static_cast<HRESULT>(code); }

// Standard result codes.
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
/// CoCreateInstanceEx: some, not all, of the requested interfaces were found.
inline constexpr HRESULT CO_S_NOTALLINTERFACES = hresult(0x00080012);
inline constexpr HRESULT E_UNEXPECTED = hresult(0x8000FFFF);
inline constexpr HRESULT E_NOTIMPL = hresult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = hresult(0x80004002);
inline constexpr HRESULT E_POINTER = hresult(0x80004003);
inline constexpr HRESULT E_ABORT = hresult(0x80004004);
inline constexpr HRESULT E_FAIL = hresult(0x80004005);
inline constexpr HRESULT E_PENDING = hresult(0x8000000A);
inline constexpr HRESULT E_ACCESSDENIED = hresult(0x80070005);
inline constexpr HRESULT E_HANDLE = hresult(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = hresult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = hresult(0x80070057);
inline constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = hresult(0x80040003);
inline constexpr HRESULT OLE_E_NOCONNECTION = hresult(0x80040004);
inline constexpr HRESULT DV_E_FORMATETC = hresult(0x80040064);
inline constexpr HRESULT DV_E_TYMED = hresult(0x80040069);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = hresult(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hresult(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = hresult(0x80040154);
inline constexpr HRESULT REGDB_E_READREGDB = hresult(0x80040150);
inline constexpr HRESULT CONNECT_E_NOCONNECTION = hresult(0x80040200);
inline constexpr HRESULT CONNECT_E_ADVISELIMIT = hresult(0x80040201);
inline constexpr HRESULT CONNECT_E_CANNOTCONNECT = hresult(0x80040202);
inline constexpr HRESULT CO_E_NOTINITIALIZED = hresult(0x800401F0);
inline constexpr HRESULT CO_E_CLASSSTRING = hresult(0x800401F3);
inline constexpr HRESULT CO_E_DLLNOTFOUND = hresult(0x800401F8);
inline constexpr HRESULT CO_E_ERRORINDLL = hresult(0x800401F9);
inline constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = hresult(0x80080005);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = hresult(0x80020005);
inline constexpr HRESULT DISP_E_BADVARTYPE = hresult(0x80020008);
inline constexpr HRESULT DISP_E_OVERFLOW = hresult(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = hresult(0x8002000B);
inline constexpr HRESULT DISP_E_ARRAYISLOCKED = hresult(0x8002000D);
inline constexpr HRESULT RPC_E_SERVERFAULT = hresult(0x80010105);
inline constexpr HRESULT RPC_E_DISCONNECTED = hresult(0x80010108);
/// A remote call got no answer within the call time limit.
inline constexpr HRESULT RPC_E_TIMEOUT = hresult(0x8001011F);
inline constexpr HRESULT RPC_E_WRONG_THREAD = hresult(0x8001010E);
inline constexpr HRESULT RPC_E_TOO_LATE = hresult(0x80010119);
inline constexpr HRESULT RPC_E_CALL_REJECTED = hresult(0x80010001);
/// The RPC server is unavailable (a named computer that cannot be reached).
inline constexpr HRESULT HRESULT_RPC_S_SERVER_UNAVAILABLE = hresult(0x800706BA);
/// The remote procedure call failed (the link broke during the call).
inline constexpr HRESULT HRESULT_RPC_S_CALL_FAILED = hresult(0x800706BE);

/// 128-bit globally unique identifier.
struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];

  friend constexpr bool operator==(const GUID&, const GUID&) = default;
  friend constexpr auto operator<=>(const GUID&, const GUID&) = default;
};
using IID = GUID;
using CLSID = GUID;
using CATID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

template <>
struct std::hash<GUID> {
  std::size_t operator()(const GUID& g) const noexcept {
    std::size_t h = g.Data1;
    h = h * 1000003u ^ g.Data2;
    h = h * 1000003u ^ g.Data3;
    for (auto b : g.Data4) h = h * 1000003u ^ b;
    return h;
  }
};

struct IUnknown;

/// The VARIANT is 16 bytes (type code, three reserved words, an 8-byte value)
/// so that the DA 1.0 data stream layout holds on 64-bit platforms; record
/// values are not supported.
enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_CARRAY = 28,
  VT_USERDEFINED = 29,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

/// A safe array of cDims dimensions; rgsabound holds cDims bounds (the first
/// dimension first). The element type is kept in vt.
struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  VARTYPE vt;
  void* pvData;
  SAFEARRAYBOUND* rgsabound;
};

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    CY cyVal;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    SAFEARRAY* parray;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    void* byref;
  };
};
static_assert(sizeof(VARIANT) == 16, "the DA 1.0 data stream relies on a 16-byte VARIANT");
using VARIANTARG = VARIANT;

/// Length of a zero-terminated wide string (0 for a null pointer).
inline std::size_t wideLength(LPCWSTR s) {
  if (!s) return 0;
  std::size_t n = 0;
  while (s[n]) ++n;
  return n;
}
