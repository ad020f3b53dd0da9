// TqOPCItemProperties: the properties of one item of a server, one
// TqOPCItemProperty per property in the order the server lists them, each
// with its value. Changing the item or the server refreshes the list at once
// (a listing and a value read); values are read only then or by Refresh and
// GetItemProperties, never by data changes.
#pragma once

#include <QPointer>
#include <QString>
#include <memory>
#include <vector>

#include "tqopcitemproperty.h"

class TqOPCServer;

class TqOPCItemProperties {
 public:
  /// Empty, no item, no server; no server call.
  TqOPCItemProperties();
  /// With the item id, then SetOPCServer(server): filled at once when a
  /// server is given. Raises what QueryAvailableProperties raises.
  TqOPCItemProperties(TqOPCServer* server, const QString& itemId);
  ~TqOPCItemProperties();
  TqOPCItemProperties(const TqOPCItemProperties&) = delete;
  TqOPCItemProperties& operator=(const TqOPCItemProperties&) = delete;

  int Count() const { return int(items_.size()); }
  /// The entry at index (0-based), owned by the list and valid until it is
  /// refilled; raises EListError outside 0..Count-1.
  TqOPCItemProperty* GetItem(int index) const;
  /// Puts entry at index (the list owns it) and hands the entry it replaces
  /// back to the caller. Raises EListError outside 0..Count-1 and for a null
  /// entry.
  std::unique_ptr<TqOPCItemProperty> SetItem(int index, std::unique_ptr<TqOPCItemProperty> entry);

  QString ItemId() const { return itemId_; }
  /// An unchanged text does nothing; otherwise stores it and refreshes.
  void SetItemId(const QString& itemId);
  /// The server component; not owned. Null when none, also after it was
  /// destroyed.
  TqOPCServer* OPCServer() const { return server_; }
  /// The same server does nothing; otherwise stores it and refreshes (null
  /// empties the list).
  void SetOPCServer(TqOPCServer* server);

  /// Rebuilds the entries from the server's listing, values empty. Empty
  /// without server, item id or the server's item-properties interface; a
  /// failed listing raises through OPCCheck (the list is then empty).
  void QueryAvailableProperties();
  /// Reads the values of all entries in one call. False without entries,
  /// server, item id or interface, when the call fails (values unchanged) or
  /// when any property could not be read (its value is then empty, the
  /// others are filled).
  bool GetItemProperties();
  /// QueryAvailableProperties, then GetItemProperties.
  void Refresh();

 private:
  std::vector<std::unique_ptr<TqOPCItemProperty>> items_;
  QString itemId_;
  QPointer<TqOPCServer> server_;
};
