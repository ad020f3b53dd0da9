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
//   The values packed one after the other right after the headers, in item
//     order; each item's dwValueOffset names its VARIANT. A string or array
//     value carries its payload right after its VARIANT, in the layout of
//     opc/datastream.h (shared with the client's reader).
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

}  // namespace veze6::sim
