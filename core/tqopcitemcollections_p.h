// Internal to the library, not API: TqOPCItemCollections, the item
// collections (TqOPCItems) alive in the process as item lists see them.
//
// A list keeps plain pointers, each with its item's collection serial and
// ID, and checks them only after some item of the process has left its
// collection. It reaches the collections through this registry, never
// through their class: the collections' batch operations take lists.
#pragma once

#include <QtGlobal>
#include <atomic>

class TCollection;
class TCollectionItem;

class TqOPCItemCollections {
 public:
  /// How a collection finds its item by ID (quickly, unlike TCollection's
  /// own walk).
  using FindItem = TCollectionItem* (*)(const TCollection& items, int id);

  /// A collection as the registry knows it; all null for none.
  struct Entry {
    quint64 serial = 0;
    const TCollection* items = nullptr;
    FindItem find = nullptr;
    /// The collection's item with that ID, or null (also for no collection).
    TCollectionItem* item(int id) const { return items ? find(*items, id) : nullptr; }
  };

  /// A new collection, known by its own address (`self`) and by its
  /// TCollection's: its serial, which no other collection has or had.
  static quint64 enter(const void* self, const TCollection& items, FindItem find);
  /// The collection is going.
  static void leave(quint64 serial);

  /// The collection with that serial while it exists.
  static Entry bySerial(quint64 serial);
  /// The collection at that address (its own or its TCollection's).
  static Entry byAddress(const void* address);
  /// The serial of the collection at that address, 0 for none; quick for
  /// the items of one collection in a row.
  static quint64 serialOf(const void* address);

  /// Grows whenever an item leaves its collection (destroyed or moved).
  static quint64 departures() { return departures_.load(std::memory_order_relaxed); }
  static void departed() { departures_.fetch_add(1, std::memory_order_relaxed); }

 private:
  static inline std::atomic<quint64> departures_{0};
};
