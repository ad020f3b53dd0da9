// Internal to the bridge, not API: the bridge's items in the batches of
// calls into a client's IOPCDataCallback.
#pragma once

#include <optional>

#include "opc/itembatch.h"

namespace veze6::uab {

struct UaGroupItem;

namespace detail {

using opc::ItemBatch;

/// Appends the item's cached value as its client asked for it; a value
/// that does not convert travels as VT_EMPTY with bad quality and the
/// conversion's code. `quality` overrides the cached one when given.
void addValue(ItemBatch& batch, const UaGroupItem& item,
              std::optional<WORD> quality = std::nullopt);

}  // namespace detail
}  // namespace veze6::uab
