// The group's part of a scan pass, with the core's lock held.
#include <algorithm>
#include <cmath>
#include <mutex>

#include "generators.h"
#include "opc/connectionpoint.h"
#include "opc/enumerator.h"
#include "opc/taskmem.h"
#include "scan_p.h"
#include "servercore_p.h"
#include "simgroup.h"

namespace veze6::sim {

namespace {

constexpr std::size_t kPrefetchItem = 16;
constexpr std::size_t kPrefetchGenerator = 8;

void prefetchItem(const SimItem& item) {
  // The fields a scan reads and writes, from the value to the sample time.
  __builtin_prefetch(&item.value);
  __builtin_prefetch(&item.sampledAt, 1);
  __builtin_prefetch(&item.euRange);
}

void prefetchGenerator(const SimItem& item) {
  if (item.generator) __builtin_prefetch(item.generator.get());
}

}  // namespace

// ---- Scanning (a pass, with the core's lock held) ----------------------------

void SimGroup::markAllInitialLocked() {
  for (GroupItem& gi : items_) gi.initial = true;
}

std::optional<std::uint64_t> SimGroup::nextDueLocked() const {
  if (!pending_.empty()) return 0;
  if (!inNameSpace_ || !active_) return std::nullopt;
  if (callbackPoint_->sinks().generation() != seenCallbacks_ ||
      advises_->generation() != seenAdvises_) {
    return 0;  // a new sink gets its first report now
  }
  return nextScan_;
}

std::shared_ptr<opc::Connection> SimGroup::adviseOf(bool writeResults) const {
  for (auto& c : advises_->snapshot()) {
    if ((c->format == OPCSTMFORMATWRITECOMPLETE) == writeResults) return c;
  }
  return nullptr;
}

void SimGroup::collectLocked(const detail::PassTime& now, std::vector<detail::Outgoing>& out) {
  for (detail::AsyncRequest& r : pending_) completeLocked(r, now, out);
  pending_.clear();
  if (!inNameSpace_ || !active_) return;

  const std::uint64_t callbacks = callbackPoint_->sinks().generation();
  const std::uint64_t advises = advises_->generation();
  const bool newSink = callbacks != seenCallbacks_ || advises != seenAdvises_;
  if (newSink) {
    seenCallbacks_ = callbacks;
    seenAdvises_ = advises;
    markAllInitialLocked();
  }
  const bool due = now.ticks >= nextScan_;
  if (!due && !newSink) return;
  if (due) {
    const std::uint64_t period = std::uint64_t(updateRate_) * 10000u;  // ms to 100 ns ticks
    nextScan_ = nextScan_ == 0 ? now.ticks + period : nextScan_ + period;
    if (nextScan_ <= now.ticks) nextScan_ = now.ticks + period;  // fell behind: no catching up
  }
  const auto callback = enabled_ ? callbackPoint_->sinks().first() : nullptr;
  const auto stream = adviseOf(false);
  if (!callback && !stream) {
    // Nobody listens, but the cache still follows the update rate.
    sampleActiveLocked(now);
    return;
  }
  auto batch = scanLocked(now);
  if (batch->size() == 0) return;
  // The stream is built from the batch before the callback may take its values.
  if (stream) out.push_back({detail::Outgoing::Call::DataStream, stream, batch});
  if (callback) out.push_back({detail::Outgoing::Call::DataChange, callback, batch});
}

std::shared_ptr<opc::ItemBatch> SimGroup::scanLocked(const detail::PassTime& now) {
  auto batch = std::make_shared<detail::ItemBatch>();
  batch->clientGroup = clientHandle_;
  const double band = double(percentDeadband_) / 100.0;
  bool reserved = false;
  const std::size_t n = items_.size();
  for (std::size_t i = 0; i < n; ++i) {
    // The address-space items are scattered on the heap: fetch ahead the
    // ones a few steps on (and, nearer, their generators) so that large
    // groups do not wait on memory at every item.
    if (i + kPrefetchItem < n) prefetchItem(*items_[i + kPrefetchItem].item);
    if (i + kPrefetchGenerator < n) prefetchGenerator(*items_[i + kPrefetchGenerator].item);
    GroupItem& gi = items_[i];
    if (!gi.active) continue;
    SimItem& s = *gi.item;
    core_->sampleLocked(s, now);
    if (!gi.initial) {
      if (s.changeCount == gi.sentChange) continue;
      // Dead band: an analog value that moved too little is not news, unless
      // its quality changed.
      if (band > 0.0 && s.euRange && s.quality == gi.sentQuality) {
        const auto x = numberOf(s.value.get());
        if (x && std::fabs(*x - gi.sentNumber) <= band * (s.euRange->high - s.euRange->low)) {
          continue;
        }
      }
    }
    if (!reserved) {
      // One allocation per array and scan, whatever share of the items changed.
      batch->reserve(items_.size());
      reserved = true;
    }
    gi.initial = false;
    gi.sentChange = s.changeCount;
    gi.sentQuality = s.quality;
    if (s.euRange) gi.sentNumber = numberOf(s.value.get()).value_or(0.0);
    detail::addValue(*batch, gi.clientHandle, s, gi.requestedType, s.quality);
  }
  return batch;
}

void SimGroup::sampleActiveLocked(const detail::PassTime& now) {
  for (GroupItem& gi : items_) {
    if (gi.active) core_->sampleLocked(*gi.item, now);
  }
}

HRESULT SimGroup::readLocked(GroupItem& gi, bool fromDevice, const detail::PassTime& now,
                             VARIANT& value, WORD& quality, FILETIME& timeStamp) {
  SimItem& s = *gi.item;
  if (fromDevice) core_->sampleLocked(s, now);
  timeStamp = s.timeStamp;
  const HRESULT hr = detail::valueForClient(s, gi.requestedType, value);
  if (FAILED(hr)) {
    quality = OPC_QUALITY_BAD;
    return hr;
  }
  // The cache of an inactive item or group is not kept up: out of service.
  quality = !fromDevice && !(active_ && gi.active) ? OPC_QUALITY_OUT_OF_SERVICE : s.quality;
  return S_OK;
}

void SimGroup::completeLocked(detail::AsyncRequest& r, const detail::PassTime& now,
                              std::vector<detail::Outgoing>& out) {
  using Call = detail::Outgoing::Call;
  auto batch = std::make_shared<detail::ItemBatch>();
  batch->clientGroup = clientHandle_;
  batch->transactionId = r.transactionId;
  const auto callback = callbackPoint_->sinks().first();
  if (r.cancelled) {
    // Only DA 2.0 requests stay queued once cancelled: they owe a notice.
    if (callback) out.push_back({Call::CancelComplete, callback, batch});
    return;
  }
  if (r.kind == detail::AsyncRequest::Kind::Write) {
    // An accepted write happens even when nobody is left to hear of it.
    batch->reserve(r.serverHandles.size());
    for (std::size_t i = 0; i < r.serverHandles.size(); ++i) {
      if (GroupItem* gi = findItemLocked(r.serverHandles[i])) {
        batch->addResult(gi->clientHandle, detail::writeItem(*gi->item, r.values[i].get(), now));
      }
    }
    const auto to = r.da10 ? adviseOf(true) : callback;
    if (to) out.push_back({r.da10 ? Call::WriteStream : Call::WriteComplete, to, batch});
    return;
  }
  const auto to = r.da10 ? adviseOf(false) : callback;
  if (!to) return;
  const bool fromDevice = r.source == OPC_DS_DEVICE;
  batch->reserve(r.serverHandles.size());
  for (OPCHANDLE h : r.serverHandles) {
    GroupItem* gi = findItemLocked(h);
    if (!gi) continue;  // removed since: the client no longer knows it
    SimItem& s = *gi->item;
    if (fromDevice) core_->sampleLocked(s, now);
    const WORD quality =
        !fromDevice && !(active_ && gi->active) ? OPC_QUALITY_OUT_OF_SERVICE : s.quality;
    detail::addValue(*batch, gi->clientHandle, s, gi->requestedType, quality);
  }
  // A DA 2.0 refresh answers through OnDataChange, with its transaction id.
  const Call call = r.da10                                          ? Call::DataStream
                    : r.kind == detail::AsyncRequest::Kind::Refresh ? Call::DataChange
                                                                    : Call::ReadComplete;
  out.push_back({call, to, batch});
}

}  // namespace veze6::sim
