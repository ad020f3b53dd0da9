// OPC Common interfaces: client naming and locales, the shutdown callback,
// and the server list object that enumerates OPC servers by category.
#pragma once

#include "objidl.h"
#include "opcexport.h"

inline constexpr IID IID_IOPCShutdown{
    0xF31DFDE1, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline constexpr IID IID_IOPCCommon{
    0xF31DFDE2, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline constexpr IID IID_IOPCServerList{
    0x13486D50, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};
inline constexpr CLSID CLSID_OPCServerList{
    0x13486D51, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};

/// Implemented by the client; the server asks it to disconnect.
struct VEZE6_OPC_EXPORT IOPCShutdown : IUnknown {
  OPC_INTERFACE_IID(IOPCShutdown)
  virtual HRESULT ShutdownRequest(LPCWSTR szReason) = 0;
};

struct VEZE6_OPC_EXPORT IOPCCommon : IUnknown {
  OPC_INTERFACE_IID(IOPCCommon)
  virtual HRESULT SetLocaleID(LCID dwLcid) = 0;
  virtual HRESULT GetLocaleID(LCID* pdwLcid) = 0;
  virtual HRESULT QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) = 0;
  virtual HRESULT GetErrorString(HRESULT dwError, LPWSTR* ppString) = 0;
  virtual HRESULT SetClientName(LPCWSTR szName) = 0;
};

struct VEZE6_OPC_EXPORT IOPCServerList : IUnknown {
  OPC_INTERFACE_IID(IOPCServerList)
  virtual HRESULT EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired,
                                          CATID rgcatidReq[], IEnumGUID** ppenumClsid) = 0;
  virtual HRESULT GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType) = 0;
  virtual HRESULT CLSIDFromProgID(LPCOLESTR szProgId, CLSID* clsid) = 0;
};
