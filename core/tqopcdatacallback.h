// TqOPCDataCallback: the data sink of a group on an OPC DA 2.0 server,
// connected to the group's IOPCDataCallback connection point. Each call from
// the server writes the new values, qualities, time stamps and result codes
// into the group's items at once, lists the items concerned and posts the
// list to the server component's hidden window, where the component raises
// OnDatachange, OnWriteComplete or OnWriteError on its own thread.
//
// Threads: the sink belongs to the thread that created it (the component's).
// A call arriving on any other thread touches nothing of the group or its
// items there: its arguments are copied (values taken over) and handed to
// the component's thread, where the call then runs as if made there, in
// arrival order. Data changes (those answering no refresh) that arrive
// while an earlier one still waits for that thread join it, the newer value
// of an item replacing the waiting one in its place, as a server sending at
// the group's rate would: a component whose thread cannot keep up then
// holds at most one value per item instead of every change. Any other call
// closes the waiting batch, so each item's values still arrive in order.
#pragma once

#include <memory>
#include <mutex>

#include "opc/OPCDA.h"
#include "opc/apartment.h"

class TqOPCGroup;
class TqOPCItemList;

class TqOPCDataCallback final : public opc::ComObject<IOPCDataCallback> {
 public:
  /// A sink for group, advised on the group's IOPCItemMgt for
  /// IOPCDataCallback; the group checks AdviseResult. The reference returned
  /// is the caller's.
  static ComPtr<TqOPCDataCallback> Create(TqOPCGroup* group);

  /// Not advised, serving nothing; use Create.
  TqOPCDataCallback();

  /// The group served; null once the group has let go of the sink.
  TqOPCGroup* Group() const { return group_; }
  DWORD Cookie() const { return cookie_; }
  HRESULT AdviseResult() const { return adviseResult_; }

  /// Clears the group's pending asynchronous call when transactionId names
  /// it (see TqOPCGroup::ClearTaskId).
  void ClearTaskId(DWORD transactionId);
  /// Forgets the group: later calls from the server change nothing and post
  /// nothing. The group calls it as it leaves the server or lets go of the
  /// sink.
  void Detach() { group_ = nullptr; }

  // IOPCDataCallback; each returns S_OK.
  HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                       HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                       VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                       HRESULT* pErrors) override;
  HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                         HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                         VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                         HRESULT* pErrors) override;
  HRESULT OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                          OPCHANDLE* pClienthandles, HRESULT* pErrors) override;
  HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override;

 private:
  /// Unadvises while still serving a group that holds its IOPCItemMgt.
  ~TqOPCDataCallback() override;

  struct Copied;  // a call's arguments, for another thread
  bool onOwnThread() const { return !apartment_ || apartment_->isCurrentThread(); }
  /// Hands the call to the owning thread; pendingMutex_ held.
  void forward(std::shared_ptr<Copied> call);
  void dataChange(DWORD transid, OPCHANDLE hGroup, DWORD count, const OPCHANDLE* handles,
                  VARIANT* values, const WORD* qualities, const FILETIME* timeStamps,
                  const HRESULT* errors);
  void writeComplete(DWORD transid, OPCHANDLE hGroup, DWORD count, const OPCHANDLE* handles,
                     const HRESULT* errors);

  TqOPCGroup* group_ = nullptr;  // touched on the owning thread only
  DWORD cookie_ = 0;
  HRESULT adviseResult_ = E_FAIL;
  std::shared_ptr<opc::Apartment> apartment_;  // the owning thread's
  // Calls from other threads are posted under this lock, so they queue in
  // arrival order; joining (the server's threads) and taking (the owning
  // thread) the waiting data change happen under it too.
  std::mutex pendingMutex_;
  std::shared_ptr<Copied> waiting_;  // posted, not yet taken; more changes join it
};
