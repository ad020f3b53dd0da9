// TqOPCItems: the items of a group, in collection order, and the batch
// operations that send many items to the server in one call.
#pragma once

#include <span>
#include <vector>

#include "opc/OPCtypes.h"
#include "tcollection.h"

class TqOPCGroup;
class TqOPCItem;
class TqOPCItemList;

class TqOPCItems : public TCollection {
  Q_OBJECT

 public:
  /// An empty collection of group's items.
  explicit TqOPCItems(TqOPCGroup* group);
  ~TqOPCItems() override;

  /// The owning group (set at construction, never changed).
  TqOPCGroup* FOwner() const { return owner_; }

  /// A number no other collection of items in the process has or had: item
  /// lists name an item's collection by it.
  quint64 Serial() const { return serial_; }
  /// The collection with that serial while it exists, or null. Thread-safe.
  static const TqOPCItems* FindSerial(quint64 serial);
  /// Grows whenever an item leaves its collection (destroyed or moved);
  /// lists check their items only when it has grown.
  static quint64 DepartureCount();

  /// The item at index, owned by the collection; raises EListError outside
  /// 0..Count-1.
  TqOPCItem* Items(int index) const;
  /// The item whose collection ID is id, or null.
  TqOPCItem* FindItemID(int id) const;
  /// The live item a client handle from the server names, or null when no
  /// item of this group has it (any more). Constant time.
  TqOPCItem* FindClientHandle(OPCHANDLE clientHandle) const;

  /// Creates an item for itemId (SetItemID, which validates it in the
  /// designer), then adds it on the server (OPCCommand add). The item stays
  /// in the collection when either raises. Owned by the collection.
  virtual TqOPCItem* AddItem(const QString& itemId);
  /// A new item with the group's defaults, as the form reader creates items.
  /// Owned by the collection.
  TqOPCItem* AddDefault();
  /// The first item whose ItemID is itemId (exact, case-sensitive), or null.
  TqOPCItem* FindOPCItem(const QString& itemId) const;
  /// The first item holding that server handle, or null.
  TqOPCItem* GetOPCItem(OPCHANDLE serverHandle) const;

  // ---- batch operations ----
  // Each sends all listed items of this group in one server call and matches
  // the per-item results to the list by position: a result of zero or more
  // sets the item's LastError to 0, a failure stores the code. They return
  // True when no item failed, False also when they did nothing (empty list,
  // group not on the server, in the designer where said). A failed whole
  // call raises through OPCCheck. Destroyed items in the list are skipped;
  // an item of another group raises EOPCException before any server call.

  /// Adds (add True) or validates (add False) the listed items. Adding in the
  /// designer does nothing. Raises "item %s already exists on OPCServer" for
  /// the first listed item that has a server handle. Added items get their
  /// server handle; added and validated ones their canonical type and access
  /// rights. An item id or access path holding a zero character is not sent:
  /// the item fails with OPC_E_INVALIDITEMID or OPC_E_UNKNOWNPATH.
  bool OPCAddItems(const TqOPCItemList& list, bool add);
  bool OPCValidateItems(const TqOPCItemList& list);
  /// Removes the listed items from the server; every one loses its server
  /// handle whatever the outcome. Not in the designer. Raises "item %s not
  /// exists on OPCServer" for the first item without a server handle. The
  /// whole-call result is not checked: without per-item results it counts
  /// for every item.
  bool OPCRemoveItems(const TqOPCItemList& list);
  /// Sets the listed items' active state on the server (and IsActive of each
  /// item that succeeded). Guards as OPCRemoveItems.
  bool OPCActiveItems(const TqOPCItemList& list, bool active);
  /// Sends the listed items' RequestDatatype. Guards as OPCRemoveItems.
  bool OPCSetDataTypes(const TqOPCItemList& list);
  /// Adds (in the designer: validates) every item without a server handle,
  /// in one call; failures are shown in one message ("cannot add Items:"),
  /// not raised.
  void OPCAddAllItems();
  /// Removes every item that has a server handle; failures are not reported.
  void OPCRemoveAllItems();
  /// OPCRemoveAllItems, then destroys every item.
  void RemoveAll();

 protected:
  std::unique_ptr<TCollectionItem> CreateItem() override;
  void Notify(TCollectionItem* item, bool added) override;

 private:
  friend class TqOPCItem;
  // Reads and writes check their lists as the batch operations do.
  friend class TqOPCGroup;
  using ItemSpan = std::span<TqOPCItem* const>;

  // The batch operations on plain item pointers, for the single-item path
  // and the whole-collection operations.
  bool addItems(ItemSpan items, bool add);
  bool removeItems(ItemSpan items);
  bool activeItems(ItemSpan items, bool active);
  bool setDataTypes(ItemSpan items);
  /// The live items of list, checked to belong to this collection.
  std::vector<TqOPCItem*> itemsOf(const TqOPCItemList& list) const;
  // An item's own calls: one command with its report (TqOPCItem::OPCCommand),
  // a write through the group with its report.
  void itemCommand(TqOPCItem& item, int command, bool value);
  void writeItem(TqOPCItem& item, bool async);

  // Live items by collection ID, which is also their client handle. IDs
  // only grow, so entries are appended in order and found by binary search;
  // a destroyed item leaves a hole, dropped at once from the end and
  // compacted away once holes outnumber the live entries. While no hole has
  // been compacted away an entry sits at its ID's distance from the first,
  // and is found there in one step (every data change resolves each of its
  // handles).
  class HandleTable {
   public:
    void insert(int id, TCollectionItem* item);
    void remove(int id);
    TCollectionItem* find(int id) const;

   private:
    struct Entry {
      int id;
      TCollectionItem* item;  // null: destroyed
    };
    std::vector<Entry>::const_iterator lowerBound(int id) const;
    std::vector<Entry> entries_;
    std::size_t holes_ = 0;
  };

  TqOPCGroup* owner_;
  HandleTable byId_;
  quint64 serial_;
};
