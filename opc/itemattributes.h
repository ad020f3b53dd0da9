// IOPCItemMgt::CreateEnumerator as the groups of every server object answer
// it: a snapshot of the group's items handed out as OPCITEMATTRIBUTES.
#pragma once

#include <string>
#include <vector>

#include "OPCDA.h"
#include "opcexport.h"
#include "variant.h"

namespace opc {

/// One item as the enumerator hands it out.
struct VEZE6_OPC_EXPORT ItemAttributes {
  std::u16string accessPath;
  std::u16string itemId;
  bool active = true;
  OPCHANDLE clientHandle = 0;
  OPCHANDLE serverHandle = 0;
  DWORD accessRights = 0;
  VARTYPE requestedType = VT_EMPTY;
  VARTYPE canonicalType = VT_EMPTY;
  OPCEUTYPE euType = OPC_NOENUM;
  OleVariant euInfo;

  /// An analog item: its engineering-units range as two VT_R8.
  void setRange(double low, double high);
};

/// CreateEnumerator's checks: E_INVALIDARG for a missing pointer,
/// E_NOINTERFACE for anything but IEnumOPCItemAttributes.
VEZE6_OPC_EXPORT HRESULT checkItemEnumerator(REFIID riid, IUnknown** ppUnk);
/// Its enumerator over the items: S_FALSE, and still an enumerator, when
/// the group has none.
VEZE6_OPC_EXPORT HRESULT makeItemEnumerator(std::vector<ItemAttributes> items, IUnknown** ppUnk);

}  // namespace opc
