// TCollectionItem: one element of a TCollection. An item joins its
// collection in its constructor (receiving the next ID) and leaves it in its
// destructor.
#pragma once

#include "tpersistent.h"

class TCollection;

class TCollectionItem : public TPersistent {
  Q_OBJECT

 public:
  /// Joins collection (when given), which then owns the item.
  explicit TCollectionItem(TCollection* collection);
  ~TCollectionItem() override;

  /// The collection holding the item, or null.
  TCollection* Collection() const { return collection_; }
  /// Moves the item into another collection (or out of any with null); it
  /// gets a new ID there. An item class may refuse (ChangingCollection).
  void SetCollection(TCollection* collection);
  /// The number the collection gave the item when it joined: 0, 1, 2...
  /// never reused within that collection. -1 outside a collection.
  int ID() const { return id_; }
  /// The item's position in its collection, or -1.
  int Index() const;
  /// Moves the item to another position.
  void SetIndex(int index);
  /// The text a list shows for the item; the class name unless overridden.
  virtual QString GetDisplayName() const;
  QString DisplayName() const { return GetDisplayName(); }

  /// Runs when the item is about to be destroyed through its collection
  /// (Delete, Clear) or Free(), before the destructor. It may raise; the item
  /// is destroyed all the same and the exception passed on.
  virtual void BeforeDestruction() {}
  /// Destroys the item: BeforeDestruction, then the destructor. The item
  /// must be owned by its collection (or not be owned at all).
  void Free();

  TPersistent* GetOwner() const override;
  QString GetNamePath() const override;

 protected:
  /// Runs before the item leaves its collection for target (another
  /// collection, or none) while it lives on; may raise to refuse the move,
  /// which then does not happen.
  virtual void ChangingCollection(TCollection* target) { (void)target; }
  /// Tells the collection that this item (or, with allItems, every item)
  /// changed; nothing happens while the collection is being updated.
  void Changed(bool allItems);

 private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
  int id_ = -1;
};
