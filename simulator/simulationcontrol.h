// The host's and the tests' handle on a running simulation server: request a
// shutdown, change the server state, inject failures, and read back what the
// client did.
//
// Reaching it: every simulation server object answers QueryInterface for
// `SimulationControl` (a private interface of this process, also in DA 1.0
// mode), so a host that holds any of the server's interfaces can ask for it:
//
//     ComPtr<veze6::sim::SimulationControl> control = server.as<veze6::sim::SimulationControl>();
//     control->failCall(veze6::sim::SimCall::AddGroup, E_OUTOFMEMORY);
//
// To prepare a server before the client sees it (for example a failure in the
// client's connect sequence), install a creation hook: it runs for every
// server created afterwards, before the creating call returns.
//
// Driving scans: normally the server's own scan thread scans each group at
// its update rate and completes asynchronous requests as soon as it can.
// Tests that want every data change at a moment they choose turn scans
// manual (`setManualScan(true)` in a creation hook, or the option
// `SimulationOptions::manualScan`) and then either run one pass at the
// clock's current time (`runScan()`) or let manual time pass (`advance(ms)`,
// which installs a manual clock when the server has another). Completions of
// asynchronous requests also wait for the next pass, so they never arrive
// inside the request. Wherever a pass runs, each sink is called on the
// thread that advised it: directly when the pass runs there (or the advising
// thread had no apartment), otherwise posted to that thread's apartment.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "opc/OPCtypes.h"
#include "opc/unknown.h"
#include "simclock.h"

namespace veze6::sim {

/// The server calls whose result can be replaced (failCall) and that are
/// counted (callCount). Named after the interface method.
enum class SimCall : std::uint8_t {
  // IOPCServer
  AddGroup,
  GetErrorString,
  GetGroupByName,
  GetStatus,
  RemoveGroup,
  CreateGroupEnumerator,
  // IOPCCommon
  SetLocaleID,
  GetLocaleID,
  QueryAvailableLocaleIDs,
  CommonGetErrorString,  ///< IOPCCommon::GetErrorString
  SetClientName,
  // IConnectionPointContainer of the server
  EnumConnectionPoints,
  FindConnectionPoint,
  // IOPCItemMgt
  AddItems,
  ValidateItems,
  RemoveItems,
  SetActiveState,
  SetClientHandles,
  SetDatatypes,
  CreateEnumerator,
  // IOPCGroupStateMgt
  GetState,
  SetState,
  SetName,
  CloneGroup,
  // IOPCSyncIO
  SyncRead,
  SyncWrite,
  // IOPCAsyncIO2 and IOPCAsyncIO alike
  AsyncRead,
  AsyncWrite,
  Refresh,  ///< Refresh2 and Refresh
  Cancel,   ///< Cancel2 and Cancel
  // IConnectionPointContainer of a group
  GroupFindConnectionPoint,
  // IDataObject of a group
  DAdvise,
  // IOPCBrowseServerAddressSpace
  QueryOrganization,
  ChangeBrowsePosition,
  BrowseOPCItemIDs,
  GetItemID,
  BrowseAccessPaths,
  // IOPCItemProperties
  QueryAvailableProperties,
  GetItemProperties,
  LookupItemIDs,
};
inline constexpr std::size_t kSimCallCount = static_cast<std::size_t>(SimCall::LookupItemIDs) + 1;

/// The call's name as spelled above ("AddGroup", "CommonGetErrorString").
std::string_view simCallName(SimCall call);
/// The call with that name (exact spelling), or nothing.
std::optional<SimCall> simCallFromName(std::string_view name);

/// Misbehaviour a hostile or broken server shows, for testing clients.
enum class Quirk : std::uint8_t {
  NullStatus,         ///< GetStatus succeeds without a status block
  NullVendorInfo,     ///< the status block has no vendor text
  NullItemArrays,     ///< item calls do their work but return no result arrays
  ArraysWithFailure,  ///< an injected item-call failure still hands out arrays
};

/// {C0B75AA3-C39B-4ABD-A30B-89F6461EBF04}
inline constexpr IID IID_SimulationControl{
    0xC0B75AA3, 0xC39B, 0x4ABD, {0xA3, 0x0B, 0x89, 0xF6, 0x46, 0x1E, 0xBF, 0x04}};

/// Control interface of one simulation server. Thread-safe.
struct SimulationControl : IUnknown {
  OPC_INTERFACE_IID(SimulationControl)

  /// Failure stays until cleared.
  static constexpr int kUntilCleared = -1;

  // ---- Shutdown and state ---------------------------------------------------
  /// Calls IOPCShutdown::ShutdownRequest(reason) on every advised sink and
  /// returns how many were called. Each call runs on the calling thread when
  /// that is the thread that advised the sink (or it advised without an
  /// apartment), otherwise it is posted to the advising thread's apartment.
  virtual std::size_t requestShutdown(std::u16string_view reason) = 0;
  virtual std::size_t shutdownSinkCount() const = 0;
  virtual void setServerState(OPCSERVERSTATE state) = 0;
  virtual OPCSERVERSTATE serverState() const = 0;

  // ---- Failure injection ------------------------------------------------------
  /// The next `times` calls (all, with kUntilCleared) return `result` at once,
  /// with null out-parameters and no other effect.
  virtual void failCall(SimCall call, HRESULT result, int times = kUntilCleared) = 0;
  virtual void clearFailure(SimCall call) = 0;
  virtual void clearFailures() = 0;
  virtual void setQuirk(Quirk quirk, bool enabled) = 0;
  /// How often the client made the call (failed calls included).
  virtual std::size_t callCount(SimCall call) const = 0;

  // ---- Timing and status text ----------------------------------------------------
  /// The fastest update rate in milliseconds (at least 1); requested rates are
  /// revised up to a multiple of it. Groups keep their rates when it changes.
  virtual void setBaseScanRate(DWORD milliseconds) = 0;
  virtual DWORD baseScanRate() const = 0;
  /// Replaces the clock the status times, scans and value time stamps are
  /// read from (null: the system clock).
  virtual void setClock(std::shared_ptr<Clock> clock) = 0;
  virtual void setStartTime(FILETIME time) = 0;
  /// The time of the last update sent to the client (zero: none yet).
  virtual void setLastUpdateTime(FILETIME time) = 0;
  virtual void setVendorInfo(std::u16string_view text) = 0;

  // ---- What the client did ----------------------------------------------------------
  virtual std::u16string clientName() const = 0;
  virtual LCID localeId() const = 0;
  /// Groups in the server's name space (what GetStatus reports).
  virtual std::size_t groupCount() const = 0;
  /// Group objects alive, removed ones the client still holds included.
  virtual std::size_t liveGroupCount() const = 0;
  /// Items in the live group objects.
  virtual std::size_t liveItemCount() const = 0;
  virtual bool isDA10Only() const = 0;

  // ---- Item values ------------------------------------------------------------------------
  /// The item's current value; OPC_E_UNKNOWNITEMID for an unknown id.
  virtual HRESULT itemValue(std::u16string_view itemId, OleVariant& value) const = 0;
  /// Replaces the item's value, converted to its canonical type (the
  /// conversion's error when it does not convert), time-stamped now; read-only
  /// items too. A generated item takes its next generated value at the next
  /// sample.
  virtual HRESULT setItemValue(std::u16string_view itemId, const OleVariant& value) = 0;
  /// The quality the item reports from now on (OPC_QUALITY_GOOD by default;
  /// for example OPC_QUALITY_UNCERTAIN, OPC_QUALITY_LAST_USABLE,
  /// OPC_QUALITY_BAD, OPC_QUALITY_COMM_FAILURE): a change is reported like a
  /// value change. OPC_E_UNKNOWNITEMID for an unknown id.
  virtual HRESULT setItemQuality(std::u16string_view itemId, WORD quality) = 0;
  virtual HRESULT itemQuality(std::u16string_view itemId, WORD& quality) const = 0;

  // ---- Scans ----------------------------------------------------------------------------------
  /// Manual: scans run only in runScan and advance, and the scan thread
  /// rests. Off again: the scan thread takes over.
  virtual void setManualScan(bool manual) = 0;
  virtual bool manualScan() const = 0;
  /// One pass at the clock's current time: every group completes its queued
  /// asynchronous requests (in the order made) and, when its update time has
  /// come or it has a new sink, reports its changes. Returns the number of
  /// calls into clients made or posted.
  virtual std::size_t runScan() = 0;
  /// Turns scans manual (installing a manual clock at the current time when
  /// the clock is another) and moves the clock forward by `step`, in steps of
  /// at most the base scan rate with a pass after each; a zero step runs one
  /// pass. Returns the number of calls into clients made or posted.
  virtual std::size_t advance(std::chrono::milliseconds step) = 0;

  // ---- Address space ------------------------------------------------------------------------
  /// Flat: the server presents its address space as a flat list of item ids
  /// (QueryOrganization answers OPC_NS_FLAT) instead of its tree. Switching
  /// moves this server object's browse position back to the root.
  virtual void setFlatAddressSpace(bool flat) = 0;
  virtual bool flatAddressSpace() const = 0;

 protected:
  ~SimulationControl() = default;
};

/// Called with every simulation server created while installed.
using CreationHook = std::function<void(SimulationControl&)>;

/// Installs a creation hook until the guard is destroyed.
class ScopedCreationHook {
 public:
  explicit ScopedCreationHook(CreationHook hook);
  ScopedCreationHook(const ScopedCreationHook&) = delete;
  ScopedCreationHook& operator=(const ScopedCreationHook&) = delete;
  ~ScopedCreationHook();

 private:
  std::uint64_t id_;
};

/// Simulation server objects alive in the process.
std::size_t liveServerCount();

}  // namespace veze6::sim
