#include "datastream.h"

#include <cstring>
#include <limits>
#include <vector>

#include "scalar.h"
#include "taskmem.h"

namespace opc::stream {

namespace {

// Deeper nesting of variants inside arrays than any real value has.
constexpr int kMaxDepth = 16;

// fFeatures bits of the descriptor: the element type is known, and what
// the elements own.
constexpr WORD kHaveVartype = 0x0080;
constexpr WORD kBstrElements = 0x0100;
constexpr WORD kVariantElements = 0x0800;

template <class T>
T load(const char* at) {
  T value;
  std::memcpy(&value, at, sizeof(T));
  return value;
}

template <class T>
void store(char* at, const T& value) {
  std::memcpy(at, &value, sizeof(T));
}

// Only numbers, dates, currency, booleans, strings and variants travel as
// array elements.
bool isStreamElement(VARTYPE vt) {
  return vt != VT_UNKNOWN && vt != VT_DISPATCH && opc::isSafeArrayElementType(vt);
}

// Element bytes in the descriptor, as on the 32-bit platform the stream
// was defined for: a string element is a pointer of 4 bytes there.
DWORD descriptorElementSize(VARTYPE vt) {
  if (vt == VT_BSTR) return 4;
  if (vt == VT_VARIANT) return 16;
  return opc::valueSize(vt);
}

// The array a value can write, or null: a null array, an element type no
// stream carries, or bounds that do not fit the array's storage.
const SAFEARRAY* writableArray(const VARIANT& v, std::size_t& count) {
  count = 0;
  if (!(v.vt & VT_ARRAY) || (v.vt & VT_BYREF) || !v.parray) return nullptr;
  const SAFEARRAY* a = v.parray;
  if (!isStreamElement(a->vt) || FAILED(opc::safeArrayElementCount(a, &count))) return nullptr;
  return a;
}

bool travels(const VARIANT& v) {
  if (v.vt == VT_BSTR || opc::isPlainVariantType(v.vt)) return true;
  if (!(v.vt & VT_ARRAY) || (v.vt & VT_BYREF) || !isStreamElement(v.vt & VT_TYPEMASK)) return false;
  std::size_t count = 0;
  return !v.parray || writableArray(v, count);
}

const char* elementAt(const SAFEARRAY& a, std::size_t i) {
  return static_cast<const char*>(a.pvData) + i * a.cbElements;
}

DWORD textBytes(BSTR s) { return DWORD(SysStringLen(s) * sizeof(OLECHAR)); }

std::size_t stringSize(BSTR s) { return sizeof(DWORD) + textBytes(s) + sizeof(OLECHAR); }

std::size_t writeString(char* to, BSTR s) {
  const DWORD bytes = textBytes(s);
  store(to, bytes);
  if (bytes) std::memcpy(to + sizeof(DWORD), s, bytes);
  store(to + sizeof(DWORD) + bytes, OLECHAR(0));
  return stringSize(s);
}

}  // namespace

std::size_t valueSize(const VARIANT& value) {
  if (!travels(value)) return sizeof(VARIANT);
  if (value.vt == VT_BSTR) return sizeof(VARIANT) + stringSize(value.bstrVal);
  if (!(value.vt & VT_ARRAY)) return sizeof(VARIANT);
  std::size_t count = 0;
  const SAFEARRAY* a = writableArray(value, count);
  if (!a) return sizeof(VARIANT) + arrayDescriptorSize(0);
  std::size_t size = sizeof(VARIANT) + arrayDescriptorSize(a->cDims);
  if (a->vt == VT_BSTR) {
    for (std::size_t i = 0; i < count; ++i) size += stringSize(load<BSTR>(elementAt(*a, i)));
  } else if (a->vt == VT_VARIANT) {
    for (std::size_t i = 0; i < count; ++i)
      size += valueSize(*reinterpret_cast<const VARIANT*>(elementAt(*a, i)));
  } else {
    size += count * a->cbElements;
  }
  return size;
}

std::size_t writeValue(char* to, const VARIANT& value) {
  VARIANT head;
  std::memset(&head, 0, sizeof head);
  if (!travels(value)) {
    store(to, head);  // VT_EMPTY
    return sizeof(VARIANT);
  }
  head.vt = value.vt;
  if (value.vt == VT_BSTR) {
    store(to, head);
    return sizeof(VARIANT) + writeString(to + sizeof(VARIANT), value.bstrVal);
  }
  if (!(value.vt & VT_ARRAY)) {
    if (value.vt != VT_EMPTY && value.vt != VT_NULL) head.ullVal = value.ullVal;
    store(to, head);
    return sizeof(VARIANT);
  }
  store(to, head);
  char* at = to + sizeof(VARIANT);
  std::size_t count = 0;
  const SAFEARRAY* a = writableArray(value, count);
  std::memset(at, 0, arrayDescriptorSize(a ? a->cDims : 0));
  if (!a) return sizeof(VARIANT) + arrayDescriptorSize(0);
  const WORD features = kHaveVartype | (a->vt == VT_BSTR      ? kBstrElements
                                        : a->vt == VT_VARIANT ? kVariantElements
                                                              : 0);
  store(at, WORD(a->cDims));
  store(at + 2, features);
  store(at + 4, descriptorElementSize(a->vt));
  for (USHORT d = 0; d < a->cDims; ++d) {
    // The descriptor lists the last dimension first.
    const SAFEARRAYBOUND& b = a->rgsabound[a->cDims - 1 - d];
    store(at + 16 + 8 * d, DWORD(b.cElements));
    store(at + 20 + 8 * d, LONG(b.lLbound));
  }
  at += arrayDescriptorSize(a->cDims);
  if (a->vt == VT_BSTR) {
    for (std::size_t i = 0; i < count; ++i) at += writeString(at, load<BSTR>(elementAt(*a, i)));
  } else if (a->vt == VT_VARIANT) {
    for (std::size_t i = 0; i < count; ++i)
      at += writeValue(at, *reinterpret_cast<const VARIANT*>(elementAt(*a, i)));
  } else if (count) {
    std::memcpy(at, a->pvData, count * a->cbElements);
    at += count * a->cbElements;
  }
  return std::size_t(at - to);
}

bool Decoder::value(std::uint64_t offset, VARIANT& out, std::uint64_t* end) {
  std::uint64_t at = offset;
  const bool ok = value(at, out, 0);
  if (end) *end = ok ? at : offset;
  return ok;
}

bool Decoder::charge(std::uint64_t bytes) {
  if (bytes > budget_) return false;
  budget_ -= bytes;
  return true;
}

bool Decoder::value(std::uint64_t& at, VARIANT& out, int depth) {
  VariantInit(&out);
  if (depth > kMaxDepth || !fits(at, sizeof(VARIANT))) return false;
  const char* p = block_ + at;
  const VARTYPE vt = load<VARTYPE>(p);
  at += sizeof(VARIANT);
  if (opc::isPlainVariantType(vt)) {
    out.vt = vt;
    if (vt != VT_EMPTY && vt != VT_NULL) out.ullVal = load<std::uint64_t>(p + 8);
    return true;
  }
  if (vt == VT_BSTR) {
    BSTR s = nullptr;
    if (!string(at, s)) return false;
    out.vt = VT_BSTR;
    out.bstrVal = s;
    return true;
  }
  const VARTYPE element = vt & VT_TYPEMASK;
  if ((vt & ~(VT_ARRAY | VT_TYPEMASK)) || !(vt & VT_ARRAY) || !isStreamElement(element))
    return false;  // interfaces, references, records: nothing a stream carries
  SAFEARRAY* a = nullptr;
  if (!array(at, element, a, depth)) return false;
  out.vt = vt;
  out.parray = a;
  return true;
}

bool Decoder::string(std::uint64_t& at, BSTR& out) {
  if (!fits(at, sizeof(DWORD))) return false;
  const std::uint64_t bytes = load<DWORD>(block_ + at);
  const std::uint64_t total = sizeof(DWORD) + bytes + sizeof(OLECHAR);
  if (bytes % sizeof(OLECHAR) || !fits(at, total) || !charge(total)) return false;
  out = SysAllocStringLen(nullptr, UINT(bytes / sizeof(OLECHAR)));
  if (!out) return false;
  std::memcpy(out, block_ + at + sizeof(DWORD), std::size_t(bytes));
  at += total;
  return true;
}

bool Decoder::array(std::uint64_t& at, VARTYPE element, SAFEARRAY*& out, int depth) {
  out = nullptr;
  if (!fits(at, arrayDescriptorSize(0))) return false;
  const std::uint64_t dims = load<WORD>(block_ + at);
  if (dims == 0) {  // a null array
    at += arrayDescriptorSize(0);
    return charge(arrayDescriptorSize(0));
  }
  const std::uint64_t descriptor = arrayDescriptorSize(dims);
  if (!fits(at, descriptor)) return false;
  const char* p = block_ + at;
  // Strings and variants are stepped over by their own sizes; fixed-size
  // elements must have the size of their type.
  const DWORD elementSize = load<DWORD>(p + 4);
  const bool fixed = element != VT_BSTR && element != VT_VARIANT;
  if (fixed && elementSize != opc::valueSize(element)) return false;
  // The fewest bytes an element can take, to bound the count by the block.
  const std::uint64_t least = fixed ? elementSize : element == VT_BSTR ? 6 : sizeof(VARIANT);
  std::vector<SAFEARRAYBOUND> bounds(static_cast<std::size_t>(dims));
  bool empty = false;
  for (std::size_t d = 0; d < bounds.size(); ++d) {
    SAFEARRAYBOUND& b = bounds[bounds.size() - 1 - d];
    b.cElements = load<DWORD>(p + 16 + 8 * d);
    b.lLbound = load<LONG>(p + 20 + 8 * d);
    empty = empty || b.cElements == 0;
  }
  // Any dimension of 0 means no element at all, however large the others.
  // Otherwise every element takes room in the block, which bounds the
  // product before it could overflow.
  std::uint64_t count = empty ? 0 : 1;
  for (std::size_t d = 0; !empty && d < bounds.size(); ++d) {
    if (bounds[d].cElements > size_ / count) return false;
    count *= bounds[d].cElements;
  }
  at += descriptor;
  if (!fits(at, count * least) || !charge(descriptor + (fixed ? count * elementSize : 0)))
    return false;
  SAFEARRAY* a = SafeArrayCreate(element, UINT(dims), bounds.data());
  if (!a) return false;  // an upper bound beyond the LONG range, or no memory
  // Elements are zeroed (empty strings, empty variants) until decoded, so
  // destroying a half-filled array frees exactly what was made.
  char* data = static_cast<char*>(a->pvData);
  bool ok = true;
  if (fixed) {
    std::memcpy(data, block_ + at, std::size_t(count * elementSize));
    at += count * elementSize;
  }
  for (std::uint64_t i = 0; ok && !fixed && i < count; ++i) {
    void* to = data + i * a->cbElements;
    if (element == VT_BSTR) {
      BSTR s = nullptr;
      ok = string(at, s);
      std::memcpy(to, &s, sizeof s);
    } else {
      ok = value(at, *static_cast<VARIANT*>(to), depth + 1);
    }
  }
  if (!ok) {
    SafeArrayDestroy(a);
    return false;
  }
  out = a;
  return true;
}

HGLOBAL buildDataStream(bool withTime, OPCHANDLE clientGroup, DWORD transactionId,
                        std::size_t count, const OPCHANDLE* clientHandles, const VARIANT* values,
                        const WORD* qualities, const FILETIME* timeStamps) {
  const std::size_t headerSize = withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
  const std::size_t valuesAt = sizeof(OPCGROUPHEADER) + count * headerSize;
  std::size_t size = valuesAt;
  for (std::size_t i = 0; i < count; ++i) {
    size += valueSize(values[i]);
    if (size > std::numeric_limits<DWORD>::max()) return nullptr;  // offsets are 32-bit
  }

  HGLOBAL block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size);
  if (!block) return nullptr;
  char* base = static_cast<char*>(GlobalLock(block));
  bool allGood = true;
  std::size_t at = valuesAt;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t h = sizeof(OPCGROUPHEADER) + i * headerSize;
    allGood = allGood && (qualities[i] & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD;
    if (withTime) {
      store(base + h, OPCITEMHEADER1{clientHandles[i], DWORD(at), qualities[i], 0, timeStamps[i]});
    } else {
      store(base + h, OPCITEMHEADER2{clientHandles[i], DWORD(at), qualities[i], 0});
    }
    at += writeValue(base + at, values[i]);
  }
  store(base, OPCGROUPHEADER{DWORD(size), DWORD(count), clientGroup, transactionId,
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
  char* base = static_cast<char*>(GlobalLock(block));
  bool allSucceeded = true;
  for (std::size_t i = 0; i < count; ++i) {
    allSucceeded = allSucceeded && errors[i] == S_OK;
    store(base + sizeof(OPCGROUPHEADERWRITE) + i * sizeof(OPCITEMHEADERWRITE),
          OPCITEMHEADERWRITE{clientHandles[i], errors[i]});
  }
  store(base, OPCGROUPHEADERWRITE{DWORD(count), clientGroup, transactionId,
                                  allSucceeded ? S_OK : S_FALSE});
  GlobalUnlock(block);
  return block;
}

}  // namespace opc::stream
