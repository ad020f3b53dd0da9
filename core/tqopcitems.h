// TqOPCItems: the items of a group, in collection order.
#pragma once

#include "opc/OPCtypes.h"
#include "tcollection.h"

class TqOPCGroup;
class TqOPCItem;

class TqOPCItems : public TCollection {
  Q_OBJECT

 public:
  /// An empty collection of group's items.
  explicit TqOPCItems(TqOPCGroup* group);
  ~TqOPCItems() override;

  /// The owning group (set at construction, never changed).
  TqOPCGroup* FOwner() const { return owner_; }

  /// The item at index, owned by the collection; raises EListError outside
  /// 0..Count-1.
  TqOPCItem* Items(int index) const;
  TqOPCItem* FindItemID(int id) const;

  /// Creates an item for itemId. Owned by the collection.
  virtual TqOPCItem* AddItem(const QString& itemId);
  /// A new item with the group's defaults, as the form reader creates items.
  /// Owned by the collection.
  TqOPCItem* AddDefault();
  /// The first item whose ItemID is itemId (exact, case-sensitive), or null.
  TqOPCItem* FindOPCItem(const QString& itemId) const;
  /// The first item holding that server handle, or null.
  TqOPCItem* GetOPCItem(OPCHANDLE serverHandle) const;
  /// Destroys every item.
  void RemoveAll();

 protected:
  std::unique_ptr<TCollectionItem> CreateItem() override;

 private:
  TqOPCGroup* owner_;
};
