#include "tqopcitems.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>

#include "exceptions.h"
#include "format.h"
#include "opc/taskmem.h"
#include "qOPCErrors.h"
#include "qopcstrings.h"
#include "tqopcgroup.h"
#include "tqopcitem.h"
#include "tqopcitemcollections_p.h"
#include "tqopcitemlist.h"

namespace {

template <class T>
opc::TaskMem<T> taskArray(std::size_t count) {
  opc::TaskMem<T> block(static_cast<T*>(CoTaskMemAlloc(sizeof(T) * count)));
  if (!block) OleError(E_OUTOFMEMORY);
  return block;
}

// Appends text to out as a zero-terminated wide string, an unpaired
// surrogate replaced by U+FFFD as everywhere at the server boundary. False
// when the text holds a zero character: the server would read it cut short,
// possibly as another item.
bool appendWide(const QString& text, OLECHAR*& out) {
  const auto* s = reinterpret_cast<const char16_t*>(text.constData());
  const qsizetype n = text.size();
  std::memcpy(out, s, std::size_t(n) * sizeof(OLECHAR));
  // One cheap pass finds the texts that need a closer look: zero, the
  // surrogates and the rest of the top range.
  bool special = false;
  for (qsizetype i = 0; i < n; ++i) special |= char16_t(s[i] - 1) >= 0xD7FF;
  bool clean = true;
  if (special) {
    for (qsizetype i = 0; i < n; ++i) {
      const char16_t c = s[i];
      if (c == 0) {
        clean = false;
      } else if (char16_t(c - 0xD800) < 0x800) {
        if (c < 0xDC00 && i + 1 < n && char16_t(s[i + 1] - 0xDC00) < 0x400)
          ++i;  // a complete pair
        else
          out[i] = u'\uFFFD';
      }
    }
  }
  out[n] = 0;
  out += n + 1;
  return clean;
}

// A batch walks many items the cache no longer holds: asking for one a few
// places ahead hides most of the wait for memory.
template <class T>
void prefetchAhead(std::span<T* const> items, std::size_t i) {
  constexpr std::size_t kAhead = 8;
  if (i + kAhead < items.size()) __builtin_prefetch(items[i + kAhead]);
}

// Frees the blob of every result the server handed out; declared after the
// arrays' guards so that it runs before they free the arrays.
class ResultBlobs {
 public:
  ResultBlobs(const opc::TaskOut<OPCITEMRESULT>& results, DWORD count)
      : results_(results), count_(count) {}
  ResultBlobs(const ResultBlobs&) = delete;
  ResultBlobs& operator=(const ResultBlobs&) = delete;
  ~ResultBlobs() {
    if (!results_) return;
    for (DWORD i = 0; i < count_; ++i) CoTaskMemFree(results_[i].pBlob);
  }

 private:
  const opc::TaskOut<OPCITEMRESULT>& results_;
  DWORD count_;
};

// The outcome of an item when the server gave no per-item results: the
// whole call's result, except that S_FALSE ("some failed") cannot be
// credited to any item as a success.
HRESULT withoutPerItemResult(HRESULT whole) { return whole == S_FALSE ? E_FAIL : whole; }

}  // namespace

TqOPCItems::TqOPCItems(TqOPCGroup* group) : TCollection(group), owner_(group) {
  setObjectName(QStringLiteral("OPCItems"));
  serial_ = TqOPCItemCollections::enter(
      this, *this, [](const TCollection& items, int id) -> TCollectionItem* {
        return static_cast<const TqOPCItems&>(items).FindItemID(id);
      });
}

TqOPCItems::~TqOPCItems() {
  ClearInDestructor();
  TqOPCItemCollections::leave(serial_);
}

const TqOPCItems* TqOPCItems::FindSerial(quint64 serial) {
  return static_cast<const TqOPCItems*>(TqOPCItemCollections::bySerial(serial).items);
}

quint64 TqOPCItems::DepartureCount() { return TqOPCItemCollections::departures(); }

TqOPCItem* TqOPCItems::Items(int index) const {
  return static_cast<TqOPCItem*>(TCollection::Items(index));
}

TqOPCItem* TqOPCItems::FindItemID(int id) const { return static_cast<TqOPCItem*>(byId_.find(id)); }

TqOPCItem* TqOPCItems::FindClientHandle(OPCHANDLE clientHandle) const {
  return clientHandle > OPCHANDLE(INT_MAX) ? nullptr : FindItemID(int(clientHandle));
}

void TqOPCItems::Notify(TCollectionItem* item, bool added) {
  if (added) {
    byId_.insert(item->ID(), item);
  } else {
    byId_.remove(item->ID());
    TqOPCItemCollections::departed();
  }
  TCollection::Notify(item, added);
}

std::vector<TqOPCItems::HandleTable::Entry>::const_iterator TqOPCItems::HandleTable::lowerBound(
    int id) const {
  return std::lower_bound(entries_.begin(), entries_.end(), id,
                          [](const Entry& e, int value) { return e.id < value; });
}

void TqOPCItems::HandleTable::insert(int id, TCollectionItem* item) {
  if (entries_.empty() || entries_.back().id < id) {
    entries_.push_back({id, item});
    return;
  }
  // Not reached while IDs only grow; kept sorted all the same.
  const auto at = lowerBound(id);
  if (at != entries_.end() && at->id == id) {
    if (!at->item) --holes_;
    entries_[std::size_t(at - entries_.begin())].item = item;
  } else {
    entries_.insert(at, {id, item});
  }
}

void TqOPCItems::HandleTable::remove(int id) {
  // Clearing removes the newest first: no search for it.
  const auto at =
      !entries_.empty() && entries_.back().id == id ? entries_.cend() - 1 : lowerBound(id);
  if (at == entries_.end() || at->id != id || !at->item) return;
  entries_[std::size_t(at - entries_.begin())].item = nullptr;
  ++holes_;
  while (!entries_.empty() && !entries_.back().item) {
    entries_.pop_back();
    --holes_;
  }
  if (holes_ > 16 && holes_ > entries_.size() / 2) {
    std::erase_if(entries_, [](const Entry& e) { return !e.item; });
    holes_ = 0;
    if (entries_.capacity() > 2 * entries_.size() + 64) entries_.shrink_to_fit();
  }
  if (entries_.empty()) entries_.shrink_to_fit();
}

TCollectionItem* TqOPCItems::HandleTable::find(int id) const {
  if (!entries_.empty()) {
    const std::size_t guess = std::size_t(unsigned(id) - unsigned(entries_.front().id));
    if (guess < entries_.size() && entries_[guess].id == id) return entries_[guess].item;
  }
  const auto at = lowerBound(id);
  return at != entries_.end() && at->id == id ? at->item : nullptr;
}

std::unique_ptr<TCollectionItem> TqOPCItems::CreateItem() {
  return std::make_unique<TqOPCItem>(this);
}

TqOPCItem* TqOPCItems::AddDefault() { return static_cast<TqOPCItem*>(TCollection::Add()); }

TqOPCItem* TqOPCItems::AddItem(const QString& itemId) {
  TqOPCItem* item = AddDefault();
  item->SetItemID(itemId);
  item->OPCCommand(TqOPCItem::cmdAdd);
  return item;
}

TqOPCItem* TqOPCItems::FindOPCItem(const QString& itemId) const {
  for (TCollectionItem* item : *this)
    if (auto* i = static_cast<TqOPCItem*>(item); i->ItemID() == itemId) return i;
  return nullptr;
}

TqOPCItem* TqOPCItems::GetOPCItem(OPCHANDLE serverHandle) const {
  for (TCollectionItem* item : *this)
    if (auto* i = static_cast<TqOPCItem*>(item); i->ServerHandle() == serverHandle) return i;
  return nullptr;
}

// ---- batch operations ---------------------------------------------------------------

std::vector<TqOPCItem*> TqOPCItems::itemsOf(const TqOPCItemList& list) const {
  std::vector<TqOPCItem*> items;
  items.reserve(std::size_t(list.Count()));
  for (int i = 0; i < list.Count(); ++i) {
    TqOPCItem* item = list.Items(i);
    if (!item) continue;  // destroyed since it was listed
    // Its handles mean nothing to this group's server side.
    if (item->Collection() != this)
      throw EOPCException(QStringLiteral("item %1 does not belong to group %2")
                              .arg(item->ItemID(), owner_->Name()));
    items.push_back(item);
  }
  return items;
}

bool TqOPCItems::OPCAddItems(const TqOPCItemList& list, bool add) {
  return addItems(itemsOf(list), add);
}

bool TqOPCItems::OPCValidateItems(const TqOPCItemList& list) { return OPCAddItems(list, false); }

bool TqOPCItems::OPCRemoveItems(const TqOPCItemList& list) { return removeItems(itemsOf(list)); }

bool TqOPCItems::OPCActiveItems(const TqOPCItemList& list, bool active) {
  return activeItems(itemsOf(list), active);
}

bool TqOPCItems::OPCSetDataTypes(const TqOPCItemList& list) { return setDataTypes(itemsOf(list)); }

bool TqOPCItems::addItems(ItemSpan items, bool add) {
  if (add && owner_->designing()) return false;  // the designer only validates
  if (items.empty()) return false;
  // One block holds every wide string of the call.
  std::size_t chars = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    prefetchAhead(items, i);
    const TqOPCItem* item = items[i];
    if (item->serverHandle_ != TqOPCItem::kNoServerHandle)
      throw EOPCException(Format(_STR_HASSERVERHANDLE(), {item->itemId_}));
    chars += std::size_t(item->itemId_.size()) + std::size_t(item->accessPath_.size()) + 2;
  }
  IOPCItemMgt* itemMgt = owner_->ItemMgt();
  if (!itemMgt) return false;

  const auto strings = taskArray<OLECHAR>(chars);
  const auto defs = taskArray<OPCITEMDEF>(items.size());
  // The items sent, when some cannot be: results are matched to them.
  std::vector<TqOPCItem*> kept;
  bool dropped = false;
  int failed = 0;
  DWORD count = 0;
  OLECHAR* out = strings.get();
  for (std::size_t i = 0; i < items.size(); ++i) {
    prefetchAhead(items, i);
    TqOPCItem* item = items[i];
    OLECHAR* const start = out;
    OPCITEMDEF& def = defs.get()[count];
    def.szAccessPath = out;
    const bool pathOk = appendWide(item->accessPath_, out);
    def.szItemID = out;
    const bool idOk = appendWide(item->itemId_, out);
    if (!idOk || !pathOk) {
      item->lastError_ = idOk ? OPC_E_UNKNOWNPATH : OPC_E_INVALIDITEMID;
      ++failed;
      out = start;
      if (!dropped) kept.assign(items.begin(), items.begin() + std::ptrdiff_t(i));
      dropped = true;
      continue;
    }
    if (dropped) kept.push_back(item);
    def.bActive = item->isActive_ ? BOOL(-1) : BOOL(0);
    def.hClient = item->GetClientHandle();
    def.dwBlobSize = 0;
    def.pBlob = nullptr;
    def.vtRequestedDataType = item->requestDatatype_;
    def.wReserved = 0;
    ++count;
  }
  if (count == 0) return false;
  const ItemSpan sent = dropped ? ItemSpan(kept) : items;

  opc::TaskOut<OPCITEMRESULT> results;
  opc::TaskOut<HRESULT> errors;
  const ResultBlobs blobs(results, count);
  const HRESULT hr =
      add ? itemMgt->AddItems(count, defs.get(), results.put(), errors.put())
          : itemMgt->ValidateItems(count, defs.get(), FALSE, results.put(), errors.put());
  owner_->checkCall(hr);
  for (DWORD i = 0; i < count; ++i) {
    prefetchAhead(sent, i);
    TqOPCItem* item = sent[i];
    // A server that reports success without its arrays leaves nothing to
    // credit an item with.
    HRESULT code = errors ? errors[i] : E_POINTER;
    if (SUCCEEDED(code) && !results) code = E_POINTER;
    if (FAILED(code)) {
      item->lastError_ = code;
      ++failed;
      continue;
    }
    const OPCITEMRESULT& result = results[i];
    if (add) item->serverHandle_ = result.hServer;
    item->canonicalDatatype_ = result.vtCanonicalDataType;
    item->accessRights_ = result.dwAccessRights;
    item->lastError_ = S_OK;
  }
  return failed == 0;
}

namespace {

opc::TaskMem<OPCHANDLE> serverHandles(std::span<TqOPCItem* const> items) {
  auto handles = taskArray<OPCHANDLE>(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) handles.get()[i] = items[i]->ServerHandle();
  return handles;
}

}  // namespace

bool TqOPCItems::removeItems(ItemSpan items) {
  if (owner_->designing() || items.empty()) return false;
  TqOPCItemList::CheckAllActiveOnServer(items);
  IOPCItemMgt* itemMgt = owner_->ItemMgt();
  if (!itemMgt) return false;
  const auto handles = serverHandles(items);
  const DWORD count = DWORD(items.size());
  opc::TaskOut<HRESULT> errors;
  const HRESULT hr = itemMgt->RemoveItems(count, handles.get(), errors.put());
  int failed = 0;
  for (DWORD i = 0; i < count; ++i) {
    TqOPCItem* item = items[i];
    item->serverHandle_ = TqOPCItem::kNoServerHandle;
    const HRESULT code = errors ? errors[i] : withoutPerItemResult(hr);
    item->lastError_ = SUCCEEDED(code) ? S_OK : code;
    if (FAILED(code)) ++failed;
  }
  return failed == 0;
}

bool TqOPCItems::activeItems(ItemSpan items, bool active) {
  if (owner_->designing() || items.empty()) return false;
  TqOPCItemList::CheckAllActiveOnServer(items);
  IOPCItemMgt* itemMgt = owner_->ItemMgt();
  if (!itemMgt) return false;
  const auto handles = serverHandles(items);
  const DWORD count = DWORD(items.size());
  opc::TaskOut<HRESULT> errors;
  const HRESULT hr =
      itemMgt->SetActiveState(count, handles.get(), active ? BOOL(-1) : BOOL(0), errors.put());
  owner_->checkCall(hr);
  int failed = 0;
  for (DWORD i = 0; i < count; ++i) {
    TqOPCItem* item = items[i];
    const HRESULT code = errors ? errors[i] : withoutPerItemResult(hr);
    if (FAILED(code)) {
      item->lastError_ = code;
      ++failed;
    } else {
      item->isActive_ = active;
      item->lastError_ = S_OK;
    }
  }
  return failed == 0;
}

bool TqOPCItems::setDataTypes(ItemSpan items) {
  if (owner_->designing() || items.empty()) return false;
  TqOPCItemList::CheckAllActiveOnServer(items);
  IOPCItemMgt* itemMgt = owner_->ItemMgt();
  if (!itemMgt) return false;
  const auto handles = serverHandles(items);
  const DWORD count = DWORD(items.size());
  const auto types = taskArray<VARTYPE>(count);
  for (DWORD i = 0; i < count; ++i) types.get()[i] = items[i]->requestDatatype_;
  opc::TaskOut<HRESULT> errors;
  const HRESULT hr = itemMgt->SetDatatypes(count, handles.get(), types.get(), errors.put());
  owner_->checkCall(hr);
  int failed = 0;
  for (DWORD i = 0; i < count; ++i) {
    const HRESULT code = errors ? errors[i] : withoutPerItemResult(hr);
    items[i]->lastError_ = SUCCEEDED(code) ? S_OK : code;
    if (FAILED(code)) ++failed;
  }
  return failed == 0;
}

void TqOPCItems::OPCAddAllItems() {
  std::vector<TqOPCItem*> local;
  local.reserve(std::size_t(Count()));
  const auto all = std::span(begin(), end());
  for (std::size_t i = 0; i < all.size(); ++i) {
    prefetchAhead(all, i);
    if (auto* item = static_cast<TqOPCItem*>(all[i]);
        item->serverHandle_ == TqOPCItem::kNoServerHandle)
      local.push_back(item);
  }
  bool allAdded = false;
  try {
    allAdded = addItems(local, !owner_->designing());
  } catch (...) {
    TqOPCItemList::CheckOPCErrors(local, _STR_ADDITEMSERROR(), false);
    throw;
  }
  // When every item succeeded, every LastError is 0: nothing to report.
  if (!allAdded) TqOPCItemList::CheckOPCErrors(local, _STR_ADDITEMSERROR(), false);
}

void TqOPCItems::OPCRemoveAllItems() {
  std::vector<TqOPCItem*> onServer;
  for (TCollectionItem* c : *this)
    if (auto* item = static_cast<TqOPCItem*>(c); item->serverHandle_ != TqOPCItem::kNoServerHandle)
      onServer.push_back(item);
  removeItems(onServer);
}

void TqOPCItems::RemoveAll() {
  OPCRemoveAllItems();
  Clear();
}

// ---- single items ---------------------------------------------------------------------

void TqOPCItems::itemCommand(TqOPCItem& item, int command, bool value) {
  TqOPCItem* const list[] = {&item};
  std::exception_ptr failure;
  try {
    switch (command) {
      case TqOPCItem::cmdRemove:
        if (item.serverHandle_ != TqOPCItem::kNoServerHandle) removeItems(list);
        break;
      case TqOPCItem::cmdAdd:
        addItems(list, true);
        break;
      case TqOPCItem::cmdActive:
        activeItems(list, value);
        break;
      case TqOPCItem::cmdValidate:
        addItems(list, false);
        break;
      case TqOPCItem::cmdSetDatatype:
        setDataTypes(list);
        break;
      default:
        throw EOPCException(Format(_STR_UNKNOWN(), {command}));
    }
  } catch (...) {
    failure = std::current_exception();
  }
  // The report replaces an exception of the command itself.
  TqOPCItemList::CheckOPCErrors(list, QStringLiteral("OPC Command:"), true);
  if (failure) std::rethrow_exception(failure);
}

void TqOPCItems::writeItem(TqOPCItem& item, bool async) {
  TqOPCItemList list(&item);
  const bool written = async ? owner_->AsyncWrite(&list) : owner_->SyncWrite(&list);
  if (!written) list.CheckOPCErrors(_STR_WRITERROR(), true);
}
