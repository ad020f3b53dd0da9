#include "tqopcgroup.h"

#include "tqdefaultgroup.h"
#include "tqopcgroups.h"
#include "tqopcserver.h"

TqOPCGroup::TqOPCGroup(TqOPCGroups* groups) : TCollectionItem(groups), server_(groups->FOwner()) {
  const TqDefaultGroup* defaults = server_->OPCGroupDefault();
  SetIsActive(defaults->IsActive);
  SetUpdateRate(defaults->UpdateRate);
  SetDeadBand(defaults->DeadBand);
  SetLocaleId(defaults->LocaleId);
  SetTimeBias(defaults->TimeBias);
  // The index, not a unique number: names are not compared here.
  name_ = ClassName() + QString::number(groups->Count() - 1);
  defaultItem_ = std::make_unique<TqDefaultItem>(this);
  items_ = std::make_unique<TqOPCItems>(this);
  isPublic_ = false;
  isSubscribed_ = false;
}

TqOPCGroup::~TqOPCGroup() {
  items_.reset();
  defaultItem_.reset();
}

// The setters store only: sending the change to the server comes with the
// groups' server side.

void TqOPCGroup::SetName(const QString& value) {
  if (value == name_) return;
  name_ = value;
}

void TqOPCGroup::SetIsActive(bool value) {
  if (value == isActive_) return;
  isActive_ = value;
}

void TqOPCGroup::SetUpdateRate(qint32 value) {
  if (value == updateRate_) return;
  updateRate_ = value;
}

void TqOPCGroup::SetDeadBand(float value) {
  if (value == deadBand_) return;
  deadBand_ = value;
}

void TqOPCGroup::SetLocaleId(qint32 value) {
  if (value == localeId_) return;
  localeId_ = value;
}

void TqOPCGroup::SetTimeBias(qint32 value) {
  if (value == timeBias_) return;
  timeBias_ = value;
}

void TqOPCGroup::SetIsPublic(bool value) { isPublic_ = value; }

void TqOPCGroup::SetIsSubscribed(bool value) { isSubscribed_ = value; }

QString TqOPCGroup::GetDisplayName() const {
  return name_.trimmed().isEmpty() ? TCollectionItem::GetDisplayName() : name_;
}
