#include "datastream.h"

#include <cstring>
#include <limits>

#include "opc/datastreamlayout.h"
#include "opc/taskmem.h"

namespace veze6::sim {

namespace {

using opc::stream::align8;
using opc::stream::arrayDescriptorSize;
using opc::stream::slotSize;
using opc::stream::stringPayloadSize;

std::size_t elementCount(const SAFEARRAY& a) {
  std::size_t n = 1;
  for (USHORT d = 0; d < a.cDims; ++d) n *= a.rgsabound[d].cElements;
  return n;
}

const void* elementAt(const SAFEARRAY& a, std::size_t i) {
  return static_cast<const char*>(a.pvData) + i * a.cbElements;
}

std::size_t payloadSize(const VARIANT& v);

std::size_t arrayPayloadSize(const SAFEARRAY& a) {
  const std::size_t n = elementCount(a);
  std::size_t size = align8(arrayDescriptorSize(a.cDims) + n * slotSize(a.vt));
  if (a.vt == VT_BSTR) {
    for (std::size_t i = 0; i < n; ++i) {
      const BSTR s = *static_cast<const BSTR*>(elementAt(a, i));
      if (s) size += stringPayloadSize(SysStringLen(s));
    }
  } else if (a.vt == VT_VARIANT) {
    for (std::size_t i = 0; i < n; ++i) {
      size += payloadSize(*static_cast<const VARIANT*>(elementAt(a, i)));
    }
  }
  return size;
}

std::size_t payloadSize(const VARIANT& v) {
  if (v.vt == VT_BSTR) return v.bstrVal ? stringPayloadSize(SysStringLen(v.bstrVal)) : 0;
  if ((v.vt & VT_ARRAY) && !(v.vt & VT_BYREF)) return v.parray ? arrayPayloadSize(*v.parray) : 0;
  return 0;
}

/// Fills a zeroed block; every write stays inside the size computed above.
class Writer {
 public:
  explicit Writer(char* block) : block_(block) {}

  template <class T>
  void put(std::size_t at, const T& value) {
    std::memcpy(block_ + at, &value, sizeof(T));
  }

  /// Writes a string payload at `at`; returns the offset after it.
  std::size_t string(std::size_t at, BSTR s) {
    const DWORD n = SysStringLen(s);
    put(at, n);
    std::memcpy(block_ + at + sizeof(DWORD), s, std::size_t(n) * sizeof(OLECHAR));
    // The terminator is already zero: the block comes zeroed.
    return at + stringPayloadSize(n);
  }

  /// Writes the VARIANT `v` at `at` and its payload at `payloadAt`; returns
  /// the offset after the payload.
  std::size_t value(std::size_t at, const VARIANT& v, std::size_t payloadAt) {
    VARIANT out;
    VariantInit(&out);
    out.vt = v.vt;
    std::size_t end = payloadAt;
    if (v.vt == VT_BSTR) {
      if (v.bstrVal) {
        out.ullVal = payloadAt;
        end = string(payloadAt, v.bstrVal);
      }
    } else if ((v.vt & VT_ARRAY) && !(v.vt & VT_BYREF)) {
      if (v.parray) {
        out.ullVal = payloadAt;
        end = array(payloadAt, *v.parray);
      }
    } else if (v.vt == VT_UNKNOWN || v.vt == VT_DISPATCH || (v.vt & VT_BYREF)) {
      out.vt = VT_EMPTY;  // an interface or reference cannot travel in a stream
    } else {
      out.ullVal = v.ullVal;
    }
    put(at, out);
    return end;
  }

  std::size_t array(std::size_t at, const SAFEARRAY& a) {
    const std::size_t n = elementCount(a);
    const std::size_t slot = slotSize(a.vt);
    put(at, WORD(a.vt));
    put(at + 2, WORD(a.cDims));
    put(at + 4, DWORD(slot));
    for (USHORT d = 0; d < a.cDims; ++d) {
      put(at + 8 + 8 * d, DWORD(a.rgsabound[d].cElements));
      put(at + 12 + 8 * d, LONG(a.rgsabound[d].lLbound));
    }
    const std::size_t slots = at + arrayDescriptorSize(a.cDims);
    std::size_t next = align8(slots + n * slot);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t to = slots + i * slot;
      if (a.vt == VT_BSTR) {
        const BSTR s = *static_cast<const BSTR*>(elementAt(a, i));
        if (s) {
          put(to, std::uint64_t(next));
          next = string(next, s);
        }
      } else if (a.vt == VT_VARIANT) {
        next = value(to, *static_cast<const VARIANT*>(elementAt(a, i)), next);
      } else if (a.vt != VT_UNKNOWN && a.vt != VT_DISPATCH) {
        std::memcpy(block_ + to, elementAt(a, i), std::min<std::size_t>(slot, a.cbElements));
      }
    }
    return next;
  }

 private:
  char* block_;
};

}  // namespace

std::size_t streamValueSize(const VARIANT& value) { return sizeof(VARIANT) + payloadSize(value); }

HGLOBAL buildDataStream(bool withTime, OPCHANDLE clientGroup, DWORD transactionId,
                        std::size_t count, const OPCHANDLE* clientHandles, const VARIANT* values,
                        const WORD* qualities, const FILETIME* timeStamps) {
  const std::size_t headerSize = withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
  const std::size_t valuesAt = align8(sizeof(OPCGROUPHEADER) + count * headerSize);
  std::size_t size = valuesAt;
  for (std::size_t i = 0; i < count; ++i) size += streamValueSize(values[i]);
  if (size > std::numeric_limits<DWORD>::max()) return nullptr;  // offsets are 32-bit

  HGLOBAL block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size);
  if (!block) return nullptr;
  char* base = static_cast<char*>(GlobalLock(block));
  Writer w(base);
  bool allGood = true;
  std::size_t at = valuesAt;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t h = sizeof(OPCGROUPHEADER) + i * headerSize;
    allGood = allGood && (qualities[i] & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD;
    if (withTime) {
      w.put(h, OPCITEMHEADER1{clientHandles[i], DWORD(at), qualities[i], 0, timeStamps[i]});
    } else {
      w.put(h, OPCITEMHEADER2{clientHandles[i], DWORD(at), qualities[i], 0});
    }
    at = w.value(at, values[i], at + sizeof(VARIANT));
  }
  w.put(0, OPCGROUPHEADER{DWORD(size), DWORD(count), clientGroup, transactionId,
                          allGood ? S_OK : S_FALSE});
  GlobalUnlock(block);
  return block;
}

HGLOBAL buildWriteCompleteStream(OPCHANDLE clientGroup, DWORD transactionId, std::size_t count,
                                 const OPCHANDLE* clientHandles, const HRESULT* errors) {
  const std::size_t size = sizeof(OPCGROUPHEADERWRITE) + count * sizeof(OPCITEMHEADERWRITE);
  if (size > std::numeric_limits<DWORD>::max()) return nullptr;
  HGLOBAL block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size);
  if (!block) return nullptr;
  Writer w(static_cast<char*>(GlobalLock(block)));
  bool allSucceeded = true;
  for (std::size_t i = 0; i < count; ++i) {
    allSucceeded = allSucceeded && errors[i] == S_OK;
    w.put(sizeof(OPCGROUPHEADERWRITE) + i * sizeof(OPCITEMHEADERWRITE),
          OPCITEMHEADERWRITE{clientHandles[i], errors[i]});
  }
  w.put(0, OPCGROUPHEADERWRITE{DWORD(count), clientGroup, transactionId,
                               allSucceeded ? S_OK : S_FALSE});
  GlobalUnlock(block);
  return block;
}

}  // namespace veze6::sim
