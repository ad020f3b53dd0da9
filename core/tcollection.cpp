#include "tcollection.h"

#include <exception>

#include "application.h"
#include "exceptions.h"

namespace {
[[noreturn]] void indexError(int index) {
  throw EListError(QStringLiteral("List index out of bounds (%1)").arg(index));
}
}  // namespace

// ---- TCollectionItem ------------------------------------------------------

TCollectionItem::TCollectionItem(TCollection* collection) { SetCollection(collection); }

// Leaves without asking the item: a dying item cannot refuse.
TCollectionItem::~TCollectionItem() {
  if (collection_) collection_->removeItem(this);
}

void TCollectionItem::SetCollection(TCollection* collection) {
  if (collection == collection_) return;
  if (collection_) {
    ChangingCollection(collection);
    collection_->removeItem(this);
  }
  if (collection) collection->insertItem(this);
}

int TCollectionItem::Index() const {
  return collection_ ? int(collection_->items_.indexOf(const_cast<TCollectionItem*>(this))) : -1;
}

void TCollectionItem::SetIndex(int index) {
  const int current = Index();
  if (current < 0 || index == current) return;
  if (index < 0 || index >= collection_->Count()) indexError(index);
  collection_->moveItem(current, index);
  Changed(true);
}

QString TCollectionItem::GetDisplayName() const { return ClassName(); }

void TCollectionItem::Free() { TCollection::destroyItem(this); }

TPersistent* TCollectionItem::GetOwner() const { return collection_; }

QString TCollectionItem::GetNamePath() const {
  if (!collection_) return ClassName();
  return QStringLiteral("%1[%2]").arg(collection_->GetNamePath()).arg(Index());
}

void TCollectionItem::Changed(bool allItems) {
  if (collection_ && collection_->updateCount_ == 0) collection_->Update(allItems ? nullptr : this);
}

// ---- TCollection ----------------------------------------------------------

TCollection::TCollection(TPersistent* owner) : owner_(owner) {}

TCollection::~TCollection() {
  // Items still held are destroyed without their hooks: the derived
  // collection that gave them meaning is already gone.
  updateCount_ = 1;
  while (!items_.isEmpty()) std::unique_ptr<TCollectionItem> doomed(items_.last());
}

std::unique_ptr<TCollectionItem> TCollection::CreateItem() {
  return std::make_unique<TCollectionItem>(this);
}

TCollectionItem* TCollection::Add() {
  std::unique_ptr<TCollectionItem> item = CreateItem();
  Q_ASSERT(item && item->Collection() == this);
  return item.release();  // owned through items_ from here on
}

TCollectionItem* TCollection::Insert(int index) {
  if (index < 0 || index > Count()) indexError(index);
  TCollectionItem* item = Add();
  item->SetIndex(index);
  return item;
}

TCollectionItem* TCollection::Items(int index) const {
  if (index < 0 || index >= Count()) indexError(index);
  return items_.at(index);
}

TCollectionItem* TCollection::FindItemID(int id) const {
  for (TCollectionItem* item : items_)
    if (item->id_ == id) return item;
  return nullptr;
}

void TCollection::destroyItem(TCollectionItem* item) {
  std::unique_ptr<TCollectionItem> doomed(item);
  doomed->BeforeDestruction();  // may raise; the guard still destroys the item
}

void TCollection::Clear() {
  if (items_.isEmpty()) return;
  BeginUpdate();
  std::exception_ptr first;
  while (!items_.isEmpty()) {
    try {
      destroyItem(items_.last());
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  EndUpdate();
  if (first) std::rethrow_exception(first);
}

void TCollection::ClearInDestructor() noexcept {
  try {
    Clear();
  } catch (...) {
    HandleCurrentException(nullptr);
  }
}

void TCollection::Delete(int index) { destroyItem(Items(index)); }

void TCollection::BeginUpdate() { ++updateCount_; }

void TCollection::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) Changed();
}

QString TCollection::GetNamePath() const {
  if (!owner_) return ClassName();
  const QString own = owner_->GetNamePath();
  return objectName().isEmpty() ? own : own + u'.' + objectName();
}

void TCollection::Assign(const TPersistent* source) {
  auto* other = qobject_cast<const TCollection*>(source);
  if (!other) {
    TPersistent::Assign(source);
    return;
  }
  if (other == this) return;
  BeginUpdate();
  try {
    Clear();
    for (TCollectionItem* item : other->items_) Add()->Assign(item);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::Update(TCollectionItem*) {}

void TCollection::Notify(TCollectionItem*, bool) {}

void TCollection::Changed() {
  if (updateCount_ == 0) Update(nullptr);
}

void TCollection::insertItem(TCollectionItem* item) {
  items_.append(item);
  item->collection_ = this;
  item->id_ = nextId_++;
  Notify(item, true);
  Changed();
}

void TCollection::removeItem(TCollectionItem* item) {
  Notify(item, false);
  // From the back: clearing removes the last item first, and a long
  // collection must not be searched from the front each time.
  if (const qsizetype at = items_.lastIndexOf(item); at >= 0) items_.removeAt(at);
  item->collection_ = nullptr;
  Changed();
}

void TCollection::moveItem(int from, int to) { items_.move(from, to); }
