// What the hostile server does, chosen by the test: an act per call, and the
// ways the callbacks it relays to the client go wrong. One script for the
// process, as the server objects are created through the class registry.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "opc/OPCDA.h"
#include "simulator/simulationcontrol.h"

namespace hostile {

using veze6::sim::SimCall;

/// What one call of the server does.
enum class Act : std::uint8_t {
  Forward,      ///< what the simulation server does
  Fail,         ///< returns the code at once, out-parameters null
  NullOut,      ///< S_OK with every out-array, string and interface null
  MixedErrors,  ///< does the work, then reports every other item failed
  Shutdown,     ///< asks the client to shut down, then does the work
  Reenter,      ///< calls the client's data sinks with a data change, then does the work
  Block,        ///< waits until the test opens the gate, then does the work
  WrongCount,   ///< enumerators it hands out report more elements than they wrote
  Unrevised,    ///< does the work but leaves the revised update rate unwritten
};

/// How relayed callbacks go wrong (flags).
enum Mangle : unsigned {
  kClean = 0,
  kBadHandles = 1,          ///< every handle twice, then a stale and an unknown one
  kForeignThread = 2,       ///< called from a thread of the server's own, no apartment
  kUnknownTransaction = 4,  ///< transaction ids never started, and completions nobody asked for
  kBadStream = 8,           ///< DA 1.0 stream headers with fields wrong
  kKeepSinks = 16,          ///< unadvised sinks and sinks of removed groups stay called
};

class Script {
 public:
  static Script& instance();

  void set(SimCall call, Act act, HRESULT code = E_FAIL);
  /// The same act for every call.
  void setAll(Act act, HRESULT code = E_FAIL);
  void setMangle(unsigned flags);
  /// Back to forwarding everything, the gate open, kept sinks dropped and the
  /// server's threads joined.
  void reset();

  struct Step {
    Act act = Act::Forward;
    HRESULT code = S_OK;
  };
  Step step(SimCall call) const;
  unsigned mangle() const;
  bool mangles(unsigned flag) const { return (mangle() & flag) != 0; }

  // ---- The gate of Act::Block ------------------------------------------------
  /// Closed by reset() and closeGate(); a blocking call waits at it.
  void closeGate();
  void openGate();
  /// Called by the server: waits while the gate is closed.
  void passGate();
  /// Waits until a call waits at the gate; false after `timeout`.
  bool waitForBlockedCall(std::chrono::milliseconds timeout);

  // ---- Sinks the server keeps calling -------------------------------------------
  /// Remembers a call that reaches a sink the client gave up (kKeepSinks).
  void keep(std::function<void()> call);
  /// Makes every kept call now (kForeignThread: starts making them on a
  /// thread of the server's own); returns how many.
  std::size_t fireKept();

  /// Runs `call` on a thread of the server's own (joined by reset()).
  void runForeign(std::function<void()> call);
  /// Waits for the server's threads.
  void joinForeign();

 private:
  Script();
  mutable std::mutex mutex_;
  std::condition_variable gateChanged_;
  std::vector<Step> steps_;
  unsigned mangle_ = kClean;
  bool gateOpen_ = true;
  int blocked_ = 0;
  std::vector<std::function<void()>> kept_;
  std::vector<std::thread> threads_;
};

}  // namespace hostile
