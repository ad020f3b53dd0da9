// FILETIME arithmetic (UTC, 100-nanosecond ticks since 1601-01-01).
#pragma once

#include <chrono>

#include "comtypes.h"

namespace opc {

/// Ticks between 1601-01-01 and the Unix epoch.
inline constexpr std::int64_t kFileTimeUnixEpoch = 116444736000000000LL;

inline std::uint64_t fileTimeTicks(const FILETIME& ft) {
  return (std::uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
inline FILETIME fileTimeFromTicks(std::uint64_t ticks) {
  return FILETIME{DWORD(ticks & 0xFFFFFFFFu), DWORD(ticks >> 32)};
}
inline FILETIME fileTimeFromSystemClock(std::chrono::system_clock::time_point tp) {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(tp.time_since_epoch());
  return fileTimeFromTicks(std::uint64_t(us.count() * 10 + kFileTimeUnixEpoch));
}
inline std::chrono::system_clock::time_point systemClockFromFileTime(const FILETIME& ft) {
  const auto ticks = std::int64_t(fileTimeTicks(ft)) - kFileTimeUnixEpoch;
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::microseconds(ticks / 10)));
}
/// The current UTC time.
inline FILETIME fileTimeNow() { return fileTimeFromSystemClock(std::chrono::system_clock::now()); }

}  // namespace opc
