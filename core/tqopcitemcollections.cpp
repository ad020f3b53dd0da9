#include <mutex>
#include <unordered_map>

#include "tqopcitemcollections_p.h"

namespace {

struct Registered {
  TqOPCItemCollections::Entry entry;
  const void* self;
};

struct Registry {
  std::mutex mutex;
  quint64 next = 1;
  std::unordered_map<quint64, Registered> bySerial;
  std::unordered_map<const void*, quint64> byAddress;
  /// Grows with every change; lets serialOf keep its last answer.
  std::atomic<quint64> generation{1};
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

quint64 TqOPCItemCollections::enter(const void* self, const TCollection& items, FindItem find) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  const quint64 serial = r.next++;
  r.bySerial.emplace(serial, Registered{Entry{serial, &items, find}, self});
  r.byAddress[self] = serial;
  r.byAddress[&items] = serial;
  r.generation.fetch_add(1, std::memory_order_release);
  return serial;
}

void TqOPCItemCollections::leave(quint64 serial) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  const auto it = r.bySerial.find(serial);
  if (it == r.bySerial.end()) return;
  r.byAddress.erase(it->second.self);
  r.byAddress.erase(it->second.entry.items);
  r.bySerial.erase(it);
  r.generation.fetch_add(1, std::memory_order_release);
}

TqOPCItemCollections::Entry TqOPCItemCollections::bySerial(quint64 serial) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  const auto it = r.bySerial.find(serial);
  return it == r.bySerial.end() ? Entry{} : it->second.entry;
}

TqOPCItemCollections::Entry TqOPCItemCollections::byAddress(const void* address) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  const auto at = r.byAddress.find(address);
  if (at == r.byAddress.end()) return {};
  const auto it = r.bySerial.find(at->second);
  return it == r.bySerial.end() ? Entry{} : it->second.entry;
}

quint64 TqOPCItemCollections::serialOf(const void* address) {
  if (!address) return 0;
  // A list is mostly filled with the items of one collection: the last
  // answer holds until any collection comes or goes.
  thread_local const void* lastAddress = nullptr;
  thread_local quint64 lastSerial = 0;
  thread_local quint64 lastGeneration = 0;
  Registry& r = registry();
  const quint64 generation = r.generation.load(std::memory_order_acquire);
  if (address == lastAddress && generation == lastGeneration) return lastSerial;
  quint64 serial = 0;
  {
    std::lock_guard lock(r.mutex);
    const auto at = r.byAddress.find(address);
    if (at != r.byAddress.end()) serial = at->second;
  }
  lastAddress = address;
  lastSerial = serial;
  lastGeneration = generation;
  return serial;
}
