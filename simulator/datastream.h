// The DA 1.0 data streams a group sends through IAdviseSink::OnDataChange,
// each one block of global memory (TYMED_HGLOBAL), all fields in the
// platform's byte order (little-endian):
//
// Data ("OPCSTMFORMATDATATIME" / "OPCSTMFORMATDATA"):
//   OPCGROUPHEADER at 0 (20 bytes): dwSize = the block's size, dwItemCount,
//     hClientGroup, dwTransactionID (0 for a subscription update, the
//     request's id for a read or refresh), hrStatus (S_OK when every quality
//     is good, else S_FALSE).
//   dwItemCount item headers packed from offset 20: OPCITEMHEADER1 (20 bytes,
//     with the time stamp) or OPCITEMHEADER2 (12 bytes, without).
//   The values, from the first 8-byte boundary after the headers, in item
//     order; each item's dwValueOffset names its 16-byte VARIANT.
//
// Values whose VARIANT would hold a pointer (VT_BSTR, VT_ARRAY | ...) carry
// their contents in the block instead: the payload follows its VARIANT
// directly (at the VARIANT's offset + 16), and the VARIANT's 8-byte value
// field holds the payload's offset from the start of the block as an
// unsigned 64-bit integer (0 for a null string or array). Such a VARIANT is
// a description, not a live value: never clear or copy it as it stands.
// Every payload starts on an 8-byte boundary and is padded to one.
//
//   String payload: DWORD n, the number of UTF-16 code units; the n code
//     units; one zero code unit.
//   Array payload: WORD vt (the element type), WORD cDims, DWORD cbElements
//     (bytes per element slot in the stream), then cDims pairs of DWORD
//     cElements and LONG lLbound (first dimension first), then the element
//     slots in the array's memory order, then (from the next 8-byte
//     boundary) the payloads the slots refer to. Slots of numbers, booleans,
//     dates and currency hold the element as in memory (1, 2, 4 or 8
//     bytes); a VT_BSTR slot is 8 bytes holding its string payload's offset
//     (0: null); a VT_VARIANT slot is a 16-byte VARIANT encoded like a value
//     (its own string or array payload among the array's payloads).
//
// Write results ("OPCSTMFORMATWRITECOMPLETE"): OPCGROUPHEADERWRITE (16 bytes:
// dwItemCount, hClientGroup, dwTransactionID, hrStatus = S_OK when every
// item succeeded, else S_FALSE), then one OPCITEMHEADERWRITE (hClient,
// dwError) per item.
#pragma once

#include <cstddef>

#include "opc/OPCtypes.h"
#include "opc/objidl.h"

namespace veze6::sim {

/// Builds a data stream in a new global block (owned by the caller, free it
/// with GlobalFree); null when memory runs out. The arrays hold `count`
/// entries; `timeStamps` is read only `withTime`.
HGLOBAL buildDataStream(bool withTime, OPCHANDLE clientGroup, DWORD transactionId,
                        std::size_t count, const OPCHANDLE* clientHandles, const VARIANT* values,
                        const WORD* qualities, const FILETIME* timeStamps);

/// Builds a write-result stream in a new global block (the caller's).
HGLOBAL buildWriteCompleteStream(OPCHANDLE clientGroup, DWORD transactionId, std::size_t count,
                                 const OPCHANDLE* clientHandles, const HRESULT* errors);

/// The bytes a value takes in a data stream: its VARIANT and its payload.
std::size_t streamValueSize(const VARIANT& value);

}  // namespace veze6::sim
