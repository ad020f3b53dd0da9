#include "hostilegroup.h"

#include "groupsinks.h"
#include "hostileact.h"
#include "opc/enumerator.h"

namespace hostile {

namespace {

using detail::CallbackRelay;
using detail::Change;
using detail::GroupSinks;
using detail::StreamRelay;

class Group final : public opc::ComObject<IOPCItemMgt, IOPCGroupStateMgt, IOPCSyncIO, IOPCAsyncIO2,
                                          IOPCAsyncIO, IConnectionPointContainer, IDataObject> {
 public:
  Group(ComPtr<IUnknown> inner, ComPtr<opc::ConnectionPoint> shutdownPoint, OPCHANDLE clientGroup)
      : inner_(std::move(inner)), sinks_(std::make_shared<GroupSinks>()) {
    itemMgt_ = inner_.as<IOPCItemMgt>();
    stateMgt_ = inner_.as<IOPCGroupStateMgt>();
    syncIO_ = inner_.as<IOPCSyncIO>();
    asyncIO2_ = inner_.as<IOPCAsyncIO2>();
    asyncIO_ = inner_.as<IOPCAsyncIO>();
    data_ = inner_.as<IDataObject>();
    sinks_->clientGroup = clientGroup;
    sinks_->shutdownPoint = std::move(shutdownPoint);
    if (const auto container = inner_.as<IConnectionPointContainer>()) {
      container->FindConnectionPoint(IID_IOPCDataCallback, innerPoint_.put());
      const auto relay = opc::makeCom<CallbackRelay>(sinks_);
      if (innerPoint_) innerPoint_->Advise(relay->unknown(), &relayCookie_);
      std::weak_ptr<GroupSinks> weak = sinks_;
      sinks_->point = opc::makeCom<opc::ConnectionPoint>(
          static_cast<IConnectionPointContainer*>(this), IID_IOPCDataCallback, 0, [weak] {
            if (const auto c = weak.lock()) c->rememberCallbacks();
          });
    }
  }

  ~Group() override {
    if (innerPoint_) innerPoint_->Unadvise(relayCookie_);
    if (!Script::instance().mangles(kKeepSinks)) {
      if (sinks_->point) sinks_->point->detach();
      return;
    }
    // The client let go of the group; its sinks hear from it once more, later.
    Change c;
    c.group = sinks_->clientGroup;
    const VARIANT empty{};
    for (OPCHANDLE h : sinks_->allItems()) c.add(h, empty, OPC_QUALITY_GOOD, {}, S_OK);
    for (const auto& sink : sinks_->callbacks())
      Script::instance().keep([sink, c] { c.send(sink.get()); });
    for (const auto& a : sinks_->dataAdvises()) {
      HGLOBAL h = c.stream(a.format.cfFormat == OPCSTMFORMATDATATIME);
      if (!h) continue;
      auto bytes = std::make_shared<const std::vector<char>>(GroupSinks::bytesOf(h));
      GlobalFree(h);
      Script::instance().keep([a, bytes] { GroupSinks::sendStream(a.sink, a.format, bytes); });
    }
    if (sinks_->point) sinks_->point->detach();
  }

  // ---- IOPCItemMgt -----------------------------------------------------------------
  HRESULT AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                   HRESULT** ppErrors) override {
    nullOut(ppAddResults, ppErrors);
    if (pItemArray) {
      std::lock_guard lock(sinks_->mutex);
      for (DWORD i = 0; i < dwCount; ++i) sinks_->items.push_back(pItemArray[i].hClient);
    }
    return mixed(SimCall::AddItems, dwCount, ppErrors,
                 [&] { return itemMgt_->AddItems(dwCount, pItemArray, ppAddResults, ppErrors); });
  }
  HRESULT ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                        OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) override {
    nullOut(ppValidationResults, ppErrors);
    return mixed(SimCall::ValidateItems, dwCount, ppErrors, [&] {
      return itemMgt_->ValidateItems(dwCount, pItemArray, bBlobUpdate, ppValidationResults,
                                     ppErrors);
    });
  }
  HRESULT RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override {
    nullOut(ppErrors);
    return mixed(SimCall::RemoveItems, dwCount, ppErrors,
                 [&] { return itemMgt_->RemoveItems(dwCount, phServer, ppErrors); });
  }
  HRESULT SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                         HRESULT** ppErrors) override {
    nullOut(ppErrors);
    return mixed(SimCall::SetActiveState, dwCount, ppErrors,
                 [&] { return itemMgt_->SetActiveState(dwCount, phServer, bActive, ppErrors); });
  }
  HRESULT SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                           HRESULT** ppErrors) override {
    nullOut(ppErrors);
    if (phClient) {
      std::lock_guard lock(sinks_->mutex);
      sinks_->items.insert(sinks_->items.end(), phClient, phClient + dwCount);
    }
    return mixed(SimCall::SetClientHandles, dwCount, ppErrors,
                 [&] { return itemMgt_->SetClientHandles(dwCount, phServer, phClient, ppErrors); });
  }
  HRESULT SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                       HRESULT** ppErrors) override {
    nullOut(ppErrors);
    return mixed(SimCall::SetDatatypes, dwCount, ppErrors, [&] {
      return itemMgt_->SetDatatypes(dwCount, phServer, pRequestedDatatypes, ppErrors);
    });
  }
  HRESULT CreateEnumerator(REFIID riid, IUnknown** ppUnk) override {
    nullOut(ppUnk);
    return act(SimCall::CreateEnumerator, [&] { return itemMgt_->CreateEnumerator(riid, ppUnk); });
  }

  // ---- IOPCGroupStateMgt -----------------------------------------------------------
  HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                   FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                   OPCHANDLE* phServerGroup) override {
    nullOut(ppName);
    return act(SimCall::GetState, [&] {
      return stateMgt_->GetState(pUpdateRate, pActive, ppName, pTimeBias, pPercentDeadband, pLCID,
                                 phClientGroup, phServerGroup);
    });
  }
  HRESULT SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                   LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                   OPCHANDLE* phClientGroup) override {
    DWORD unwritten = 0;
    if (Script::instance().step(SimCall::SetState).act == Act::Unrevised)
      pRevisedUpdateRate = &unwritten;
    return act(SimCall::SetState, [&] {
      return stateMgt_->SetState(pRequestedUpdateRate, pRevisedUpdateRate, pActive, pTimeBias,
                                 pPercentDeadband, pLCID, phClientGroup);
    });
  }
  HRESULT SetName(LPCWSTR szName) override {
    return act(SimCall::SetName, [&] { return stateMgt_->SetName(szName); });
  }
  HRESULT CloneGroup(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) override {
    nullOut(ppUnk);
    return act(SimCall::CloneGroup, [&] { return stateMgt_->CloneGroup(szName, riid, ppUnk); });
  }

  // ---- IOPCSyncIO ----------------------------------------------------------------------
  HRESULT Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
               OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override {
    nullOut(ppItemValues, ppErrors);
    return mixed(SimCall::SyncRead, dwCount, ppErrors, [&] {
      return syncIO_->Read(dwSource, dwCount, phServer, ppItemValues, ppErrors);
    });
  }
  HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                HRESULT** ppErrors) override {
    nullOut(ppErrors);
    return mixed(SimCall::SyncWrite, dwCount, ppErrors,
                 [&] { return syncIO_->Write(dwCount, phServer, pItemValues, ppErrors); });
  }

  // ---- IOPCAsyncIO2 --------------------------------------------------------------------
  HRESULT Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
               HRESULT** ppErrors) override {
    nullOut(ppErrors);
    return mixed(
        SimCall::AsyncRead, dwCount, ppErrors,
        [&] { return asyncIO2_->Read(dwCount, phServer, dwTransactionID, pdwCancelID, ppErrors); },
        dwTransactionID);
  }
  HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                DWORD* pdwCancelID, HRESULT** ppErrors) override {
    nullOut(ppErrors);
    return mixed(
        SimCall::AsyncWrite, dwCount, ppErrors,
        [&] {
          return asyncIO2_->Write(dwCount, phServer, pItemValues, dwTransactionID, pdwCancelID,
                                  ppErrors);
        },
        dwTransactionID, true);
  }
  HRESULT Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) override {
    return act(
        SimCall::Refresh,
        [&] { return asyncIO2_->Refresh2(dwSource, dwTransactionID, pdwCancelID); },
        dwTransactionID);
  }
  HRESULT Cancel2(DWORD dwCancelID) override {
    return act(SimCall::Cancel, [&] { return asyncIO2_->Cancel2(dwCancelID); });
  }
  HRESULT SetEnable(BOOL bEnable) override { return asyncIO2_->SetEnable(bEnable); }
  HRESULT GetEnable(BOOL* pbEnable) override { return asyncIO2_->GetEnable(pbEnable); }

  // ---- IOPCAsyncIO (DA 1.0) --------------------------------------------------------------
  HRESULT Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
               DWORD* pTransactionID, HRESULT** ppErrors) override {
    nullOut(ppErrors);
    return mixed(SimCall::AsyncRead, dwCount, ppErrors, [&] {
      return asyncIO_->Read(dwConnection, dwSource, dwCount, phServer, pTransactionID, ppErrors);
    });
  }
  HRESULT Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                DWORD* pTransactionID, HRESULT** ppErrors) override {
    nullOut(ppErrors);
    return mixed(SimCall::AsyncWrite, dwCount, ppErrors, [&] {
      return asyncIO_->Write(dwConnection, dwCount, phServer, pItemValues, pTransactionID,
                             ppErrors);
    });
  }
  HRESULT Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) override {
    return act(SimCall::Refresh,
               [&] { return asyncIO_->Refresh(dwConnection, dwSource, pTransactionID); });
  }
  HRESULT Cancel(DWORD dwTransactionID) override {
    return act(SimCall::Cancel, [&] { return asyncIO_->Cancel(dwTransactionID); });
  }

  // ---- IConnectionPointContainer ------------------------------------------------------------
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
    nullOut(ppEnum);
    if (!ppEnum) return E_POINTER;
    *ppEnum = opc::makeEnumConnectionPoints({ComPtr<IConnectionPoint>(sinks_->point)}).detach();
    return S_OK;
  }
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
    nullOut(ppCP);
    return act(SimCall::GroupFindConnectionPoint, [&] {
      if (!ppCP) return E_POINTER;
      if (riid != IID_IOPCDataCallback) return CONNECT_E_NOCONNECTION;
      return ComPtr<IConnectionPoint>(sinks_->point).copyTo(ppCP);
    });
  }

  // ---- IDataObject ----------------------------------------------------------------------------
  HRESULT GetData(FORMATETC* f, STGMEDIUM* m) override { return data_->GetData(f, m); }
  HRESULT GetDataHere(FORMATETC* f, STGMEDIUM* m) override { return data_->GetDataHere(f, m); }
  HRESULT QueryGetData(FORMATETC* f) override { return data_->QueryGetData(f); }
  HRESULT GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) override {
    return data_->GetCanonicalFormatEtc(in, out);
  }
  HRESULT SetData(FORMATETC* f, STGMEDIUM* m, BOOL r) override { return data_->SetData(f, m, r); }
  HRESULT EnumFormatEtc(DWORD d, IEnumFORMATETC** e) override { return data_->EnumFormatEtc(d, e); }
  HRESULT DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                  DWORD* pdwConnection) override {
    if (pdwConnection) *pdwConnection = 0;
    return act(SimCall::DAdvise, [&] {
      if (!pAdvSink || !pformatetc || !pdwConnection) return E_POINTER;
      const auto relay = opc::makeCom<StreamRelay>(sinks_, ComPtr<IAdviseSink>(pAdvSink));
      const HRESULT hr = data_->DAdvise(pformatetc, advf, relay.get(), pdwConnection);
      if (SUCCEEDED(hr)) {
        std::lock_guard lock(sinks_->mutex);
        sinks_->advises.push_back({ComPtr<IAdviseSink>(pAdvSink), *pformatetc, *pdwConnection});
      }
      return hr;
    });
  }
  HRESULT DUnadvise(DWORD dwConnection) override {
    {
      std::lock_guard lock(sinks_->mutex);
      for (auto& a : sinks_->advises)
        if (a.cookie == dwConnection) a.live = false;
    }
    return data_->DUnadvise(dwConnection);
  }
  HRESULT EnumDAdvise(IEnumSTATDATA** e) override { return data_->EnumDAdvise(e); }

 protected:
  bool interfaceEnabled(REFIID riid) const override {
    if (riid == IID_IConnectionPointContainer) return bool(sinks_->point);
    ComPtr<IUnknown> probe;
    return SUCCEEDED(inner_->QueryInterface(riid, probe.putVoid()));
  }

 private:
  template <class... Out>
  static void nullOut(Out*... out) {
    ((out ? void(*out = nullptr) : void()), ...);
  }

  /// A `transaction` (of a DA 2.0 read, write or refresh) is completed at
  /// once by Act::Reenter, inside the call that starts it, and so twice.
  template <class Work>
  HRESULT act(SimCall call, Work&& work, DWORD transaction = 0, bool write = false) {
    return perform(
        call, std::forward<Work>(work), [this] { requestShutdown(sinks_->shutdownPoint); },
        [sinks = sinks_, transaction, write] {
          sinks->inject();
          if (transaction) sinks->completeEarly(transaction, write);
        });
  }

  template <class Work>
  HRESULT mixed(SimCall call, DWORD count, HRESULT** ppErrors, Work&& work, DWORD transaction = 0,
                bool write = false) {
    const HRESULT hr = act(call, std::forward<Work>(work), transaction, write);
    return mixErrors(call, hr, ppErrors ? *ppErrors : nullptr, count);
  }

  ComPtr<IUnknown> inner_;
  ComPtr<IOPCItemMgt> itemMgt_;
  ComPtr<IOPCGroupStateMgt> stateMgt_;
  ComPtr<IOPCSyncIO> syncIO_;
  ComPtr<IOPCAsyncIO2> asyncIO2_;
  ComPtr<IOPCAsyncIO> asyncIO_;
  ComPtr<IDataObject> data_;
  ComPtr<IConnectionPoint> innerPoint_;
  DWORD relayCookie_ = 0;
  std::shared_ptr<GroupSinks> sinks_;
};

}  // namespace

ComPtr<IUnknown> makeHostileGroup(ComPtr<IUnknown> inner,
                                  ComPtr<opc::ConnectionPoint> shutdownPoint,
                                  OPCHANDLE clientGroup) {
  const auto group = opc::makeCom<Group>(std::move(inner), std::move(shutdownPoint), clientGroup);
  return ComPtr<IUnknown>(group->unknown());
}

}  // namespace hostile
