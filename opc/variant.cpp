#include "variant.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "scalar.h"
#include "taskmem.h"
#include "unknown.h"

namespace {

bool isScalarType(VARTYPE vt) {
  return opc::isPlainVariantType(vt) || vt == VT_BSTR || vt == VT_UNKNOWN || vt == VT_DISPATCH;
}

bool isElementType(VARTYPE vt) { return opc::isSafeArrayElementType(vt); }

bool isValidVariantType(VARTYPE vt) {
  if (vt & VT_ARRAY) return !(vt & VT_BYREF) && isElementType(vt & VT_TYPEMASK);
  if (vt & VT_BYREF) return isElementType(vt & VT_TYPEMASK);
  return isScalarType(vt);
}

// Types VariantChangeType produces.
bool isConvertibleType(VARTYPE vt) {
  return isScalarType(vt) && vt != VT_UNKNOWN && vt != VT_DISPATCH;
}

// ---- Numbers ---------------------------------------------------------------

/// Rounds to the nearest integer, halves to the even neighbour.
double roundHalfEven(double x) {
  const double fl = std::floor(x);
  const double diff = x - fl;
  if (diff > 0.5) return fl + 1;
  if (diff < 0.5) return fl;
  return std::fmod(fl, 2.0) == 0 ? fl : fl + 1;
}

/// Currency (scaled by 10,000) to a whole number, halves to even.
std::int64_t roundCurrency(std::int64_t cy) {
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

bool dateInRange(double d) { return d > kMinDate - 1 && d < kMaxDate; }

// ---- Text ------------------------------------------------------------------

std::string toAscii(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char16_t c : s) out.push_back(c < 0x80 ? char(c) : '\x7F');  // never a digit or sign
  return out;
}

std::string_view trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::u16string fromAscii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

template <class T>
std::u16string integerText(T v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return fromAscii(std::string_view(buf, std::size_t(r.ptr - buf)));
}

template <class T>
std::u16string realText(T v) {
  if (v == 0) return u"0";  // no "-0"
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return fromAscii(std::string_view(buf, std::size_t(r.ptr - buf)));
}

std::u16string currencyText(std::int64_t cy) {
  const bool negative = cy < 0;
  // Work in unsigned so that the most negative value has a magnitude.
  const std::uint64_t mag = negative ? 0 - std::uint64_t(cy) : std::uint64_t(cy);
  std::string s = std::to_string(mag / 10000);
  std::uint64_t frac = mag % 10000;
  if (frac) {
    char digits[5];
    std::snprintf(digits, sizeof digits, "%04u", unsigned(frac));
    std::string f(digits);
    while (f.back() == '0') f.pop_back();
    s += '.' + f;
  }
  if (negative) s.insert(s.begin(), '-');
  return fromAscii(s);
}

/// A number read from text: exact when it is a whole number that fits 64
/// bits, otherwise a double.
struct ParsedNumber {
  enum Kind { Signed, Unsigned, Real } kind;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double d = 0;
};

// Exponents and digit counts beyond this say the same as this: far outside
// any double's range. Clamping to it keeps their sum from overflowing.
constexpr long long kExponentLimit = 1LL << 40;

long long clampedCount(std::size_t n) {
  return static_cast<long long>(std::min<std::size_t>(n, std::size_t(kExponentLimit)));
}

// Whether a decimal text whose double overflowed is huge rather than tiny.
bool hugeMagnitude(std::string_view body) {
  const std::size_t epos = body.find_first_of("eE");
  const std::string_view mantissa = body.substr(0, epos);
  long long exponent = 0;
  if (epos != std::string_view::npos) {
    std::string_view e = body.substr(epos + 1);
    const bool negative = !e.empty() && e.front() == '-';
    if (!e.empty() && (e.front() == '-' || e.front() == '+')) e.remove_prefix(1);
    const auto r = std::from_chars(e.data(), e.data() + e.size(), exponent);
    if (r.ec == std::errc::result_out_of_range || exponent > kExponentLimit) {
      exponent = kExponentLimit;
    }
    if (negative) exponent = -exponent;
  }
  const std::size_t dot = mantissa.find('.');
  std::string_view whole = mantissa.substr(0, dot);
  while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
  if (!whole.empty()) return exponent + clampedCount(whole.size()) > 0;
  const std::string_view frac =
      dot == std::string_view::npos ? std::string_view() : mantissa.substr(dot + 1);
  const std::size_t zeros = std::min(frac.find_first_not_of('0'), frac.size());
  return exponent - clampedCount(zeros) > 0;
}

std::optional<ParsedNumber> parseNumber(std::string_view s) {
  s = trim(s);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  // Digits or a decimal point must follow: no second sign, no "inf" or "nan".
  if (s.empty() || !((s.front() >= '0' && s.front() <= '9') || s.front() == '.')) {
    return std::nullopt;
  }
  const char* end = s.data() + s.size();
  std::uint64_t u;
  auto r = std::from_chars(s.data(), end, u);
  if (r.ec == std::errc() && r.ptr == end) {
    if (!negative) {
      if (u <= std::uint64_t(std::numeric_limits<std::int64_t>::max())) {
        return ParsedNumber{ParsedNumber::Signed, std::int64_t(u)};
      }
      return ParsedNumber{ParsedNumber::Unsigned, 0, u};
    }
    if (u <= std::uint64_t(1) << 63) {
      return ParsedNumber{ParsedNumber::Signed, std::int64_t(0 - u)};
    }
    return ParsedNumber{ParsedNumber::Real, 0, 0, -double(u)};
  }
  double d;
  r = std::from_chars(s.data(), end, d, std::chars_format::general);
  if (r.ptr != end) return std::nullopt;
  if (r.ec == std::errc::result_out_of_range) {
    d = hugeMagnitude(s) ? HUGE_VAL : 0.0;
  } else if (r.ec != std::errc()) {
    return std::nullopt;
  }
  return ParsedNumber{ParsedNumber::Real, 0, 0, negative ? -d : d};
}

HRESULT parseFloatText(std::string_view s, float& out) {
  const auto n = parseNumber(s);  // validates the form
  if (!n) return DISP_E_TYPEMISMATCH;
  if (n->kind != ParsedNumber::Real) {
    out = n->kind == ParsedNumber::Signed ? float(n->i) : float(n->u);
    return S_OK;
  }
  s = trim(s);
  const bool negative = s.front() == '-';
  if (s.front() == '-' || s.front() == '+') s.remove_prefix(1);
  float f;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), f, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    if (hugeMagnitude(s)) return DISP_E_OVERFLOW;
    f = 0;
  } else if (r.ec != std::errc()) {
    return DISP_E_TYPEMISMATCH;
  }
  out = negative ? -f : f;
  return S_OK;
}

/// Exact currency from a plain decimal text ("-12.3456"); nullopt when the
/// text has another form, overflow sets *overflow.
std::optional<std::int64_t> parseCurrencyExact(std::string_view s, bool* overflow) {
  s = trim(s);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  const std::size_t dot = s.find('.');
  const std::string_view whole = s.substr(0, dot);
  const std::string_view frac =
      dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
  const auto digits = [](std::string_view t) {
    return std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if ((whole.empty() && frac.empty()) || !digits(whole) || !digits(frac)) return std::nullopt;
  // Magnitude in units of 1/10,000, with the fifth and later decimals rounded.
  const std::uint64_t maxMag = negative ? std::uint64_t(1) << 63 : (std::uint64_t(1) << 63) - 1;
  std::uint64_t mag = 0;
  const auto push = [&](unsigned digit) {
    if (mag > (maxMag - digit) / 10) return false;
    mag = mag * 10 + digit;
    return true;
  };
  for (char c : whole) {
    if (!push(unsigned(c - '0'))) {
      *overflow = true;
      return std::nullopt;
    }
  }
  for (std::size_t k = 0; k < 4; ++k) {
    if (!push(k < frac.size() ? unsigned(frac[k] - '0') : 0)) {
      *overflow = true;
      return std::nullopt;
    }
  }
  if (frac.size() > 4) {
    const char next = frac[4];
    const bool restNonZero =
        std::any_of(frac.begin() + 5, frac.end(), [](char c) { return c != '0'; });
    if (next > '5' || (next == '5' && (restNonZero || (mag & 1)))) {
      if (mag == maxMag) {
        *overflow = true;
        return std::nullopt;
      }
      ++mag;
    }
  }
  return negative ? std::int64_t(0 - std::uint64_t(mag)) : std::int64_t(mag);
}

// ---- Dates -----------------------------------------------------------------

using namespace std::chrono;

constexpr sys_days kDateEpoch = sys_days(year(1899) / December / 30);
constexpr std::int64_t kMsPerDay = 86400000;

std::optional<std::u16string> dateText(double d) {
  if (!std::isfinite(d) || !dateInRange(d)) return std::nullopt;
  // The whole part counts days, the fraction's magnitude is the time of day,
  // also for dates before the epoch.
  std::int64_t day = static_cast<std::int64_t>(std::trunc(d));
  std::int64_t ms = std::llround(std::fabs(d - double(day)) * double(kMsPerDay));
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    ++day;
  }
  const year_month_day ymd(kDateEpoch + days(day));
  if (int(ymd.year()) > 9999) return std::nullopt;  // rounded past the last instant
  char buf[40];
  int n = std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d", int(ymd.year()),
                        unsigned(ymd.month()), unsigned(ymd.day()), int(ms / 3600000),
                        int(ms / 60000 % 60), int(ms / 1000 % 60));
  if (ms % 1000) n += std::snprintf(buf + n, sizeof buf - std::size_t(n), ".%03d", int(ms % 1000));
  return fromAscii(std::string_view(buf, std::size_t(n)));
}

bool readDigits(std::string_view& s, std::size_t count, int& out) {
  if (s.size() < count) return false;
  out = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  s.remove_prefix(count);
  return true;
}

bool readChar(std::string_view& s, char c) {
  if (s.empty() || s.front() != c) return false;
  s.remove_prefix(1);
  return true;
}

/// "HH:MM[:SS[.fff]]" to milliseconds (rounded), consuming the whole text.
std::optional<std::int64_t> parseTime(std::string_view s) {
  int h, m, sec = 0;
  if (!readDigits(s, 2, h) || !readChar(s, ':') || !readDigits(s, 2, m)) return std::nullopt;
  double fraction = 0;
  if (readChar(s, ':')) {
    if (!readDigits(s, 2, sec)) return std::nullopt;
    if (readChar(s, '.')) {
      if (s.empty()) return std::nullopt;
      double scale = 0.1;
      for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        fraction += (c - '0') * scale;
        scale /= 10;
      }
      s = {};
    }
  }
  if (!s.empty() || h > 23 || m > 59 || sec > 59) return std::nullopt;
  return (std::int64_t(h) * 3600 + m * 60 + sec) * 1000 + std::llround(fraction * 1000);
}

/// "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.fff]]" (or 'T' between) or a time alone.
std::optional<double> parseDate(std::string_view s) {
  s = trim(s);
  if (s.size() >= 3 && s[2] == ':') {
    const auto ms = parseTime(s);
    if (!ms) return std::nullopt;
    return double(*ms) / double(kMsPerDay);
  }
  int y, mo, dd;
  if (!readDigits(s, 4, y) || !readChar(s, '-') || !readDigits(s, 2, mo) || !readChar(s, '-') ||
      !readDigits(s, 2, dd)) {
    return std::nullopt;
  }
  const year_month_day ymd{year(y), month(unsigned(mo)), day(unsigned(dd))};
  if (!ymd.ok() || y < 100) return std::nullopt;
  std::int64_t ms = 0;
  if (!s.empty()) {
    if (s.front() != ' ' && s.front() != 'T') return std::nullopt;
    s.remove_prefix(1);
    const auto t = parseTime(trim(s));
    if (!t) return std::nullopt;
    ms = *t;
  }
  std::int64_t dayNumber = (sys_days(ymd) - kDateEpoch).count();
  if (ms >= kMsPerDay) {  // the time rounded up to the next midnight
    ms -= kMsPerDay;
    ++dayNumber;
  }
  const double fraction = double(ms) / double(kMsPerDay);
  // Before the epoch the time of day still counts forward from the day's start.
  return dayNumber >= 0 ? double(dayNumber) + fraction : double(dayNumber) - fraction;
}

// ---- Conversion ------------------------------------------------------------

/// A scalar source value in one of a few shapes.
struct Value {
  enum Kind { Empty, Signed, Unsigned, Real, Currency, Bool, Text, Date } kind = Empty;
  std::int64_t i = 0;  // Signed, Currency (scaled), Bool (-1/0)
  std::uint64_t u = 0;
  double d = 0;  // Real, Date
  std::u16string_view text;
};

Value signedValue(std::int64_t i) {
  Value v;
  v.kind = Value::Signed;
  v.i = i;
  return v;
}
Value unsignedValue(std::uint64_t u) {
  Value v;
  v.kind = Value::Unsigned;
  v.u = u;
  return v;
}
Value realValue(Value::Kind kind, double d) {
  Value v;
  v.kind = kind;
  v.d = d;
  return v;
}
Value scaledValue(Value::Kind kind, std::int64_t i) {
  Value v;
  v.kind = kind;
  v.i = i;
  return v;
}

HRESULT readValue(const VARIANT& v, Value& out) {
  switch (opc::scalarKind(v.vt)) {
    case opc::ScalarKind::Empty:
      out.kind = Value::Empty;
      return S_OK;
    case opc::ScalarKind::Signed:
    case opc::ScalarKind::Error:
      out = signedValue(opc::signedValue(v));
      return S_OK;
    case opc::ScalarKind::Unsigned:
      out = unsignedValue(opc::unsignedValue(v));
      return S_OK;
    case opc::ScalarKind::Real:
      out = realValue(Value::Real, *opc::numericValue(v, opc::TrueAs::MinusOne));
      return S_OK;
    case opc::ScalarKind::Date:
      out = realValue(Value::Date, v.date);
      return S_OK;
    case opc::ScalarKind::Currency:
      out = scaledValue(Value::Currency, v.cyVal.int64);
      return S_OK;
    case opc::ScalarKind::Bool:
      // A Boolean converts to a number as the platform's VARIANT_TRUE.
      out = scaledValue(Value::Bool, std::int64_t(*opc::numericValue(v, opc::TrueAs::MinusOne)));
      return S_OK;
    case opc::ScalarKind::Text:
      out.kind = Value::Text;
      out.text = v.bstrVal ? std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal)) : u"";
      return S_OK;
    case opc::ScalarKind::Null:
      return DISP_E_TYPEMISMATCH;
    case opc::ScalarKind::Other:
      break;
  }
  return v.vt == VT_UNKNOWN || v.vt == VT_DISPATCH ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
}

/// A numeric source reduced to one of: exact signed, exact unsigned, real.
HRESULT numericOf(const Value& v, ParsedNumber& n) {
  switch (v.kind) {
    case Value::Empty:
      n = {ParsedNumber::Signed, 0};
      return S_OK;
    case Value::Signed:
    case Value::Bool:
      n = {ParsedNumber::Signed, v.i};
      return S_OK;
    case Value::Unsigned:
      n = {ParsedNumber::Unsigned, 0, v.u};
      return S_OK;
    case Value::Real:
    case Value::Date:
      n = {ParsedNumber::Real, 0, 0, v.d};
      return S_OK;
    case Value::Currency:
      n = {ParsedNumber::Real, 0, 0, double(v.i) / 10000.0};
      return S_OK;
    case Value::Text: {
      const auto p = parseNumber(toAscii(v.text));
      if (!p) return DISP_E_TYPEMISMATCH;
      // Texts never spell infinity, so an infinite result is a number too large.
      if (p->kind == ParsedNumber::Real && std::isinf(p->d)) return DISP_E_OVERFLOW;
      n = *p;
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT toSigned(const Value& v, std::int64_t lo, std::int64_t hi, std::int64_t& out) {
  if (v.kind == Value::Currency) {
    out = roundCurrency(v.i);
  } else {
    ParsedNumber n;
    if (HRESULT hr = numericOf(v, n); FAILED(hr)) return hr;
    if (n.kind == ParsedNumber::Signed) {
      out = n.i;
    } else if (n.kind == ParsedNumber::Unsigned) {
      if (n.u > std::uint64_t(hi)) return DISP_E_OVERFLOW;
      out = std::int64_t(n.u);
    } else {
      const double r = roundHalfEven(n.d);
      if (!(r >= -kTwo63 && r < kTwo63)) return DISP_E_OVERFLOW;  // NaN too
      out = std::int64_t(r);
    }
  }
  return out < lo || out > hi ? DISP_E_OVERFLOW : S_OK;
}

HRESULT toUnsigned(const Value& v, std::uint64_t hi, std::uint64_t& out) {
  // A true boolean becomes all bits set of the target, as the platform has it.
  if (v.kind == Value::Bool) {
    out = v.i ? hi : 0;
    return S_OK;
  }
  if (v.kind == Value::Currency) {
    const std::int64_t w = roundCurrency(v.i);
    if (w < 0) return DISP_E_OVERFLOW;
    out = std::uint64_t(w);
  } else {
    ParsedNumber n;
    if (HRESULT hr = numericOf(v, n); FAILED(hr)) return hr;
    if (n.kind == ParsedNumber::Signed) {
      if (n.i < 0) return DISP_E_OVERFLOW;
      out = std::uint64_t(n.i);
    } else if (n.kind == ParsedNumber::Unsigned) {
      out = n.u;
    } else {
      const double r = roundHalfEven(n.d);
      if (!(r >= 0 && r < kTwo64)) return DISP_E_OVERFLOW;
      out = std::uint64_t(r);
    }
  }
  return out > hi ? DISP_E_OVERFLOW : S_OK;
}

HRESULT toReal(const Value& v, double& out) {
  ParsedNumber n;
  if (HRESULT hr = numericOf(v, n); FAILED(hr)) return hr;
  switch (n.kind) {
    case ParsedNumber::Signed:
      out = double(n.i);
      break;
    case ParsedNumber::Unsigned:
      out = double(n.u);
      break;
    case ParsedNumber::Real:
      out = n.d;
      break;
  }
  return S_OK;
}

HRESULT toCurrency(const Value& v, std::int64_t& out) {
  constexpr std::int64_t kMaxWhole = std::numeric_limits<std::int64_t>::max() / 10000;
  if (v.kind == Value::Currency) {
    out = v.i;
    return S_OK;
  }
  if (v.kind == Value::Text) {
    bool overflow = false;
    if (auto exact = parseCurrencyExact(toAscii(v.text), &overflow)) {
      out = *exact;
      return S_OK;
    }
    if (overflow) return DISP_E_OVERFLOW;
  }
  ParsedNumber n;
  if (HRESULT hr = numericOf(v, n); FAILED(hr)) return hr;
  if (n.kind == ParsedNumber::Signed) {
    if (n.i > kMaxWhole || n.i < -kMaxWhole) return DISP_E_OVERFLOW;
    out = n.i * 10000;
  } else if (n.kind == ParsedNumber::Unsigned) {
    if (n.u > std::uint64_t(kMaxWhole)) return DISP_E_OVERFLOW;
    out = std::int64_t(n.u) * 10000;
  } else {
    const double r = roundHalfEven(n.d * 10000.0);
    if (!(r >= -kTwo63 && r < kTwo63)) return DISP_E_OVERFLOW;
    out = std::int64_t(r);
  }
  return S_OK;
}

HRESULT toBool(const Value& v, bool& out) {
  if (v.kind == Value::Text) {
    const std::string t(trim(toAscii(v.text)));
    if (equalsNoCase(t, "true")) {
      out = true;
      return S_OK;
    }
    if (equalsNoCase(t, "false")) {
      out = false;
      return S_OK;
    }
  }
  if (v.kind == Value::Currency) {
    out = v.i != 0;
    return S_OK;
  }
  ParsedNumber n;
  if (HRESULT hr = numericOf(v, n); FAILED(hr)) return hr;
  out = n.kind == ParsedNumber::Signed     ? n.i != 0
        : n.kind == ParsedNumber::Unsigned ? n.u != 0
                                           : n.d != 0;
  return S_OK;
}

HRESULT toDate(const Value& v, double& out) {
  if (v.kind == Value::Text) {
    const auto d = parseDate(toAscii(v.text));
    if (!d) return DISP_E_TYPEMISMATCH;
    if (!dateInRange(*d)) return DISP_E_OVERFLOW;  // rounded past 9999-12-31
    out = *d;
    return S_OK;
  }
  if (HRESULT hr = toReal(v, out); FAILED(hr)) return hr;
  return std::isfinite(out) && dateInRange(out) ? S_OK : DISP_E_OVERFLOW;
}

HRESULT toText(const Value& v, USHORT flags, std::u16string& out) {
  switch (v.kind) {
    case Value::Empty:
      out.clear();
      return S_OK;
    case Value::Signed:
      out = integerText(v.i);
      return S_OK;
    case Value::Unsigned:
      out = integerText(v.u);
      return S_OK;
    case Value::Real:
      out = realText(v.d);
      return S_OK;
    case Value::Currency:
      out = currencyText(v.i);
      return S_OK;
    case Value::Bool:
      out = (flags & VARIANT_ALPHABOOL) ? (v.i ? u"True" : u"False") : (v.i ? u"-1" : u"0");
      return S_OK;
    case Value::Text:
      out = v.text;
      return S_OK;
    case Value::Date: {
      auto t = dateText(v.d);
      if (!t) return DISP_E_OVERFLOW;
      out = std::move(*t);
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

/// Converts a scalar into a fresh VARIANT `out` (VT_EMPTY on entry).
HRESULT convertScalar(const VARIANT& src, VARTYPE vt, USHORT flags, VARIANT& out) {
  if (vt == VT_EMPTY) return S_OK;
  if (src.vt == VT_NULL) {
    if (vt != VT_NULL) return DISP_E_TYPEMISMATCH;
    out.vt = VT_NULL;
    return S_OK;
  }
  if (vt == VT_NULL) {
    if (src.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
    out.vt = VT_NULL;
    return S_OK;
  }
  Value v;
  // Float single values keep their own shortest text.
  if (src.vt == VT_R4 && vt == VT_BSTR) {
    BSTR b = SysAllocString(realText(src.fltVal).c_str());
    if (!b) return E_OUTOFMEMORY;
    out.vt = VT_BSTR;
    out.bstrVal = b;
    return S_OK;
  }
  if (HRESULT hr = readValue(src, v); FAILED(hr)) return hr;

  HRESULT hr = S_OK;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double d = 0;
  switch (vt) {
    case VT_I1:
      if (SUCCEEDED(hr = toSigned(v, INT8_MIN, INT8_MAX, i))) out.cVal = static_cast<CHAR>(i);
      break;
    case VT_I2:
      if (SUCCEEDED(hr = toSigned(v, INT16_MIN, INT16_MAX, i))) out.iVal = static_cast<SHORT>(i);
      break;
    case VT_I4:
      if (SUCCEEDED(hr = toSigned(v, INT32_MIN, INT32_MAX, i))) out.lVal = static_cast<LONG>(i);
      break;
    case VT_INT:
      if (SUCCEEDED(hr = toSigned(v, INT32_MIN, INT32_MAX, i))) out.intVal = static_cast<INT>(i);
      break;
    case VT_ERROR:
      if (SUCCEEDED(hr = toSigned(v, INT32_MIN, INT32_MAX, i))) out.scode = static_cast<SCODE>(i);
      break;
    case VT_I8:
      if (SUCCEEDED(hr = toSigned(v, INT64_MIN, INT64_MAX, i))) out.llVal = i;
      break;
    case VT_UI1:
      if (SUCCEEDED(hr = toUnsigned(v, UINT8_MAX, u))) out.bVal = static_cast<BYTE>(u);
      break;
    case VT_UI2:
      if (SUCCEEDED(hr = toUnsigned(v, UINT16_MAX, u))) out.uiVal = static_cast<USHORT>(u);
      break;
    case VT_UI4:
      if (SUCCEEDED(hr = toUnsigned(v, UINT32_MAX, u))) out.ulVal = static_cast<ULONG>(u);
      break;
    case VT_UINT:
      if (SUCCEEDED(hr = toUnsigned(v, UINT32_MAX, u))) out.uintVal = static_cast<UINT>(u);
      break;
    case VT_UI8:
      if (SUCCEEDED(hr = toUnsigned(v, UINT64_MAX, u))) out.ullVal = u;
      break;
    case VT_R4:
      // Read straight as a float: going through a double could round twice.
      if (v.kind == Value::Text) {
        hr = parseFloatText(toAscii(v.text), out.fltVal);
        break;
      }
      if (SUCCEEDED(hr = toReal(v, d))) {
        const float f = static_cast<float>(d);
        if (std::isinf(f) && std::isfinite(d)) {
          hr = DISP_E_OVERFLOW;
        } else {
          out.fltVal = f;
        }
      }
      break;
    case VT_R8:
      if (SUCCEEDED(hr = toReal(v, d))) out.dblVal = d;
      break;
    case VT_CY:
      if (SUCCEEDED(hr = toCurrency(v, i))) out.cyVal.int64 = i;
      break;
    case VT_DATE:
      if (SUCCEEDED(hr = toDate(v, d))) out.date = d;
      break;
    case VT_BOOL: {
      bool b = false;
      if (SUCCEEDED(hr = toBool(v, b))) out.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    }
    case VT_BSTR: {
      std::u16string text;
      if (SUCCEEDED(hr = toText(v, flags, text))) {
        out.bstrVal = SysAllocStringLen(text.data(), UINT(text.size()));
        if (!out.bstrVal) hr = E_OUTOFMEMORY;
      }
      break;
    }
    default:
      return DISP_E_BADVARTYPE;
  }
  if (SUCCEEDED(hr)) {
    out.vt = vt;
    hr = S_OK;
  }
  return hr;
}

/// A borrowed view of one array element as a VARIANT (never cleared).
VARIANT elementView(VARTYPE vt, const void* p, ULONG size) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  std::memcpy(&v.llVal, p, size);
  return v;
}

HRESULT convert(const VARIANT& src, VARTYPE vt, USHORT flags, VARIANT& out);

HRESULT convertArray(const SAFEARRAY* psa, VARTYPE elemVt, USHORT flags, VARIANT& out) {
  if (!psa) {
    out.vt = VT_ARRAY | elemVt;
    out.parray = nullptr;
    return S_OK;
  }
  std::size_t count = 0;
  if (HRESULT hr = opc::safeArrayElementCount(psa, &count); FAILED(hr)) return hr;
  SAFEARRAY* result = SafeArrayCreate(elemVt, psa->cDims, psa->rgsabound);
  if (!result) return E_OUTOFMEMORY;
  for (std::size_t k = 0; k < count; ++k) {
    const void* from = static_cast<const char*>(psa->pvData) + k * psa->cbElements;
    void* to = static_cast<char*>(result->pvData) + k * result->cbElements;
    const VARIANT view = psa->vt == VT_VARIANT ? *static_cast<const VARIANT*>(from)
                                               : elementView(psa->vt, from, psa->cbElements);
    VARIANT converted;
    VariantInit(&converted);
    HRESULT hr;
    if (elemVt == VT_VARIANT) {
      hr = VariantCopy(&converted, &view);
    } else {
      hr = convert(view, elemVt, flags, converted);
    }
    if (FAILED(hr)) {
      SafeArrayDestroy(result);
      return hr;
    }
    // The element takes over what the converted value owns.
    if (elemVt == VT_VARIANT) {
      std::memcpy(to, &converted, sizeof converted);
    } else {
      std::memcpy(to, &converted.llVal, result->cbElements);
    }
  }
  out.vt = VT_ARRAY | elemVt;
  out.parray = result;
  return S_OK;
}

HRESULT convert(const VARIANT& src, VARTYPE vt, USHORT flags, VARIANT& out) {
  if (src.vt & VT_BYREF) {
    if (!src.byref) return E_INVALIDARG;
    const VARTYPE base = src.vt & VT_TYPEMASK;
    if ((src.vt & VT_ARRAY) || !isElementType(base)) return DISP_E_BADVARTYPE;
    if (base == VT_VARIANT) return convert(*static_cast<const VARIANT*>(src.byref), vt, flags, out);
    return convert(elementView(base, src.byref, opc::valueSize(base)), vt, flags, out);
  }
  if (vt & VT_BYREF) return DISP_E_BADVARTYPE;
  if (vt & VT_ARRAY) {
    const VARTYPE elemVt = vt & VT_TYPEMASK;
    if ((vt & ~(VT_ARRAY | VT_TYPEMASK)) || !isElementType(elemVt) || elemVt == VT_UNKNOWN ||
        elemVt == VT_DISPATCH) {
      return DISP_E_BADVARTYPE;
    }
    // Nothing, an empty value included, becomes an array: a success would hand
    // the caller no array to read.
    if (!(src.vt & VT_ARRAY)) return DISP_E_TYPEMISMATCH;
    if (!isElementType(src.vt & VT_TYPEMASK)) return DISP_E_BADVARTYPE;
    return convertArray(src.parray, elemVt, flags, out);
  }
  if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
    // Only an interface becomes an interface; a dispatch object is also an IUnknown.
    if (src.vt != VT_UNKNOWN && src.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
    if (vt == VT_DISPATCH) return DISP_E_TYPEMISMATCH;  // no dispatch interface to ask for
    out.vt = VT_UNKNOWN;
    out.punkVal = src.punkVal;
    if (out.punkVal) out.punkVal->AddRef();
    return S_OK;
  }
  if (!isConvertibleType(vt)) return DISP_E_BADVARTYPE;
  if (src.vt & VT_ARRAY) {
    if (!isValidVariantType(src.vt)) return DISP_E_BADVARTYPE;
    return vt == VT_EMPTY ? S_OK : DISP_E_TYPEMISMATCH;
  }
  return convertScalar(src, vt, flags, out);
}

}  // namespace

void VariantInit(VARIANT* pvarg) {
  if (!pvarg) return;
  std::memset(pvarg, 0, sizeof *pvarg);
  pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  if (!isValidVariantType(pvarg->vt)) return DISP_E_BADVARTYPE;
  if (pvarg->vt & VT_ARRAY) {
    if (HRESULT hr = SafeArrayDestroy(pvarg->parray); FAILED(hr)) return hr;
  } else if (pvarg->vt == VT_BSTR) {
    SysFreeString(pvarg->bstrVal);
  } else if (pvarg->vt == VT_UNKNOWN || pvarg->vt == VT_DISPATCH) {
    if (pvarg->punkVal) pvarg->punkVal->Release();
  }
  VariantInit(pvarg);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc) {
  if (!pvargDest || !pvargSrc) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  if (!isValidVariantType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  // Copied before the destination is cleared: the source may live inside it.
  VARIANT copy = *pvargSrc;
  HRESULT hr = S_OK;
  if (copy.vt & VT_ARRAY) {
    hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
  } else if (copy.vt == VT_BSTR) {
    if (pvargSrc->bstrVal) {
      copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
      if (!copy.bstrVal) hr = E_OUTOFMEMORY;
    }
  } else if (copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) {
    if (copy.punkVal) copy.punkVal->AddRef();
  }
  if (FAILED(hr)) VariantInit(&copy);
  if (HRESULT cleared = VariantClear(pvargDest); FAILED(cleared)) {
    VariantClear(&copy);
    return cleared;
  }
  *pvargDest = copy;
  return hr;
}

HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT wFlags, VARTYPE vt) {
  if (!pvargDest || !pvarSrc) return E_INVALIDARG;
  if (!isValidVariantType(pvarSrc->vt)) return DISP_E_BADVARTYPE;
  if (pvarSrc->vt == vt) return VariantCopy(pvargDest, pvarSrc);
  // The result is built aside, so converting in place (dest == src) reads an
  // intact source, and a failure leaves the destination as it was.
  VARIANT result;
  VariantInit(&result);
  const HRESULT hr = convert(*pvarSrc, vt, wFlags, result);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  if (HRESULT cleared = VariantClear(pvargDest); FAILED(cleared)) {
    VariantClear(&result);
    return cleared;
  }
  *pvargDest = result;
  return S_OK;
}

HRESULT VariantChangeTypeEx(VARIANT* pvargDest, const VARIANT* pvarSrc, LCID /*lcid*/,
                            USHORT wFlags, VARTYPE vt) {
  // Texts are always read and written locale-independently.
  return VariantChangeType(pvargDest, pvarSrc, wFlags, vt);
}

// ---- OleVariant ---------------------------------------------------------------

OleVariant::OleVariant(const VARIANT& v) {
  VariantInit(&v_);
  VariantCopy(&v_, &v);
}

OleVariant::OleVariant(bool b) : OleVariant() {
  v_.vt = VT_BOOL;
  v_.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
}

OleVariant::OleVariant(SHORT i) : OleVariant() {
  v_.vt = VT_I2;
  v_.iVal = i;
}

OleVariant::OleVariant(LONG i) : OleVariant() {
  v_.vt = VT_I4;
  v_.lVal = i;
}

OleVariant::OleVariant(LONGLONG i) : OleVariant() {
  v_.vt = VT_I8;
  v_.llVal = i;
}

OleVariant::OleVariant(FLOAT f) : OleVariant() {
  v_.vt = VT_R4;
  v_.fltVal = f;
}

OleVariant::OleVariant(DOUBLE d) : OleVariant() {
  v_.vt = VT_R8;
  v_.dblVal = d;
}

OleVariant::OleVariant(std::u16string_view s) : OleVariant() {
  v_.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  if (v_.bstrVal) v_.vt = VT_BSTR;
}

OleVariant OleVariant::null() {
  OleVariant r;
  r.v_.vt = VT_NULL;
  return r;
}

OleVariant OleVariant::fromDate(DATE d) {
  OleVariant r;
  r.v_.vt = VT_DATE;
  r.v_.date = d;
  return r;
}

OleVariant OleVariant::fromCurrency(CY c) {
  OleVariant r;
  r.v_.vt = VT_CY;
  r.v_.cyVal = c;
  return r;
}

OleVariant OleVariant::fromError(SCODE s) {
  OleVariant r;
  r.v_.vt = VT_ERROR;
  r.v_.scode = s;
  return r;
}

OleVariant OleVariant::attach(VARIANT& v) noexcept {
  OleVariant r;
  r.v_ = v;
  VariantInit(&v);
  return r;
}

OleVariant OleVariant::array(VARTYPE vt, const std::vector<OleVariant>& elements, LONG lbound) {
  SAFEARRAY* psa = SafeArrayCreateVector(vt, lbound, ULONG(elements.size()));
  if (!psa) return OleVariant();
  OleVariant r;
  r.v_.vt = VT_ARRAY | vt;
  r.v_.parray = psa;  // owned by r from here on
  for (std::size_t k = 0; k < elements.size(); ++k) {
    void* slot = static_cast<char*>(psa->pvData) + k * psa->cbElements;
    if (vt == VT_VARIANT) {
      if (FAILED(VariantCopy(static_cast<VARIANT*>(slot), &elements[k].v_))) return OleVariant();
      continue;
    }
    OleVariant converted = elements[k].changedTo(vt);
    if (converted.vt() != vt) return OleVariant();
    VARIANT owned = converted.detach();
    std::memcpy(slot, &owned.llVal, psa->cbElements);
  }
  return r;
}

OleVariant OleVariant::changedTo(VARTYPE vt, HRESULT* hr, USHORT flags) const {
  OleVariant r;
  const HRESULT result = VariantChangeType(&r.v_, &v_, flags, vt);
  if (hr) *hr = result;
  if (FAILED(result)) r.clear();
  return r;
}

namespace {

bool sameValue(const VARIANT& a, const VARIANT& b);

bool sameArray(const SAFEARRAY* a, const SAFEARRAY* b) {
  if (!a || !b) return a == b;
  if (a->vt != b->vt || a->cDims != b->cDims) return false;
  std::size_t count = 0;
  if (FAILED(opc::safeArrayElementCount(a, &count)) ||
      FAILED(opc::safeArrayElementCount(b, &count)))
    return false;
  for (USHORT d = 0; d < a->cDims; ++d) {
    if (a->rgsabound[d].cElements != b->rgsabound[d].cElements ||
        a->rgsabound[d].lLbound != b->rgsabound[d].lLbound) {
      return false;
    }
  }
  for (std::size_t k = 0; k < count; ++k) {
    const void* pa = static_cast<const char*>(a->pvData) + k * a->cbElements;
    const void* pb = static_cast<const char*>(b->pvData) + k * b->cbElements;
    const bool equal = a->vt == VT_VARIANT ? sameValue(*static_cast<const VARIANT*>(pa),
                                                       *static_cast<const VARIANT*>(pb))
                                           : sameValue(elementView(a->vt, pa, a->cbElements),
                                                       elementView(b->vt, pb, b->cbElements));
    if (!equal) return false;
  }
  return true;
}

bool sameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  if (a.vt & VT_ARRAY) return sameArray(a.parray, b.parray);
  if (a.vt & VT_BYREF) return a.byref == b.byref;
  switch (a.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I1:
    case VT_UI1:
      return a.bVal == b.bVal;
    case VT_I2:
    case VT_UI2:
      return a.uiVal == b.uiVal;
    case VT_BOOL:
      return (a.boolVal != 0) == (b.boolVal != 0);
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      return a.ulVal == b.ulVal;
    case VT_R4:
      return a.fltVal == b.fltVal;
    case VT_R8:
      return a.dblVal == b.dblVal;
    case VT_DATE:
      return a.date == b.date;
    case VT_I8:
    case VT_UI8:
    case VT_CY:
      return a.ullVal == b.ullVal;
    case VT_BSTR: {
      const auto view = [](BSTR s) {
        return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view();
      };
      return view(a.bstrVal) == view(b.bstrVal);
    }
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return a.punkVal == b.punkVal;
    default:
      return false;
  }
}

}  // namespace

bool operator==(const OleVariant& a, const OleVariant& b) { return sameValue(a.v_, b.v_); }
