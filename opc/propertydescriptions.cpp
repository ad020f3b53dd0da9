#include "propertydescriptions.h"

#include <algorithm>
#include <array>
#include <utility>

#include "OPCtypes.h"

namespace opc {

std::u16string_view propertyDescription(DWORD propertyId) {
  static constexpr std::array<std::pair<DWORD, std::u16string_view>, 17> kDescriptions = {{
      {OPC_PROP_CDT, u"Item Canonical DataType"},
      {OPC_PROP_VALUE, u"Item Value"},
      {OPC_PROP_QUALITY, u"Item Quality"},
      {OPC_PROP_TIME, u"Item Timestamp"},
      {OPC_PROP_RIGHTS, u"Item Access Rights"},
      {OPC_PROP_SCANRATE, u"Server Scan Rate"},
      {OPC_PROP_EUTYPE, u"Item EU Type"},
      {OPC_PROP_EUINFO, u"Item EUInfo"},
      {OPC_PROP_UNIT, u"EU Units"},
      {OPC_PROP_DESC, u"Item Description"},
      {OPC_PROP_HIEU, u"High EU"},
      {OPC_PROP_LOEU, u"Low EU"},
      {OPC_PROP_HIRANGE, u"High Instrument Range"},
      {OPC_PROP_LORANGE, u"Low Instrument Range"},
      {OPC_PROP_CLOSE, u"Contact Close Label"},
      {OPC_PROP_OPEN, u"Contact Open Label"},
      {OPC_PROP_TIMEZONE, u"Item Timezone"},
  }};
  const auto it = std::find_if(kDescriptions.begin(), kDescriptions.end(),
                               [propertyId](const auto& d) { return d.first == propertyId; });
  return it == kDescriptions.end() ? std::u16string_view() : it->second;
}

}  // namespace opc
