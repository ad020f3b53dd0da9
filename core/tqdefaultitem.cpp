#include "tqdefaultitem.h"

TqDefaultItem::TqDefaultItem(TPersistent* owner) : owner_(owner) {
  setObjectName(QStringLiteral("DefaultItem"));
}

TqDefaultItem::~TqDefaultItem() = default;

QString TqDefaultItem::GetNamePath() const {
  return owner_ ? owner_->GetNamePath() + u'.' + objectName() : objectName();
}

bool TqDefaultItem::IsPropertyStored(const QMetaProperty& property) const {
  if (qstrcmp(property.name(), "IsActive") == 0) return !IsActive;
  return TPersistent::IsPropertyStored(property);
}

void TqDefaultItem::AssignTo(TPersistent* dest) const {
  auto* other = qobject_cast<TqDefaultItem*>(dest);
  if (!other) {
    TPersistent::AssignTo(dest);
    return;
  }
  other->IsActive = IsActive;
  other->AccessPath = AccessPath;
  other->RequestDataType = RequestDataType;
}
