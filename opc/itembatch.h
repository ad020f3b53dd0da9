// The arrays of one call into a client's IOPCDataCallback (a data change, a
// read's, write's or cancel's completion), as every server object builds
// them: filled where the values are, then owned by the delivery, which may
// run later on the client's apartment.
#pragma once

#include <memory>
#include <vector>

#include "OPCDA.h"
#include "opcexport.h"
#include "sinklist.h"

namespace opc {

/// One call's items. Write and cancel completions fill only clientHandles
/// and errors.
struct VEZE6_OPC_EXPORT ItemBatch {
  DWORD transactionId = 0;
  OPCHANDLE clientGroup = 0;
  std::vector<OPCHANDLE> clientHandles;
  std::vector<VARIANT> values;  ///< owned; cleared on destruction
  std::vector<WORD> qualities;
  std::vector<FILETIME> timeStamps;
  std::vector<HRESULT> errors;

  ItemBatch() = default;
  ItemBatch(const ItemBatch&) = delete;
  ItemBatch& operator=(const ItemBatch&) = delete;
  ~ItemBatch();

  void reserve(std::size_t n);
  std::size_t size() const { return clientHandles.size(); }

  /// Appends an item's value: `fill(VARIANT&)` writes it, as the client
  /// asked for it, into a cleared VARIANT and answers the item's code. A
  /// value that could not be had travels as VT_EMPTY with bad quality and
  /// that code.
  template <class Fill>
  void add(OPCHANDLE clientHandle, WORD quality, const FILETIME& timeStamp, Fill&& fill) {
    VARIANT& v = values.emplace_back();
    v.vt = VT_EMPTY;
    const HRESULT hr = fill(v);
    clientHandles.push_back(clientHandle);
    qualities.push_back(FAILED(hr) ? WORD(OPC_QUALITY_BAD) : quality);
    timeStamps.push_back(timeStamp);
    errors.push_back(hr);
  }
  /// Appends a write's (or a failed read's) result for an item.
  void addResult(OPCHANDLE clientHandle, HRESULT error) {
    clientHandles.push_back(clientHandle);
    errors.push_back(error);
  }

  /// S_OK when every quality is good, else S_FALSE.
  HRESULT masterQuality() const;
  /// S_OK when every code is S_OK, else S_FALSE.
  HRESULT masterError() const;
};

/// The IOPCDataCallback methods a batch is sent to.
enum class DataCallback { DataChange, ReadComplete, WriteComplete, CancelComplete };

/// Calls the sink with the batch by the apartment rule; nothing without a
/// sink. The client may clear the values it takes; the batch clears what
/// is left when it goes.
VEZE6_OPC_EXPORT void sendBatch(const std::shared_ptr<Connection>& to, DataCallback call,
                                std::shared_ptr<ItemBatch> batch);

}  // namespace opc
