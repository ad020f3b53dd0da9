#include "uabatch_p.h"
#include "uagroup.h"
#include "uavalue.h"

namespace veze6::uab::detail {

void addValue(ItemBatch& batch, const UaGroupItem& item, std::optional<WORD> quality) {
  batch.add(item.clientHandle, quality.value_or(item.quality), item.timestamp, [&](VARIANT& v) {
    return FAILED(item.valueError)
               ? item.valueError
               : changeToRequestedType(item.value.get(), item.requestedType, &v);
  });
}

}  // namespace veze6::uab::detail
