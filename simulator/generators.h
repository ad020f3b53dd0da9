// Values that change over time: the generators behind the signal branches of
// the standard address space, and the factory hosts use to animate items of
// their own (benchmarks add thousands of Random items this way).
#pragma once

#include <memory>

#include "addressspace.h"
#include "opc/scalar.h"

namespace veze6::sim {

/// The signal shapes. Each runs over the item's engineering-units range
/// (0..100 for an item without one).
enum class Signal : std::uint8_t {
  Random,    ///< a new uniform value at every sample (seeded by the item id)
  Ramp,      ///< rises linearly from low to high, then starts again
  Sine,      ///< a sine wave around the middle of the range
  Square,    ///< low for the first half of the period, high for the second
  Triangle,  ///< rises from low to high and falls back within the period
};

/// The default period of each signal in seconds (Random has none).
double defaultPeriod(Signal signal);

/// A generator of `signal` for `item`'s canonical type and range. Numbers are
/// rounded for integer types; booleans are the signal's upper half (Random:
/// a coin toss); arrays get one value per element (Random) or the same value
/// in every element; Random also makes texts and dates. `periodSeconds` 0
/// takes the default. Null when the type cannot carry the signal.
std::unique_ptr<ValueGenerator> makeGenerator(Signal signal, const SimItem& item,
                                              double periodSeconds = 0.0);

/// Makes the standard address space live: gives every item of the signal
/// branches (Random, Ramp, Sine, Square, Triangle) its generator, and adds
/// the writable items with limits, "Writable.Clamped.*" (writes beyond the
/// range are clamped, OPC_S_CLAMP) and "Writable.Limited.*" (refused,
/// OPC_E_RANGE).
void animateDefaultItems(AddressSpace& space, FILETIME timeStamp);

/// Writes `x` into a VARIANT of a numeric, boolean or date type, rounded and
/// clamped to what the type holds; false when the stored value did not change
/// (or the type takes no number).
bool storeNumber(VARIANT& v, double x);

/// The number a scalar numeric, boolean or date VARIANT holds; a simulated
/// signal counts true as 1.
inline std::optional<double> numberOf(const VARIANT& v) {
  return opc::numericValue(v, opc::TrueAs::One);
}

}  // namespace veze6::sim
