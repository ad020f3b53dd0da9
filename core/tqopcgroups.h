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

  /// Adds a group named name and, when the component is connected, puts it
  /// on the server under that name. Raises EOPCException "group %s already
  /// exists" (with the untrimmed name) when a group has that name
  /// (case-sensitive) or the name is blank; nothing is created then. A failed
  /// AddGroup raises too; the group then stays in the collection, local.
  /// Owned by the collection.
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
  /// Takes every group off the server, then destroys every group.
  void RemoveAll();
  /// Puts every group that is not on the server on it, in index order. An
  /// exception from one group ends the loop; later groups stay local.
  void CreateAllOPCGroups();
  /// Takes every group off the server, in index order.
  void RemoveAllOPCGroups();

 protected:
  std::unique_ptr<TCollectionItem> CreateItem() override;
  void Update(TCollectionItem* item) override;

 private:
  friend class TqOPCGroup;
  TqOPCServer* owner_;
  // Set while Add creates a group: it reaches the server under its final
  // name, never under the default one.
  bool addingNamed_ = false;
};
