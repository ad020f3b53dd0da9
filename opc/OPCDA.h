// OPC Data Access 1.0/2.0 custom interfaces, their identifiers, the server
// categories and the DA 1.0 stream clipboard formats.
#pragma once

#include "OPCtypes.h"
#include "objidl.h"
#include "opcexport.h"

#define OPC_DA_IID(name, first)                                               \
  inline constexpr IID IID_##name {                                           \
    first, 0x011E, 0x11D0, { 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3 } \
  }

OPC_DA_IID(IOPCServer, 0x39C13A4D);
OPC_DA_IID(IOPCServerPublicGroups, 0x39C13A4E);
OPC_DA_IID(IOPCBrowseServerAddressSpace, 0x39C13A4F);
OPC_DA_IID(IOPCGroupStateMgt, 0x39C13A50);
OPC_DA_IID(IOPCPublicGroupStateMgt, 0x39C13A51);
OPC_DA_IID(IOPCSyncIO, 0x39C13A52);
OPC_DA_IID(IOPCAsyncIO, 0x39C13A53);
OPC_DA_IID(IOPCItemMgt, 0x39C13A54);
OPC_DA_IID(IEnumOPCItemAttributes, 0x39C13A55);
OPC_DA_IID(IOPCDataCallback, 0x39C13A70);
OPC_DA_IID(IOPCAsyncIO2, 0x39C13A71);
OPC_DA_IID(IOPCItemProperties, 0x39C13A72);
#undef OPC_DA_IID

inline constexpr CATID CATID_OPCDAServer10{
    0x63D5F430, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline constexpr CATID CATID_OPCDAServer20{
    0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline constexpr CATID CATID_OPCDAServer30{
    0xCC603642, 0x66D7, 0x48F1, {0xB6, 0x9A, 0xB6, 0x25, 0xE7, 0x36, 0x52, 0xD7}};
inline constexpr CATID CATID_OPCAEServer10{
    0x58E13251, 0xAC87, 0x11D1, {0x84, 0xD5, 0x00, 0x60, 0x8C, 0xB8, 0xA7, 0xE9}};

/// Clipboard formats of the DA 1.0 data streams, registered at start-up.
extern VEZE6_OPC_EXPORT const UINT OPCSTMFORMATDATA;
extern VEZE6_OPC_EXPORT const UINT OPCSTMFORMATDATATIME;
extern VEZE6_OPC_EXPORT const UINT OPCSTMFORMATWRITECOMPLETE;

struct VEZE6_OPC_EXPORT IOPCServer : IUnknown {
  OPC_INTERFACE_IID(IOPCServer)
  virtual HRESULT AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                           OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                           DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                           REFIID riid, IUnknown** ppUnk) = 0;
  virtual HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) = 0;
  virtual HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) = 0;
  virtual HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus) = 0;
  virtual HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
  virtual HRESULT CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, IUnknown** ppUnk) = 0;
};

struct VEZE6_OPC_EXPORT IOPCServerPublicGroups : IUnknown {
  OPC_INTERFACE_IID(IOPCServerPublicGroups)
  virtual HRESULT GetPublicGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) = 0;
  virtual HRESULT RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
};

struct VEZE6_OPC_EXPORT IOPCBrowseServerAddressSpace : IUnknown {
  OPC_INTERFACE_IID(IOPCBrowseServerAddressSpace)
  virtual HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) = 0;
  virtual HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) = 0;
  virtual HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                   VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                   IEnumString** ppIEnumString) = 0;
  virtual HRESULT GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) = 0;
  virtual HRESULT BrowseAccessPaths(LPCWSTR szItemID, IEnumString** ppIEnumString) = 0;
};

struct VEZE6_OPC_EXPORT IOPCGroupStateMgt : IUnknown {
  OPC_INTERFACE_IID(IOPCGroupStateMgt)
  virtual HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                           FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                           OPCHANDLE* phServerGroup) = 0;
  virtual HRESULT SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                           LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                           OPCHANDLE* phClientGroup) = 0;
  virtual HRESULT SetName(LPCWSTR szName) = 0;
  virtual HRESULT CloneGroup(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) = 0;
};

struct VEZE6_OPC_EXPORT IOPCPublicGroupStateMgt : IUnknown {
  OPC_INTERFACE_IID(IOPCPublicGroupStateMgt)
  virtual HRESULT GetState(BOOL* pPublic) = 0;
  virtual HRESULT MoveToPublic() = 0;
};

struct VEZE6_OPC_EXPORT IOPCSyncIO : IUnknown {
  OPC_INTERFACE_IID(IOPCSyncIO)
  virtual HRESULT Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                       OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) = 0;
  virtual HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                        HRESULT** ppErrors) = 0;
};

struct VEZE6_OPC_EXPORT IOPCAsyncIO : IUnknown {
  OPC_INTERFACE_IID(IOPCAsyncIO)
  virtual HRESULT Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                       OPCHANDLE* phServer, DWORD* pTransactionID, HRESULT** ppErrors) = 0;
  virtual HRESULT Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                        VARIANT* pItemValues, DWORD* pTransactionID, HRESULT** ppErrors) = 0;
  virtual HRESULT Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) = 0;
  virtual HRESULT Cancel(DWORD dwTransactionID) = 0;
};

struct VEZE6_OPC_EXPORT IOPCItemMgt : IUnknown {
  OPC_INTERFACE_IID(IOPCItemMgt)
  virtual HRESULT AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                           HRESULT** ppErrors) = 0;
  virtual HRESULT ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) = 0;
  virtual HRESULT RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) = 0;
  virtual HRESULT SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                 HRESULT** ppErrors) = 0;
  virtual HRESULT SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                   HRESULT** ppErrors) = 0;
  virtual HRESULT SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                               HRESULT** ppErrors) = 0;
  virtual HRESULT CreateEnumerator(REFIID riid, IUnknown** ppUnk) = 0;
};

struct VEZE6_OPC_EXPORT IEnumOPCItemAttributes : IUnknown {
  OPC_INTERFACE_IID(IEnumOPCItemAttributes)
  virtual HRESULT Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) = 0;
  virtual HRESULT Skip(ULONG celt) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) = 0;
};

/// DA 2.0 callback, implemented by the client, called by the server.
struct VEZE6_OPC_EXPORT IOPCDataCallback : IUnknown {
  OPC_INTERFACE_IID(IOPCDataCallback)
  virtual HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                               HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                               VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                               HRESULT* pErrors) = 0;
  virtual HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                 HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                 VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                 HRESULT* pErrors) = 0;
  virtual HRESULT OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                  DWORD dwCount, OPCHANDLE* pClienthandles, HRESULT* pErrors) = 0;
  virtual HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) = 0;
};

struct VEZE6_OPC_EXPORT IOPCAsyncIO2 : IUnknown {
  OPC_INTERFACE_IID(IOPCAsyncIO2)
  virtual HRESULT Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                       DWORD* pdwCancelID, HRESULT** ppErrors) = 0;
  virtual HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                        DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) = 0;
  virtual HRESULT Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) = 0;
  virtual HRESULT Cancel2(DWORD dwCancelID) = 0;
  virtual HRESULT SetEnable(BOOL bEnable) = 0;
  virtual HRESULT GetEnable(BOOL* pbEnable) = 0;
};

struct VEZE6_OPC_EXPORT IOPCItemProperties : IUnknown {
  OPC_INTERFACE_IID(IOPCItemProperties)
  virtual HRESULT QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                           LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) = 0;
  virtual HRESULT GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                    VARIANT** ppvData, HRESULT** ppErrors) = 0;
  virtual HRESULT LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) = 0;
};
