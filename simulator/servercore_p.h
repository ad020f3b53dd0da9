// Internal to the simulator, not API: the state one server object shares with
// its groups.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "addressspace.h"
#include "opc/groupnamespace.h"
#include "opc/servercommon.h"
#include "scan_p.h"
#include "simulationserver.h"

namespace veze6::sim {

class SimGroup;

namespace detail {

/// What a new group starts with (a type of its own: the group declares it
/// ahead).
struct GroupSettings : opc::GroupSettings {};

/// Server state shared by the server object and its groups. Everything below
/// `mutex` is guarded by it; sinks are never called while it is held.
class ServerCore : public std::enable_shared_from_this<ServerCore> {
 public:
  explicit ServerCore(const SimulationOptions& options);
  ~ServerCore();

  /// Counts the call and returns the failure injected for it, if any.
  std::optional<HRESULT> enter(SimCall call);
  bool quirk(Quirk q) const { return (quirks_.load() >> static_cast<unsigned>(q)) & 1u; }
  void setQuirk(Quirk q, bool enabled);
  void failCall(SimCall call, HRESULT result, int times);
  void clearFailure(SimCall call);
  void clearFailures();
  std::size_t callCount(SimCall call) const;

  /// Puts a new group into the name space and queries it for riid. With
  /// `cloneOf` the group's items are copied from that group (new server
  /// handles). OPC_E_DUPLICATENAME for a used name; E_NOINTERFACE (and no
  /// group) when the group refuses riid; RPC_E_DISCONNECTED once the server
  /// object is gone. The revised rate is OPC_S_UNSUPPORTEDRATE's reason.
  HRESULT addGroup(const GroupSettings& settings, const SimGroup* cloneOf, REFIID riid,
                   IUnknown** ppUnk, OPCHANDLE* serverHandle, DWORD* revisedRate);
  /// Takes the group out of the name space; false when the handle is unknown.
  /// The name space's reference is handed to the caller to release unlocked.
  bool takeGroup(OPCHANDLE serverHandle, ComPtr<SimGroup>& taken);
  /// The server object is going: empties the name space and refuses new groups.
  void close();

  // ---- Scanning ----
  /// One pass at the clock's current time: every live group completes its
  /// queued requests and, when due, scans; then the calls go out (unlocked).
  /// Passes never overlap. Returns the number of calls made or posted.
  std::size_t runPass();
  /// The scan thread's turn: a pass (unless scans are manual), then how long
  /// until a group is next due (nothing: until woken).
  std::optional<std::chrono::nanoseconds> scanOnce();
  /// Moves a manual clock (installed, with manual scanning, when the clock
  /// is another) forward in steps of at most the base scan rate, with a pass
  /// after each step; a zero step runs one pass.
  std::size_t advance(std::chrono::milliseconds step);
  void setManualScan(bool manual);
  /// Lets the scan thread look again (new work, new timing).
  void wakeScanner() { scanSignal_->wake(); }
  const std::shared_ptr<ScanSignal>& scanSignal() const { return scanSignal_; }
  /// How an object holding the server lets go of it: after any running pass.
  static void release(std::shared_ptr<ServerCore>& core);
  /// Starts the scan thread unless scans are manual or it runs already.
  void startScannerLocked();
  PassTime nowLocked() const;
  /// Lets a generated item's value catch up with `now` (once per time).
  void sampleLocked(SimItem& item, const PassTime& now);
  /// Ids for cancelling (DA 2.0) and DA 1.0 transactions: never 0.
  DWORD nextRequestIdLocked() { return requestIds_.next(); }
  void registerGroupLocked(SimGroup* group) { liveGroupList_.push_back(group); }
  void unregisterGroupLocked(SimGroup* group);

  /// Requested rate revised to a multiple of the base scan rate (0: the base).
  DWORD reviseRateLocked(DWORD requested) const;
  /// The group in the name space with that name, other than `except`.
  SimGroup* findGroupLocked(std::u16string_view name, const SimGroup* except = nullptr) const;
  OPCHANDLE nextItemHandleLocked() { return itemHandles_.next(); }

  const bool da10Only;
  std::atomic<std::size_t> liveGroups{0};
  std::atomic<std::size_t> liveItems{0};

  mutable std::mutex mutex;
  // ---- guarded by mutex ----
  AddressSpace space;
  OPCSERVERSTATE state = OPC_STATUS_RUNNING;
  DWORD baseScanRate;
  std::shared_ptr<Clock> clock;
  FILETIME startTime{};
  FILETIME lastUpdateTime{};
  std::u16string vendorInfo;
  opc::GroupNameSpace<SimGroup> groups;
  bool manualScan;
  /// Signals count time from here (FILETIME ticks).
  std::uint64_t signalEpoch = 0;

 private:
  struct Failure {
    HRESULT result;
    int remaining;  ///< < 0: until cleared
  };
  opc::NonZeroIds itemHandles_;
  opc::NonZeroIds requestIds_;
  std::array<std::optional<Failure>, kSimCallCount> failures_;  // guarded by mutex
  std::array<std::atomic<std::size_t>, kSimCallCount> calls_{};
  std::atomic<unsigned> quirks_{0};
  /// Every group object alive, in creation order, also those outside the
  /// name space (their queued requests still complete). A group leaves the
  /// list in its destructor, so a pass never meets a dead one.
  std::vector<SimGroup*> liveGroupList_;
  const std::shared_ptr<ScanSignal> scanSignal_ = std::make_shared<ScanSignal>();
  std::thread scanThread_;
};

}  // namespace detail
}  // namespace veze6::sim
