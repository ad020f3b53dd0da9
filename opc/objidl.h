// Standard COM interfaces beyond IUnknown that OPC uses: enumerators, the
// class factory, connection points and the data-object advise path of
// DA 1.0, with the global memory blocks that carry its data streams.
#pragma once

#include <string>
#include <vector>

#include "opcexport.h"
#include "unknown.h"

inline constexpr IID IID_IEnumString{0x00000101, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumUnknown{0x00000100, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumGUID{0x0002E000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory{0x00000001, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IConnectionPointContainer{
    0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IConnectionPoint{
    0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IEnumConnectionPoints{
    0xB196B285, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IEnumConnections{
    0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IDataObject{0x0000010E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IAdviseSink{0x0000010F, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumFORMATETC{0x00000103, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumSTATDATA{0x00000105, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct VEZE6_OPC_EXPORT IEnumString : IUnknown {
  OPC_INTERFACE_IID(IEnumString)
  /// Strings are task memory the caller frees.
  virtual HRESULT Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT Skip(ULONG celt) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumString** ppenum) = 0;
};

struct VEZE6_OPC_EXPORT IEnumUnknown : IUnknown {
  OPC_INTERFACE_IID(IEnumUnknown)
  virtual HRESULT Next(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT Skip(ULONG celt) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumUnknown** ppenum) = 0;
};

struct VEZE6_OPC_EXPORT IEnumGUID : IUnknown {
  OPC_INTERFACE_IID(IEnumGUID)
  virtual HRESULT Next(ULONG celt, GUID* rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT Skip(ULONG celt) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumGUID** ppenum) = 0;
};
using IEnumCLSID = IEnumGUID;

struct VEZE6_OPC_EXPORT IClassFactory : IUnknown {
  OPC_INTERFACE_IID(IClassFactory)
  virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  virtual HRESULT LockServer(BOOL fLock) = 0;
};

struct IConnectionPoint;
struct CONNECTDATA {
  IUnknown* pUnk;
  DWORD dwCookie;
};

struct VEZE6_OPC_EXPORT IEnumConnections : IUnknown {
  OPC_INTERFACE_IID(IEnumConnections)
  virtual HRESULT Next(ULONG cConnections, CONNECTDATA* rgcd, ULONG* pcFetched) = 0;
  virtual HRESULT Skip(ULONG cConnections) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnections** ppEnum) = 0;
};

struct VEZE6_OPC_EXPORT IEnumConnectionPoints : IUnknown {
  OPC_INTERFACE_IID(IEnumConnectionPoints)
  virtual HRESULT Next(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) = 0;
  virtual HRESULT Skip(ULONG cConnections) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnectionPoints** ppEnum) = 0;
};

struct VEZE6_OPC_EXPORT IConnectionPointContainer : IUnknown {
  OPC_INTERFACE_IID(IConnectionPointContainer)
  virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
  virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;
};

struct VEZE6_OPC_EXPORT IConnectionPoint : IUnknown {
  OPC_INTERFACE_IID(IConnectionPoint)
  virtual HRESULT GetConnectionInterface(IID* pIID) = 0;
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
  virtual HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
  virtual HRESULT Unadvise(DWORD dwCookie) = 0;
  virtual HRESULT EnumConnections(IEnumConnections** ppEnum) = 0;
};

// ---- Data objects (the DA 1.0 data change path) ---------------------------

enum TYMED : DWORD {
  TYMED_NULL = 0,
  TYMED_HGLOBAL = 1,
  TYMED_FILE = 2,
  TYMED_ISTREAM = 4,
  TYMED_ISTORAGE = 8,
};
enum DVASPECT : DWORD { DVASPECT_CONTENT = 1 };
enum ADVF : DWORD { ADVF_NODATA = 1, ADVF_PRIMEFIRST = 2, ADVF_ONLYONCE = 4 };

struct DVTARGETDEVICE;

struct FORMATETC {
  CLIPFORMAT cfFormat;
  DVTARGETDEVICE* ptd;
  DWORD dwAspect;
  LONG lindex;
  DWORD tymed;
};

struct STGMEDIUM {
  DWORD tymed;
  union {
    HGLOBAL hGlobal;
    LPOLESTR lpszFileName;
  };
  IUnknown* pUnkForRelease;
};

struct STATDATA {
  FORMATETC formatetc;
  DWORD advf;
  struct IAdviseSink* pAdvSink;
  DWORD dwConnection;
};

struct VEZE6_OPC_EXPORT IEnumFORMATETC : IUnknown {
  OPC_INTERFACE_IID(IEnumFORMATETC)
  virtual HRESULT Next(ULONG celt, FORMATETC* rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT Skip(ULONG celt) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumFORMATETC** ppenum) = 0;
};

struct VEZE6_OPC_EXPORT IEnumSTATDATA : IUnknown {
  OPC_INTERFACE_IID(IEnumSTATDATA)
  virtual HRESULT Next(ULONG celt, STATDATA* rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT Skip(ULONG celt) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumSTATDATA** ppenum) = 0;
};

struct VEZE6_OPC_EXPORT IAdviseSink : IUnknown {
  OPC_INTERFACE_IID(IAdviseSink)
  virtual void OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) = 0;
  virtual void OnViewChange(DWORD dwAspect, LONG lindex) = 0;
  virtual void OnRename(struct IMoniker* pmk) = 0;
  virtual void OnSave() = 0;
  virtual void OnClose() = 0;
};

struct VEZE6_OPC_EXPORT IDataObject : IUnknown {
  OPC_INTERFACE_IID(IDataObject)
  virtual HRESULT GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) = 0;
  virtual HRESULT GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) = 0;
  virtual HRESULT QueryGetData(FORMATETC* pformatetc) = 0;
  virtual HRESULT GetCanonicalFormatEtc(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) = 0;
  virtual HRESULT SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) = 0;
  virtual HRESULT EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) = 0;
  virtual HRESULT DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                          DWORD* pdwConnection) = 0;
  virtual HRESULT DUnadvise(DWORD dwConnection) = 0;
  virtual HRESULT EnumDAdvise(IEnumSTATDATA** ppenumAdvise) = 0;
};

// Global memory blocks: movable in name only, a block is its own handle.
inline constexpr UINT GMEM_FIXED = 0x0000;
inline constexpr UINT GMEM_MOVEABLE = 0x0002;
inline constexpr UINT GMEM_ZEROINIT = 0x0040;
VEZE6_OPC_EXPORT HGLOBAL GlobalAlloc(UINT uFlags, std::size_t dwBytes);
VEZE6_OPC_EXPORT HGLOBAL GlobalFree(HGLOBAL hMem);  // nullptr on success
VEZE6_OPC_EXPORT LPVOID GlobalLock(HGLOBAL hMem);
VEZE6_OPC_EXPORT BOOL GlobalUnlock(HGLOBAL hMem);
VEZE6_OPC_EXPORT std::size_t GlobalSize(HGLOBAL hMem);
/// Frees the medium's contents (or releases pUnkForRelease when set).
VEZE6_OPC_EXPORT void ReleaseStgMedium(STGMEDIUM* pmedium);

/// Process-wide clipboard format ids, 0xC000 upwards, equal for equal names
/// (compared without regard to case, as the platform does).
VEZE6_OPC_EXPORT UINT RegisterClipboardFormat(const char* lpszFormat);
/// The registered name of `format` copied into lpszFormatName (at most
/// cchMaxCount - 1 characters and a terminating zero); returns the
/// characters copied, 0 for a format that was never registered.
VEZE6_OPC_EXPORT int GetClipboardFormatName(UINT format, char* lpszFormatName, int cchMaxCount);

namespace opc {

/// Enumerators over a fixed list, for servers of this process.
VEZE6_OPC_EXPORT ComPtr<IEnumString> makeEnumString(std::vector<std::u16string> items);
VEZE6_OPC_EXPORT ComPtr<IEnumGUID> makeEnumGUID(std::vector<GUID> items);
VEZE6_OPC_EXPORT ComPtr<IEnumUnknown> makeEnumUnknown(std::vector<ComPtr<IUnknown>> items);

}  // namespace opc
