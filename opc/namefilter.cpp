#include "namefilter.h"

#include <algorithm>

namespace opc {

bool NameFilter::Token::matches(char16_t c) const {
  switch (kind) {
    case Literal:
      return c == ch;
    case AnyChar:
      return true;
    case Digit:
      return c >= u'0' && c <= u'9';
    case Set: {
      const bool in = std::any_of(ranges.begin(), ranges.end(),
                                  [c](const auto& r) { return c >= r.first && c <= r.second; });
      return in != negated;
    }
    case Star:
      break;
  }
  return false;
}

std::optional<NameFilter> NameFilter::parse(std::u16string_view filter) {
  NameFilter f;
  for (std::size_t i = 0; i < filter.size(); ++i) {
    const char16_t c = filter[i];
    Token t;
    if (c == u'*') {
      // A run of stars matches what one star matches.
      if (!f.tokens_.empty() && f.tokens_.back().kind == Token::Star) continue;
      t.kind = Token::Star;
    } else if (c == u'?') {
      t.kind = Token::AnyChar;
    } else if (c == u'#') {
      t.kind = Token::Digit;
    } else if (c == u'[') {
      t.kind = Token::Set;
      std::size_t j = i + 1;
      if (j < filter.size() && filter[j] == u'!') {
        t.negated = true;
        ++j;
      }
      const std::size_t first = j;
      while (j < filter.size() && filter[j] != u']') {
        const char16_t low = filter[j];
        // "a-z" is a range; a '-' first or last in the list is itself.
        if (j + 2 < filter.size() && filter[j + 1] == u'-' && filter[j + 2] != u']') {
          const char16_t high = filter[j + 2];
          if (high < low) return std::nullopt;
          t.ranges.emplace_back(low, high);
          j += 3;
        } else {
          t.ranges.emplace_back(low, low);
          ++j;
        }
      }
      if (j >= filter.size() || j == first) return std::nullopt;  // unclosed or empty
      i = j;
    } else {
      t.ch = c;
    }
    f.tokens_.push_back(std::move(t));
  }
  return f;
}

bool NameFilter::matches(std::u16string_view name) const {
  if (tokens_.empty()) return true;  // no filter at all
  // Every token but '*' takes exactly one character, so remembering only the
  // last star and retrying from one character further is enough.
  constexpr std::size_t kNone = std::size_t(-1);
  std::size_t t = 0, n = 0, star = kNone, starAt = 0;
  while (n < name.size()) {
    if (t < tokens_.size() && tokens_[t].kind == Token::Star) {
      star = t++;
      starAt = n;
    } else if (t < tokens_.size() && tokens_[t].matches(name[n])) {
      ++t;
      ++n;
    } else if (star != kNone) {
      t = star + 1;
      n = ++starAt;
    } else {
      return false;
    }
  }
  while (t < tokens_.size() && tokens_[t].kind == Token::Star) ++t;
  return t == tokens_.size();
}

}  // namespace opc
