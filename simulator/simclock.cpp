#include "simclock.h"

#include "opc/filetime.h"

namespace veze6::sim {

FILETIME SystemClock::now() const { return opc::fileTimeNow(); }

ManualClock::ManualClock() : ManualClock(opc::fileTimeNow()) {}

ManualClock::ManualClock(FILETIME start) : ticks_(opc::fileTimeTicks(start)) {}

FILETIME ManualClock::now() const { return opc::fileTimeFromTicks(ticks_.load()); }

void ManualClock::set(FILETIME time) { ticks_.store(opc::fileTimeTicks(time)); }

void ManualClock::advance(std::chrono::milliseconds step) {
  // FILETIME counts 100-nanosecond ticks.
  ticks_.fetch_add(static_cast<std::uint64_t>(step.count()) * 10000u);
}

}  // namespace veze6::sim
