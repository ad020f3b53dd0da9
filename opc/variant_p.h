// What the files of the VARIANT implementation share: the type predicates,
// rounding, and the number, currency and date texts the conversions read and
// write.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "asciitext_p.h"
#include "numbertext.h"
#include "variant.h"

namespace opc::detail {

inline bool isScalarType(VARTYPE vt) {
  return opc::isPlainVariantType(vt) || vt == VT_BSTR || vt == VT_UNKNOWN || vt == VT_DISPATCH;
}

inline bool isElementType(VARTYPE vt) { return opc::isSafeArrayElementType(vt); }

inline bool isValidVariantType(VARTYPE vt) {
  if (vt & VT_ARRAY) return !(vt & VT_BYREF) && isElementType(vt & VT_TYPEMASK);
  if (vt & VT_BYREF) return isElementType(vt & VT_TYPEMASK);
  return isScalarType(vt);
}

// Types VariantChangeType produces.
inline bool isConvertibleType(VARTYPE vt) {
  return isScalarType(vt) && vt != VT_UNKNOWN && vt != VT_DISPATCH;
}

// ---- Numbers ---------------------------------------------------------------

/// Rounds to the nearest integer, halves to the even neighbour.
inline double roundHalfEven(double x) {
  const double fl = std::floor(x);
  const double diff = x - fl;
  if (diff > 0.5) return fl + 1;
  if (diff < 0.5) return fl;
  return std::fmod(fl, 2.0) == 0 ? fl : fl + 1;
}

/// Currency (scaled by 10,000) to a whole number, halves to even.
inline std::int64_t roundCurrency(std::int64_t cy) {
  std::int64_t q = cy / 10000;
  const std::int64_t r = cy % 10000;  // same sign as cy
  if (r > 5000 || (r == 5000 && (q & 1))) ++q;
  if (r < -5000 || (r == -5000 && (q & 1))) --q;
  return q;
}

constexpr double kTwo63 = 9223372036854775808.0;
constexpr double kTwo64 = 18446744073709551616.0;

// Valid dates: 0100-01-01 to 9999-12-31 (inclusive of its last instant).
constexpr double kMinDate = -657434.0;
constexpr double kMaxDate = 2958466.0;

inline bool dateInRange(double d) { return d > kMinDate - 1 && d < kMaxDate; }

// ---- Text ------------------------------------------------------------------

inline std::string toAscii(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char16_t c : s) out.push_back(c < 0x80 ? char(c) : '\x7F');  // never a digit or sign
  return out;
}

inline std::string_view trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

inline std::u16string fromAscii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

template <class T>
inline std::u16string integerText(T v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return fromAscii(std::string_view(buf, std::size_t(r.ptr - buf)));
}

/// A real's shortest text; zero is "0", never "-0".
template <class T>
inline std::u16string realText(T v) {
  if (v == 0) return u"0";
  return fromAscii(opc::shortestDigits(v));
}

inline std::u16string currencyText(std::int64_t cy) { return fromAscii(opc::currencyDigits(cy)); }

/// A number read from text: exact when it is a whole number that fits 64
/// bits, otherwise a double.
struct ParsedNumber {
  enum Kind { Signed, Unsigned, Real } kind;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double d = 0;
};

/// A borrowed view of one array element as a VARIANT (never cleared).
inline VARIANT elementView(VARTYPE vt, const void* p, ULONG size) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  std::memcpy(&v.llVal, p, size);
  return v;
}

std::optional<ParsedNumber> parseNumber(std::string_view s);
HRESULT parseFloatText(std::string_view s, float& out);
std::optional<std::int64_t> parseCurrencyExact(std::string_view s, bool* overflow);
/// The date's text, or nothing outside the valid range.
std::optional<std::u16string> dateText(double d);
std::optional<double> parseDate(std::string_view s);

}  // namespace opc::detail
