#include "tqopcgroups.h"

#include <QScopedValueRollback>
#include <exception>

#include "format.h"
#include "qOPCErrors.h"
#include "qopcstrings.h"
#include "tqopcgroup.h"
#include "tqopcserver.h"

TqOPCGroups::TqOPCGroups(TqOPCServer* server) : TCollection(server), owner_(server) {
  setObjectName(QStringLiteral("OPCGroups"));
}

// Groups die while this collection (and the server they refer to) still
// stands.
TqOPCGroups::~TqOPCGroups() { ClearInDestructor(); }

TqOPCGroup* TqOPCGroups::Items(int index) const {
  return static_cast<TqOPCGroup*>(TCollection::Items(index));
}

TqOPCGroup* TqOPCGroups::FindItemID(int id) const {
  return static_cast<TqOPCGroup*>(TCollection::FindItemID(id));
}

std::unique_ptr<TCollectionItem> TqOPCGroups::CreateItem() {
  return std::make_unique<TqOPCGroup>(this);
}

TqOPCGroup* TqOPCGroups::AddDefault() { return static_cast<TqOPCGroup*>(TCollection::Add()); }

TqOPCGroup* TqOPCGroups::Add(const QString& name) {
  if (Exists(name) >= 0 || name.trimmed().isEmpty())
    throw EOPCException(Format(_STR_GROUPEXITS(), {name}));
  TqOPCGroup* group;
  {
    QScopedValueRollback adding(addingNamed_, true);
    group = AddDefault();
  }
  group->SetName(name);
  // Named first and then put on the server, in the designer as well: the
  // default name may already be taken there by a group that kept it.
  if (owner_->server_) group->OPCAddGroup();
  return group;
}

int TqOPCGroups::Exists(const QString& name) const {
  for (int i = 0; i < Count(); ++i)
    if (Items(i)->Name() == name) return i;
  return -1;
}

TqOPCGroup* TqOPCGroups::GetOPCGroup(const QString& name) const {
  const int index = Exists(name);
  return index >= 0 ? Items(index) : nullptr;
}

void TqOPCGroups::Remove(const QString& name) {
  const int index = Exists(name);
  if (index < 0) throw EOPCException(_STR_GROUPNOTFOUND());
  Delete(index);
}

void TqOPCGroups::RemoveAll() {
  RemoveAllOPCGroups();
  Clear();
}

void TqOPCGroups::CreateAllOPCGroups() {
  for (int i = 0; i < Count(); ++i)
    if (TqOPCGroup* group = Items(i); !group->IsOnServer()) group->OPCAddGroup();
}

void TqOPCGroups::RemoveAllOPCGroups() {
  // One group failing does not keep the others on the server; the first
  // failure is raised once all have left.
  std::exception_ptr failure;
  for (int i = 0; i < Count(); ++i) {
    try {
      Items(i)->OPCRemoveGroup();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

void TqOPCGroups::Update(TCollectionItem* item) { TCollection::Update(item); }
