// The OPC name filter of address-space browsing: '*' any run of characters,
// '?' any one character, '#' one digit 0-9, "[list]" one character of the
// list ("a-z" a range), "[!list]" one character not in it; everything else,
// ']' included, stands for itself. To match one of "*?#[" literally, put it
// in brackets ("[*]"). Matching is case-sensitive, like item ids.
#pragma once

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "opcexport.h"

namespace opc {

class VEZE6_OPC_EXPORT NameFilter {
 public:
  /// Parses a filter. Nothing for a malformed one: an unclosed '[', an empty
  /// list ("[]", "[!]") or a range whose ends are reversed ("[z-a]"). The
  /// empty filter matches every name.
  static std::optional<NameFilter> parse(std::u16string_view filter);

  /// Whether the whole name matches. Time grows with the product of the
  /// lengths, never exponentially.
  bool matches(std::u16string_view name) const;

 private:
  struct Token {
    enum Kind { Literal, AnyChar, Digit, Set, Star };
    Kind kind = Literal;
    char16_t ch = 0;  // Literal
    bool negated = false;
    std::vector<std::pair<char16_t, char16_t>> ranges;  // Set, inclusive
    bool matches(char16_t c) const;
  };
  std::vector<Token> tokens_;
};

}  // namespace opc
