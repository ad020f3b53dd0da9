// Item properties of the simulation server: which of the standard property
// ids an item has, their descriptions, data types and values, and the items
// that stand for the engineering-unit properties.
//
// Every item has the ids 1 to 8 and 101 (its description). Analog items
// (those with an engineering-units range) also have 100 and 102 to 105;
// boolean items 106 and 107; date items 108. The ids from 100 up have an
// item id of their own, "<item>.<name>" ("Random.Int4.HighEU"), readable like
// any item, with the names EUUnits, Description, HighEU, LowEU, HighIR,
// LowIR, CloseLabel, OpenLabel and TimeZone; the ids 1 to 8 have none.
// Property items themselves have the ids 1 to 8 only.
#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "addressspace.h"

namespace veze6::sim {

/// The last part of the item id of a property with an item of its own
/// ("EUUnits", "HighEU"...); empty when the property has none.
std::u16string_view propertyItemName(DWORD propertyId);

/// The property ids the item has, ascending. `isPropertyItem` for the items
/// that stand for another item's property.
std::vector<DWORD> itemPropertyIds(const SimItem& item, bool isPropertyItem);

/// The data type of the property's value for this item.
VARTYPE propertyDataType(const SimItem& item, DWORD propertyId);

/// The property's current value; `scanRateMs` is the server's scan rate.
/// Call only for ids the item has.
OleVariant propertyValue(const SimItem& item, DWORD propertyId, DWORD scanRateMs);

/// Makes the item standing for a property of `owner`, given the last part of
/// its id; null when the owner has no such property.
std::unique_ptr<SimItem> makePropertyItem(const SimItem& owner, std::u16string_view name);

}  // namespace veze6::sim
