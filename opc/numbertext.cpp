#include "numbertext.h"

#include <charconv>
#include <cstdio>

namespace opc {

namespace {

template <class F>
std::string shortest(F value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace

std::string shortestDigits(double value) { return shortest(value); }
std::string shortestDigits(float value) { return shortest(value); }

std::string currencyDigits(std::int64_t scaled) {
  const bool negative = scaled < 0;
  // Work in unsigned so that the most negative value has a magnitude.
  const std::uint64_t magnitude = negative ? 0 - std::uint64_t(scaled) : std::uint64_t(scaled);
  std::string text = std::to_string(magnitude / 10000);
  if (const std::uint64_t fraction = magnitude % 10000; fraction != 0) {
    char digits[5];
    std::snprintf(digits, sizeof digits, "%04u", unsigned(fraction));
    std::string f(digits);
    while (f.back() == '0') f.pop_back();
    text += '.' + f;
  }
  if (negative) text.insert(text.begin(), '-');
  return text;
}

}  // namespace opc
