#include "itemproperties_p.h"
#include "qopcconversions.h"

namespace veze6::core::detail {

PropertyListing::PropertyListing(IOPCItemProperties* properties, const QString& itemId) {
  opc::Bstr id = TextToWide(itemId);
  hr = properties->QueryAvailableProperties(id.get(), &count, ids.put(), descriptions.put(),
                                            types.put());
}

PropertyListing::~PropertyListing() {
  if (descriptions)
    for (DWORD i = 0; i < count; ++i) CoTaskMemFree(descriptions[i]);
}

PropertyValues::PropertyValues(IOPCItemProperties* properties, const QString& itemId,
                               std::vector<DWORD> propertyIds)
    : ids(std::move(propertyIds)) {
  opc::Bstr id = TextToWide(itemId);
  hr = properties->GetItemProperties(id.get(), DWORD(ids.size()), ids.data(), values.put(),
                                     errors.put());
}

PropertyValues::~PropertyValues() {
  if (values)
    for (std::size_t i = 0; i < ids.size(); ++i) VariantClear(&values[i]);
}

PropertyItemIds::PropertyItemIds(IOPCItemProperties* properties, const QString& itemId,
                                 std::vector<DWORD> propertyIds)
    : ids(std::move(propertyIds)) {
  opc::Bstr id = TextToWide(itemId);
  hr = properties->LookupItemIDs(id.get(), DWORD(ids.size()), ids.data(), itemIds.put(),
                                 errors.put());
}

PropertyItemIds::~PropertyItemIds() {
  if (itemIds)
    for (std::size_t i = 0; i < ids.size(); ++i) CoTaskMemFree(itemIds[i]);
}

}  // namespace veze6::core::detail
