#include "itemattributes.h"

#include "enumerator.h"
#include "taskmem.h"

namespace opc {

namespace {

/// Hands out an item's attributes in task memory.
struct ItemAttributesCopy {
  using Elem = OPCITEMATTRIBUTES;
  static bool copy(const ItemAttributes& src, Elem* a) {
    *a = OPCITEMATTRIBUTES{};
    VariantInit(&a->vEUInfo);
    a->szAccessPath = taskStringDup(src.accessPath);
    a->szItemID = taskStringDup(src.itemId);
    if (!a->szAccessPath || !a->szItemID || FAILED(VariantCopy(&a->vEUInfo, &src.euInfo.get()))) {
      drop(a);
      return false;
    }
    a->bActive = src.active ? TRUE : FALSE;
    a->hClient = src.clientHandle;
    a->hServer = src.serverHandle;
    a->dwAccessRights = src.accessRights;
    a->vtRequestedDataType = src.requestedType;
    a->vtCanonicalDataType = src.canonicalType;
    a->dwEUType = src.euType;
    return true;
  }
  static void drop(Elem* a) {
    CoTaskMemFree(a->szAccessPath);
    CoTaskMemFree(a->szItemID);
    CoTaskMemFree(a->pBlob);
    VariantClear(&a->vEUInfo);
    *a = OPCITEMATTRIBUTES{};
  }
};

}  // namespace

void ItemAttributes::setRange(double low, double high) {
  euType = OPC_ANALOG;
  euInfo = OleVariant::array(VT_R8, {OleVariant(low), OleVariant(high)});
}

HRESULT checkItemEnumerator(REFIID riid, IUnknown** ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  if (!ppUnk) return E_INVALIDARG;
  if (riid != IID_IEnumOPCItemAttributes) return E_NOINTERFACE;
  return S_OK;
}

HRESULT makeItemEnumerator(std::vector<ItemAttributes> items, IUnknown** ppUnk) {
  const bool empty = items.empty();
  *ppUnk = makeEnumerator<IEnumOPCItemAttributes, ItemAttributesCopy>(std::move(items)).detach();
  if (!*ppUnk) return E_OUTOFMEMORY;
  // An empty group still hands out an (empty) enumerator.
  return empty ? S_FALSE : S_OK;
}

}  // namespace opc
