#include "taskmem.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "diag.h"

LPVOID CoTaskMemAlloc(std::size_t cb) {
  // A zero-byte request still yields a distinct block the caller may free.
  void* p = std::malloc(cb ? cb : 1);
  if (p) opc::diag::taskAllocated();
  return p;
}

LPVOID CoTaskMemRealloc(LPVOID pv, std::size_t cb) {
  if (!pv) return CoTaskMemAlloc(cb);
  if (cb == 0) {
    CoTaskMemFree(pv);
    return nullptr;
  }
  // On failure the original block stays valid and counted.
  return std::realloc(pv, cb);
}

void CoTaskMemFree(LPVOID pv) {
  if (!pv) return;
  opc::diag::taskFreed();
  std::free(pv);
}

// A BSTR points just past a 32-bit prefix that holds its length in bytes; the
// characters are followed by a zero character that the length leaves out.
namespace {
constexpr std::size_t kPrefix = sizeof(std::uint32_t);

std::uint32_t* prefixOf(BSTR b) {
  return reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(b) - kPrefix);
}
}  // namespace

BSTR SysAllocString(LPCOLESTR psz) {
  if (!psz) return nullptr;
  const std::size_t n = wideLength(psz);
  if (n > std::numeric_limits<UINT>::max()) return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(n));
}

BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) {
  // The byte length must fit the 32-bit prefix.
  if (cch > std::numeric_limits<std::uint32_t>::max() / sizeof(OLECHAR)) return nullptr;
  const std::size_t bytes = std::size_t(cch) * sizeof(OLECHAR);
  auto* block = static_cast<char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  const std::uint32_t len = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &len, kPrefix);
  auto* chars = reinterpret_cast<OLECHAR*>(block + kPrefix);
  if (pch) {
    std::memcpy(chars, pch, bytes);
  } else {
    std::memset(chars, 0, bytes);
  }
  chars[cch] = 0;
  opc::diag::bstrAllocated();
  return chars;
}

void SysFreeString(BSTR bstr) {
  if (!bstr) return;
  opc::diag::bstrFreed();
  std::free(prefixOf(bstr));
}

UINT SysStringLen(BSTR bstr) {
  if (!bstr) return 0;
  std::uint32_t len;
  std::memcpy(&len, prefixOf(bstr), kPrefix);
  return len / sizeof(OLECHAR);
}

namespace opc {

LPWSTR taskStringDup(std::u16string_view s) {
  auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(OLECHAR)));
  if (!p) return nullptr;
  if (!s.empty()) std::memcpy(p, s.data(), s.size() * sizeof(OLECHAR));
  p[s.size()] = 0;
  return p;
}

namespace {
constexpr char16_t kReplacement = 0xFFFD;

void appendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}
}  // namespace

std::u16string utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    // Length and the allowed range of the second byte, which rules out
    // overlong forms, surrogates and values above U+10FFFF.
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    char32_t cp = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      len = 2;
      cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      len = 3;
      cp = b0 & 0x0F;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      len = 4;
      cp = b0 & 0x07;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    // One replacement character for the longest valid beginning of a sequence.
    std::size_t k = 1;
    bool ok = true;
    for (; k < len; ++k) {
      if (i + k >= s.size()) {
        ok = false;
        break;
      }
      const auto b = static_cast<unsigned char>(s[i + k]);
      const unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
      if (b < l || b > h) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (b & 0x3F);
    }
    if (ok) {
      appendUtf16(out, cp);
      i += len;
    } else {
      out.push_back(kReplacement);
      i += k;
    }
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(s[i + 1]) - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      appendUtf8(out, kReplacement);
    } else {
      appendUtf8(out, c);
    }
  }
  return out;
}

}  // namespace opc
