// Internal to the hostile group (hostilegroup.cpp): the client sinks of a
// group, the data changes and streams sent to them, and the relays that pass
// the simulation group's callbacks on, mangled as the script says.
#pragma once

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "hostilescript.h"
#include "opc/connectionpoint.h"
#include "opc/filetime.h"
#include "opc/variant.h"
#include "simulator/datastream.h"

namespace hostile::detail {

constexpr OPCHANDLE kUnknownHandle = 0x7FFF0001;
constexpr DWORD kUnknownTransaction = 0x0BAD0001;

/// Values a client must take whatever it asked for: null texts, extremes of
/// every kind, empty arrays and arrays of null texts, a type no one knows.
inline std::vector<OleVariant> oddValues() {
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

/// The client sinks of one hostile group, shared with the relays that pass
/// the simulation group's callbacks on.
struct GroupSinks {
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

  /// A completion of `transid` with every item the group ever had, sent
  /// before the server has even accepted the request.
  void completeEarly(DWORD transid, bool write) {
    Change c;
    c.read = true;
    c.transid = transid;
    c.group = clientGroup;
    const FILETIME now = opc::fileTimeNow();
    for (OPCHANDLE h : allItems()) c.add(h, OleVariant(LONG(1)).get(), OPC_QUALITY_GOOD, now, S_OK);
    if (!write) return sendChange(c);
    const auto sinks = callbacks();
    run([sinks, c] {
      for (const auto& s : sinks) {
        std::vector<OPCHANDLE> h = c.handles;
        std::vector<HRESULT> e(h.size(), S_OK);
        s->OnWriteComplete(c.transid, c.group, S_OK, DWORD(h.size()), h.data(), e.data());
      }
    });
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
  explicit CallbackRelay(std::shared_ptr<GroupSinks> sinks) : sinks_(std::move(sinks)) {}

  HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT, HRESULT, DWORD dwCount,
                       OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                       FILETIME* pftTimeStamps, HRESULT* pErrors) override {
    sinks_->sendChange(collect(false, dwTransid, hGroup, dwCount, phClientItems, pvValues,
                               pwQualities, pftTimeStamps, pErrors));
    return S_OK;
  }
  HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT, HRESULT, DWORD dwCount,
                         OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                         FILETIME* pftTimeStamps, HRESULT* pErrors) override {
    sinks_->sendChange(collect(true, dwTransid, hGroup, dwCount, phClientItems, pvValues,
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
    const auto sinks = sinks_->callbacks();
    GroupSinks::run([sinks, h, e, dwTransid, hGroup]() mutable {
      for (const auto& s : sinks)
        s->OnWriteComplete(dwTransid, hGroup, S_OK, DWORD(h.size()), h.data(), e.data());
    });
    return S_OK;
  }
  HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override {
    const auto sinks = sinks_->callbacks();
    GroupSinks::run([sinks, dwTransid, hGroup] {
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

  std::shared_ptr<GroupSinks> sinks_;
};

/// Receives one DA 1.0 advise's streams and passes them on.
class StreamRelay final : public opc::ComObject<IAdviseSink> {
 public:
  StreamRelay(std::shared_ptr<GroupSinks> sinks, ComPtr<IAdviseSink> sink)
      : sinks_(std::move(sinks)), sink_(std::move(sink)) {}

  void OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) override {
    if (!pFormatetc || !pStgmed || pStgmed->tymed != TYMED_HGLOBAL) return;
    auto bytes = std::make_shared<std::vector<char>>(GroupSinks::bytesOf(pStgmed->hGlobal));
    if (Script::instance().mangles(kBadStream))
      sinks_->spoilStream(*bytes, pFormatetc->cfFormat == OPCSTMFORMATWRITECOMPLETE);
    GroupSinks::sendStream(sink_, *pFormatetc, bytes);
  }
  void OnViewChange(DWORD, LONG) override {}
  void OnRename(IMoniker*) override {}
  void OnSave() override {}
  void OnClose() override {}

 private:
  std::shared_ptr<GroupSinks> sinks_;
  ComPtr<IAdviseSink> sink_;
};

}  // namespace hostile::detail
