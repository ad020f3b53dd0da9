// Internal to the bridge, not API: the state one bridge server object shares
// with its groups.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "opc/OPCDA.h"
#include "opc/groupnamespace.h"
#include "opc/servercommon.h"
#include "uasession.h"
#include "uaworker.h"

namespace veze6::uab {

class UaGroup;

namespace detail {

/// What a new group starts with (a type of its own: the group declares it
/// ahead).
struct GroupSettings : opc::GroupSettings {};

/// Server state shared by the server object and its groups. Everything below
/// `mutex` is guarded by it; no UA call and no sink call is made while it is
/// held.
class ServerCore : public std::enable_shared_from_this<ServerCore> {
 public:
  explicit ServerCore(std::shared_ptr<UaSession> session) : session(std::move(session)) {}

  /// Makes a group (a subscription on the server), puts it into the name
  /// space and queries it for riid. With `cloneOf` the items are copied.
  /// OPC_E_DUPLICATENAME for a used name; RPC_E_DISCONNECTED once the
  /// server object is gone; the UA failure's code when the subscription
  /// cannot be made. `revisedRate` gets the publishing interval granted.
  HRESULT addGroup(const GroupSettings& settings, UaGroup* cloneOf, REFIID riid, IUnknown** ppUnk,
                   OPCHANDLE* serverHandle, DWORD* revisedRate);
  /// Takes the group out of the name space; false when the handle is unknown.
  bool takeGroup(OPCHANDLE serverHandle, ComPtr<UaGroup>& taken);
  /// The server object is going: empties the name space, refuses new groups.
  void close();

  UaGroup* findGroupLocked(std::u16string_view name, const UaGroup* except = nullptr) const;
  /// Never 0.
  OPCHANDLE nextItemHandle() { return itemHandles_.next(); }
  /// Cancel ids of asynchronous requests: never 0.
  DWORD nextRequestId() { return requestIds_.next(); }

  const std::shared_ptr<UaSession> session;
  /// Runs the asynchronous requests of every group of this server.
  UaWorker worker;
  std::atomic<std::size_t> liveGroups{0};
  /// FILETIME ticks of the last data change sent to any group's callback;
  /// 0 until the first (GetStatus's last update time).
  const std::shared_ptr<std::atomic<std::uint64_t>> lastUpdate =
      std::make_shared<std::atomic<std::uint64_t>>(0);
  std::atomic<std::size_t> liveItems{0};

  mutable std::mutex mutex;
  // ---- guarded by mutex ----
  opc::GroupNameSpace<UaGroup> groups;

 private:
  opc::NonZeroIds itemHandles_;
  opc::NonZeroIds requestIds_;
};

}  // namespace detail
}  // namespace veze6::uab
