#include "datastreamreader.h"

#include <cstring>
#include <limits>

#include "opc/datastreamlayout.h"
#include "opc/taskmem.h"

namespace {

// Deeper nesting of variants inside arrays than any real value has.
constexpr int kMaxDepth = 16;

template <class T>
T load(const char* at) {
  T value;
  std::memcpy(&value, at, sizeof(T));
  return value;
}

using opc::stream::arrayDescriptorSize;
using opc::stream::slotSize;

// Decodes values out of one block. Every read is checked against the
// block's end; every payload a value refers to is charged to a budget of
// the block's size, so a block whose values all point at one large payload
// cannot make the reader allocate more than the block holds.
class Decoder {
 public:
  Decoder(const char* block, std::size_t size) : block_(block), size_(size), budget_(size) {}

  // Decodes the 16-byte VARIANT description at offset into out (VT_EMPTY
  // on failure, nothing left to free).
  bool value(std::uint64_t offset, VARIANT& out, int depth = 0) {
    VariantInit(&out);
    if (depth > kMaxDepth || !fits(offset, sizeof(VARIANT))) return false;
    const char* at = block_ + offset;
    const VARTYPE vt = load<VARTYPE>(at);
    const std::uint64_t field = load<std::uint64_t>(at + 8);
    if (opc::isPlainVariantType(vt)) {
      out.vt = vt;
      if (vt != VT_EMPTY && vt != VT_NULL) out.ullVal = field;
      return true;
    }
    if (vt == VT_BSTR) {
      BSTR s = nullptr;
      if (field != 0 && !string(field, s)) return false;
      out.vt = VT_BSTR;
      out.bstrVal = s;
      return true;
    }
    if ((vt & VT_ARRAY) && !(vt & ~(VT_ARRAY | VT_TYPEMASK))) {
      const VARTYPE element = vt & VT_TYPEMASK;
      if (slotSize(element) == 0) return false;
      SAFEARRAY* array = nullptr;
      if (field != 0 && !this->array(field, element, array, depth)) return false;
      out.vt = vt;
      out.parray = array;
      return true;
    }
    return false;  // interfaces, references, records: nothing a stream can carry
  }

 private:
  bool fits(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  bool charge(std::uint64_t bytes) {
    if (bytes > budget_) return false;
    budget_ -= bytes;
    return true;
  }

  bool string(std::uint64_t offset, BSTR& out) {
    if (!fits(offset, sizeof(DWORD))) return false;
    const std::uint64_t units = load<DWORD>(block_ + offset);
    const std::uint64_t bytes = units * sizeof(OLECHAR);
    if (!fits(offset + sizeof(DWORD), bytes) || !charge(sizeof(DWORD) + bytes)) return false;
    out = SysAllocStringLen(nullptr, UINT(units));
    if (!out) return false;
    std::memcpy(out, block_ + offset + sizeof(DWORD), std::size_t(bytes));
    return true;
  }

  bool array(std::uint64_t offset, VARTYPE element, SAFEARRAY*& out, int depth) {
    // WORD vt, WORD cDims, DWORD slot size, then cDims (count, lower bound).
    if (!fits(offset, 8)) return false;
    const char* at = block_ + offset;
    const VARTYPE vt = load<WORD>(at);
    const std::uint64_t dims = load<WORD>(at + 2);
    const std::size_t slot = slotSize(element);
    if (vt != element || dims == 0 || load<DWORD>(at + 4) != slot) return false;
    if (!fits(offset, arrayDescriptorSize(dims))) return false;
    std::vector<SAFEARRAYBOUND> bounds(static_cast<std::size_t>(dims));
    std::uint64_t count = 1;
    for (std::size_t d = 0; d < bounds.size(); ++d) {
      bounds[d].cElements = load<DWORD>(at + 8 + 8 * d);
      bounds[d].lLbound = load<LONG>(at + 12 + 8 * d);
      // Bounded by the block: every element has its slot in it.
      count *= bounds[d].cElements;
      if (count > size_) return false;
    }
    const std::uint64_t slots = offset + arrayDescriptorSize(dims);
    if (!fits(slots, count * slot) || !charge(arrayDescriptorSize(dims) + count * slot))
      return false;
    SAFEARRAY* array = SafeArrayCreate(element, UINT(dims), bounds.data());
    if (!array) return false;
    // Elements are zeroed (null strings, empty variants) until decoded, so
    // destroying a half-filled array frees exactly what was made.
    char* data = static_cast<char*>(array->pvData);
    const char* from = block_ + slots;
    bool ok = true;
    for (std::uint64_t i = 0; ok && i < count; ++i, from += slot) {
      void* to = data + i * array->cbElements;
      if (element == VT_BSTR) {
        const std::uint64_t at = load<std::uint64_t>(from);
        BSTR s = nullptr;
        ok = at == 0 || string(at, s);
        std::memcpy(to, &s, sizeof s);
      } else if (element == VT_VARIANT) {
        ok = value(std::uint64_t(from - block_), *static_cast<VARIANT*>(to), depth + 1);
      } else {
        std::memcpy(to, from, slot);
      }
    }
    if (!ok) {
      SafeArrayDestroy(array);
      return false;
    }
    out = array;
    return true;
  }

  const char* block_;
  std::uint64_t size_;
  std::uint64_t budget_;
};

}  // namespace

TDataStreamReader::~TDataStreamReader() { Clear(); }

void TDataStreamReader::Clear() {
  for (std::size_t i = 0; i < count_; ++i) VariantClear(&entries_[i].value);
  count_ = 0;
}

TDataStreamReader::Result TDataStreamReader::Read(const void* block, std::size_t size,
                                                  bool withTime) {
  Clear();
  if (!block || size < sizeof(OPCGROUPHEADER)) return Result::Malformed;
  const char* base = static_cast<const char*>(block);
  const auto header = load<OPCGROUPHEADER>(base);
  const std::uint64_t headerSize = withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
  const std::uint64_t count = header.dwItemCount;
  if (count > (size - sizeof(OPCGROUPHEADER)) / headerSize) return Result::Malformed;
  header_ = header;
  if (FAILED(header.hrStatus)) return Result::Failed;

  if (entries_.size() < count) entries_.resize(std::size_t(count));
  Decoder decoder(base, size);
  for (std::size_t i = 0; i < count; ++i) {
    const char* at = base + sizeof(OPCGROUPHEADER) + i * headerSize;
    Entry& entry = entries_[i];
    entry.hClient = load<OPCHANDLE>(at);
    entry.wQuality = load<WORD>(at + 8);
    entry.ftTimeStamp = withTime ? load<FILETIME>(at + 12) : FILETIME{0, 0};
    const bool ok = decoder.value(load<DWORD>(at + 4), entry.value);
    count_ = i + 1;  // cleared with the rest, also when it failed
    if (!ok) {
      Clear();
      return Result::Malformed;
    }
  }
  return Result::Ok;
}
