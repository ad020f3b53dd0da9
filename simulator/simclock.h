// The simulation server's clock: where its status times (and later its scan
// times and value time stamps) come from. Tests replace it with a manual one.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "opc/comtypes.h"

namespace veze6::sim {

/// A source of the current UTC time. Implementations are thread-safe.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual FILETIME now() const = 0;
};

/// The system clock (the default).
class SystemClock final : public Clock {
 public:
  FILETIME now() const override;
};

/// A clock that stands still until it is set or advanced.
class ManualClock final : public Clock {
 public:
  /// Starts at the given time (the system time when omitted).
  ManualClock();
  explicit ManualClock(FILETIME start);

  FILETIME now() const override;
  void set(FILETIME time);
  void advance(std::chrono::milliseconds step);

 private:
  std::atomic<std::uint64_t> ticks_;
};

}  // namespace veze6::sim
