#include "tqopcitem.h"

#include "application.h"
#include "exceptions.h"
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
  requestDatatype_ = VARTYPE(defaults->RequestDataType);
  accessPath_ = defaults->AccessPath;
}

TqOPCItem::~TqOPCItem() {
  if (serverHandle_ == kNoServerHandle) return;
  try {
    BeforeDestruction();
  } catch (...) {
    HandleCurrentException(nullptr);
  }
}

void TqOPCItem::BeforeDestruction() {
  lastError_ = S_OK;  // a stale error is not reported
  OPCCommand(cmdRemove);
}

void TqOPCItem::ChangingCollection(TCollection* target) {
  auto* items = qobject_cast<TqOPCItems*>(target);
  if (!items) throw EOPCException(QStringLiteral("item %1 belongs to a group").arg(itemId_));
  if (serverHandle_ != kNoServerHandle) throw EOPCException(_STR_NOTPOSSIBLE());
  group_ = items->FOwner();
}

const OleVariant& TqOPCItem::EUInfo() const {
  static const OleVariant unassigned;
  return unassigned;
}

QVariant TqOPCItem::ValueVariant() const { return VariantToQVariant(value_); }

QVariant TqOPCItem::EUInfoVariant() const { return VariantToQVariant(EUInfo()); }

void TqOPCItem::SetItemID(const QString& value) {
  if (serverHandle_ != kNoServerHandle) throw EOPCException(_STR_NOTPOSSIBLE());
  itemId_ = value;
  if (group_->designing()) OPCCommand(cmdValidate);
}

void TqOPCItem::SetAccessPath(const QString& value) {
  if (serverHandle_ != kNoServerHandle) throw EOPCException(_STR_NOTPOSSIBLE());
  accessPath_ = value;
  if (group_->designing()) OPCCommand(cmdValidate);
}

void TqOPCItem::SetIsActive(bool value) {
  if (value == isActive_) return;
  isActive_ = value;
  if (!group_->designing()) OPCCommand(cmdActive, value);
}

void TqOPCItem::SetRequestDatatype(OPCADatatype value) {
  if (VARTYPE(value) == requestDatatype_) return;
  requestDatatype_ = VARTYPE(value);
  if (!group_->designing()) OPCCommand(cmdSetDatatype);
}

void TqOPCItem::OPCCommand(int command, bool value) {
  if (!group_->singleItemCalls()) return;
  if (auto* items = qobject_cast<TqOPCItems*>(Collection()))
    items->itemCommand(*this, command, value);
}

void TqOPCItem::WriteSync(const OleVariant& value) { write(value, false); }

void TqOPCItem::WriteAsync(const OleVariant& value) { write(value, true); }

void TqOPCItem::write(const OleVariant& value, bool async) {
  writeValue_ = value;
  // The group's write does nothing at all for these; the item form must not
  // report such a write as done.
  if (serverHandle_ == kNoServerHandle)
    throw EOPCException(Format(_STR_NOSERVERHANDLE(), {itemId_}));
  if (async ? !group_->AsyncIO2() && !group_->AsyncIO() : !group_->SyncIO())
    OleError(E_NOINTERFACE);
  static_cast<TqOPCItems*>(Collection())->writeItem(*this, async);
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

bool TqOPCItem::IsPropertyStored(const QMetaProperty& property) const {
  if (qstrcmp(property.name(), "AccessPath") == 0 && accessPath_.isEmpty())
    return !group_->DefaultItem()->AccessPath.isEmpty();
  return TCollectionItem::IsPropertyStored(property);
}
