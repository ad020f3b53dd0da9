// A group of the simulation server: its state, the items a client added,
// their subscription, reads and writes, and the client sinks it calls.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "addressspace.h"
#include "opc/OPCDA.h"
#include "simulationcontrol.h"

namespace opc {
class SinkList;
struct GroupSettings;
struct ItemBatch;
struct Connection;
class ConnectionPoint;
}  // namespace opc

namespace veze6::sim {

namespace detail {
class ServerCore;
struct AsyncRequest;
struct GroupSettings;
struct Outgoing;
struct PassTime;
}  // namespace detail

/// One item of a group (a client's view of an address-space item), with
/// what the group last reported of it.
struct GroupItem {
  SimItem* item;  ///< in the server's address space
  OPCHANDLE serverHandle;
  OPCHANDLE clientHandle;
  VARTYPE requestedType;
  std::uint8_t accessPath;  ///< index into the address space's access paths
  bool active;
  bool initial = true;  ///< report at the next scan whatever the value (new, reactivated)
  WORD sentQuality = 0;
  std::uint64_t sentChange = 0;  ///< the item's changeCount when last reported
  double sentNumber = 0.0;       ///< the value last reported (dead band items)
};

/// The group object. Interfaces: IOPCItemMgt, IOPCGroupStateMgt, IOPCSyncIO,
/// IOPCAsyncIO2 and IConnectionPointContainer (one point, IOPCDataCallback)
/// for DA 2.0 clients, IOPCAsyncIO and IDataObject (the data streams) for
/// DA 1.0 clients; a DA 1.0-only server's group refuses the DA 2.0 two.
/// Created by the server (AddGroup, CloneGroup); all of its state is guarded
/// by the server core's lock, and its sinks are only called by a scan pass
/// (ServerCore::runPass), never from inside a client's call. A group taken
/// out of the server's name space (RemoveGroup, or the server object
/// released) keeps answering its client and completes its queued requests,
/// but sends no more data changes.
///
/// Subscription: at its update rate an active group reports each active item
/// whose value or quality changed since it last reported it; with a dead
/// band, an analog item (a number with an engineering-units range) counts as
/// changed only when it moved more than that percentage of its range. New
/// and reactivated items, a reactivated group and a newly advised or
/// re-enabled sink get every active item once. Asynchronous requests
/// complete at the next pass, in the order they were made, before its data
/// change.
class SimGroup final
    : public opc::ComObject<IOPCItemMgt, IOPCGroupStateMgt, IOPCSyncIO, IOPCAsyncIO2, IOPCAsyncIO,
                            IConnectionPointContainer, IDataObject> {
 public:
  SimGroup(std::shared_ptr<detail::ServerCore> core, const detail::GroupSettings& settings,
           OPCHANDLE serverHandle, DWORD updateRate);

  // IOPCItemMgt
  HRESULT AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                   HRESULT** ppErrors) override;
  HRESULT ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                        OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) override;
  HRESULT RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;
  HRESULT SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                         HRESULT** ppErrors) override;
  HRESULT SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                           HRESULT** ppErrors) override;
  HRESULT SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                       HRESULT** ppErrors) override;
  HRESULT CreateEnumerator(REFIID riid, IUnknown** ppUnk) override;

  // IOPCGroupStateMgt
  HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                   FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                   OPCHANDLE* phServerGroup) override;
  HRESULT SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                   LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                   OPCHANDLE* phClientGroup) override;
  HRESULT SetName(LPCWSTR szName) override;
  HRESULT CloneGroup(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) override;

  // IOPCSyncIO
  HRESULT Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
               OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override;
  HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                HRESULT** ppErrors) override;

  // IOPCAsyncIO2
  HRESULT Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
               HRESULT** ppErrors) override;
  HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                DWORD* pdwCancelID, HRESULT** ppErrors) override;
  HRESULT Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) override;
  HRESULT Cancel2(DWORD dwCancelID) override;
  HRESULT SetEnable(BOOL bEnable) override;
  HRESULT GetEnable(BOOL* pbEnable) override;

  // IOPCAsyncIO
  HRESULT Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
               DWORD* pTransactionID, HRESULT** ppErrors) override;
  HRESULT Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                DWORD* pTransactionID, HRESULT** ppErrors) override;
  HRESULT Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) override;
  HRESULT Cancel(DWORD dwTransactionID) override;

  // IConnectionPointContainer
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

  // IDataObject: advise only, as OPC groups do.
  HRESULT GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) override;
  HRESULT GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) override;
  HRESULT QueryGetData(FORMATETC* pformatetc) override;
  HRESULT GetCanonicalFormatEtc(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) override;
  HRESULT SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) override;
  HRESULT EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) override;
  /// Formats OPCSTMFORMATDATATIME, OPCSTMFORMATDATA (one data advise per
  /// group) and OPCSTMFORMATWRITECOMPLETE (one), on TYMED_HGLOBAL.
  HRESULT DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                  DWORD* pdwConnection) override;
  HRESULT DUnadvise(DWORD dwConnection) override;
  HRESULT EnumDAdvise(IEnumSTATDATA** ppenumAdvise) override;

  OPCHANDLE serverHandle() const { return serverHandle_; }

  // ---- for the server core, with its lock held ----
  const std::u16string& nameLocked() const { return name_; }
  std::size_t itemCountLocked() const { return items_.size(); }
  /// Copies another group's items with new server handles.
  void copyItemsLocked(const SimGroup& from);
  /// The group left the server's name space.
  void leaveNameSpaceLocked() { inNameSpace_ = false; }
  bool inNameSpaceLocked() const { return inNameSpace_; }
  /// A pass: completes the queued requests and, when the group is due (or
  /// has a new sink), scans; adds the calls to make to `out`.
  void collectLocked(const detail::PassTime& now, std::vector<detail::Outgoing>& out);
  /// When the group next wants a pass (FILETIME ticks; 0: now); nothing
  /// while it has nothing to do.
  std::optional<std::uint64_t> nextDueLocked() const;

 protected:
  ~SimGroup() override;
  bool interfaceEnabled(REFIID riid) const override;

 private:
  HRESULT addOrValidate(bool add, DWORD count, const OPCITEMDEF* defs, OPCITEMRESULT** ppResults,
                        HRESULT** ppErrors);
  /// The common shape of the calls that take server handles: checks, the
  /// per-item errors array (OPC_E_INVALIDHANDLE for unknown handles), S_FALSE
  /// when any item failed. `perItem(GroupItem&, index)` runs under the lock.
  template <class PerItem>
  HRESULT forEachHandle(SimCall call, DWORD count, const OPCHANDLE* handles, HRESULT** ppErrors,
                        bool argumentsValid, PerItem perItem);
  GroupItem* findItemLocked(OPCHANDLE serverHandle);
  /// What GetState reports: the settings a new group like it would get.
  opc::GroupSettings stateLocked() const;
  void removeItemLocked(OPCHANDLE serverHandle);
  void markAllInitialLocked();
  /// The changed active items, marked as reported.
  std::shared_ptr<opc::ItemBatch> scanLocked(const detail::PassTime& now);
  /// Samples the active items without reporting (no one listens).
  void sampleActiveLocked(const detail::PassTime& now);
  /// Reads one item for a client (OPCITEMSTATE, a read completion, a refresh).
  HRESULT readLocked(GroupItem& item, bool fromDevice, const detail::PassTime& now, VARIANT& value,
                     WORD& quality, FILETIME& timeStamp);
  void completeLocked(detail::AsyncRequest& request, const detail::PassTime& now,
                      std::vector<detail::Outgoing>& out);
  /// The asynchronous reads and writes (DA 2.0 and DA 1.0): the checks
  /// (CONNECT_E_NOCONNECTION when `connected()` is false), then the handles
  /// (and, for writes, the rights); queues the request with the items that
  /// passed and fills the per-item errors. `id` receives the request's
  /// cancel id (DA 1.0: its transaction id).
  template <class Connected>
  HRESULT queueItems(SimCall call, detail::AsyncRequest&& request, DWORD count,
                     const OPCHANDLE* handles, const VARIANT* values, HRESULT** ppErrors, DWORD* id,
                     Connected connected);
  /// Refresh2 and Refresh: queues a refresh of the active items; E_FAIL
  /// when the group or all its items are inactive.
  template <class Connected>
  HRESULT queueRefresh(detail::AsyncRequest&& request, DWORD* id, Connected connected);
  std::shared_ptr<opc::Connection> adviseOf(bool writeResults) const;

  std::shared_ptr<detail::ServerCore> core_;  ///< let go only in the destructor
  const OPCHANDLE serverHandle_;
  // ---- guarded by the core's lock ----
  std::u16string name_;
  bool active_;
  DWORD updateRate_;
  OPCHANDLE clientHandle_;
  LONG timeBias_;
  FLOAT percentDeadband_;
  LCID lcid_;
  bool inNameSpace_ = true;
  std::vector<GroupItem> items_;                      ///< dense, for scanning
  std::unordered_map<OPCHANDLE, std::size_t> index_;  ///< server handle -> position in items_
  std::uint64_t nextScan_ = 0;                        ///< FILETIME ticks; 0: at the next pass
  bool enabled_ = true;                               ///< IOPCAsyncIO2::SetEnable
  std::uint64_t seenCallbacks_ = 0;                   ///< sink generations a scan has seen
  std::uint64_t seenAdvises_ = 0;
  std::vector<detail::AsyncRequest> pending_;  ///< oldest first
  // ---- own locks ----
  const ComPtr<opc::ConnectionPoint> callbackPoint_;  ///< IOPCDataCallback, one sink
  const std::unique_ptr<opc::SinkList> advises_;      ///< IDataObject advises
};

}  // namespace veze6::sim
