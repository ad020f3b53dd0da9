// The value payloads of a DA 1.0 data stream (after each item's VARIANT):
// strings as a DWORD byte count and the characters with their terminator,
// arrays as a descriptor followed by one fixed-size slot per element; every
// payload starts on an 8-byte boundary. The writer and the reader of the
// stream share these sizes so the two sides cannot drift apart.
#pragma once

#include <cstddef>

#include "variant.h"

namespace opc::stream {

constexpr std::size_t align8(std::size_t n) { return (n + 7) & ~std::size_t(7); }

/// Bytes of one element slot of an array of vt; 0 for a type no stream
/// carries. A string element's slot holds the offset of its payload.
inline std::size_t slotSize(VARTYPE vt) {
  if (vt == VT_UNKNOWN || vt == VT_DISPATCH) return 0;
  return vt == VT_BSTR ? 8 : opc::variantValueSize(vt);
}

/// Bytes of an array's descriptor: WORD element type, WORD dimension
/// count, DWORD slot size, then per dimension DWORD count and LONG lower
/// bound. The element slots follow it directly.
constexpr std::size_t arrayDescriptorSize(std::size_t dims) { return 8 + 8 * dims; }

/// Bytes of a string payload of `units` UTF-16 code units.
constexpr std::size_t stringPayloadSize(std::size_t units) {
  return align8(sizeof(DWORD) + (units + 1) * sizeof(OLECHAR));
}

}  // namespace opc::stream
