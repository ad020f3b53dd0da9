#include "tqdefaultgroup.h"

TqDefaultGroup::TqDefaultGroup(TPersistent* owner) : owner_(owner) {
  setObjectName(QStringLiteral("OPCGroupDefault"));
}

TqDefaultGroup::~TqDefaultGroup() = default;

QString TqDefaultGroup::GetNamePath() const {
  return owner_ ? owner_->GetNamePath() + u'.' + objectName() : objectName();
}

void TqDefaultGroup::AssignTo(TPersistent* dest) const {
  auto* other = qobject_cast<TqDefaultGroup*>(dest);
  if (!other) {
    TPersistent::AssignTo(dest);
    return;
  }
  other->IsActive = IsActive;
  other->UpdateRate = UpdateRate;
  other->DeadBand = DeadBand;
  other->LocaleId = LocaleId;
  other->TimeBias = TimeBias;
}
