// TqOPCGroups: the groups of a server component, in collection order.
#pragma once

#include "tcollection.h"

class TqOPCGroup;
class TqOPCServer;

class TqOPCGroups : public TCollection {
  Q_OBJECT

 public:
  /// An empty collection of the server component's groups.
  explicit TqOPCGroups(TqOPCServer* server);
  ~TqOPCGroups() override;

  /// The owning server component (set at construction, never changed).
  TqOPCServer* FOwner() const { return owner_; }

  /// The group at index, owned by the collection; raises EListError outside
  /// 0..Count-1.
  TqOPCGroup* Items(int index) const;
  TqOPCGroup* FindItemID(int id) const;

  /// Adds a group named name. Raises EOPCException "group %s already exists"
  /// (with the untrimmed name) when a group has that name (case-sensitive) or
  /// the name is blank; nothing is created then. Owned by the collection.
  TqOPCGroup* Add(const QString& name);
  /// A new group with its default name ("TqOPCGroup" + index), as the form
  /// reader creates groups. Owned by the collection.
  TqOPCGroup* AddDefault();
  /// Index of the first group named name (exact, case-sensitive), or -1.
  int Exists(const QString& name) const;
  /// The group named name, or null.
  TqOPCGroup* GetOPCGroup(const QString& name) const;
  /// Destroys the group named name; raises EOPCException "group not found"
  /// when there is none.
  void Remove(const QString& name);
  /// Destroys every group.
  void RemoveAll();

 protected:
  std::unique_ptr<TCollectionItem> CreateItem() override;
  void Update(TCollectionItem* item) override;

 private:
  TqOPCServer* owner_;
};
