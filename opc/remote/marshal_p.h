// Values between their in-process form and the wire form: GUIDs, wide
// strings (UTF-16 code units as Data), time stamps, VARIANTs and lists.
// Decoding checks everything it reads: a malformed value is reported, never
// read past its end. Which code a failure becomes is the caller's choice
// (a stub answers E_INVALIDARG, a proxy RPC_E_INVALID_DATA).
#pragma once

#include <bit>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "opc/OPCtypes.h"
#include "opc/filetime.h"
#include "opc/remote/remote.capnp.h"
#include "opc/taskmem.h"
#include "opc/variant.h"

namespace opc::remote {

static_assert(std::endian::native == std::endian::little,
              "wide strings and packed array elements travel in the host's little-endian order");

/// A reply from the host that does not have the form its request asks for.
inline constexpr HRESULT RPC_E_INVALID_DATA = hresult(0x8001000F);

/// The most elements one enumerator's Next asks the host for; a larger
/// request is split, and a stub refuses more.
inline constexpr ULONG kMaxEnumBatch = 4096;

void setGuid(wire::Guid::Builder out, REFGUID guid);
GUID guidFrom(wire::Guid::Reader in);

/// The bytes of a wide string, for a Data field.
inline capnp::Data::Reader wideData(std::u16string_view s) {
  return capnp::Data::Reader(reinterpret_cast<const capnp::byte*>(s.data()), s.size() * 2);
}
inline capnp::Data::Reader wideData(LPCWSTR s) {
  return wideData(std::u16string_view(s, wideLength(s)));
}

/// Reads a wide string; false for an odd number of bytes.
bool readWide(capnp::Data::Reader in, std::u16string& out);

/// A wide-string argument as the stub passes it on: null when the field was
/// unset.
class WideArg {
 public:
  /// False when the field holds an odd number of bytes.
  bool read(bool has, capnp::Data::Reader in) {
    text_.reset();
    if (!has) return true;
    std::u16string s;
    if (!readWide(in, s)) return false;
    text_ = std::move(s);
    return true;
  }
  LPCWSTR get() const { return text_ ? text_->c_str() : nullptr; }
  /// For the few signatures that take a non-const string.
  LPWSTR mutableGet() { return text_ ? text_->data() : nullptr; }

 private:
  std::optional<std::u16string> text_;
};

/// A wide string out of a reply, as task memory the caller frees (null when
/// the field was unset). False for an odd number of bytes or no memory.
bool taskWide(bool has, capnp::Data::Reader in, LPWSTR* out);

inline std::uint64_t wireTime(const FILETIME& ft) { return fileTimeTicks(ft); }
inline FILETIME timeFrom(std::uint64_t ticks) { return fileTimeFromTicks(ticks); }

/// Encodes a VARIANT: DISP_E_BADVARTYPE for what the wire cannot carry
/// (references, interfaces, arrays of more than one dimension).
HRESULT setVariant(wire::Variant::Builder out, const VARIANT& v);
/// Decodes into *out (VT_EMPTY on failure): false when malformed.
bool readVariant(wire::Variant::Reader in, VARIANT* out);

/// Item states in the compact form (wire::ItemStates) from arrays of `count`
/// entries; `values` as VARIANTs or OleVariants. A value the wire cannot
/// carry travels empty and its error, when a success, becomes the reason.
void putItemStates(wire::ItemStates::Builder out, std::size_t count, const OPCHANDLE* handles,
                   const VARIANT* values, const WORD* qualities, const FILETIME* timeStamps,
                   const HRESULT* errors);
void putItemStates(wire::ItemStates::Builder out, std::size_t count, const OPCHANDLE* handles,
                   const OleVariant* values, const WORD* qualities, const FILETIME* timeStamps,
                   const HRESULT* errors);

/// The same from the states and errors a read returns.
void putItemStates(wire::ItemStates::Builder out, std::size_t count, const OPCITEMSTATE* states,
                   const HRESULT* errors);

/// What `count` item states of scalar values take in the compact form, for
/// a message made in one piece.
inline capnp::MessageSize itemStatesSize(std::size_t count) {
  return capnp::MessageSize{32 + (count * 28 + 7) / 8, 0};
}

/// The number of items the compact form names (by its handles; whether
/// the other arrays agree, readItemStates checks).
std::size_t itemCount(wire::ItemStates::Reader in);

/// The arrays a compact form decodes into, itemCount() entries each; the
/// values need no initialising and own what they hold afterwards.
struct ItemArrays {
  OPCHANDLE* handles;
  VARIANT* values;
  WORD* qualities;
  FILETIME* timeStamps;
  HRESULT* errors;
};

/// Decodes `count` items into `out`. A value that
/// does not decode is left VT_EMPTY with bad quality and
/// RPC_E_INVALID_DATA; the result is how many did not. -1 when the form is
/// malformed as a whole (arrays of other lengths, `others` that do not
/// match the types): then every value is VT_EMPTY.
int readItemStates(wire::ItemStates::Reader in, std::size_t count, const ItemArrays& out);

/// Copies a list of numbers into a task-memory array of `expected`
/// elements (null for none); false when the list has another length or
/// memory runs out.
template <class T, class List>
bool taskArray(List in, std::size_t expected, T** out) {
  *out = nullptr;
  if (in.size() != expected) return false;
  if (expected == 0) return true;
  auto* p = static_cast<T*>(CoTaskMemAlloc(expected * sizeof(T)));
  if (!p) return false;
  for (std::size_t i = 0; i < expected; ++i) p[i] = static_cast<T>(in[i]);
  *out = p;
  return true;
}

/// The code a failed wire call becomes: RPC_E_DISCONNECTED for a lost link.
HRESULT hresultFrom(const kj::Exception& e);

}  // namespace opc::remote
