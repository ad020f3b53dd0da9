// TqOPCItemList: an ordered list of items for batch operations and events.
// The list never owns its items; an item destroyed (or moved to another
// group) while listed reads as null.
//
// A list is used on the thread of the component its items belong to. It
// keeps plain pointers, each with the item's collection and ID, and checks
// them only when some item of the process has left its collection since the
// last check: a data change lists thousands of items, and weak references
// would cost every one of them twice.
#pragma once

#include <QString>
#include <span>
#include <vector>

#include "tqopcitem.h"

class TqOPCItems;

class TqOPCItemList {
 public:
  TqOPCItemList();
  /// Every item of the collection, in index order.
  explicit TqOPCItemList(const TqOPCItems* items);
  /// That one item.
  explicit TqOPCItemList(TqOPCItem* item);
  TqOPCItemList(const TqOPCItemList& other);
  TqOPCItemList(TqOPCItemList&& other) noexcept;
  TqOPCItemList& operator=(const TqOPCItemList&) = default;
  TqOPCItemList& operator=(TqOPCItemList&&) noexcept = default;
  ~TqOPCItemList();

  /// Lists alive in the process (tests prove with it that every list a
  /// message carried was freed).
  static std::int64_t LiveCount();

  int Count() const { return int(entries_.size()); }
  /// The item at index (null when it has been destroyed); raises EListError
  /// outside 0..Count-1.
  TqOPCItem* Items(int index) const;
  /// Replaces the item at index; raises EListError outside 0..Count-1.
  void PutItem(int index, TqOPCItem* item);
  /// Appends item; returns its index.
  int Add(TqOPCItem* item);
  /// Puts item at index (0..Count), moving the later ones up; raises
  /// EListError otherwise.
  void Insert(int index, TqOPCItem* item);
  /// Takes the entry at index out; raises EListError outside 0..Count-1.
  void Delete(int index);
  /// The index of the first entry holding item (null: the first destroyed
  /// one), or -1.
  int IndexOf(const TqOPCItem* item) const;
  /// Takes the first entry holding item out; its former index, or -1.
  int Remove(const TqOPCItem* item);
  /// Takes the first entry holding item out; item, or null when not listed.
  TqOPCItem* Extract(TqOPCItem* item);
  /// Takes out the entries of items destroyed since they were listed.
  void Pack();
  void Clear() { entries_.clear(); }
  /// Room for count items without growing again.
  void Reserve(int count) { entries_.reserve(std::size_t(std::max(count, 0))); }

  /// The error report: when any listed item's LastError is not 0, the text
  /// title CR LF, then for each of the first 26 failing items its ItemID,
  /// "- ", its error text and CR LF. With raiseError the text is raised as
  /// EOPCException, otherwise shown (ShowMessage). Nothing when none failed.
  void CheckOPCErrors(const QString& title, bool raiseError) const;
  /// Raises EOPCException "item %s not exists on OPCServer" for the first
  /// listed item without a server handle.
  void CheckAllActiveOnServer() const;

  /// The same report over any sequence of items (null entries are skipped).
  static void CheckOPCErrors(std::span<TqOPCItem* const> items, const QString& title,
                             bool raiseError);
  /// The same check over any sequence of items (null entries are skipped).
  static void CheckAllActiveOnServer(std::span<TqOPCItem* const> items);

 private:
  // Lists the items a server reported on, resolved through their group's
  // table (collection and ID known without touching each item), and shows a
  // write completion's results.
  friend class TqOPCItemUpdater;
  void addResolved(TqOPCItem* item, quint64 owner, int id) {
    entries_.push_back({item, owner, id, S_OK});
  }
  // A write completion's item with the server's result for it.
  void addResult(TqOPCItem* item, quint64 owner, int id, HRESULT result) {
    entries_.push_back({item, owner, id, result});
    carriesResults_ = true;
  }

  struct Entry {
    TqOPCItem* item;  // null once found gone
    quint64 owner;    // the item's collection (TqOPCItems::Serial), 0 for none
    int id;           // the item's ID there
    HRESULT result;   // what a write completion reported for it
  };
  static Entry entryFor(TqOPCItem* item);
  void checkIndex(int index, int count) const;
  /// Nulls the entries whose item has left its collection, when any item
  /// of the process has done so since the last check.
  void revalidate() const;
  /// The live items, in order (null entries left out).
  std::vector<TqOPCItem*> live() const;

  mutable std::vector<Entry> entries_;
  mutable quint64 checkedAt_;  // TqOPCItems::DepartureCount() when last checked
  bool carriesResults_ = false;
};
