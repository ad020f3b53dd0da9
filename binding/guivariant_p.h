// Private to the binding unit: not part of the API.
//
// Variant conversions the setters and the generic write share.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "opc/variant.h"

namespace veze6::gui {

/// The value as a real number. A boolean is 0 or 1 (never -1), so that a
/// true item sets a bool property. Raises EConvertError when there is none.
double varToReal(const OleVariant& v);

/// The value as text (VarToStr). Raises EConvertError when there is none.
QString varToText(const OleVariant& v);

/// The elements of a one-dimensional array value, lower to upper bound.
std::vector<OleVariant> arrayElements(const OleVariant& v);

/// A number on its way into an integer-like property: integer variants keep
/// every bit (64-bit values do not pass through a double), others are reals.
struct Ordinal {
  enum Kind { Signed, Unsigned, Real } kind = Signed;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double d = 0;
};
Ordinal varToOrdinal(const OleVariant& v);

/// Truncates toward zero and holds the result to [lo, hi]; lo <= hi.
/// Raises EConvertError for a real that is not a number.
std::int64_t clampOrdinal(const Ordinal& o, std::int64_t lo, std::int64_t hi);
/// The same for the range [0, hi] of unsigned 64-bit types.
std::uint64_t clampOrdinalUnsigned(const Ordinal& o, std::uint64_t hi);

/// A readable name of a variant type for messages ("Integer", "String"...).
QString varTypeName(VARTYPE vt);

/// Raises EConvertError "Could not convert variant of type (from) into type (to)".
[[noreturn]] void raiseCannotConvert(VARTYPE from, const QString& to);

}  // namespace veze6::gui
