// Internal to the bridge, not API: the arrays of one call into a client's
// IOPCDataCallback, built where the values are and owned by the delivery
// (which runs later, on the client's apartment).
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "opc/OPCDA.h"
#include "opc/sinklist.h"

namespace veze6::uab {

struct UaGroupItem;

namespace detail {

struct ItemBatch {
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
  /// Appends the item's cached value as its client asked for it; a value
  /// that does not convert travels as VT_EMPTY with bad quality and the
  /// conversion's code. `quality` overrides the cached one when given.
  void add(const UaGroupItem& item, std::optional<WORD> quality = std::nullopt);
  void addResult(OPCHANDLE clientHandle, HRESULT error);
  HRESULT masterQuality() const;  ///< S_OK when every quality is good
  HRESULT masterError() const;    ///< S_OK when every code is S_OK
};

enum class Call { DataChange, ReadComplete, WriteComplete, CancelComplete };

/// Calls the sink by the apartment rule (posted to the thread that advised).
void send(const std::shared_ptr<opc::Connection>& to, Call call, std::shared_ptr<ItemBatch> batch);

}  // namespace detail
}  // namespace veze6::uab
