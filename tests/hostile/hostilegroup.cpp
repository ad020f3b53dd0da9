#include "hostilegroup.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "hostileact.h"
#include "opc/enumerator.h"
#include "opc/filetime.h"
#include "opc/variant.h"
#include "simulator/datastream.h"

namespace hostile {

namespace {

constexpr OPCHANDLE kUnknownHandle = 0x7FFF0001;
constexpr DWORD kUnknownTransaction = 0x0BAD0001;

/// Values a client must take whatever it asked for: null texts, extremes of
/// every kind, empty arrays and arrays of null texts, a type no one knows.
std::vector<OleVariant> oddValues() {
  std::vector<OleVariant> out;
  auto add = [&](VARTYPE vt, auto set) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    set(v);
    out.push_back(OleVariant::attach(v));
  };
  add(VT_BSTR, [](VARIANT& v) { v.bstrVal = nullptr; });
  add(VT_R8, [](VARIANT& v) { v.dblVal = std::numeric_limits<double>::quiet_NaN(); });
  add(VT_R4, [](VARIANT& v) { v.fltVal = std::numeric_limits<float>::infinity(); });
  add(VT_R8, [](VARIANT& v) { v.dblVal = -1e308; });
  add(VT_DATE, [](VARIANT& v) { v.date = 1e10; });
  add(VT_DATE, [](VARIANT& v) { v.date = std::numeric_limits<double>::quiet_NaN(); });
  add(VT_I8, [](VARIANT& v) { v.llVal = std::numeric_limits<LONGLONG>::min(); });
  add(VT_UI8, [](VARIANT& v) { v.ullVal = std::numeric_limits<ULONGLONG>::max(); });
  add(VT_CY, [](VARIANT& v) { v.cyVal.int64 = std::numeric_limits<LONGLONG>::min(); });
  add(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_BOOL(5); });
  add(VT_NULL, [](VARIANT&) {});
  add(VT_ERROR, [](VARIANT& v) { v.lVal = E_FAIL; });
  add(VT_UNKNOWN, [](VARIANT& v) { v.punkVal = nullptr; });
  add(VT_ARRAY | VT_I4, [](VARIANT& v) { v.parray = SafeArrayCreateVector(VT_I4, 0, 0); });
  add(VT_ARRAY | VT_BSTR, [](VARIANT& v) { v.parray = SafeArrayCreateVector(VT_BSTR, -5, 2); });
  add(VT_ARRAY | VT_VARIANT, [](VARIANT& v) {
    v.parray = SafeArrayCreateVector(VT_VARIANT, std::numeric_limits<LONG>::max(), 1);
  });
  add(VT_ARRAY | VT_R8, [](VARIANT& v) { v.parray = nullptr; });
  return out;
}

/// One data change or read completion, owned, sent to any number of sinks.
struct Change {
  bool read = false;
  DWORD transid = 0;
  OPCHANDLE group = 0;
  std::vector<OPCHANDLE> handles;
  std::vector<OleVariant> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> stamps;
  std::vector<HRESULT> errors;

  void add(OPCHANDLE h, const VARIANT& v, WORD q, FILETIME t, HRESULT e) {
    handles.push_back(h);
    values.emplace_back(v);
    qualities.push_back(q);
    stamps.push_back(t);
    errors.push_back(e);
  }

  /// Each sink gets its own copies: a client may take the values over.
  void send(IOPCDataCallback* sink) const {
    auto h = handles;
    auto q = qualities;
    auto t = stamps;
    auto e = errors;
    std::vector<VARIANT> v(values.size());
    for (std::size_t i = 0; i < v.size(); ++i) {
      VariantInit(&v[i]);
      VariantCopy(&v[i], &values[i].get());
    }
    const DWORD n = DWORD(h.size());
    if (read)
      sink->OnReadComplete(transid, group, S_OK, S_OK, n, h.data(), v.data(), q.data(), t.data(),
                           e.data());
    else
      sink->OnDataChange(transid, group, S_OK, S_OK, n, h.data(), v.data(), q.data(), t.data(),
                         e.data());
    for (VARIANT& x : v) VariantClear(&x);
  }

  /// The same as a DA 1.0 stream (owned by the caller).
  HGLOBAL stream(bool withTime) const {
    std::vector<VARIANT> v;
    for (const OleVariant& x : values) v.push_back(x.get());
    return veze6::sim::buildDataStream(withTime, group, transid, handles.size(), handles.data(),
                                       v.data(), qualities.data(), stamps.data());
  }
};

/// What the group's relays reach, shared with them.
struct Clients {
  OPCHANDLE clientGroup = 0;
  ComPtr<opc::ConnectionPoint> point;  // DA 2.0 sinks
  ComPtr<opc::ConnectionPoint> shutdownPoint;

  struct Advise {
    ComPtr<IAdviseSink> sink;
    FORMATETC format{};
    DWORD cookie = 0;  // the simulation group's
    bool live = true;
  };

  std::mutex mutex;
  std::vector<ComPtr<IOPCDataCallback>> everCallbacks;
  std::vector<Advise> advises;
  std::vector<OPCHANDLE> items;  // every client handle ever added
  unsigned streams = 0;

  void rememberCallbacks() {
    std::lock_guard lock(mutex);
    for (const auto& c : point->sinks().snapshot()) {
      ComPtr<IOPCDataCallback> sink(c->as<IOPCDataCallback>());
      if (std::find(everCallbacks.begin(), everCallbacks.end(), sink) == everCallbacks.end())
        everCallbacks.push_back(sink);
    }
  }

  std::vector<ComPtr<IOPCDataCallback>> callbacks() {
    if (Script::instance().mangles(kKeepSinks)) {
      std::lock_guard lock(mutex);
      return everCallbacks;
    }
    std::vector<ComPtr<IOPCDataCallback>> sinks;
    if (point) {
      for (const auto& c : point->sinks().snapshot()) sinks.emplace_back(c->as<IOPCDataCallback>());
    }
    return sinks;
  }

  std::vector<Advise> dataAdvises() {
    std::lock_guard lock(mutex);
    std::vector<Advise> out;
    const bool keep = Script::instance().mangles(kKeepSinks);
    for (const Advise& a : advises) {
      if ((a.live || keep) && a.format.cfFormat != OPCSTMFORMATWRITECOMPLETE) out.push_back(a);
    }
    return out;
  }

  std::vector<OPCHANDLE> allItems() {
    std::lock_guard lock(mutex);
    return items;
  }

  /// Runs `call` now, or on a thread of the server's own.
  static void run(std::function<void()> call) {
    if (Script::instance().mangles(kForeignThread))
      Script::instance().runForeign(std::move(call));
    else
      call();
  }

  /// The handles a kBadHandles change names besides its own: each twice,
  /// every handle the group ever had (stale ones among them) and one never
  /// given.
  void spoil(Change& c) {
    const Change original = c;
    for (std::size_t i = 0; i < original.handles.size(); ++i) {
      c.add(original.handles[i], original.values[i].get(), original.qualities[i],
            original.stamps[i], original.errors[i]);
    }
    const VARIANT empty{};
    for (OPCHANDLE h : allItems()) c.add(h, empty, OPC_QUALITY_BAD, {}, E_FAIL);
    c.add(kUnknownHandle, empty, OPC_QUALITY_GOOD, {}, S_OK);
  }

  /// Sends a change to the DA 2.0 sinks, mangled as the script says.
  void sendChange(Change c) {
    const unsigned mangle = Script::instance().mangle();
    if (mangle & kBadHandles) spoil(c);
    if ((mangle & kUnknownTransaction) && c.read) c.transid = kUnknownTransaction;
    const auto sinks = callbacks();
    run([sinks, c, mangle] {
      for (const auto& s : sinks) {
        c.send(s.get());
        if (mangle & kBadHandles) {
          Change other = c;
          other.group = c.group + 1;
          other.send(s.get());
        }
        if (mangle & kUnknownTransaction) {
          Change completion = c;
          completion.read = true;
          completion.transid = kUnknownTransaction + 1;
          completion.send(s.get());
          std::vector<OPCHANDLE> h = c.handles;
          std::vector<HRESULT> e(h.size(), S_OK);
          s->OnWriteComplete(kUnknownTransaction + 2, c.group, S_OK, DWORD(h.size()), h.data(),
                             e.data());
          s->OnCancelComplete(kUnknownTransaction + 3, c.group);
        }
      }
    });
  }

  /// A DA 1.0 stream with one header field wrong, a different one each time.
  void spoilStream(std::vector<char>& block, bool write) {
    auto field = [&](std::size_t at, DWORD value) {
      if (at + 4 <= block.size()) std::memcpy(block.data() + at, &value, 4);
    };
    auto read = [&](std::size_t at) {
      DWORD v = 0;
      if (at + 4 <= block.size()) std::memcpy(&v, block.data() + at, 4);
      return v;
    };
    const std::size_t base = write ? 0 : 4;  // the write header has no size
    unsigned which;
    {
      std::lock_guard lock(mutex);
      which = streams++ % 9;
    }
    switch (which) {
      case 0:
        if (!write) field(0, DWORD(block.size() + 1000));
        break;
      case 1:
        if (!write) field(0, 4);
        break;
      case 2:
        field(base, 0x7FFFFFFF);
        break;
      case 3:
        field(base + 4, read(base + 4) + 1);
        break;
      case 4:
        field(base + 8, kUnknownTransaction);
        break;
      case 5:
        field(base + 12, DWORD(E_FAIL));
        break;
      case 6:
      case 7: {
        // Item headers: value offsets past the end, or into the header.
        const std::size_t header = write ? 16 : 20;
        const std::size_t item = write ? 8 : 12;  // the smaller item header
        for (std::size_t at = header; at + item <= block.size(); at += item) {
          field(at, kUnknownHandle);
          if (!write) field(at + 4, which == 6 ? DWORD(block.size() - 2) : 0);
        }
        break;
      }
      default:
        block.resize(std::min<std::size_t>(block.size(), 10));
        break;
    }
  }

  /// Sends a stream to one DA 1.0 sink; the block belongs to the call.
  static void sendStream(const ComPtr<IAdviseSink>& sink, FORMATETC format,
                         std::shared_ptr<const std::vector<char>> bytes) {
    run([sink, format, bytes] {
      HGLOBAL h = GlobalAlloc(GMEM_FIXED, std::max<std::size_t>(bytes->size(), 1));
      if (!h) return;
      std::memcpy(GlobalLock(h), bytes->data(), bytes->size());
      GlobalUnlock(h);
      FORMATETC f = format;
      STGMEDIUM medium{};
      medium.tymed = TYMED_HGLOBAL;
      medium.hGlobal = h;
      sink->OnDataChange(&f, &medium);
      GlobalFree(h);
    });
  }

  static std::vector<char> bytesOf(HGLOBAL h) {
    std::vector<char> out(GlobalSize(h));
    if (!out.empty()) {
      std::memcpy(out.data(), GlobalLock(h), out.size());
      GlobalUnlock(h);
    }
    return out;
  }

  /// A data change of every item the group ever had, to every sink.
  void inject() {
    Change c;
    c.group = clientGroup;
    const FILETIME now = opc::fileTimeNow();
    const std::vector<OleVariant> odd = oddValues();
    const std::vector<OPCHANDLE> items = allItems();
    // Every odd value, spread over the items, a few values a change; the
    // last change goes to the DA 1.0 sinks too.
    for (std::size_t i = 0; !items.empty() && i < odd.size(); ++i) {
      if (i % 4 == 0 && i) {
        sendChange(c);
        c = Change();
        c.group = clientGroup;
      }
      c.add(items[i % items.size()], odd[i].get(), OPC_QUALITY_GOOD, now, S_OK);
    }
    sendChange(c);
    for (const Advise& a : dataAdvises()) {
      HGLOBAL h = c.stream(a.format.cfFormat == OPCSTMFORMATDATATIME);
      if (!h) continue;
      auto bytes = std::make_shared<std::vector<char>>(bytesOf(h));
      GlobalFree(h);
      if (Script::instance().mangles(kBadStream)) spoilStream(*bytes, false);
      sendStream(a.sink, a.format, bytes);
    }
  }
};

/// Receives the simulation group's DA 2.0 callbacks and passes them on.
class CallbackRelay final : public opc::ComObject<IOPCDataCallback> {
 public:
  explicit CallbackRelay(std::shared_ptr<Clients> clients) : clients_(std::move(clients)) {}

  HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT, HRESULT, DWORD dwCount,
                       OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                       FILETIME* pftTimeStamps, HRESULT* pErrors) override {
    clients_->sendChange(collect(false, dwTransid, hGroup, dwCount, phClientItems, pvValues,
                                 pwQualities, pftTimeStamps, pErrors));
    return S_OK;
  }
  HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT, HRESULT, DWORD dwCount,
                         OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                         FILETIME* pftTimeStamps, HRESULT* pErrors) override {
    clients_->sendChange(collect(true, dwTransid, hGroup, dwCount, phClientItems, pvValues,
                                 pwQualities, pftTimeStamps, pErrors));
    return S_OK;
  }
  HRESULT OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT, DWORD dwCount,
                          OPCHANDLE* pClienthandles, HRESULT* pErrors) override {
    std::vector<OPCHANDLE> h(pClienthandles, pClienthandles + dwCount);
    std::vector<HRESULT> e(pErrors, pErrors + dwCount);
    if (Script::instance().mangles(kUnknownTransaction)) dwTransid = kUnknownTransaction;
    if (Script::instance().mangles(kBadHandles)) {
      h.insert(h.end(), {kUnknownHandle, kUnknownHandle});
      e.insert(e.end(), {E_FAIL, S_OK});
    }
    const auto sinks = clients_->callbacks();
    Clients::run([sinks, h, e, dwTransid, hGroup]() mutable {
      for (const auto& s : sinks)
        s->OnWriteComplete(dwTransid, hGroup, S_OK, DWORD(h.size()), h.data(), e.data());
    });
    return S_OK;
  }
  HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override {
    const auto sinks = clients_->callbacks();
    Clients::run([sinks, dwTransid, hGroup] {
      for (const auto& s : sinks) s->OnCancelComplete(dwTransid, hGroup);
    });
    return S_OK;
  }

 private:
  static Change collect(bool read, DWORD transid, OPCHANDLE group, DWORD n, const OPCHANDLE* h,
                        const VARIANT* v, const WORD* q, const FILETIME* t, const HRESULT* e) {
    Change c;
    c.read = read;
    c.transid = transid;
    c.group = group;
    for (DWORD i = 0; i < n; ++i) c.add(h[i], v[i], q[i], t[i], e[i]);
    return c;
  }

  std::shared_ptr<Clients> clients_;
};

/// Receives one DA 1.0 advise's streams and passes them on.
class StreamRelay final : public opc::ComObject<IAdviseSink> {
 public:
  StreamRelay(std::shared_ptr<Clients> clients, ComPtr<IAdviseSink> sink)
      : clients_(std::move(clients)), sink_(std::move(sink)) {}

  void OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) override {
    if (!pFormatetc || !pStgmed || pStgmed->tymed != TYMED_HGLOBAL) return;
    auto bytes = std::make_shared<std::vector<char>>(Clients::bytesOf(pStgmed->hGlobal));
    if (Script::instance().mangles(kBadStream))
      clients_->spoilStream(*bytes, pFormatetc->cfFormat == OPCSTMFORMATWRITECOMPLETE);
    Clients::sendStream(sink_, *pFormatetc, bytes);
  }
  void OnViewChange(DWORD, LONG) override {}
  void OnRename(IMoniker*) override {}
  void OnSave() override {}
  void OnClose() override {}

 private:
  std::shared_ptr<Clients> clients_;
  ComPtr<IAdviseSink> sink_;
};

class Group final : public opc::ComObject<IOPCItemMgt, IOPCGroupStateMgt, IOPCSyncIO, IOPCAsyncIO2,
                                          IOPCAsyncIO, IConnectionPointContainer, IDataObject> {
 public:
  Group(ComPtr<IUnknown> inner, ComPtr<opc::ConnectionPoint> shutdownPoint, OPCHANDLE clientGroup)
      : inner_(std::move(inner)), clients_(std::make_shared<Clients>()) {
    itemMgt_ = inner_.as<IOPCItemMgt>();
    stateMgt_ = inner_.as<IOPCGroupStateMgt>();
    syncIO_ = inner_.as<IOPCSyncIO>();
    asyncIO2_ = inner_.as<IOPCAsyncIO2>();
    asyncIO_ = inner_.as<IOPCAsyncIO>();
    data_ = inner_.as<IDataObject>();
    clients_->clientGroup = clientGroup;
    clients_->shutdownPoint = std::move(shutdownPoint);
    if (const auto container = inner_.as<IConnectionPointContainer>()) {
      container->FindConnectionPoint(IID_IOPCDataCallback, innerPoint_.put());
      const auto relay = opc::makeCom<CallbackRelay>(clients_);
      if (innerPoint_) innerPoint_->Advise(relay->unknown(), &relayCookie_);
      std::weak_ptr<Clients> weak = clients_;
      clients_->point = opc::makeCom<opc::ConnectionPoint>(
          static_cast<IConnectionPointContainer*>(this), IID_IOPCDataCallback, 0, [weak] {
            if (const auto c = weak.lock()) c->rememberCallbacks();
          });
    }
  }

  ~Group() override {
    if (innerPoint_) innerPoint_->Unadvise(relayCookie_);
    if (!Script::instance().mangles(kKeepSinks)) {
      if (clients_->point) clients_->point->detach();
      return;
    }
    // The client let go of the group; its sinks hear from it once more, later.
    Change c;
    c.group = clients_->clientGroup;
    const VARIANT empty{};
    for (OPCHANDLE h : clients_->allItems()) c.add(h, empty, OPC_QUALITY_GOOD, {}, S_OK);
    for (const auto& sink : clients_->callbacks())
      Script::instance().keep([sink, c] { c.send(sink.get()); });
    for (const auto& a : clients_->dataAdvises()) {
      HGLOBAL h = c.stream(a.format.cfFormat == OPCSTMFORMATDATATIME);
      if (!h) continue;
      auto bytes = std::make_shared<const std::vector<char>>(Clients::bytesOf(h));
      GlobalFree(h);
      Script::instance().keep([a, bytes] { Clients::sendStream(a.sink, a.format, bytes); });
    }
    if (clients_->point) clients_->point->detach();
  }

  // ---- IOPCItemMgt -----------------------------------------------------------------
  HRESULT AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                   HRESULT** ppErrors) override {
    nullOut(ppAddResults, ppErrors);
    if (pItemArray) {
      std::lock_guard lock(clients_->mutex);
      for (DWORD i = 0; i < dwCount; ++i) clients_->items.push_back(pItemArray[i].hClient);
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
      std::lock_guard lock(clients_->mutex);
      clients_->items.insert(clients_->items.end(), phClient, phClient + dwCount);
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
    return mixed(SimCall::AsyncRead, dwCount, ppErrors, [&] {
      return asyncIO2_->Read(dwCount, phServer, dwTransactionID, pdwCancelID, ppErrors);
    });
  }
  HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                DWORD* pdwCancelID, HRESULT** ppErrors) override {
    nullOut(ppErrors);
    return mixed(SimCall::AsyncWrite, dwCount, ppErrors, [&] {
      return asyncIO2_->Write(dwCount, phServer, pItemValues, dwTransactionID, pdwCancelID,
                              ppErrors);
    });
  }
  HRESULT Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) override {
    return act(SimCall::Refresh,
               [&] { return asyncIO2_->Refresh2(dwSource, dwTransactionID, pdwCancelID); });
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
    *ppEnum = opc::makeEnumConnectionPoints({ComPtr<IConnectionPoint>(clients_->point)}).detach();
    return S_OK;
  }
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
    nullOut(ppCP);
    return act(SimCall::GroupFindConnectionPoint, [&] {
      if (!ppCP) return E_POINTER;
      if (riid != IID_IOPCDataCallback) return CONNECT_E_NOCONNECTION;
      return ComPtr<IConnectionPoint>(clients_->point).copyTo(ppCP);
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
      const auto relay = opc::makeCom<StreamRelay>(clients_, ComPtr<IAdviseSink>(pAdvSink));
      const HRESULT hr = data_->DAdvise(pformatetc, advf, relay.get(), pdwConnection);
      if (SUCCEEDED(hr)) {
        std::lock_guard lock(clients_->mutex);
        clients_->advises.push_back({ComPtr<IAdviseSink>(pAdvSink), *pformatetc, *pdwConnection});
      }
      return hr;
    });
  }
  HRESULT DUnadvise(DWORD dwConnection) override {
    {
      std::lock_guard lock(clients_->mutex);
      for (auto& a : clients_->advises)
        if (a.cookie == dwConnection) a.live = false;
    }
    return data_->DUnadvise(dwConnection);
  }
  HRESULT EnumDAdvise(IEnumSTATDATA** e) override { return data_->EnumDAdvise(e); }

 protected:
  bool interfaceEnabled(REFIID riid) const override {
    if (riid == IID_IConnectionPointContainer) return bool(clients_->point);
    ComPtr<IUnknown> probe;
    return SUCCEEDED(inner_->QueryInterface(riid, probe.putVoid()));
  }

 private:
  template <class... Out>
  static void nullOut(Out*... out) {
    ((out ? void(*out = nullptr) : void()), ...);
  }

  template <class Work>
  HRESULT act(SimCall call, Work&& work) {
    return perform(
        call, std::forward<Work>(work), [this] { requestShutdown(clients_->shutdownPoint); },
        [clients = clients_] { clients->inject(); });
  }

  template <class Work>
  HRESULT mixed(SimCall call, DWORD count, HRESULT** ppErrors, Work&& work) {
    const HRESULT hr = act(call, std::forward<Work>(work));
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
  std::shared_ptr<Clients> clients_;
};

}  // namespace

ComPtr<IUnknown> makeHostileGroup(ComPtr<IUnknown> inner,
                                  ComPtr<opc::ConnectionPoint> shutdownPoint,
                                  OPCHANDLE clientGroup) {
  const auto group = opc::makeCom<Group>(std::move(inner), std::move(shutdownPoint), clientGroup);
  return ComPtr<IUnknown>(group->unknown());
}

}  // namespace hostile
