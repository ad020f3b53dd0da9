// TCollection: an ordered list of TCollectionItem objects that it owns.
//
// Items are created through the collection (Add, or a derived class's typed
// Add) and destroyed through it (Delete, Clear) or by Free()ing or deleting
// the item itself, which removes it from the collection. Every item gets an
// ID when it joins: 0 for the first, and never reused.
//
// Derived collections whose items need the derived collection while dying
// call Clear() in their own destructor.
#pragma once

#include <QList>
#include <memory>

#include "tcollectionitem.h"

class TCollection : public TPersistent {
  Q_OBJECT

 public:
  /// owner is what GetOwner reports (not counted, not destroyed).
  explicit TCollection(TPersistent* owner = nullptr);
  ~TCollection() override;

  /// Creates a new item at the end; owned by the collection.
  TCollectionItem* Add();
  /// Creates a new item at index (0..Count).
  TCollectionItem* Insert(int index);
  int Count() const { return int(items_.size()); }
  /// The item at index; raises EListError outside 0..Count-1. Owned by the
  /// collection.
  TCollectionItem* Items(int index) const;
  /// The item whose ID is id, or null.
  TCollectionItem* FindItemID(int id) const;
  /// Destroys every item (last first).
  void Clear();
  /// Destroys the item at index; raises EListError outside 0..Count-1.
  void Delete(int index);
  /// The ID the next item will get.
  int NextID() const { return nextId_; }

  /// Updates nest; Update runs once when the outermost one ends.
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }

  TPersistent* GetOwner() const override { return owner_; }
  QString GetNamePath() const override;

  /// Deep copy of another collection of the same item class: clears this one
  /// and adds one item per source item, assigning it.
  void Assign(const TPersistent* source) override;

  QList<TCollectionItem*>::const_iterator begin() const { return items_.cbegin(); }
  QList<TCollectionItem*>::const_iterator end() const { return items_.cend(); }

 protected:
  /// Makes a new item of the collection's item class, constructed with this
  /// collection (so it has joined it when this returns).
  virtual std::unique_ptr<TCollectionItem> CreateItem();
  /// Called after an item (or with null, the collection as a whole) changed,
  /// unless an update is running.
  virtual void Update(TCollectionItem* item);
  /// Called when an item joined (added true) or is leaving the collection.
  virtual void Notify(TCollectionItem* item, bool added);
  /// Update(null) unless an update is running.
  void Changed();
  /// Clear() for destructors: an item that raises while dying is reported to
  /// the application's exception handler instead.
  void ClearInDestructor() noexcept;

 private:
  friend class TCollectionItem;
  void insertItem(TCollectionItem* item);
  void removeItem(TCollectionItem* item);
  void moveItem(int from, int to);
  static void destroyItem(TCollectionItem* item);

  TPersistent* owner_;
  QList<TCollectionItem*> items_;
  int nextId_ = 0;
  int updateCount_ = 0;
};
