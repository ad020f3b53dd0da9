// Internal to the library, not API: the small steps every data sink and read
// repeats for each item, kept inline because they run once per item of a
// data change.
#pragma once

#include <cstdint>

#include "opc/filetime.h"
#include "opc/variant.h"
#include "qopcconversions.h"

namespace veze6::core::detail {

/// Clears to, then moves from into it; from is left empty, as after a copy
/// and a clear of the source, without copying texts or arrays.
inline void takeValue(OleVariant& to, VARIANT& from) {
  VARIANT* v = to.ptr();
  if (!opc::isPlainVariantType(v->vt)) VariantClear(v);
  *v = from;
  from.vt = VT_EMPTY;
}

/// FileTimeToDateTime for a run of stamps: the items of one data change
/// usually share the scan's stamp, which is then converted once.
class StampConverter {
 public:
  TDateTime operator()(const FILETIME& stamp) {
    const std::uint64_t ticks = opc::fileTimeTicks(stamp);
    if (ticks != last_) {
      last_ = ticks;
      value_ = FileTimeToDateTime(stamp);
    }
    return value_;
  }

 private:
  std::uint64_t last_ = 0;
  TDateTime value_ = FileTimeToDateTime(FILETIME{0, 0});
};

}  // namespace veze6::core::detail
