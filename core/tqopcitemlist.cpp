#include "tqopcitemlist.h"

#include <algorithm>
#include <atomic>

#include "application.h"
#include "exceptions.h"
#include "format.h"
#include "qOPCErrors.h"
#include "qopcstrings.h"
#include "tcollection.h"
#include "tqopcitemcollections_p.h"

namespace {
std::atomic<std::int64_t> g_liveLists{0};
}  // namespace

TqOPCItemList::TqOPCItemList() : checkedAt_(TqOPCItemCollections::departures()) {
  g_liveLists.fetch_add(1, std::memory_order_relaxed);
}

TqOPCItemList::TqOPCItemList(const TqOPCItemList& other)
    : entries_(other.entries_),
      checkedAt_(other.checkedAt_),
      carriesResults_(other.carriesResults_) {
  g_liveLists.fetch_add(1, std::memory_order_relaxed);
}

TqOPCItemList::TqOPCItemList(TqOPCItemList&& other) noexcept
    : entries_(std::move(other.entries_)),
      checkedAt_(other.checkedAt_),
      carriesResults_(other.carriesResults_) {
  g_liveLists.fetch_add(1, std::memory_order_relaxed);
}

TqOPCItemList::~TqOPCItemList() { g_liveLists.fetch_sub(1, std::memory_order_relaxed); }

std::int64_t TqOPCItemList::LiveCount() { return g_liveLists.load(std::memory_order_relaxed); }

TqOPCItemList::TqOPCItemList(const TqOPCItems* items) : TqOPCItemList() {
  const TqOPCItemCollections::Entry owner = TqOPCItemCollections::byAddress(items);
  if (!owner.items) return;
  Reserve(owner.items->Count());
  for (TCollectionItem* c : *owner.items) {
    auto* item = static_cast<TqOPCItem*>(c);
    entries_.push_back({item, owner.serial, item->ID(), S_OK});
  }
}

TqOPCItemList::TqOPCItemList(TqOPCItem* item) : TqOPCItemList() { Add(item); }

void TqOPCItemList::checkIndex(int index, int count) const {
  if (index < 0 || index >= count)
    throw EListError(QStringLiteral("List index out of bounds (%1)").arg(index));
}

TqOPCItem* TqOPCItemList::Items(int index) const {
  checkIndex(index, Count());
  if (TqOPCItemCollections::departures() != checkedAt_) revalidate();
  return entries_[std::size_t(index)].item;
}

TqOPCItemList::Entry TqOPCItemList::entryFor(TqOPCItem* item) {
  if (!item) return {nullptr, 0, -1, S_OK};
  return {item, TqOPCItemCollections::serialOf(item->Collection()), item->ID(), S_OK};
}

void TqOPCItemList::PutItem(int index, TqOPCItem* item) {
  checkIndex(index, Count());
  entries_[std::size_t(index)] = entryFor(item);
}

int TqOPCItemList::Add(TqOPCItem* item) {
  entries_.push_back(entryFor(item));
  return Count() - 1;
}

void TqOPCItemList::Insert(int index, TqOPCItem* item) {
  checkIndex(index, Count() + 1);
  entries_.insert(entries_.begin() + index, entryFor(item));
}

void TqOPCItemList::Delete(int index) {
  checkIndex(index, Count());
  entries_.erase(entries_.begin() + index);
}

int TqOPCItemList::IndexOf(const TqOPCItem* item) const {
  // Destroyed items read as null first: a new item in a destroyed one's
  // memory is not found in its place.
  if (TqOPCItemCollections::departures() != checkedAt_) revalidate();
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].item == item) return int(i);
  return -1;
}

int TqOPCItemList::Remove(const TqOPCItem* item) {
  const int index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

TqOPCItem* TqOPCItemList::Extract(TqOPCItem* item) {
  const int index = IndexOf(item);
  if (index < 0) return nullptr;
  Delete(index);
  return item;
}

void TqOPCItemList::Pack() {
  revalidate();
  std::erase_if(entries_, [](const Entry& e) { return !e.item; });
}

void TqOPCItemList::revalidate() const {
  const quint64 now = TqOPCItemCollections::departures();
  // One look-up per run of items of the same collection.
  quint64 serial = 0;
  TqOPCItemCollections::Entry owner;
  for (Entry& e : entries_) {
    if (!e.item) continue;
    if (e.owner != serial) {
      serial = e.owner;
      owner = TqOPCItemCollections::bySerial(serial);
    }
    // IDs are never reused within a collection, nor serials in the process:
    // the pair names this item and no other.
    if (owner.item(e.id) != e.item) e.item = nullptr;
  }
  checkedAt_ = now;
}

std::vector<TqOPCItem*> TqOPCItemList::live() const {
  revalidate();
  std::vector<TqOPCItem*> items;
  items.reserve(entries_.size());
  for (const Entry& e : entries_)
    if (e.item) items.push_back(e.item);
  return items;
}

namespace {

constexpr int kListedFailures = 26;

// The report's text, or empty when no item failed.
template <class Range>
QString errorReport(const Range& items, const QString& title) {
  QString text;
  int failed = 0;
  for (const auto& item : items) {
    if (!item || item->LastError() == S_OK) continue;
    if (failed == 0) text = title + QStringLiteral("\r\n");
    if (failed < kListedFailures) {
      QString error = GetOPCErrorMessage(item->LastError());
      if (error.isEmpty()) error = Format(_STR_UNKNOWN(), {item->LastError()});
      text += item->ItemID() + QStringLiteral("- ") + error + QStringLiteral("\r\n");
    }
    ++failed;
  }
  return text;
}

void raiseOrShow(const QString& text, bool raiseError) {
  if (text.isEmpty()) return;
  if (raiseError) throw EOPCException(text);
  ShowMessage(text);
}

template <class Range>
void checkAllOnServer(const Range& items) {
  for (const auto& item : items)
    if (item && item->ServerHandle() == TqOPCItem::kNoServerHandle)
      throw EOPCException(Format(_STR_NOSERVERHANDLE(), {item->ItemID()}));
}

}  // namespace

void TqOPCItemList::CheckOPCErrors(const QString& title, bool raiseError) const {
  raiseOrShow(errorReport(live(), title), raiseError);
}

void TqOPCItemList::CheckOPCErrors(std::span<TqOPCItem* const> items, const QString& title,
                                   bool raiseError) {
  raiseOrShow(errorReport(items, title), raiseError);
}

void TqOPCItemList::CheckAllActiveOnServer() const { checkAllOnServer(live()); }

void TqOPCItemList::CheckAllActiveOnServer(std::span<TqOPCItem* const> items) {
  checkAllOnServer(items);
}
