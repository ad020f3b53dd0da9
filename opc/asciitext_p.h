// Internal to the platform layer; not API.
//
// Case folding of ASCII text, for names the layer compares without regard to
// case (URL schemes, registration keys, clipboard formats, boolean words).
// Only A-Z fold: these names are ASCII, and the C locale must not matter.
#pragma once

#include <string>
#include <string_view>

namespace opc::detail {

constexpr char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

inline std::string asciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = asciiLower(c);
  return out;
}

constexpr bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace opc::detail
