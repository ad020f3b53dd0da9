// TqOPCItemList: an ordered list of items for batch operations and events.
// The list never owns its items; an item destroyed while listed reads as
// null.
#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <span>

#include "tqopcitem.h"

class TqOPCItems;

class TqOPCItemList {
 public:
  TqOPCItemList() = default;
  /// Every item of the collection, in index order.
  explicit TqOPCItemList(const TqOPCItems* items);
  /// That one item.
  explicit TqOPCItemList(TqOPCItem* item);

  int Count() const { return int(items_.size()); }
  /// The item at index (null when it has been destroyed); raises EListError
  /// outside 0..Count-1.
  TqOPCItem* Items(int index) const;
  void Add(TqOPCItem* item);
  void Clear() { items_.clear(); }

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
  QList<QPointer<TqOPCItem>> items_;
};
