// TDataStreamReader: reads an OPC DA 1.0 data stream ("OPCSTMFORMATDATA" or
// "OPCSTMFORMATDATATIME") out of its global memory block.
//
// The block comes from outside, so nothing in it is trusted: the item count
// and every item header are checked against the block's size before
// anything is taken, and a block whose headers do not fit is refused as a
// whole. Values are decoded one item at a time in the stream layout of
// opc/datastream.h (strings and arrays right after their VARIANT), every
// read checked against the block; an item whose value cannot be decoded is
// marked and costs only that item. Decoded values are real VARIANTs owned
// by the reader; the VARIANTs in the block are descriptions and are never
// cleared or copied as they stand.
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
    VARIANT value;         ///< owned by the reader; VT_EMPTY when not decoded
    bool decoded;          ///< false: the value did not fit the block; skip the item
  };

  enum class Result {
    Malformed,  ///< the block does not fit: nothing was taken
    Failed,     ///< the header fits but reports a failure: no entries
    Ok,         ///< the entries are read (each says whether its value decoded)
  };

  TDataStreamReader() = default;
  TDataStreamReader(const TDataStreamReader&) = delete;
  TDataStreamReader& operator=(const TDataStreamReader&) = delete;
  ~TDataStreamReader();

  /// Reads the block of size bytes, item headers 20 bytes apart with time
  /// stamps, 12 without. The entries of an earlier read are cleared first.
  /// Malformed: a block smaller than the group header or item headers
  /// beyond the block. Failed: the header and item headers fit and hrStatus
  /// is a failure code; the values are not read. Otherwise Ok, and an entry
  /// is not decoded when its value or payload lies beyond the block, its
  /// type is one no stream can carry, the payloads decoded so far already
  /// add up to the block's size, or memory runs out.
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
