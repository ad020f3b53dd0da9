// TDataStreamReader: reads an OPC DA 1.0 data stream ("OPCSTMFORMATDATA" or
// "OPCSTMFORMATDATATIME") out of its global memory block.
//
// The block comes from outside, so nothing in it is trusted: the item count,
// every item header, every value offset and every string or array payload a
// value refers to are checked against the block's size before anything is
// taken, and a block that does not fit is refused as a whole. Payloads are
// laid out as the library's servers write them: a string or array value's
// VARIANT holds the offset of its payload in its value field (0: null
// string, null array); a string payload is a 32-bit count of UTF-16 units
// and the units; an array payload a header (element type, dimensions, slot
// size, bounds), the element slots and the payloads the slots refer to.
// Decoded values are real VARIANTs owned by the reader; the VARIANTs in the
// block are descriptions and are never cleared or copied as they stand.
//
// The reader keeps its buffers between streams, so reading a stream of
// numbers allocates nothing once the buffers have grown.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "opc/OPCtypes.h"

class TDataStreamReader {
 public:
  /// One item of a stream, with its value decoded.
  struct Entry {
    OPCHANDLE hClient;
    WORD wQuality;
    FILETIME ftTimeStamp;  ///< zero in a stream without time stamps
    VARIANT value;         ///< owned by the reader; take it with TakeValue
  };

  enum class Result {
    Malformed,  ///< the block does not fit: nothing was taken
    Failed,     ///< the header fits but reports a failure: no entries
    Ok,         ///< every entry decoded
  };

  TDataStreamReader() = default;
  TDataStreamReader(const TDataStreamReader&) = delete;
  TDataStreamReader& operator=(const TDataStreamReader&) = delete;
  ~TDataStreamReader();

  /// Reads the block of size bytes, item headers 20 bytes apart with time
  /// stamps, 12 without. The entries of an earlier read are cleared first.
  /// Malformed: a block smaller than the group header, item headers beyond
  /// the block, a value or payload beyond it, a value type no stream can
  /// carry, payloads referred to more often than the block could hold, or no
  /// memory for a decoded value. Failed: the header and item headers fit and
  /// hrStatus is a failure code; the values are not read.
  Result Read(const void* block, std::size_t size, bool withTime);

  /// The group header of the last read that did not return Malformed.
  const OPCGROUPHEADER& Header() const { return header_; }
  /// The entries of the last Ok read, in stream order.
  std::span<Entry> Entries() { return {entries_.data(), count_}; }
  /// Clears the decoded values (kept buffers stay).
  void Clear();

 private:
  OPCGROUPHEADER header_{};
  std::vector<Entry> entries_;  // grows, never shrinks; count_ in use
  std::size_t count_ = 0;
};
