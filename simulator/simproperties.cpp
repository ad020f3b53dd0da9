#include "simproperties.h"

#include <algorithm>
#include <array>

#include "opc/filetime.h"
#include "opc/propertydescriptions.h"
#include "servercore_p.h"

namespace veze6::sim {

namespace {

struct PropertyName {
  DWORD id;
  std::u16string_view itemName;  // empty: no item id of its own
};

constexpr std::array<PropertyName, 17> kProperties = {{
    {OPC_PROP_CDT, u""},
    {OPC_PROP_VALUE, u""},
    {OPC_PROP_QUALITY, u""},
    {OPC_PROP_TIME, u""},
    {OPC_PROP_RIGHTS, u""},
    {OPC_PROP_SCANRATE, u""},
    {OPC_PROP_EUTYPE, u""},
    {OPC_PROP_EUINFO, u""},
    {OPC_PROP_UNIT, u"EUUnits"},
    {OPC_PROP_DESC, u"Description"},
    {OPC_PROP_HIEU, u"HighEU"},
    {OPC_PROP_LOEU, u"LowEU"},
    {OPC_PROP_HIRANGE, u"HighIR"},
    {OPC_PROP_LORANGE, u"LowIR"},
    {OPC_PROP_CLOSE, u"CloseLabel"},
    {OPC_PROP_OPEN, u"OpenLabel"},
    {OPC_PROP_TIMEZONE, u"TimeZone"},
}};

const PropertyName* lookup(DWORD id) {
  const auto it = std::find_if(kProperties.begin(), kProperties.end(),
                               [id](const PropertyName& p) { return p.id == id; });
  return it == kProperties.end() ? nullptr : &*it;
}

// The labels of a boolean item's two states.
constexpr std::u16string_view kCloseLabel = u"On";
constexpr std::u16string_view kOpenLabel = u"Off";

// Days from 1601-01-01 (FILETIME's start) to 1899-12-30 (DATE's day 0).
constexpr double kFileTimeDaysBeforeDate = 109205.0;
constexpr double kTicksPerDay = 864000000000.0;

// The time stamp as a date, in UTC like the stamp itself.
DATE stampAsDate(const FILETIME& ft) {
  return double(opc::fileTimeTicks(ft)) / kTicksPerDay - kFileTimeDaysBeforeDate;
}

OleVariant wordValue(WORD w) { return OleVariant(SHORT(w)); }

}  // namespace

std::u16string_view propertyItemName(DWORD propertyId) {
  const PropertyName* p = lookup(propertyId);
  return p ? p->itemName : std::u16string_view();
}

std::vector<DWORD> itemPropertyIds(const SimItem& item, bool isPropertyItem) {
  std::vector<DWORD> ids = {OPC_PROP_CDT,    OPC_PROP_VALUE,    OPC_PROP_QUALITY, OPC_PROP_TIME,
                            OPC_PROP_RIGHTS, OPC_PROP_SCANRATE, OPC_PROP_EUTYPE,  OPC_PROP_EUINFO};
  if (isPropertyItem) return ids;
  if (item.euRange) ids.push_back(OPC_PROP_UNIT);
  ids.push_back(OPC_PROP_DESC);
  if (item.euRange) {
    for (DWORD id : {OPC_PROP_HIEU, OPC_PROP_LOEU, OPC_PROP_HIRANGE, OPC_PROP_LORANGE}) {
      ids.push_back(id);
    }
  }
  if (item.canonicalType == VT_BOOL) {
    ids.push_back(OPC_PROP_CLOSE);
    ids.push_back(OPC_PROP_OPEN);
  }
  if (item.canonicalType == VT_DATE) ids.push_back(OPC_PROP_TIMEZONE);
  return ids;
}

VARTYPE propertyDataType(const SimItem& item, DWORD propertyId) {
  switch (propertyId) {
    case OPC_PROP_CDT:
    case OPC_PROP_QUALITY:
      return VT_I2;
    case OPC_PROP_VALUE:
      return item.canonicalType;
    case OPC_PROP_TIME:
      return VT_DATE;
    case OPC_PROP_RIGHTS:
    case OPC_PROP_EUTYPE:
    case OPC_PROP_TIMEZONE:
      return VT_I4;
    case OPC_PROP_SCANRATE:
      return VT_R4;
    case OPC_PROP_EUINFO:
      // Analog items give their range as two doubles; others give nothing.
      return item.euRange ? VARTYPE(VT_ARRAY | VT_R8) : VARTYPE(VT_EMPTY);
    case OPC_PROP_HIEU:
    case OPC_PROP_LOEU:
    case OPC_PROP_HIRANGE:
    case OPC_PROP_LORANGE:
      return VT_R8;
    default:
      return VT_BSTR;  // units, description, contact labels
  }
}

OleVariant propertyValue(const SimItem& item, DWORD propertyId, DWORD scanRateMs) {
  const auto& range = item.euRange;
  switch (propertyId) {
    case OPC_PROP_CDT:
      return wordValue(item.canonicalType);
    case OPC_PROP_VALUE:
      return item.value;
    case OPC_PROP_QUALITY:
      return wordValue(item.quality);
    case OPC_PROP_TIME:
      return OleVariant::fromDate(stampAsDate(item.timeStamp));
    case OPC_PROP_RIGHTS:
      return OleVariant(LONG(item.accessRights));
    case OPC_PROP_SCANRATE:
      return OleVariant(FLOAT(scanRateMs));
    case OPC_PROP_EUTYPE:
      return OleVariant(LONG(range ? OPC_ANALOG : OPC_NOENUM));
    case OPC_PROP_EUINFO:
      if (!range) return OleVariant();
      return OleVariant::array(VT_R8, {OleVariant(range->low), OleVariant(range->high)});
    case OPC_PROP_UNIT:
      return OleVariant(std::u16string_view(item.euUnits));
    case OPC_PROP_DESC:
      return OleVariant(std::u16string_view(item.description));
    case OPC_PROP_HIEU:
    case OPC_PROP_HIRANGE:
      // The simulated instruments measure exactly their engineering range.
      return range ? OleVariant(range->high) : OleVariant();
    case OPC_PROP_LOEU:
    case OPC_PROP_LORANGE:
      return range ? OleVariant(range->low) : OleVariant();
    case OPC_PROP_CLOSE:
      return OleVariant(kCloseLabel);
    case OPC_PROP_OPEN:
      return OleVariant(kOpenLabel);
    case OPC_PROP_TIMEZONE:
      // Date values are the server machine's local time.
      return OleVariant(LONG(opc::localTimeBias()));
    default:
      return OleVariant();
  }
}

std::unique_ptr<SimItem> makePropertyItem(const SimItem& owner, std::u16string_view name) {
  const auto it = std::find_if(kProperties.begin(), kProperties.end(), [&](const PropertyName& p) {
    return !p.itemName.empty() && p.itemName == name;
  });
  if (it == kProperties.end()) return nullptr;
  const auto ids = itemPropertyIds(owner, false);
  if (std::find(ids.begin(), ids.end(), it->id) == ids.end()) return nullptr;

  auto item = std::make_unique<SimItem>();
  item->itemId = owner.itemId;
  item->itemId += AddressSpace::kSeparator;
  item->itemId += name;
  item->canonicalType = propertyDataType(owner, it->id);
  item->accessRights = OPC_READABLE;
  item->description = opc::propertyDescription(it->id);
  // The scan rate is no property with an item of its own, so 0 is unused.
  item->value = propertyValue(owner, it->id, 0);
  item->quality = OPC_QUALITY_GOOD;
  item->timeStamp = owner.timeStamp;
  return item;
}

}  // namespace veze6::sim
