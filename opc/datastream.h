// The values of an OPC DA 1.0 data stream ("OPCSTMFORMATDATA",
// "OPCSTMFORMATDATATIME"), written by servers and read by clients with the
// same code so the two sides cannot drift apart. All fields little-endian,
// sizes in bytes, nothing padded or aligned.
//
// A value is a 16-byte VARIANT (type code, three reserved words, the 8-byte
// value field) and, for strings and arrays, its payload directly after it.
// A VARIANT in a stream is a description, not a live value: for strings and
// arrays its value field held a pointer in the writer's process and means
// nothing here (writers put 0, readers ignore it).
//
//   String (VT_BSTR): DWORD byte count n of the text (UTF-16, so n is even),
//     the n bytes, one zero code unit. A null string is written as empty.
//   Array (VT_ARRAY | t): the 32-bit platform's SAFEARRAY descriptor as it
//     lies in memory, 16 + 8 * cDims bytes: WORD cDims, WORD fFeatures,
//     DWORD cbElements, DWORD cLocks, DWORD pvData (meaningless), then per
//     dimension DWORD cElements and LONG lLbound, the last dimension first;
//     then the elements in memory order (the first dimension varies
//     fastest). Elements of fixed size are cbElements bytes each as in
//     memory; a VT_BSTR element is a string payload as above; a VT_VARIANT
//     element is a value (its VARIANT and its own payload). A null array is
//     a descriptor of 0 dimensions and nothing after it.
//
// Interfaces and references cannot travel in a stream; a writer sends them
// as VT_EMPTY.
#pragma once

#include <cstddef>
#include <cstdint>

#include "OPCtypes.h"
#include "objidl.h"
#include "opcexport.h"
#include "variant.h"

namespace opc::stream {

/// Bytes of an array's descriptor with `dims` dimensions.
constexpr std::size_t arrayDescriptorSize(std::size_t dims) { return 16 + 8 * dims; }

/// Bytes `value` takes in a stream: its VARIANT and its payload.
VEZE6_OPC_EXPORT std::size_t valueSize(const VARIANT& value);

/// Writes `value` at `to`, which has room for valueSize(value) bytes;
/// returns the bytes written.
VEZE6_OPC_EXPORT std::size_t writeValue(char* to, const VARIANT& value);

/// Decodes values out of one block. Nothing in it is trusted: every read is
/// checked against the block's end, and the payloads decoded from one
/// decoder may not add up to more than the block's size, so values that
/// all point at one large payload cannot make a reader allocate more than
/// the block holds.
class VEZE6_OPC_EXPORT Decoder {
 public:
  Decoder(const void* block, std::size_t size)
      : block_(static_cast<const char*>(block)), size_(size), budget_(size) {}

  /// Decodes the value at `offset` into `out` (VT_EMPTY on failure, with
  /// nothing left to free); `end`, when given, receives the offset just
  /// past its payload.
  bool value(std::uint64_t offset, VARIANT& out, std::uint64_t* end = nullptr);

 private:
  bool value(std::uint64_t& at, VARIANT& out, int depth);
  bool string(std::uint64_t& at, BSTR& out);
  bool array(std::uint64_t& at, VARTYPE element, SAFEARRAY*& out, int depth);
  bool fits(std::uint64_t at, std::uint64_t length) const {
    return at <= size_ && length <= size_ - at;
  }
  bool charge(std::uint64_t bytes);

  const char* block_;
  std::uint64_t size_;
  std::uint64_t budget_;
};

/// Builds a whole data stream ("OPCSTMFORMATDATATIME" when `withTime`, else
/// "OPCSTMFORMATDATA") in a new global block the caller frees with
/// GlobalFree; null when memory runs out or the block would pass 4 GiB. The
/// header's dwSize is the block's size, hrStatus S_OK when every quality is
/// good, else S_FALSE; the values follow the item headers in item order.
/// The arrays hold `count` entries; `timeStamps` is read only `withTime`.
VEZE6_OPC_EXPORT HGLOBAL buildDataStream(bool withTime, OPCHANDLE clientGroup, DWORD transactionId,
                                         std::size_t count, const OPCHANDLE* clientHandles,
                                         const VARIANT* values, const WORD* qualities,
                                         const FILETIME* timeStamps);

/// Builds a write-result stream ("OPCSTMFORMATWRITECOMPLETE": the write
/// group header, then one OPCITEMHEADERWRITE per item; hrStatus S_OK when
/// every item succeeded, else S_FALSE) in a new global block (the caller's).
VEZE6_OPC_EXPORT HGLOBAL buildWriteCompleteStream(OPCHANDLE clientGroup, DWORD transactionId,
                                                  std::size_t count, const OPCHANDLE* clientHandles,
                                                  const HRESULT* errors);

}  // namespace opc::stream
