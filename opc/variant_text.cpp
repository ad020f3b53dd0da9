// The texts of numbers, currency and dates that the conversions read and
// write.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>

#include "variant_p.h"

namespace opc::detail {

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

}  // namespace opc::detail
