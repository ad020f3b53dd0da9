// Internal to the library, not API: TqOPCItemUpdater, the one place outside
// an item's own collection that writes what a server reported into items
// (value, quality, time stamp, result code, server handle) and lists the
// items of an event.
//
// The data sinks resolve each client handle through their group's table of
// live items (TqOPCItems) and build the list they post to the component's
// window with it; the group's reads and writes store their per-item results
// with its static functions, and a write completion's list shows its
// results through it (CarriedResults). Its per-item steps are inline: they run once for
// every item of a data change.
#pragma once

#include <memory>
#include <vector>

#include "itemvalues_p.h"
#include "opc/OPCDA.h"
#include "tqopcitem.h"
#include "tqopcitemlist.h"
#include "tqopcitems.h"

class TqOPCItemUpdater {
 public:
  /// Updates the items of table (a group's) and lists them, expecting about
  /// count of them.
  explicit TqOPCItemUpdater(const TqOPCItems& table, int count = 0)
      : table_(table), owner_(table.Serial()), list_(std::make_unique<TqOPCItemList>()) {
    list_->Reserve(count);
  }

  /// DA 2.0 data change or read completion: the item named by handle takes
  /// quality, value (taken over: value is left empty), time stamp and
  /// result code, and is listed. A handle that names no live item is
  /// dropped (null).
  TqOPCItem* Change(OPCHANDLE handle, VARIANT& value, WORD quality, const FILETIME& stamp,
                    HRESULT error) {
    TqOPCItem* item = resolve(handle);
    if (!item) return nullptr;
    item->quality_ = quality;
    veze6::core::detail::takeValue(item->value_, value);
    item->timeStamp_ = toDateTime_(stamp);
    item->lastError_ = error;
    return item;
  }

  /// DA 1.0 stream entry: only the quality class is kept, the time stamp
  /// only when the stream carries one (stamp not null); the result code
  /// stays.
  TqOPCItem* StreamChange(OPCHANDLE handle, VARIANT& value, WORD quality, const FILETIME* stamp) {
    TqOPCItem* item = resolve(handle);
    if (!item) return nullptr;
    item->quality_ = quality & OPC_QUALITY_MASK;
    veze6::core::detail::takeValue(item->value_, value);
    if (stamp) item->timeStamp_ = toDateTime_(*stamp);
    return item;
  }

  /// Write completion: the item takes the server's result, and quality 0
  /// when it is not 0 (success codes such as OPC_S_CLAMP included: the
  /// value written is not the value asked for); it is listed with the
  /// result, which the list carries (a data change handled before the
  /// message may overwrite the item's). True when the result is not 0.
  bool WriteResult(OPCHANDLE handle, HRESULT result) {
    TqOPCItem* item = table_.FindClientHandle(handle);
    if (!item) return false;
    item->lastError_ = result;
    if (result != S_OK) item->quality_ = 0;
    list_->addResult(item, owner_, int(handle), result);
    return result != S_OK;
  }

  int Count() const { return list_->Count(); }
  /// The items listed so far; the updater lists nothing more afterwards.
  std::unique_ptr<TqOPCItemList> TakeList() { return std::move(list_); }

  // ---- single items, for the group's reads and writes ----
  /// A successful read: quality, value (taken over), time stamp, LastError 0.
  static void Read(TqOPCItem& item, WORD quality, VARIANT& value, TDateTime stamp) {
    item.quality_ = quality;
    veze6::core::detail::takeValue(item.value_, value);
    item.timeStamp_ = stamp;
    item.lastError_ = S_OK;
  }
  /// A failed operation: quality 0 and the code as LastError.
  static void Failed(TqOPCItem& item, HRESULT code) {
    item.quality_ = 0;
    item.lastError_ = code;
  }
  static void SetLastError(TqOPCItem& item, HRESULT code) { item.lastError_ = code; }
  /// The item's group has left the server.
  static void ClearServerHandle(TqOPCItem& item) {
    item.serverHandle_ = TqOPCItem::kNoServerHandle;
  }

  /// While it exists, each item a write completion listed shows the result
  /// the server gave it for that write as its LastError, whatever data
  /// changes came in between; afterwards an item still showing it gets its
  /// previous LastError back. Nothing for lists that carry no results.
  class CarriedResults {
   public:
    explicit CarriedResults(const TqOPCItemList& list);
    ~CarriedResults();
    CarriedResults(const CarriedResults&) = delete;
    CarriedResults& operator=(const CarriedResults&) = delete;

   private:
    TqOPCItemList shown_;
    std::vector<HRESULT> previous_;
  };

 private:
  TqOPCItem* resolve(OPCHANDLE handle) {
    TqOPCItem* item = table_.FindClientHandle(handle);
    if (item) list_->addResolved(item, owner_, int(handle));
    return item;
  }

  const TqOPCItems& table_;
  const quint64 owner_;
  std::unique_ptr<TqOPCItemList> list_;
  veze6::core::detail::StampConverter toDateTime_;
};
