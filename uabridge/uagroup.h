// A group of the bridge server: a UA subscription with one monitored item
// per DA item. Interfaces: IOPCItemMgt, IOPCGroupStateMgt, IOPCSyncIO,
// IOPCAsyncIO2 and IConnectionPointContainer (one point, IOPCDataCallback).
//
// The update rate is the subscription's publishing interval (the server's
// revised interval is the revised rate), the active flag its publishing
// mode, an item's active flag its monitored item's monitoring mode, and the
// percent dead band a PercentDeadband filter on items whose node has an
// EURange. Data changes arrive on the UA client's I/O thread, update the
// group's cache there and are handed to the client's callback through its
// apartment; the I/O thread never waits for the client. Asynchronous
// requests run on the server's worker thread and complete the same way.
// The group's methods make their UA calls without holding any lock the I/O
// thread takes for longer than a cache update.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "opc/OPCDA.h"
#include "opc/connectionpoint.h"
#include "ua/subscriptiontypes.h"
#include "ua/types.h"

namespace opc {
struct GroupSettings;
}  // namespace opc

namespace veze6::uab {

struct UaSession;

namespace detail {
class ServerCore;
struct GroupSettings;
}  // namespace detail

/// One item of a group and what the group last heard of it.
struct UaGroupItem {
  OPCHANDLE serverHandle = 0;  ///< also the monitored item's client handle
  OPCHANDLE clientHandle = 0;
  std::u16string itemId;
  ua::NodeId node;
  ua::BuiltinType builtinType = ua::BuiltinType::Variant;
  std::int32_t valueRank = -1;
  VARTYPE requestedType = VT_EMPTY;
  VARTYPE canonicalType = VT_EMPTY;
  DWORD accessRights = 0;
  bool active = true;
  std::uint32_t monitoredItemId = 0;  ///< 0: not (yet) monitored
  /// EURange [low, high]; known only once looked up (euChecked).
  std::optional<std::pair<double, double>> euRange;
  bool euChecked = false;
  // The cache: the value as the server last reported it (canonical form).
  bool haveValue = false;
  OleVariant value;
  WORD quality = OPC_QUALITY_BAD;
  FILETIME timestamp{};
  HRESULT valueError = S_OK;
};

/// The part of a group the I/O thread and the worker share with it: items
/// and cache, and the callback point. Never owns the UA session, so that it
/// may be let go on any thread.
struct UaGroupData {
  std::mutex mutex;
  // ---- guarded by mutex ----
  std::unordered_map<OPCHANDLE, UaGroupItem> items;
  std::vector<OPCHANDLE> order;  ///< server handles in the order added
  bool active = true;
  bool enabled = true;  ///< IOPCAsyncIO2::SetEnable
  bool inNameSpace = true;
  OPCHANDLE clientGroup = 0;
  DWORD updateRate = 0;
  // ---- own lock ----
  ComPtr<opc::ConnectionPoint> callbackPoint;
  /// The server's time of its last data update to this client (FILETIME
  /// ticks), shared by its groups; set whenever a data change is sent.
  std::shared_ptr<std::atomic<std::uint64_t>> lastUpdate;

  /// Stores the notifications of one publish in the cache and sends the
  /// active items among them to the callback (I/O thread).
  void onDataChange(const std::vector<ua::MonitoredItemNotification>& changes);
};

class UaGroup final : public opc::ComObject<IOPCItemMgt, IOPCGroupStateMgt, IOPCSyncIO,
                                            IOPCAsyncIO2, IConnectionPointContainer> {
 public:
  UaGroup(std::shared_ptr<detail::ServerCore> core, const detail::GroupSettings& settings,
          OPCHANDLE serverHandle);

  /// Creates the subscription; the revised rate in `revisedRate`.
  HRESULT subscribe(DWORD requestedRate, DWORD* revisedRate);

  // IOPCItemMgt (uagroup_items.cpp)
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

  // IOPCGroupStateMgt (uagroup_state.cpp)
  HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                   FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                   OPCHANDLE* phServerGroup) override;
  HRESULT SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                   LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                   OPCHANDLE* phClientGroup) override;
  HRESULT SetName(LPCWSTR szName) override;
  HRESULT CloneGroup(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) override;

  // IOPCSyncIO (uagroup_syncio.cpp)
  HRESULT Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
               OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override;
  HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                HRESULT** ppErrors) override;

  // IOPCAsyncIO2 (uagroup_asyncio.cpp)
  HRESULT Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
               HRESULT** ppErrors) override;
  HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                DWORD* pdwCancelID, HRESULT** ppErrors) override;
  HRESULT Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) override;
  HRESULT Cancel2(DWORD dwCancelID) override;
  HRESULT SetEnable(BOOL bEnable) override;
  HRESULT GetEnable(BOOL* pbEnable) override;

  // IConnectionPointContainer (uagroup_callback.cpp)
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

  struct Pending;  ///< an asynchronous request waiting for the worker

  OPCHANDLE serverHandle() const { return serverHandle_; }
  const std::u16string& nameLocked() const { return name_; }  ///< the core's lock held
  void leaveNameSpace();
  /// Adds copies of another group's items (new server handles).
  HRESULT copyItemsFrom(UaGroup& from);

 protected:
  ~UaGroup() override;

 private:
  HRESULT queueItems(bool write, DWORD count, const OPCHANDLE* handles, const VARIANT* values,
                     DWORD transactionId, DWORD* cancelId, HRESULT** ppErrors);
  HRESULT addOrValidate(bool add, DWORD count, const OPCITEMDEF* defs, OPCITEMRESULT** ppResults,
                        HRESULT** ppErrors);
  /// Monitors the items (their handles in `handles`); failures are removed
  /// from the group and their code stored in errors[index[i]].
  void monitor(const std::vector<OPCHANDLE>& handles, HRESULT* errors,
               const std::vector<DWORD>& index);
  /// Sends every monitored item's parameters again (sampling interval, dead
  /// band filter), or only those of items with a range.
  void modifyItems(bool rangedOnly = false);
  /// Looks up EURange of the items not yet checked (for the dead band).
  void lookUpRanges(std::vector<OPCHANDLE> handles);
  /// The monitoring parameters of an item under the group's dead band.
  std::pair<ua::MonitoringMode, ua::ExtensionObject> itemFilter(const UaGroupItem& item) const;
  HRESULT queueRequest(std::shared_ptr<Pending> request, DWORD* cancelId);
  /// What GetState reports: the settings a new group like it would get.
  opc::GroupSettings state();

  std::shared_ptr<detail::ServerCore> core_;
  std::shared_ptr<UaSession> session_;
  std::shared_ptr<UaGroupData> data_;
  const OPCHANDLE serverHandle_;
  /// Keeps the calls that change the subscription apart (never taken by the
  /// I/O thread, so it may be held across UA calls).
  std::mutex calls_;
  // ---- guarded by the core's lock ----
  std::u16string name_;
  // ---- guarded by data_->mutex ----
  LONG timeBias_;
  FLOAT percentDeadband_;
  LCID lcid_;
  std::uint32_t subscriptionId_ = 0;
  std::vector<std::shared_ptr<Pending>> pending_;  ///< queued, not yet started
};

}  // namespace veze6::uab
