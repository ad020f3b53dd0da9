#include "tqopcdatacallback.h"

#include <unordered_map>
#include <vector>

#include "connectionpoints.h"
#include "messages.h"
#include "tqopcgroup.h"
#include "tqopcitemupdater_p.h"

// The arguments of a call that arrived on another thread, owned: the
// values are taken over from the server's array (which the server then
// clears as empty), everything else is copied.
struct TqOPCDataCallback::Copied {
  enum class Kind { DataChange, ReadComplete, WriteComplete, CancelComplete };

  Copied(Kind kind, DWORD transid, OPCHANDLE hGroup)
      : kind(kind), transid(transid), hGroup(hGroup) {}
  Copied(const Copied&) = delete;
  Copied& operator=(const Copied&) = delete;
  ~Copied() {
    for (VARIANT& v : values) VariantClear(&v);
  }

  template <class T>
  static std::vector<T> copy(const T* from, DWORD count) {
    return from ? std::vector<T>(from, from + count) : std::vector<T>();
  }

  // Null or missing arrays come over as empty ones: no items.
  void takeItems(DWORD count, const OPCHANDLE* h, VARIANT* v, const WORD* q, const FILETIME* t,
                 const HRESULT* e) {
    if (!count || !h || !v || !q || !t || !e) return;
    handles = copy(h, count);
    values.resize(count);
    for (DWORD i = 0; i < count; ++i) {
      values[i] = v[i];
      VariantInit(&v[i]);
    }
    qualities = copy(q, count);
    timeStamps = copy(t, count);
    errors = copy(e, count);
  }

  // Adds the items of a later data change: an item already here takes the
  // newer value in its place, others are appended.
  void joinItems(DWORD count, const OPCHANDLE* h, VARIANT* v, const WORD* q, const FILETIME* t,
                 const HRESULT* e) {
    if (!count || !h || !v || !q || !t || !e) return;
    if (positions.empty()) {
      // An item named twice counts at its later (newer) place.
      for (std::size_t k = 0; k < handles.size(); ++k) positions[handles[k]] = k;
    }
    for (DWORD i = 0; i < count; ++i) {
      const auto [at, added] = positions.try_emplace(h[i], handles.size());
      if (added) {
        handles.push_back(h[i]);
        values.push_back(v[i]);
        qualities.push_back(q[i]);
        timeStamps.push_back(t[i]);
        errors.push_back(e[i]);
      } else {
        const std::size_t k = at->second;
        VariantClear(&values[k]);
        values[k] = v[i];
        qualities[k] = q[i];
        timeStamps[k] = t[i];
        errors[k] = e[i];
      }
      VariantInit(&v[i]);
    }
  }

  const Kind kind;
  const DWORD transid;
  const OPCHANDLE hGroup;
  std::vector<OPCHANDLE> handles;
  std::vector<VARIANT> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> timeStamps;
  std::vector<HRESULT> errors;
  std::unordered_map<OPCHANDLE, std::size_t> positions;  // of handles, once joined
};

ComPtr<TqOPCDataCallback> TqOPCDataCallback::Create(TqOPCGroup* group) {
  // Advised only once the first reference is held: a server that takes and
  // drops a reference during Advise must not destroy a half-made object.
  ComPtr<TqOPCDataCallback> sink = opc::makeCom<TqOPCDataCallback>();
  sink->group_ = group;
  DWORD cookie = 0;
  sink->adviseResult_ = AdviseConnectionPoint(group->ItemMgt(), IID_IOPCDataCallback,
                                              static_cast<IOPCDataCallback*>(sink.get()), cookie);
  sink->cookie_ = cookie;
  return sink;
}

TqOPCDataCallback::TqOPCDataCallback() : apartment_(opc::Apartment::current()) {}

TqOPCDataCallback::~TqOPCDataCallback() {
  // Only where the group lives: on another thread the group may be busy.
  if (adviseResult_ != S_OK || !group_ || !onOwnThread()) return;
  if (IOPCItemMgt* itemMgt = group_->ItemMgt())
    UnadviseConnectionPoint(itemMgt, IID_IOPCDataCallback, cookie_);
}

void TqOPCDataCallback::ClearTaskId(DWORD transactionId) {
  if (group_) group_->ClearTaskId(transactionId);
}

void TqOPCDataCallback::forward(std::shared_ptr<Copied> call) {
  // Whatever comes after this call may not join a data change before it.
  waiting_.reset();
  if (!apartment_) return;
  ComPtr<TqOPCDataCallback> self(this);
  apartment_->post([self, call] {
    {
      // Taken: later data changes start a batch of their own.
      const std::lock_guard lock(self->pendingMutex_);
      if (self->waiting_ == call) self->waiting_.reset();
    }
    Copied& c = *call;
    const DWORD n = DWORD(c.handles.size());
    switch (c.kind) {
      case Copied::Kind::ReadComplete:
        self->ClearTaskId(c.transid);
        [[fallthrough]];
      case Copied::Kind::DataChange:
        self->dataChange(c.transid, c.hGroup, n, c.handles.data(), c.values.data(),
                         c.qualities.data(), c.timeStamps.data(), c.errors.data());
        break;
      case Copied::Kind::WriteComplete:
        self->writeComplete(c.transid, c.hGroup, n, c.handles.data(), c.errors.data());
        break;
      case Copied::Kind::CancelComplete:
        self->ClearTaskId(c.transid);
        break;
    }
  });
}

HRESULT TqOPCDataCallback::OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT, HRESULT,
                                        DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues,
                                        WORD* pwQualities, FILETIME* pftTimeStamps,
                                        HRESULT* pErrors) {
  if (onOwnThread()) {
    dataChange(dwTransid, hGroup, dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps,
               pErrors);
  } else {
    const std::lock_guard lock(pendingMutex_);
    // A refresh's answer is not merged: it clears its transaction.
    if (dwTransid == 0 && waiting_ && waiting_->transid == 0 && waiting_->hGroup == hGroup) {
      waiting_->joinItems(dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
      return S_OK;
    }
    auto call = std::make_shared<Copied>(Copied::Kind::DataChange, dwTransid, hGroup);
    call->takeItems(dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
    forward(call);
    waiting_ = std::move(call);
  }
  return S_OK;
}

HRESULT TqOPCDataCallback::OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT, HRESULT,
                                          DWORD dwCount, OPCHANDLE* phClientItems,
                                          VARIANT* pvValues, WORD* pwQualities,
                                          FILETIME* pftTimeStamps, HRESULT* pErrors) {
  // A read completion is delivered exactly like a data change.
  if (onOwnThread()) {
    ClearTaskId(dwTransid);
    dataChange(dwTransid, hGroup, dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps,
               pErrors);
  } else {
    auto call = std::make_shared<Copied>(Copied::Kind::ReadComplete, dwTransid, hGroup);
    call->takeItems(dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
    const std::lock_guard lock(pendingMutex_);
    forward(std::move(call));
  }
  return S_OK;
}

HRESULT TqOPCDataCallback::OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT,
                                           DWORD dwCount, OPCHANDLE* pClienthandles,
                                           HRESULT* pErrors) {
  if (onOwnThread()) {
    writeComplete(dwTransid, hGroup, dwCount, pClienthandles, pErrors);
  } else {
    auto call = std::make_shared<Copied>(Copied::Kind::WriteComplete, dwTransid, hGroup);
    if (dwCount && pClienthandles && pErrors) {
      call->handles = Copied::copy(pClienthandles, dwCount);
      call->errors = Copied::copy(pErrors, dwCount);
    }
    const std::lock_guard lock(pendingMutex_);
    forward(std::move(call));
  }
  return S_OK;
}

HRESULT TqOPCDataCallback::OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) {
  if (onOwnThread()) {
    ClearTaskId(dwTransid);
  } else {
    const std::lock_guard lock(pendingMutex_);
    forward(std::make_shared<Copied>(Copied::Kind::CancelComplete, dwTransid, hGroup));
  }
  return S_OK;
}

void TqOPCDataCallback::dataChange(DWORD transid, OPCHANDLE hGroup, DWORD count,
                                   const OPCHANDLE* handles, VARIANT* values, const WORD* qualities,
                                   const FILETIME* timeStamps, const HRESULT* errors) {
  TqOPCGroup* group = group_;
  if (!group || hGroup != group->ClientHandle()) return;
  ClearTaskId(transid);
  // A server that names items without handing out every array has sent no
  // items.
  const bool complete = count && handles && values && qualities && timeStamps && errors;
  TqOPCItemUpdater update(*group->OPCItems(), complete ? int(count) : 0);
  if (complete) {
    // A handle that names no live item of the group (an item destroyed
    // since, in batch mode still on the server) is dropped. Taking the
    // value over clears the element: no copy of texts or arrays.
    for (DWORD i = 0; i < count; ++i)
      update.Change(handles[i], values[i], qualities[i], timeStamps[i], errors[i]);
  }
  PostMessage(group->callbackWindow(), CM_OPCDATACHANGE, WPARAM(hGroup), update.TakeList());
}

void TqOPCDataCallback::writeComplete(DWORD transid, OPCHANDLE hGroup, DWORD count,
                                      const OPCHANDLE* handles, const HRESULT* errors) {
  TqOPCGroup* group = group_;
  if (!group || hGroup != group->ClientHandle()) return;
  ClearTaskId(transid);
  TqOPCItemUpdater update(*group->OPCItems());
  int failures = 0;
  if (count && handles && errors) {
    for (DWORD i = 0; i < count; ++i) failures += update.WriteResult(handles[i], errors[i]);
  }
  PostMessage(group->callbackWindow(), failures ? CM_OPCWRITEERROR : CM_OPCWRITECOMPLETE, 0,
              update.TakeList());
}
