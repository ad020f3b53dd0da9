// Internal to the remote transport; not API.
//
// The host's queue of callbacks for one client sink: what the server said
// while the sink's calls in flight are still unanswered. A slow client must
// not make it grow without bound, and must still end up with the latest
// state of every item:
//
// - data changes (subscription updates, transaction id 0) are coalesced per
//   item: a newer value, quality and time stamp replace the pending ones in
//   place, so an item waits in at most one pending update per stretch;
// - completions (reads, refreshes, writes, cancels, and data streams that
//   answer a request) are never dropped or merged; each one ends a stretch,
//   so no item's older value is ever delivered after a newer one;
// - everything leaves in the order it came.
//
// The queue is therefore bounded by the number of items times the number of
// completions pending, and the completions are the client's own requests.
// Not thread-safe: one sink's queue is used on one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <unordered_map>
#include <vector>

#include "opc/OPCtypes.h"
#include "opc/objidl.h"
#include "opc/opcexport.h"
#include "opc/variant.h"

namespace opc::remote {

/// One callback as the client will get it.
struct VEZE6_OPC_EXPORT QueuedCallback {
  enum class Kind : std::uint8_t {
    DataChange,      ///< IOPCDataCallback::OnDataChange
    ReadComplete,    ///< IOPCDataCallback::OnReadComplete
    WriteComplete,   ///< IOPCDataCallback::OnWriteComplete (handles, errors)
    CancelComplete,  ///< IOPCDataCallback::OnCancelComplete
    Stream,          ///< IAdviseSink::OnDataChange with a data or write-result stream
  };

  Kind kind = Kind::DataChange;
  DWORD transactionId = 0;
  OPCHANDLE group = 0;
  HRESULT masterQuality = S_OK;
  HRESULT masterError = S_OK;
  std::vector<OPCHANDLE> handles;
  std::vector<OleVariant> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> timeStamps;
  std::vector<HRESULT> errors;

  /// Streams: the clipboard format, and either the stream's bytes as the
  /// server sent them (`bytes`, a completion or a stream not understood) or,
  /// for a coalesced update, the items above, rebuilt by buildStream().
  CLIPFORMAT format = 0;
  std::vector<char> bytes;
  /// Made by coalescing updates: its master codes follow from its items,
  /// and a stream is rebuilt from them.
  bool coalesced = false;

  std::size_t size() const { return handles.size(); }
  /// The stream block to send: `bytes`, or the items encoded in `format`.
  std::vector<char> buildStream() const;
};

class VEZE6_OPC_EXPORT CallbackQueue {
 public:
  /// Data changes and read completions; the arrays hold `count` entries
  /// (null arrays with a count are taken as no items). The values are
  /// copied, the caller's stay as they are.
  void dataChange(DWORD transactionId, OPCHANDLE group, HRESULT masterQuality, HRESULT masterError,
                  DWORD count, const OPCHANDLE* handles, const VARIANT* values,
                  const WORD* qualities, const FILETIME* timeStamps, const HRESULT* errors);
  void readComplete(DWORD transactionId, OPCHANDLE group, HRESULT masterQuality,
                    HRESULT masterError, DWORD count, const OPCHANDLE* handles,
                    const VARIANT* values, const WORD* qualities, const FILETIME* timeStamps,
                    const HRESULT* errors);
  void writeComplete(DWORD transactionId, OPCHANDLE group, HRESULT masterError, DWORD count,
                     const OPCHANDLE* handles, const HRESULT* errors);
  void cancelComplete(DWORD transactionId, OPCHANDLE group);
  /// A DA 1.0 stream (`size` bytes at `block`) in `format`.
  void stream(CLIPFORMAT format, const char* block, std::size_t size);

  /// The oldest pending callback, removed from the queue.
  std::optional<QueuedCallback> take();

  bool empty() const { return queue_.empty(); }
  /// Callbacks pending.
  std::size_t size() const { return queue_.size(); }
  /// Items pending across all callbacks: what the bound is about.
  std::size_t pendingItems() const { return pendingItems_; }

 private:
  /// The items of an open update by client handle (open addressing, no
  /// allocation per item: a server's scan merges thousands at a time).
  class HandleIndex {
   public:
    static constexpr std::size_t npos = ~std::size_t(0);
    std::size_t find(OPCHANDLE handle) const;
    void insert(OPCHANDLE handle, std::size_t at);

   private:
    struct Entry {
      OPCHANDLE handle;
      std::uint32_t atPlusOne;  ///< 0: free
    };
    std::size_t home(OPCHANDLE handle) const;
    void grow();

    std::vector<Entry> entries_;
    unsigned bits_ = 0;
    std::size_t used_ = 0;
  };
  /// The update of a group that newer values of its items go into, while
  /// it waits; an item is in it at most once.
  struct Open {
    std::uint64_t sequence;
    HandleIndex index;
  };
  struct Key {
    OPCHANDLE group;
    CLIPFORMAT format;  ///< streams: their format; 0 for data callbacks
    bool stream;
    friend bool operator==(const Key&, const Key&) = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& k) const noexcept {
      return std::hash<std::uint64_t>()((std::uint64_t(k.group) << 17) ^
                                        (std::uint64_t(k.format) << 1) ^ std::uint64_t(k.stream));
    }
  };

  QueuedCallback& append(QueuedCallback c);
  /// Ends the stretch in which updates coalesce.
  void closeStretch();
  /// The open update of `group` (a stream update in `format` when set),
  /// made at the tail when there is none.
  Open& openUpdate(OPCHANDLE group, std::optional<CLIPFORMAT> format);
  QueuedCallback* bySequence(std::uint64_t sequence);
  void merge(OPCHANDLE group, std::optional<CLIPFORMAT> format, DWORD count,
             const OPCHANDLE* handles, const VARIANT* values, const WORD* qualities,
             const FILETIME* timeStamps, const HRESULT* errors);
  static void setMasters(QueuedCallback& c);
  bool coalesceStream(CLIPFORMAT format, const char* block, std::size_t size);

  std::deque<QueuedCallback> queue_;
  std::uint64_t firstSequence_ = 0;  ///< sequence number of queue_.front()
  std::size_t pendingItems_ = 0;
  /// The open updates of the current stretch, per group and kind.
  std::unordered_map<Key, Open, KeyHash> open_;
};

/// Items waiting in this process's host-side callback queues (every client
/// sink): what stays bounded however slow the clients are.
VEZE6_OPC_EXPORT std::size_t hostCallbackBacklog();
/// Moves hostCallbackBacklog() by `delta`; the host's sinks keep it.
void addHostCallbackBacklog(std::ptrdiff_t delta);

}  // namespace opc::remote
