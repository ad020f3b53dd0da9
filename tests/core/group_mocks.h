// A GoogleMock server group (IOPCItemMgt, IOPCGroupStateMgt and the I/O
// interfaces, each refusable) and the actions that play a server's part in
// the item calls: recording the definitions sent and handing out result
// arrays in task memory, as a server does.
#pragma once

#include <gmock/gmock.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "opc/OPCDA.h"
#include "opc/com.h"
#include "opc/connectionpoint.h"

namespace core_test {

/// The data sinks reach the group through real (not mocked) connection-point
/// and data-object implementations: a group offers both unless refused.
class MockGroup : public opc::ComObject<IOPCItemMgt, IOPCGroupStateMgt, IOPCSyncIO, IOPCAsyncIO2,
                                        IOPCAsyncIO, IConnectionPointContainer, IDataObject> {
 public:
  MockGroup();
  ~MockGroup() override;

  // IOPCItemMgt
  MOCK_METHOD(HRESULT, AddItems, (DWORD, OPCITEMDEF*, OPCITEMRESULT**, HRESULT**), (override));
  MOCK_METHOD(HRESULT, ValidateItems, (DWORD, OPCITEMDEF*, BOOL, OPCITEMRESULT**, HRESULT**),
              (override));
  MOCK_METHOD(HRESULT, RemoveItems, (DWORD, OPCHANDLE*, HRESULT**), (override));
  MOCK_METHOD(HRESULT, SetActiveState, (DWORD, OPCHANDLE*, BOOL, HRESULT**), (override));
  MOCK_METHOD(HRESULT, SetClientHandles, (DWORD, OPCHANDLE*, OPCHANDLE*, HRESULT**), (override));
  MOCK_METHOD(HRESULT, SetDatatypes, (DWORD, OPCHANDLE*, VARTYPE*, HRESULT**), (override));
  MOCK_METHOD(HRESULT, CreateEnumerator, (REFIID, IUnknown**), (override));

  // IOPCGroupStateMgt
  MOCK_METHOD(HRESULT, GetState,
              (DWORD*, BOOL*, LPWSTR*, LONG*, FLOAT*, DWORD*, OPCHANDLE*, OPCHANDLE*), (override));
  MOCK_METHOD(HRESULT, SetState, (DWORD*, DWORD*, BOOL*, LONG*, FLOAT*, DWORD*, OPCHANDLE*),
              (override));
  MOCK_METHOD(HRESULT, SetName, (LPCWSTR), (override));
  MOCK_METHOD(HRESULT, CloneGroup, (LPCWSTR, REFIID, IUnknown**), (override));

  // IOPCSyncIO
  MOCK_METHOD(HRESULT, Read, (OPCDATASOURCE, DWORD, OPCHANDLE*, OPCITEMSTATE**, HRESULT**),
              (override));
  MOCK_METHOD(HRESULT, Write, (DWORD, OPCHANDLE*, VARIANT*, HRESULT**), (override));

  // IOPCAsyncIO2
  MOCK_METHOD(HRESULT, Read, (DWORD, OPCHANDLE*, DWORD, DWORD*, HRESULT**), (override));
  MOCK_METHOD(HRESULT, Write, (DWORD, OPCHANDLE*, VARIANT*, DWORD, DWORD*, HRESULT**), (override));
  MOCK_METHOD(HRESULT, Refresh2, (OPCDATASOURCE, DWORD, DWORD*), (override));
  MOCK_METHOD(HRESULT, Cancel2, (DWORD), (override));
  MOCK_METHOD(HRESULT, SetEnable, (BOOL), (override));
  MOCK_METHOD(HRESULT, GetEnable, (BOOL*), (override));

  // IOPCAsyncIO
  MOCK_METHOD(HRESULT, Read, (DWORD, OPCDATASOURCE, DWORD, OPCHANDLE*, DWORD*, HRESULT**),
              (override));
  MOCK_METHOD(HRESULT, Write, (DWORD, DWORD, OPCHANDLE*, VARIANT*, DWORD*, HRESULT**), (override));
  MOCK_METHOD(HRESULT, Refresh, (DWORD, OPCDATASOURCE, DWORD*), (override));
  MOCK_METHOD(HRESULT, Cancel, (DWORD), (override));

  // IConnectionPointContainer: one point, for IOPCDataCallback.
  HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

  // IDataObject: the advise of one sink.
  HRESULT GetData(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
  HRESULT GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  HRESULT SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  HRESULT DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                  DWORD* pdwConnection) override;
  HRESULT DUnadvise(DWORD dwConnection) override;
  HRESULT EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

  HRESULT QueryInterface(REFIID riid, void** ppv) override;

  /// Makes QueryInterface refuse iid (E_NOINTERFACE).
  void refuse(const IID& iid) { refused_.insert(iid); }
  /// The interfaces asked for, in order.
  const std::vector<IID>& queries() const { return queries_; }
  /// The group as the IUnknown a server hands out for IOPCItemMgt.
  IUnknown* asItemMgt() { return static_cast<IOPCItemMgt*>(this); }

  /// The data callback advised last (null when none is advised).
  IOPCDataCallback* dataCallback() const;
  /// The advise sink advised (null when none is).
  IAdviseSink* adviseSink() const { return adviseSink_.get(); }
  /// Every DAdvise, in order.
  struct Advise {
    FORMATETC format;
    DWORD advf;
  };
  std::vector<Advise> dadvises;
  int dunadvises = 0;
  int callbackAdvises = 0;  ///< FindConnectionPoint calls for IOPCDataCallback
  DWORD adviseCookie = 0;   ///< the connection DAdvise handed out last

 protected:
  bool interfaceEnabled(REFIID riid) const override { return !refused_.count(riid); }

 private:
  std::set<IID> refused_;
  std::vector<IID> queries_;
  ComPtr<opc::ConnectionPoint> callbackPoint_;
  ComPtr<IAdviseSink> adviseSink_;
};

/// One item definition as the client sent it.
struct SentDef {
  std::u16string accessPath;
  std::u16string itemId;
  BOOL active;
  OPCHANDLE client;
  DWORD blobSize;
  bool hasBlob;
  VARTYPE requestedType;
};

/// What the item calls of a mock group received, call by call.
struct ItemCalls {
  std::vector<std::vector<SentDef>> defs;       ///< AddItems/ValidateItems
  std::vector<std::vector<OPCHANDLE>> handles;  ///< RemoveItems/SetActiveState/SetDatatypes
  std::vector<std::vector<VARTYPE>> types;      ///< SetDatatypes
  std::vector<BOOL> actives;                    ///< SetActiveState
};

/// How a mock AddItems/ValidateItems answers: per item an error (S_OK when
/// the list is shorter) and, for items that succeed, server handle
/// firstHandle + index, canonical type and rights. Each result may carry a
/// task-memory blob the client must free.
struct ItemAnswer {
  std::vector<HRESULT> errors = {};
  OPCHANDLE firstHandle = 100;
  VARTYPE canonicalType = VT_I4;
  DWORD accessRights = OPC_READABLE | OPC_WRITEABLE;
  bool withBlobs = false;
  HRESULT result = S_OK;  ///< the whole call's result
  bool arrays = true;     ///< hand out the arrays at all
};

/// What AddGroup received.
struct SentGroup {
  std::u16string name;
  BOOL active;
  DWORD requestedRate;
  OPCHANDLE clientGroup;
  bool hasTimeBias;
  LONG timeBias;
  bool hasDeadband;
  FLOAT deadband;
  DWORD lcid;
  IID riid;
};

using AddGroupFn = std::function<HRESULT(LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD,
                                         OPCHANDLE*, DWORD*, REFIID, IUnknown**)>;
using AddItemsFn = std::function<HRESULT(DWORD, OPCITEMDEF*, OPCITEMRESULT**, HRESULT**)>;
using ValidateItemsFn =
    std::function<HRESULT(DWORD, OPCITEMDEF*, BOOL, OPCITEMRESULT**, HRESULT**)>;
using RemoveItemsFn = std::function<HRESULT(DWORD, OPCHANDLE*, HRESULT**)>;
using SetActiveStateFn = std::function<HRESULT(DWORD, OPCHANDLE*, BOOL, HRESULT**)>;
using SetDatatypesFn = std::function<HRESULT(DWORD, OPCHANDLE*, VARTYPE*, HRESULT**)>;

/// AddGroup: records the call (when sent is given), hands out group for
/// IOPCItemMgt with server handle serverGroup and revised rate revisedRate.
AddGroupFn answerAddGroup(MockGroup* group, OPCHANDLE serverGroup, DWORD revisedRate,
                          std::vector<SentGroup>* sent = nullptr);
AddItemsFn answerAddItems(ItemCalls* calls, ItemAnswer answer = {});
ValidateItemsFn answerValidateItems(ItemCalls* calls, ItemAnswer answer = {});
/// The handle calls: record the handles (and types), answer with errors
/// (S_OK where the list is shorter) unless arrays is false.
RemoveItemsFn answerRemoveItems(ItemCalls* calls, std::vector<HRESULT> errors = {},
                                HRESULT result = S_OK, bool arrays = true);
SetActiveStateFn answerSetActiveState(ItemCalls* calls, std::vector<HRESULT> errors = {},
                                      HRESULT result = S_OK, bool arrays = true);
SetDatatypesFn answerSetDatatypes(ItemCalls* calls, std::vector<HRESULT> errors = {},
                                  HRESULT result = S_OK, bool arrays = true);

}  // namespace core_test
