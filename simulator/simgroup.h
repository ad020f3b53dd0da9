// A group of the simulation server: its state and the items a client added.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "addressspace.h"
#include "opc/OPCDA.h"
#include "simulationcontrol.h"

namespace veze6::sim {

namespace detail {
class ServerCore;
struct GroupSettings;
}  // namespace detail

/// One item of a group (a client's view of an address-space item).
struct GroupItem {
  SimItem* item;  ///< in the server's address space
  OPCHANDLE serverHandle;
  OPCHANDLE clientHandle;
  VARTYPE requestedType;
  std::uint8_t accessPath;  ///< index into the address space's access paths
  bool active;
};

/// The group object. Interfaces: IOPCItemMgt, IOPCGroupStateMgt. Created by
/// the server (AddGroup, CloneGroup); all of its state is guarded by the
/// server core's lock. A group taken out of the server's name space
/// (RemoveGroup, or the server object released) keeps answering its client.
class SimGroup final : public opc::ComObject<IOPCItemMgt, IOPCGroupStateMgt> {
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

  OPCHANDLE serverHandle() const { return serverHandle_; }

  // ---- for the server core, with its lock held ----
  const std::u16string& nameLocked() const { return name_; }
  std::size_t itemCountLocked() const { return items_.size(); }
  /// Copies another group's items with new server handles.
  void copyItemsLocked(const SimGroup& from);
  /// The group left the server's name space.
  void leaveNameSpaceLocked() { inNameSpace_ = false; }
  bool inNameSpaceLocked() const { return inNameSpace_; }

 protected:
  ~SimGroup() override;

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
  void removeItemLocked(OPCHANDLE serverHandle);

  const std::shared_ptr<detail::ServerCore> core_;
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
};

}  // namespace veze6::sim
