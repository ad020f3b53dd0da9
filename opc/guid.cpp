#include "guid.h"

#include <cstdio>

#include "taskmem.h"

namespace {

constexpr std::size_t kGuidChars = 38;  // "{8-4-4-4-12}" without the terminator

int hexValue(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads the fixed layout character by character; a terminator anywhere inside
// the layout ends the parse before anything beyond it is read.
bool parseGuid(LPCOLESTR s, GUID& g) {
  static constexpr std::size_t kDashes[] = {9, 14, 19, 24};
  std::uint8_t bytes[16];
  std::size_t nibble = 0;
  for (std::size_t i = 0; i < kGuidChars; ++i) {
    const OLECHAR c = s[i];
    if (c == 0) return false;
    if (i == 0) {
      if (c != u'{') return false;
    } else if (i == kGuidChars - 1) {
      if (c != u'}') return false;
    } else if (i == kDashes[0] || i == kDashes[1] || i == kDashes[2] || i == kDashes[3]) {
      if (c != u'-') return false;
    } else {
      const int v = hexValue(c);
      if (v < 0) return false;
      if (nibble % 2 == 0) {
        bytes[nibble / 2] = static_cast<std::uint8_t>(v << 4);
      } else {
        bytes[nibble / 2] |= static_cast<std::uint8_t>(v);
      }
      ++nibble;
    }
  }
  if (s[kGuidChars] != 0) return false;
  g.Data1 = (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16) |
            (std::uint32_t(bytes[2]) << 8) | bytes[3];
  g.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  g.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
  return true;
}

std::u16string formatGuid(const GUID& g) {
  char buf[kGuidChars + 1];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                unsigned(g.Data1), unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return std::u16string(buf, buf + kGuidChars);
}

}  // namespace

HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
  if (!pclsid) return E_INVALIDARG;
  GUID g{};
  if (!lpsz || !parseGuid(lpsz, g)) {
    *pclsid = GUID_NULL;
    return CO_E_CLASSSTRING;
  }
  *pclsid = g;
  return S_OK;
}

HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
  if (!lplpsz) return E_INVALIDARG;
  *lplpsz = opc::taskStringDup(formatGuid(rclsid));
  return *lplpsz ? S_OK : E_OUTOFMEMORY;
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  if (!lpsz || cchMax < int(kGuidChars + 1)) return 0;
  const std::u16string text = formatGuid(rguid);
  text.copy(lpsz, text.size());
  lpsz[text.size()] = 0;
  return int(kGuidChars + 1);
}
