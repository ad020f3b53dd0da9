// Internal to the simulator, not API: what a scan pass produces (batches of
// item values bound for one client call), the asynchronous requests a group
// queues for the next pass, and the rules for reading and writing one item.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "addressspace.h"
#include "opc/itembatch.h"
#include "opc/sinklist.h"
#include "opc/variant.h"

namespace veze6::sim::detail {

/// The clock time of a pass, in both forms.
struct PassTime {
  std::uint64_t ticks;  ///< FILETIME ticks
  FILETIME fileTime;
};

/// The arrays of one call into a client: built once under the server's lock,
/// then owned by the delivery (which may run later, on another thread).
using opc::ItemBatch;

/// valueForClient's other cases: a value that owns memory, or a conversion.
HRESULT convertForClient(const SimItem& item, VARTYPE requested, VARIANT& out);

/// An item's value as the client asked for it, written into `out` (a
/// cleared VARIANT): S_OK, OPC_E_RANGE when it overflows the requested type,
/// OPC_E_BADTYPE when it does not convert. Inline: a scan builds its batch
/// with it, and most values are plain scalars in their own type, copied
/// bitwise.
inline HRESULT valueForClient(const SimItem& item, VARTYPE requested, VARIANT& out) {
  const VARIANT& value = item.value.get();
  if ((requested == VT_EMPTY || requested == value.vt) && opc::isPlainVariantType(value.vt)) {
    out = value;
    return S_OK;
  }
  return convertForClient(item, requested, out);
}

/// Appends an item's value as the client asked for it (`requested`,
/// VT_EMPTY: canonical); a value that does not convert travels as VT_EMPTY
/// with bad quality and the conversion's code.
inline void addValue(ItemBatch& batch, OPCHANDLE clientHandle, const SimItem& item,
                     VARTYPE requested, WORD quality) {
  batch.add(clientHandle, quality, item.timeStamp,
            [&](VARIANT& v) { return valueForClient(item, requested, v); });
}

/// One call a pass makes into a client.
struct Outgoing {
  enum class Call : std::uint8_t {
    DataChange,      ///< IOPCDataCallback::OnDataChange (subscription or refresh)
    ReadComplete,    ///< IOPCDataCallback::OnReadComplete
    WriteComplete,   ///< IOPCDataCallback::OnWriteComplete
    CancelComplete,  ///< IOPCDataCallback::OnCancelComplete
    DataStream,      ///< IAdviseSink::OnDataChange with a data stream
    WriteStream,     ///< IAdviseSink::OnDataChange with a write-result stream
  };
  Call call;
  std::shared_ptr<opc::Connection> to;
  std::shared_ptr<ItemBatch> batch;
};

/// Makes the calls, in order, by the apartment rule. Never call with the
/// server's lock held.
void send(const std::vector<Outgoing>& calls);

/// An asynchronous read, write or refresh waiting for the next pass.
struct AsyncRequest {
  enum class Kind : std::uint8_t { Read, Write, Refresh };
  Kind kind = Kind::Read;
  bool da10 = false;  ///< IOPCAsyncIO (answered by stream) rather than IOPCAsyncIO2
  bool cancelled = false;
  OPCDATASOURCE source = OPC_DS_DEVICE;
  DWORD transactionId = 0;  ///< echoed to the client
  DWORD cancelId = 0;       ///< what Cancel2 (DA 2.0) or Cancel (DA 1.0) names
  std::vector<OPCHANDLE> serverHandles;
  std::vector<OleVariant> values;  ///< writes: one per handle
};

/// Wakes the scan thread, and keeps passes apart. Shared with the thread, so
/// that it can wait without keeping the server alive.
struct ScanSignal {
  /// Held for a whole pass; the scan thread holds the server only inside it.
  /// An object that lets go of the server takes it first, so that its
  /// release, when the last, ends the server there and then rather than
  /// later on the scan thread. Recursive: a sink called directly may start
  /// a pass.
  std::recursive_mutex passGate;
  std::mutex mutex;
  std::condition_variable wakeup;
  std::uint64_t generation = 0;  // guarded by mutex
  bool stop = false;             // guarded by mutex
  void wake();
};

/// A client's write of one item: OPC_E_BADRIGHTS for a read-only item,
/// OPC_E_BADTYPE when the value does not convert to the canonical type,
/// OPC_E_RANGE when it is outside what the type holds or outside the item's
/// range, OPC_S_CLAMP when a clamping item took the nearest limit; S_OK.
HRESULT writeItem(SimItem& item, const VARIANT& value, const PassTime& now);

}  // namespace veze6::sim::detail
