#include "tqopcitem.h"

#include "format.h"
#include "qOPCErrors.h"
#include "qopcconversions.h"
#include "qopcstrings.h"
#include "tqdefaultitem.h"
#include "tqopcgroup.h"
#include "tqopcitems.h"

TqOPCItem::TqOPCItem(TqOPCItems* items) : TCollectionItem(items), group_(items->FOwner()) {
  const TqDefaultItem* defaults = group_->DefaultItem();
  isActive_ = defaults->IsActive;
  requestDatatype_ = defaults->RequestDataType;
  accessPath_ = defaults->AccessPath;
}

TqOPCItem::~TqOPCItem() = default;

QVariant TqOPCItem::ValueVariant() const { return VariantToQVariant(value_); }

QVariant TqOPCItem::EUInfoVariant() const { return VariantToQVariant(euInfo_); }

// The item id and access path are frozen while the item is on the server.
// Validating them in the designer comes with the items' server side.
void TqOPCItem::SetItemID(const QString& value) {
  if (serverHandle_ != kNoServerHandle) throw EOPCException(_STR_NOTPOSSIBLE());
  itemId_ = value;
}

void TqOPCItem::SetAccessPath(const QString& value) {
  if (serverHandle_ != kNoServerHandle) throw EOPCException(_STR_NOTPOSSIBLE());
  accessPath_ = value;
}

// Stored first; sending the change to the server comes with the items'
// server side.
void TqOPCItem::SetIsActive(bool value) {
  if (value == isActive_) return;
  isActive_ = value;
}

void TqOPCItem::SetRequestDatatype(OPCADatatype value) {
  if (value == requestDatatype_) return;
  requestDatatype_ = value;
}

QString TqOPCItem::GetLastErrorStr() const {
  if (lastError_ == S_OK) return {};
  const QString text = GetOPCErrorMessage(lastError_);
  return text.trimmed().isEmpty() ? Format(_STR_UNKNOWN(), {lastError_}) : text;
}

QString TqOPCItem::ValueStr() const { return VarToAStr(value_); }

bool TqOPCItem::IsGoodQuality() const { return (quality_ & OPC_QUALITY_GOOD) == OPC_QUALITY_GOOD; }

QString TqOPCItem::GetDisplayName() const {
  return itemId_.trimmed().isEmpty() ? TCollectionItem::GetDisplayName() : itemId_;
}
