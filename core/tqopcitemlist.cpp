#include "tqopcitemlist.h"

#include <atomic>

#include "application.h"
#include "exceptions.h"
#include "format.h"
#include "qOPCErrors.h"
#include "qopcstrings.h"
#include "tqopcitems.h"

namespace {
std::atomic<std::int64_t> g_liveLists{0};
}  // namespace

TqOPCItemList::TqOPCItemList() : checkedAt_(TqOPCItems::DepartureCount()) {
  g_liveLists.fetch_add(1, std::memory_order_relaxed);
}

TqOPCItemList::TqOPCItemList(const TqOPCItemList& other)
    : entries_(other.entries_), checkedAt_(other.checkedAt_) {
  g_liveLists.fetch_add(1, std::memory_order_relaxed);
}

TqOPCItemList::TqOPCItemList(TqOPCItemList&& other) noexcept
    : entries_(std::move(other.entries_)), checkedAt_(other.checkedAt_) {
  g_liveLists.fetch_add(1, std::memory_order_relaxed);
}

TqOPCItemList::~TqOPCItemList() { g_liveLists.fetch_sub(1, std::memory_order_relaxed); }

std::int64_t TqOPCItemList::LiveCount() { return g_liveLists.load(std::memory_order_relaxed); }

TqOPCItemList::TqOPCItemList(const TqOPCItems* items) : TqOPCItemList() {
  Reserve(items->Count());
  for (int i = 0; i < items->Count(); ++i) Add(items->Items(i));
}

TqOPCItemList::TqOPCItemList(TqOPCItem* item) : TqOPCItemList() { Add(item); }

TqOPCItem* TqOPCItemList::Items(int index) const {
  if (index < 0 || index >= Count())
    throw EListError(QStringLiteral("List index out of bounds (%1)").arg(index));
  if (TqOPCItems::DepartureCount() != checkedAt_) revalidate();
  return entries_[std::size_t(index)].item;
}

void TqOPCItemList::Add(TqOPCItem* item) {
  if (!item) {
    entries_.push_back({nullptr, 0, -1});
    return;
  }
  const auto* owner = static_cast<const TqOPCItems*>(item->Collection());
  entries_.push_back({item, owner ? owner->Serial() : 0, item->ID()});
}

void TqOPCItemList::revalidate() const {
  const quint64 now = TqOPCItems::DepartureCount();
  // One look-up per run of items of the same collection.
  quint64 serial = 0;
  const TqOPCItems* owner = nullptr;
  for (Entry& e : entries_) {
    if (!e.item) continue;
    if (e.owner != serial) {
      serial = e.owner;
      owner = TqOPCItems::FindSerial(serial);
    }
    // IDs are never reused within a collection, nor serials in the process:
    // the pair names this item and no other.
    if (!owner || owner->FindItemID(e.id) != e.item) e.item = nullptr;
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
