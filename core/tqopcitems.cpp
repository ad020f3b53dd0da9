#include "tqopcitems.h"

#include "tqopcgroup.h"
#include "tqopcitem.h"

TqOPCItems::TqOPCItems(TqOPCGroup* group) : TCollection(group), owner_(group) {
  setObjectName(QStringLiteral("OPCItems"));
}

TqOPCItems::~TqOPCItems() { ClearInDestructor(); }

TqOPCItem* TqOPCItems::Items(int index) const {
  return static_cast<TqOPCItem*>(TCollection::Items(index));
}

TqOPCItem* TqOPCItems::FindItemID(int id) const {
  return static_cast<TqOPCItem*>(TCollection::FindItemID(id));
}

std::unique_ptr<TCollectionItem> TqOPCItems::CreateItem() {
  return std::make_unique<TqOPCItem>(this);
}

TqOPCItem* TqOPCItems::AddDefault() { return static_cast<TqOPCItem*>(TCollection::Add()); }

TqOPCItem* TqOPCItems::AddItem(const QString& itemId) {
  TqOPCItem* item = AddDefault();
  item->SetItemID(itemId);
  // Adding the item on a connected server comes with the items' server side.
  return item;
}

TqOPCItem* TqOPCItems::FindOPCItem(const QString& itemId) const {
  for (TCollectionItem* item : *this)
    if (auto* i = static_cast<TqOPCItem*>(item); i->ItemID() == itemId) return i;
  return nullptr;
}

TqOPCItem* TqOPCItems::GetOPCItem(OPCHANDLE serverHandle) const {
  for (TCollectionItem* item : *this)
    if (auto* i = static_cast<TqOPCItem*>(item); i->ServerHandle() == serverHandle) return i;
  return nullptr;
}

void TqOPCItems::RemoveAll() { Clear(); }
