// TqOPCGroup: reads and writes (synchronous and asynchronous), refresh,
// cancellation, and the group's data sinks.
#include <QScopeGuard>
#include <algorithm>
#include <atomic>

#include "exceptions.h"
#include "format.h"
#include "itemvalues_p.h"
#include "opc/taskmem.h"
#include "qOPCErrors.h"
#include "qopcconversions.h"
#include "qopcstrings.h"
#include "tqopcadvisesink.h"
#include "tqopcdatacallback.h"
#include "tqopcgroup.h"
#include "tqopcitem.h"
#include "tqopcitemlist.h"
#include "tqopcitems.h"
#include "tqopcitemupdater_p.h"
#include "tqopcserver.h"

namespace {

// One counter for every asynchronous call of the process. Components may
// live on different threads, so it is atomic.
std::atomic<quint32> g_transactionCounter{0};

quint32 nextTransactionId() { return g_transactionCounter.fetch_add(1) + 1; }

// Collects the identifiers of the completions a group sees while one of its
// asynchronous calls is being made; a server in the caller's thread may
// complete the call before it returns its identifier. Nested calls hand
// what they saw to the outer one.
class EndedInCall {
 public:
  explicit EndedInCall(std::vector<quint32>*& slot) : slot_(slot), outer_(slot) { slot_ = &ended_; }
  EndedInCall(const EndedInCall&) = delete;
  EndedInCall& operator=(const EndedInCall&) = delete;
  ~EndedInCall() {
    slot_ = outer_;
    if (outer_) outer_->insert(outer_->end(), ended_.begin(), ended_.end());
  }
  const std::vector<quint32>& ids() const { return ended_; }

 private:
  std::vector<quint32>*& slot_;
  std::vector<quint32>* outer_;
  std::vector<quint32> ended_;
};

template <class T>
opc::TaskMem<T> taskArray(std::size_t count) {
  opc::TaskMem<T> block(
      static_cast<T*>(CoTaskMemAlloc(sizeof(T) * std::max<std::size_t>(count, 1))));
  if (!block) OleError(E_OUTOFMEMORY);
  return block;
}

// The item states a read hands out: every value cleared (also those of
// failed items, which a careless server may fill) before the block goes.
class ItemStates {
 public:
  explicit ItemStates(DWORD count) : count_(count) {}
  ItemStates(const ItemStates&) = delete;
  ItemStates& operator=(const ItemStates&) = delete;
  ~ItemStates() {
    if (!block_) return;
    for (DWORD i = 0; i < count_; ++i) VariantClear(&block_[i].vDataValue);
  }
  OPCITEMSTATE** put() { return block_.put(); }
  explicit operator bool() const { return bool(block_); }
  OPCITEMSTATE& operator[](DWORD i) const { return block_[i]; }

 private:
  DWORD count_;
  opc::TaskOut<OPCITEMSTATE> block_;
};

// Copies of the items' write values in task memory, cleared before the
// block goes.
class WriteValues {
 public:
  explicit WriteValues(std::span<TqOPCItem* const> items)
      : count_(items.size()), block_(taskArray<VARIANT>(items.size())) {
    VARIANT* v = block_.get();
    for (std::size_t i = 0; i < count_; ++i) VariantInit(&v[i]);
    for (std::size_t i = 0; i < count_; ++i) {
      const HRESULT hr = VariantCopy(&v[i], &items[i]->WriteValue().get());
      if (FAILED(hr)) {
        // No destructor for a constructor that raises: the copies go here.
        for (std::size_t k = 0; k < i; ++k) VariantClear(&v[k]);
        OleError(hr);
      }
    }
  }
  WriteValues(const WriteValues&) = delete;
  WriteValues& operator=(const WriteValues&) = delete;
  ~WriteValues() {
    for (std::size_t i = 0; i < count_; ++i) VariantClear(&block_.get()[i]);
  }
  VARIANT* get() const { return block_.get(); }

 private:
  std::size_t count_;
  opc::TaskMem<VARIANT> block_;
};

opc::TaskMem<OPCHANDLE> serverHandles(std::span<TqOPCItem* const> items) {
  auto handles = taskArray<OPCHANDLE>(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) handles.get()[i] = items[i]->ServerHandle();
  return handles;
}

}  // namespace

// ---- the data sinks ----------------------------------------------------------------

void TqOPCGroup::connectDataSink() {
  // DA 2.0: the data callback on the group's connection point.
  if (server_->Version2()) {
    ComPtr<TqOPCDataCallback> callback = TqOPCDataCallback::Create(this);
    if (callback->AdviseResult() == S_OK) {
      dataCallback_ = std::move(callback);
      return;
    }
    callback->Detach();  // forgotten: its advise failed
  }
  // DA 1.0, and the fallback: the advise sink on the group's IDataObject.
  ComPtr<TqOPCAdviseSink> sink = TqOPCAdviseSink::Create(this);
  const HRESULT hr = sink->AdviseResult();
  if (hr != S_OK) {
    sink->Detach();
    OleCheck(hr);
    return;
  }
  adviseSink_ = std::move(sink);
}

void TqOPCGroup::disconnectDataSink() {
  // The server drops the data callback with the group; from now on it
  // reaches nothing here.
  if (dataCallback_) {
    dataCallback_->Detach();
    dataCallback_.reset();
  }
  if (adviseSink_) {
    adviseSink_->UnAdvise();
    adviseSink_->Detach();
    adviseSink_.reset();
  }
}

void TqOPCGroup::ClearTaskId(quint32 transactionId) {
  if (endedInCall_) endedInCall_->push_back(transactionId);
  if (taskId_ == 0) return;
  // The server's identifier, or the transaction identifier the call was
  // made with: DA 2.0 completions carry the latter.
  if (transactionId == taskId_ || transactionId == taskTransactionId_) {
    taskId_ = 0;
    taskTransactionId_ = 0;
  }
}

void TqOPCGroup::recordPending(quint32 id, quint32 transaction,
                               const std::vector<quint32>& endedInCall) {
  const bool ended =
      std::find(endedInCall.begin(), endedInCall.end(), id) != endedInCall.end() ||
      std::find(endedInCall.begin(), endedInCall.end(), transaction) != endedInCall.end();
  taskId_ = ended ? 0 : id;
  taskTransactionId_ = ended ? 0 : transaction;
}

// ---- reads and writes ------------------------------------------------------------------

std::vector<TqOPCItem*> TqOPCGroup::listedItems(const TqOPCItemList* list) const {
  // Without a list: every item of the group, in index order.
  if (!list) {
    std::vector<TqOPCItem*> all;
    all.reserve(std::size_t(items_->Count()));
    for (TCollectionItem* item : *items_) all.push_back(static_cast<TqOPCItem*>(item));
    return all;
  }
  return items_->itemsOf(*list);
}

bool TqOPCGroup::SyncRead(const TqOPCItemList* list, bool fromCache) {
  if (!syncIO_) return false;
  const std::vector<TqOPCItem*> items = listedItems(list);
  TqOPCItemList::CheckAllActiveOnServer(items);
  if (items.empty()) return false;
  const auto handles = serverHandles(items);
  const DWORD count = DWORD(items.size());
  ItemStates states(count);
  opc::TaskOut<HRESULT> errors;
  server_->CheckCall(syncIO_->Read(fromCache ? OPC_DS_CACHE : OPC_DS_DEVICE, count, handles.get(),
                                   states.put(), errors.put()));
  int failed = 0;
  veze6::core::detail::StampConverter toDateTime;
  for (DWORD i = 0; i < count; ++i) {
    TqOPCItem* item = items[i];
    // A server that reports success without its arrays has read nothing.
    HRESULT code = errors ? errors[i] : E_POINTER;
    if (SUCCEEDED(code) && !states) code = E_POINTER;
    if (FAILED(code)) {
      TqOPCItemUpdater::Failed(*item, code);
      ++failed;
      continue;
    }
    OPCITEMSTATE& state = states[i];
    // The server's copy of the value is left empty.
    TqOPCItemUpdater::Read(*item, state.wQuality, state.vDataValue, toDateTime(state.ftTimeStamp));
  }
  return failed == 0;
}

// The per-item results of a call that updates no value: LastError 0 on
// success, Quality 0 and the code on failure (E_POINTER for a server that
// gave no results).
bool TqOPCGroup::storeResults(std::span<TqOPCItem* const> items, const HRESULT* errors) {
  int failed = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    TqOPCItem* item = items[i];
    const HRESULT code = errors ? errors[i] : E_POINTER;
    if (FAILED(code)) {
      TqOPCItemUpdater::Failed(*item, code);
      ++failed;
    } else {
      TqOPCItemUpdater::SetLastError(*item, S_OK);
    }
  }
  return failed == 0;
}

bool TqOPCGroup::SyncWrite(const TqOPCItemList* list) {
  if (!syncIO_) return false;
  const std::vector<TqOPCItem*> items = listedItems(list);
  TqOPCItemList::CheckAllActiveOnServer(items);
  if (items.empty()) return false;
  const auto handles = serverHandles(items);
  const WriteValues values(items);
  opc::TaskOut<HRESULT> errors;
  server_->CheckCall(
      syncIO_->Write(DWORD(items.size()), handles.get(), values.get(), errors.put()));
  return storeResults(items, errors.get());
}

HRESULT TqOPCGroup::asyncConnection(DWORD& connection) const {
  // The DA 1.0 calls name the advise connection their results go to; a
  // group whose data arrives through the data callback has none.
  if (!adviseSink_ || adviseSink_->AdviseResult() != S_OK) return CONNECT_E_NOCONNECTION;
  connection = adviseSink_->Cookie();
  return S_OK;
}

bool TqOPCGroup::AsyncRead(const TqOPCItemList* list) {
  if (!asyncIO2_ && !asyncIO_) return false;
  const std::vector<TqOPCItem*> items = listedItems(list);
  TqOPCItemList::CheckAllActiveOnServer(items);
  if (items.empty()) return false;
  DWORD connection = 0;
  if (!asyncIO2_) server_->CheckCall(asyncConnection(connection));
  const auto handles = serverHandles(items);
  const DWORD count = DWORD(items.size());
  const quint32 transaction = nextTransactionId();
  taskId_ = 0;
  DWORD id = 0;
  opc::TaskOut<HRESULT> errors;
  const EndedInCall ended(endedInCall_);
  if (asyncIO2_)
    server_->CheckCall(asyncIO2_->Read(count, handles.get(), transaction, &id, errors.put()));
  else
    server_->CheckCall(
        asyncIO_->Read(connection, OPC_DS_DEVICE, count, handles.get(), &id, errors.put()));
  recordPending(id, transaction, ended.ids());
  return storeResults(items, errors.get());
}

bool TqOPCGroup::AsyncWrite(const TqOPCItemList* list) {
  if (!asyncIO2_ && !asyncIO_) return false;
  const std::vector<TqOPCItem*> items = listedItems(list);
  TqOPCItemList::CheckAllActiveOnServer(items);
  if (items.empty()) return false;
  DWORD connection = 0;
  if (!asyncIO2_) server_->CheckCall(asyncConnection(connection));
  const auto handles = serverHandles(items);
  const WriteValues values(items);
  const DWORD count = DWORD(items.size());
  const quint32 transaction = nextTransactionId();
  taskId_ = 0;
  DWORD id = 0;
  opc::TaskOut<HRESULT> errors;
  const EndedInCall ended(endedInCall_);
  if (asyncIO2_)
    server_->CheckCall(
        asyncIO2_->Write(count, handles.get(), values.get(), transaction, &id, errors.put()));
  else
    server_->CheckCall(
        asyncIO_->Write(connection, count, handles.get(), values.get(), &id, errors.put()));
  recordPending(id, transaction, ended.ids());
  return storeResults(items, errors.get());
}

void TqOPCGroup::Refresh(bool fromCache) {
  if (!asyncIO2_ && !asyncIO_) return;
  DWORD connection = 0;
  if (!asyncIO2_) server_->CheckCall(asyncConnection(connection));
  const quint32 transaction = nextTransactionId();
  const OPCDATASOURCE source = fromCache ? OPC_DS_CACHE : OPC_DS_DEVICE;
  DWORD id = 0;
  const EndedInCall ended(endedInCall_);
  if (asyncIO2_)
    server_->CheckCall(asyncIO2_->Refresh2(source, transaction, &id));
  else
    server_->CheckCall(asyncIO_->Refresh(connection, source, &id));
  // Stored only once the server accepted the call: a refused refresh
  // leaves the pending call as it was.
  recordPending(id, transaction, ended.ids());
}

void TqOPCGroup::CancelLastAsyncCall() {
  if (taskId_ == 0) return;
  const DWORD id = taskId_;
  // Cleared whatever the server answers.
  const auto clear = qScopeGuard([this] {
    taskId_ = 0;
    taskTransactionId_ = 0;
  });
  if (asyncIO2_)
    server_->CheckCall(asyncIO2_->Cancel2(id));
  else if (asyncIO_)
    server_->CheckCall(asyncIO_->Cancel(id));
}
