#include <capnp/capability.h>
#include <kj/async.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "callbackqueue_p.h"
#include "callbacks_p.h"
#include "itemmarshal_p.h"
#include "marshal_p.h"
#include "opc/taskmem.h"
#include "remoteruntime.h"

namespace opc::remote {

namespace {

// ---- client side -------------------------------------------------------------------

/// The answer to one callback: fulfilled on the RPC thread once the sink has
/// run. Dropped unfulfilled (the apartment went away with the call still
/// queued), the host's call fails and the host stops calling that sink.
struct Answer {
  kj::Own<kj::PromiseFulfiller<void>> fulfiller;
};

/// Runs `call` on `apartment` and answers after it ran. RPC thread only.
kj::Promise<void> runThere(const std::shared_ptr<Apartment>& apartment,
                           std::function<void()> call) {
  if (!apartment) {
    call();
    return kj::READY_NOW;
  }
  auto paf = kj::newPromiseAndFulfiller<void>();
  std::shared_ptr<Answer> answer(makeRpcOwned<Answer>(Answer{std::move(paf.fulfiller)}));
  apartment->post([call = std::move(call), answer]() mutable {
    call();
    call = nullptr;  // what the call held goes here, on the sink's thread
    RemoteRuntime::instance().post([answer] { answer->fulfiller->fulfill(); });
  });
  return std::move(paf.promise);
}

/// A callback's items, owned until the sink has taken them.
struct Items {
  // Value-initialised: every value starts VT_EMPTY.
  explicit Items(std::size_t n) : handles(n), values(n), qualities(n), timeStamps(n), errors(n) {}
  Items(const Items&) = delete;
  Items& operator=(const Items&) = delete;
  ~Items() {
    for (VARIANT& v : values) VariantClear(&v);
  }
  DWORD size() const { return DWORD(handles.size()); }
  template <class T>
  static T* at(std::vector<T>& v) {
    return v.empty() ? nullptr : v.data();
  }

  std::vector<OPCHANDLE> handles;
  std::vector<VARIANT> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> timeStamps;
  std::vector<HRESULT> errors;
};

/// The items of a data callback. A value that does not decode reaches the
/// sink as an empty bad-quality value with RPC_E_INVALID_DATA: the rest of
/// the call, a completion above all, still arrives.
std::shared_ptr<Items> readItems(capnp::List<wire::ItemState>::Reader list) {
  auto items = std::make_shared<Items>(list.size());
  for (unsigned i = 0; i < list.size(); ++i) {
    const auto from = list[i];
    items->handles[i] = from.getClientHandle();
    items->timeStamps[i] = timeFrom(from.getTimeStamp());
    items->qualities[i] = from.getQuality();
    items->errors[i] = from.getError();
    if (!readVariant(from.getValue(), &items->values[i])) {
      items->qualities[i] = OPC_QUALITY_BAD;
      items->errors[i] = RPC_E_INVALID_DATA;
    }
  }
  return items;
}

/// The same from the compact form. A form malformed as a whole reaches the
/// sink without items.
std::shared_ptr<Items> readItems(wire::ItemStates::Reader states) {
  const std::size_t n = itemCount(states);
  auto items = std::make_shared<Items>(n);
  const ItemArrays arrays{items->handles.data(), items->values.data(), items->qualities.data(),
                          items->timeStamps.data(), items->errors.data()};
  if (n && readItemStates(states, n, arrays) < 0) return std::make_shared<Items>(0);
  return items;
}

/// Releases a sink on its own thread, as its advise was made there.
template <class I>
void releaseThere(const std::shared_ptr<Apartment>& apartment, ComPtr<I>& sink) {
  if (!sink) return;
  if (apartment && !apartment->isCurrentThread()) apartment->post([s = std::move(sink)] {});
  sink.reset();
}

class DataCallbackServer final : public wire::DataCallback::Server {
 public:
  DataCallbackServer(ComPtr<IOPCDataCallback> sink, std::shared_ptr<Apartment> apartment)
      : sink_(std::move(sink)), apartment_(std::move(apartment)) {}
  ~DataCallbackServer() { releaseThere(apartment_, sink_); }

 protected:
  kj::Promise<void> onDataChange(OnDataChangeContext context) override {
    return items(context.getParams(), false);
  }
  kj::Promise<void> onReadComplete(OnReadCompleteContext context) override {
    return items(context.getParams(), true);
  }
  kj::Promise<void> onWriteComplete(OnWriteCompleteContext context) override {
    const auto p = context.getParams();
    const auto list = p.getItems();
    auto handles = std::make_shared<std::vector<OPCHANDLE>>(list.size());
    auto errors = std::make_shared<std::vector<HRESULT>>(list.size());
    for (unsigned i = 0; i < list.size(); ++i) {
      (*handles)[i] = list[i].getClientHandle();
      (*errors)[i] = list[i].getError();
    }
    return runThere(apartment_,
                    [sink = sink_, transid = p.getTransactionId(), group = p.getClientGroup(),
                     master = p.getMasterError(), handles, errors] {
                      sink->OnWriteComplete(transid, group, master, DWORD(handles->size()),
                                            Items::at(*handles), Items::at(*errors));
                    });
  }
  kj::Promise<void> onCancelComplete(OnCancelCompleteContext context) override {
    const auto p = context.getParams();
    return runThere(apartment_,
                    [sink = sink_, transid = p.getTransactionId(), group = p.getClientGroup()] {
                      sink->OnCancelComplete(transid, group);
                    });
  }

 private:
  template <class Params>
  kj::Promise<void> items(Params p, bool read) {
    auto items = p.hasStates() ? readItems(p.getStates()) : readItems(p.getItems());
    return runThere(apartment_, [sink = sink_, items, read, transid = p.getTransactionId(),
                                 group = p.getClientGroup(), quality = p.getMasterQuality(),
                                 error = p.getMasterError()] {
      Items& i = *items;
      if (read) {
        sink->OnReadComplete(transid, group, quality, error, i.size(), Items::at(i.handles),
                             Items::at(i.values), Items::at(i.qualities), Items::at(i.timeStamps),
                             Items::at(i.errors));
      } else {
        sink->OnDataChange(transid, group, quality, error, i.size(), Items::at(i.handles),
                           Items::at(i.values), Items::at(i.qualities), Items::at(i.timeStamps),
                           Items::at(i.errors));
      }
    });
  }

  ComPtr<IOPCDataCallback> sink_;
  std::shared_ptr<Apartment> apartment_;
};

/// A global block freed by its last holder.
struct GlobalBlock {
  explicit GlobalBlock(HGLOBAL h) : handle(h) {}
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;
  ~GlobalBlock() {
    if (handle) GlobalFree(handle);
  }
  HGLOBAL handle;
};

class AdviseSinkServer final : public wire::AdviseSink::Server {
 public:
  AdviseSinkServer(ComPtr<IAdviseSink> sink, std::shared_ptr<Apartment> apartment)
      : sink_(std::move(sink)), apartment_(std::move(apartment)) {}
  ~AdviseSinkServer() { releaseThere(apartment_, sink_); }

 protected:
  kj::Promise<void> onDataChange(OnDataChangeContext context) override {
    const auto p = context.getParams();
    FORMATETC format{};
    if (FAILED(readFormat(p.getFormat(), format))) return kj::READY_NOW;  // not ours to read
    HGLOBAL h = globalFromData(p.getData());
    if (!h) return kj::READY_NOW;
    auto block = std::make_shared<GlobalBlock>(h);
    return runThere(apartment_, [sink = sink_, format, block]() mutable {
      STGMEDIUM medium{};
      medium.tymed = TYMED_HGLOBAL;
      medium.hGlobal = block->handle;
      medium.pUnkForRelease = nullptr;
      sink->OnDataChange(&format, &medium);
    });
  }

 private:
  ComPtr<IAdviseSink> sink_;
  std::shared_ptr<Apartment> apartment_;
};

// ---- host side ---------------------------------------------------------------------

/// What both host-side sinks share: the queue, the calls in flight and the
/// client's capability (which lives and dies on the thread of the client's
/// connection, the loop current when the sink was made).
template <class Capability>
class QueuedSink {
 public:
  RpcLoop& loop() const { return loopOf(client_); }

 protected:
  explicit QueuedSink(typename Capability::Client client)
      : client_(makeRpcOwned<typename Capability::Client>(std::move(client))) {}
  ~QueuedSink() { addHostCallbackBacklog(-std::ptrdiff_t(counted_)); }

  /// Changes the queue under the lock, keeping the process's count.
  template <class F>
  void enqueue(F&& change) {
    std::lock_guard lock(mutex_);
    if (broken_) return;
    change(queue_);
    recount();
  }

  std::optional<QueuedCallback> next() {
    std::lock_guard lock(mutex_);
    auto c = queue_.take();
    recount();
    return c;
  }

  /// Runs `send` instead of queueing when nothing waits and a call may
  /// go at once (on the connection's thread only); false when it did not run.
  template <class F>
  bool sendAtOnce(F&& send) {
    if (!loop().isCurrent() || inFlight_ >= kCallsInFlight) return false;
    {
      std::lock_guard lock(mutex_);
      if (broken_ || !queue_.empty()) return false;
    }
    send();
    return true;
  }

  void fail() {
    std::lock_guard lock(mutex_);
    broken_ = true;
    queue_ = CallbackQueue();
    recount();
  }

  typename Capability::Client& client() { return *client_; }

  int inFlight_ = 0;  // the connection's thread only

 private:
  void recount() {
    const std::size_t now = queue_.pendingItems();
    addHostCallbackBacklog(std::ptrdiff_t(now) - std::ptrdiff_t(counted_));
    counted_ = now;
  }

  RpcOwned<typename Capability::Client> client_;
  std::mutex mutex_;
  CallbackQueue queue_;      // guarded by mutex_
  bool broken_ = false;      // guarded by mutex_
  std::size_t counted_ = 0;  // guarded by mutex_: this queue's part of `backlog`
};

/// Sends what the queue holds, kCallsInFlight at a time; on the
/// connection's thread (posted there when the server called from another).
template <class Sink>
void schedule(Sink* sink) {
  ComPtr<Sink> self(sink);
  if (self->loop().isCurrent()) {
    self->pump(self);
  } else {
    self->loop().post([self] { self->pump(self); });
  }
}

/// Counts `call` in flight until the client answers it. The connection's
/// thread only.
template <class Sink>
void track(const ComPtr<Sink>& self, kj::Promise<void> call) {
  ++self->inFlight_;
  self->loop().tasks().add(call.then(
      [self] {
        --self->inFlight_;
        self->pump(self);
      },
      [self](kj::Exception&&) {
        // The client is gone or refused: nothing more goes to it.
        --self->inFlight_;
        self->fail();
      }));
}

template <class Sink>
void pumpQueue(Sink* sink, const ComPtr<Sink>& self) {
  while (sink->inFlight_ < kCallsInFlight) {
    auto c = sink->next();
    if (!c) return;
    track(self, sink->send(*c));
  }
}

/// A data change or read completion's request with its items.
template <class Request, class Value>
kj::Promise<void> sendItems(Request request, DWORD transactionId, OPCHANDLE group,
                            HRESULT masterQuality, HRESULT masterError, std::size_t count,
                            const OPCHANDLE* handles, const Value* values, const WORD* qualities,
                            const FILETIME* timeStamps, const HRESULT* errors) {
  request.setTransactionId(transactionId);
  request.setClientGroup(group);
  request.setMasterQuality(masterQuality);
  request.setMasterError(masterError);
  putItemStates(request.initStates(), count, handles, values, qualities, timeStamps, errors);
  return request.send().ignoreResult();
}

class RemoteDataCallback final : public ComObject<IOPCDataCallback>,
                                 public QueuedSink<wire::DataCallback> {
 public:
  explicit RemoteDataCallback(wire::DataCallback::Client client) : QueuedSink(std::move(client)) {}

  HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                       HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                       VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                       HRESULT* pErrors) override {
    return deliverItems(
        [this](capnp::MessageSize size) { return client().onDataChangeRequest(size); },
        &CallbackQueue::dataChange, dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
        phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
  }
  HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                         HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                         VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                         HRESULT* pErrors) override {
    return deliverItems(
        [this](capnp::MessageSize size) { return client().onReadCompleteRequest(size); },
        &CallbackQueue::readComplete, dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
        phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
  }
  HRESULT OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                          OPCHANDLE* pClienthandles, HRESULT* pErrors) override {
    enqueue([&](CallbackQueue& q) {
      q.writeComplete(dwTransid, hGroup, hrMastererr, dwCount, pClienthandles, pErrors);
    });
    schedule(this);
    return S_OK;
  }
  HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override {
    enqueue([&](CallbackQueue& q) { q.cancelComplete(dwTransid, hGroup); });
    schedule(this);
    return S_OK;
  }

  void pump(const ComPtr<RemoteDataCallback>& self) { pumpQueue(this, self); }
  using QueuedSink::fail;
  using QueuedSink::inFlight_;
  using QueuedSink::next;

  kj::Promise<void> send(const QueuedCallback& c) {
    using Kind = QueuedCallback::Kind;
    switch (c.kind) {
      case Kind::DataChange:
        return sendItems(client().onDataChangeRequest(itemStatesSize(c.size())), c.transactionId,
                         c.group, c.masterQuality, c.masterError, c.size(), c.handles.data(),
                         c.values.data(), c.qualities.data(), c.timeStamps.data(), c.errors.data());
      case Kind::ReadComplete:
        return sendItems(client().onReadCompleteRequest(itemStatesSize(c.size())), c.transactionId,
                         c.group, c.masterQuality, c.masterError, c.size(), c.handles.data(),
                         c.values.data(), c.qualities.data(), c.timeStamps.data(), c.errors.data());
      case Kind::WriteComplete: {
        auto request = client().onWriteCompleteRequest();
        request.setTransactionId(c.transactionId);
        request.setClientGroup(c.group);
        request.setMasterError(c.masterError);
        auto items = request.initItems(unsigned(c.handles.size()));
        for (unsigned i = 0; i < items.size(); ++i) {
          items[i].setClientHandle(c.handles[i]);
          items[i].setError(c.errors[i]);
        }
        return request.send().ignoreResult();
      }
      case Kind::CancelComplete: {
        auto request = client().onCancelCompleteRequest();
        request.setTransactionId(c.transactionId);
        request.setClientGroup(c.group);
        return request.send().ignoreResult();
      }
      case Kind::Stream:
        break;
    }
    return kj::READY_NOW;
  }

 private:
  using Enqueue = void (CallbackQueue::*)(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD,
                                          const OPCHANDLE*, const VARIANT*, const WORD*,
                                          const FILETIME*, const HRESULT*);

  // A data change or read completion: a client that keeps up gets the
  // server's arrays straight into the request, without passing through the
  // queue.
  template <class MakeRequest>
  HRESULT deliverItems(MakeRequest makeRequest, Enqueue queue, DWORD transactionId, OPCHANDLE group,
                       HRESULT masterQuality, HRESULT masterError, DWORD count, OPCHANDLE* handles,
                       VARIANT* values, WORD* qualities, FILETIME* timeStamps, HRESULT* errors) {
    const bool whole = handles && values && qualities && timeStamps && errors;
    const DWORD sent = whole ? count : 0;
    if (sendAtOnce([&] {
          track(ComPtr<RemoteDataCallback>(this),
                sendItems(makeRequest(itemStatesSize(sent)), transactionId, group, masterQuality,
                          masterError, sent, handles, values, qualities, timeStamps, errors));
        })) {
      return S_OK;
    }
    enqueue([&](CallbackQueue& q) {
      (q.*queue)(transactionId, group, masterQuality, masterError, count, handles, values,
                 qualities, timeStamps, errors);
    });
    schedule(this);
    return S_OK;
  }
};

class RemoteAdviseSink final : public ComObject<IAdviseSink>, public QueuedSink<wire::AdviseSink> {
 public:
  explicit RemoteAdviseSink(wire::AdviseSink::Client client) : QueuedSink(std::move(client)) {}

  void OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) override {
    if (!pFormatetc || !pStgmed || pStgmed->tymed != TYMED_HGLOBAL || !pStgmed->hGlobal) return;
    const auto* block = static_cast<const char*>(GlobalLock(pStgmed->hGlobal));
    if (!block) return;
    const std::size_t size = GlobalSize(pStgmed->hGlobal);
    enqueue([&](CallbackQueue& q) { q.stream(pFormatetc->cfFormat, block, size); });
    GlobalUnlock(pStgmed->hGlobal);
    schedule(this);
  }
  void OnViewChange(DWORD, LONG) override {}
  void OnRename(struct IMoniker*) override {}
  void OnSave() override {}
  void OnClose() override {}

  void pump(const ComPtr<RemoteAdviseSink>& self) { pumpQueue(this, self); }
  using QueuedSink::fail;
  using QueuedSink::inFlight_;
  using QueuedSink::next;

  kj::Promise<void> send(const QueuedCallback& c) {
    auto request = client().onDataChangeRequest();
    const FORMATETC format{c.format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    if (!putFormat(request.initFormat(), format)) return kj::READY_NOW;
    const std::vector<char> bytes = c.buildStream();
    request.setData(
        capnp::Data::Reader(reinterpret_cast<const kj::byte*>(bytes.data()), bytes.size()));
    return request.send().ignoreResult();
  }
};

}  // namespace

wire::DataCallback::Client makeDataCallbackServer(ComPtr<IOPCDataCallback> sink,
                                                  std::shared_ptr<Apartment> apartment) {
  return kj::heap<DataCallbackServer>(std::move(sink), std::move(apartment));
}

wire::AdviseSink::Client makeAdviseSinkServer(ComPtr<IAdviseSink> sink,
                                              std::shared_ptr<Apartment> apartment) {
  return kj::heap<AdviseSinkServer>(std::move(sink), std::move(apartment));
}

ComPtr<IOPCDataCallback> makeDataCallbackProxy(const std::shared_ptr<HostConnection>&,
                                               wire::DataCallback::Client client) {
  return makeCom<RemoteDataCallback>(std::move(client));
}

ComPtr<IAdviseSink> makeAdviseSinkProxy(const std::shared_ptr<HostConnection>&,
                                        wire::AdviseSink::Client client) {
  return makeCom<RemoteAdviseSink>(std::move(client));
}

}  // namespace opc::remote
