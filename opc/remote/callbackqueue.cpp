#include <algorithm>
#include <atomic>
#include <cstring>

#include "callbackqueue_p.h"
#include "opc/OPCDA.h"
#include "opc/datastream.h"
#include "opc/variant.h"

namespace opc::remote {

namespace {

std::atomic<std::ptrdiff_t> backlog{0};

template <class T>
T load(const char* at) {
  T value;
  std::memcpy(&value, at, sizeof(T));
  return value;
}

bool isDataFormat(CLIPFORMAT format) {
  return format == CLIPFORMAT(OPCSTMFORMATDATA) || format == CLIPFORMAT(OPCSTMFORMATDATATIME);
}

/// Copies the items of one call into `c` (all arrays or none).
void copyItems(QueuedCallback& c, DWORD count, const OPCHANDLE* handles, const VARIANT* values,
               const WORD* qualities, const FILETIME* timeStamps, const HRESULT* errors) {
  if (!count || !handles || !values || !qualities || !timeStamps || !errors) return;
  c.handles.assign(handles, handles + count);
  c.values.reserve(count);
  for (DWORD i = 0; i < count; ++i) copyVariantValue(*c.values.emplace_back().ptr(), values[i]);
  c.qualities.assign(qualities, qualities + count);
  c.timeStamps.assign(timeStamps, timeStamps + count);
  c.errors.assign(errors, errors + count);
}

}  // namespace

std::vector<char> QueuedCallback::buildStream() const {
  if (kind != Kind::Stream || !coalesced) return bytes;
  std::vector<VARIANT> raw(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) raw[i] = values[i].get();  // borrowed
  const HGLOBAL h = stream::buildDataStream(format == CLIPFORMAT(OPCSTMFORMATDATATIME), group,
                                            transactionId, size(), handles.data(), raw.data(),
                                            qualities.data(), timeStamps.data());
  if (!h) return {};
  std::vector<char> out(GlobalSize(h));
  std::memcpy(out.data(), GlobalLock(h), out.size());
  GlobalUnlock(h);
  GlobalFree(h);
  return out;
}

QueuedCallback& CallbackQueue::append(QueuedCallback c) {
  pendingItems_ += c.size();
  return queue_.emplace_back(std::move(c));
}

// ---- the index of an open update ----------------------------------------------------

std::size_t CallbackQueue::HandleIndex::home(OPCHANDLE handle) const {
  return std::size_t((std::uint64_t(handle) * 0x9E3779B97F4A7C15ull) >> (64 - bits_));
}

std::size_t CallbackQueue::HandleIndex::find(OPCHANDLE handle) const {
  if (entries_.empty()) return npos;
  const std::size_t mask = entries_.size() - 1;
  for (std::size_t at = home(handle);; at = (at + 1) & mask) {
    const Entry& e = entries_[at];
    if (e.atPlusOne == 0) return npos;
    if (e.handle == handle) return e.atPlusOne - 1;
  }
}

void CallbackQueue::HandleIndex::insert(OPCHANDLE handle, std::size_t at) {
  // At most half full, so that a search ends soon at a free entry.
  if (2 * (used_ + 1) > entries_.size()) grow();
  const std::size_t mask = entries_.size() - 1;
  std::size_t i = home(handle);
  while (entries_[i].atPlusOne != 0) i = (i + 1) & mask;
  entries_[i] = Entry{handle, std::uint32_t(at + 1)};
  ++used_;
}

void CallbackQueue::HandleIndex::grow() {
  std::vector<Entry> old = std::move(entries_);
  bits_ = std::max(bits_ + 1, 4u);
  entries_.assign(std::size_t(1) << bits_, Entry{0, 0});
  used_ = 0;
  for (const Entry& e : old) {
    if (e.atPlusOne != 0) insert(e.handle, e.atPlusOne - 1);
  }
}

// ---- the queue ------------------------------------------------------------------------

void CallbackQueue::closeStretch() { open_.clear(); }

QueuedCallback* CallbackQueue::bySequence(std::uint64_t sequence) {
  if (sequence < firstSequence_ || sequence - firstSequence_ >= queue_.size()) return nullptr;
  return &queue_[std::size_t(sequence - firstSequence_)];
}

CallbackQueue::Open& CallbackQueue::openUpdate(OPCHANDLE group, std::optional<CLIPFORMAT> format) {
  const Key key{group, format.value_or(0), format.has_value()};
  if (const auto it = open_.find(key); it != open_.end() && bySequence(it->second.sequence))
    return it->second;
  QueuedCallback c;
  c.kind = format ? QueuedCallback::Kind::Stream : QueuedCallback::Kind::DataChange;
  c.group = group;
  c.format = format.value_or(0);
  c.coalesced = true;
  Open& open = open_[key];
  open = Open{firstSequence_ + queue_.size(), HandleIndex()};
  append(std::move(c));
  return open;
}

void CallbackQueue::setMasters(QueuedCallback& c) {
  bool allGood = true;
  bool allOk = true;
  for (std::size_t i = 0; i < c.size(); ++i) {
    allGood = allGood && (c.qualities[i] & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD;
    allOk = allOk && c.errors[i] == S_OK;
  }
  c.masterQuality = allGood ? S_OK : S_FALSE;
  c.masterError = allOk ? S_OK : S_FALSE;
}

void CallbackQueue::merge(OPCHANDLE group, std::optional<CLIPFORMAT> format, DWORD count,
                          const OPCHANDLE* handles, const VARIANT* values, const WORD* qualities,
                          const FILETIME* timeStamps, const HRESULT* errors) {
  Open& open = openUpdate(group, format);
  QueuedCallback& update = *bySequence(open.sequence);
  for (DWORD i = 0; i < count; ++i) {
    // A server reports its items in the same order scan after scan: where
    // the update holds the same item at the same place, no look-up.
    std::size_t at = i < update.handles.size() && update.handles[i] == handles[i]
                         ? i
                         : open.index.find(handles[i]);
    if (at != HandleIndex::npos) {
      copyVariantValue(*update.values[at].ptr(), values[i]);
      update.qualities[at] = qualities[i];
      update.timeStamps[at] = timeStamps[i];
      update.errors[at] = errors[i];
      continue;
    }
    open.index.insert(handles[i], update.handles.size());
    update.handles.push_back(handles[i]);
    copyVariantValue(*update.values.emplace_back().ptr(), values[i]);
    update.qualities.push_back(qualities[i]);
    update.timeStamps.push_back(timeStamps[i]);
    update.errors.push_back(errors[i]);
    ++pendingItems_;
  }
}

void CallbackQueue::dataChange(DWORD transactionId, OPCHANDLE group, HRESULT masterQuality,
                               HRESULT masterError, DWORD count, const OPCHANDLE* handles,
                               const VARIANT* values, const WORD* qualities,
                               const FILETIME* timeStamps, const HRESULT* errors) {
  const bool items = count && handles && values && qualities && timeStamps && errors;
  if (transactionId == 0 && items) {
    merge(group, std::nullopt, count, handles, values, qualities, timeStamps, errors);
    return;
  }
  // A refresh's answer (or an update without items) is passed on as it came.
  QueuedCallback c;
  c.kind = QueuedCallback::Kind::DataChange;
  c.transactionId = transactionId;
  c.group = group;
  c.masterQuality = masterQuality;
  c.masterError = masterError;
  copyItems(c, count, handles, values, qualities, timeStamps, errors);
  if (transactionId != 0) closeStretch();
  append(std::move(c));
}

void CallbackQueue::readComplete(DWORD transactionId, OPCHANDLE group, HRESULT masterQuality,
                                 HRESULT masterError, DWORD count, const OPCHANDLE* handles,
                                 const VARIANT* values, const WORD* qualities,
                                 const FILETIME* timeStamps, const HRESULT* errors) {
  QueuedCallback c;
  c.kind = QueuedCallback::Kind::ReadComplete;
  c.transactionId = transactionId;
  c.group = group;
  c.masterQuality = masterQuality;
  c.masterError = masterError;
  copyItems(c, count, handles, values, qualities, timeStamps, errors);
  closeStretch();
  append(std::move(c));
}

void CallbackQueue::writeComplete(DWORD transactionId, OPCHANDLE group, HRESULT masterError,
                                  DWORD count, const OPCHANDLE* handles, const HRESULT* errors) {
  QueuedCallback c;
  c.kind = QueuedCallback::Kind::WriteComplete;
  c.transactionId = transactionId;
  c.group = group;
  c.masterError = masterError;
  if (count && handles && errors) {
    c.handles.assign(handles, handles + count);
    c.errors.assign(errors, errors + count);
  }
  closeStretch();
  append(std::move(c));
}

void CallbackQueue::cancelComplete(DWORD transactionId, OPCHANDLE group) {
  QueuedCallback c;
  c.kind = QueuedCallback::Kind::CancelComplete;
  c.transactionId = transactionId;
  c.group = group;
  closeStretch();
  append(std::move(c));
}

bool CallbackQueue::coalesceStream(CLIPFORMAT format, const char* block, std::size_t size) {
  // Only a subscription update that decodes whole is taken apart; anything
  // else travels as it came.
  if (!isDataFormat(format) || size < sizeof(OPCGROUPHEADER)) return false;
  const auto header = load<OPCGROUPHEADER>(block);
  if (header.dwTransactionID != 0 || FAILED(header.hrStatus)) return false;
  const bool withTime = format == CLIPFORMAT(OPCSTMFORMATDATATIME);
  const std::size_t headerSize = withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
  const std::size_t count = header.dwItemCount;
  if (count == 0 || count > (size - sizeof(OPCGROUPHEADER)) / headerSize) return false;

  std::vector<OPCHANDLE> handles(count);
  std::vector<OleVariant> values(count);
  std::vector<WORD> qualities(count);
  std::vector<FILETIME> times(count, FILETIME{});
  stream::Decoder decoder(block, size);
  for (std::size_t i = 0; i < count; ++i) {
    const char* at = block + sizeof(OPCGROUPHEADER) + i * headerSize;
    const auto item = load<OPCITEMHEADER2>(at);
    if (!decoder.value(item.dwValueOffset, *values[i].ptr())) return false;
    handles[i] = item.hClient;
    qualities[i] = item.wQuality;
    if (withTime) times[i] = load<OPCITEMHEADER1>(at).ftTimeStampItem;
  }
  std::vector<VARIANT> raw(count);
  for (std::size_t i = 0; i < count; ++i) raw[i] = values[i].get();  // borrowed
  const std::vector<HRESULT> errors(count, S_OK);
  merge(header.hClientGroup, format, DWORD(count), handles.data(), raw.data(), qualities.data(),
        times.data(), errors.data());
  return true;
}

void CallbackQueue::stream(CLIPFORMAT format, const char* block, std::size_t size) {
  if (coalesceStream(format, block, size)) return;
  QueuedCallback c;
  c.kind = QueuedCallback::Kind::Stream;
  c.format = format;
  c.bytes.assign(block, block + size);
  closeStretch();
  append(std::move(c));
}

std::optional<QueuedCallback> CallbackQueue::take() {
  if (queue_.empty()) return std::nullopt;
  QueuedCallback c = std::move(queue_.front());
  queue_.pop_front();
  ++firstSequence_;
  pendingItems_ -= c.size();
  if (c.coalesced && c.kind == QueuedCallback::Kind::DataChange) setMasters(c);
  if (queue_.empty()) {
    closeStretch();
    return c;
  }
  // The taken update is no longer open: newer values go into a new one.
  if (c.coalesced) {
    const bool stream = c.kind == QueuedCallback::Kind::Stream;
    const Key key{c.group, stream ? c.format : CLIPFORMAT(0), stream};
    if (const auto it = open_.find(key);
        it != open_.end() && it->second.sequence == firstSequence_ - 1)
      open_.erase(it);
  }
  return c;
}

std::size_t hostCallbackBacklog() {
  return std::size_t(std::max<std::ptrdiff_t>(0, backlog.load(std::memory_order_relaxed)));
}

void addHostCallbackBacklog(std::ptrdiff_t delta) {
  backlog.fetch_add(delta, std::memory_order_relaxed);
}

}  // namespace opc::remote
