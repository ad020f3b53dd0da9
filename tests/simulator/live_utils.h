// Helpers of the tests of the live server: recording client sinks (the DA 2.0
// callback, and the DA 1.0 advise sink, which decodes each stream checking
// every offset against the block the way a careful client must), and a
// fixture with manual scans, a manual clock and a manual apartment.
#pragma once

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "opc/apartment.h"
#include "opc/datastream.h"
#include "opc/filetime.h"
#include "test_utils.h"

namespace veze6::sim::test {

/// One item of a call into a client.
struct ItemUpdate {
  OPCHANDLE client = 0;
  OleVariant value;
  WORD quality = 0;
  FILETIME timeStamp{};
  HRESULT error = S_OK;
};

/// One call into a client sink, as recorded.
struct SinkCall {
  enum class Kind { DataChange, ReadComplete, WriteComplete, CancelComplete, Data, WriteResults };
  Kind kind = Kind::DataChange;
  DWORD transactionId = 0;
  OPCHANDLE group = 0;
  HRESULT masterQuality = S_OK;  ///< streams: the header's hrStatus
  HRESULT masterError = S_OK;
  std::vector<ItemUpdate> items;
  std::thread::id thread;
  // Streams only:
  CLIPFORMAT format = 0;
  std::size_t blockSize = 0;
  std::string streamError;  ///< empty when every offset and size checked out

  const ItemUpdate* find(OPCHANDLE client) const {
    for (const auto& i : items) {
      if (i.client == client) return &i;
    }
    return nullptr;
  }
  std::vector<OPCHANDLE> clients() const {
    std::vector<OPCHANDLE> out;
    for (const auto& i : items) out.push_back(i.client);
    return out;
  }
};

/// Records IOPCDataCallback calls. Like the client, it takes each value and
/// clears the server's VARIANT.
class CallbackSink final : public opc::ComObject<IOPCDataCallback> {
 public:
  HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                       HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                       VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                       HRESULT* pErrors) override {
    record(SinkCall::Kind::DataChange, dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
           phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
    return S_OK;
  }
  HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                         HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                         VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                         HRESULT* pErrors) override {
    record(SinkCall::Kind::ReadComplete, dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
           phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
    return S_OK;
  }
  HRESULT OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                          OPCHANDLE* pClienthandles, HRESULT* pErrors) override {
    SinkCall c;
    c.kind = SinkCall::Kind::WriteComplete;
    c.transactionId = dwTransid;
    c.group = hGroup;
    c.masterError = hrMastererr;
    c.thread = std::this_thread::get_id();
    for (DWORD i = 0; i < dwCount; ++i) {
      ItemUpdate u;
      u.client = pClienthandles[i];
      u.error = pErrors[i];
      c.items.push_back(std::move(u));
    }
    calls.push_back(std::move(c));
    return S_OK;
  }
  HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override {
    SinkCall c;
    c.kind = SinkCall::Kind::CancelComplete;
    c.transactionId = dwTransid;
    c.group = hGroup;
    c.thread = std::this_thread::get_id();
    calls.push_back(std::move(c));
    return S_OK;
  }

  std::vector<SinkCall> calls;

 private:
  void record(SinkCall::Kind kind, DWORD transid, OPCHANDLE group, HRESULT mq, HRESULT me,
              DWORD count, OPCHANDLE* handles, VARIANT* values, WORD* qualities, FILETIME* stamps,
              HRESULT* errors) {
    SinkCall c;
    c.kind = kind;
    c.transactionId = transid;
    c.group = group;
    c.masterQuality = mq;
    c.masterError = me;
    c.thread = std::this_thread::get_id();
    for (DWORD i = 0; i < count; ++i) {
      ItemUpdate u;
      u.client = handles[i];
      u.value = OleVariant(values[i]);
      VariantClear(&values[i]);
      u.quality = qualities[i];
      u.timeStamp = stamps[i];
      u.error = errors[i];
      c.items.push_back(std::move(u));
    }
    calls.push_back(std::move(c));
  }
};

/// Decodes a data stream into `call` (kind Data) with the client's own value
/// decoder, checking that the server packed it exactly: values one after the
/// other right after the headers, each payload right after its VARIANT, and
/// nothing past the last one.
inline void decodeDataStream(const BYTE* p, std::size_t size, bool withTime, SinkCall& call) {
  OPCGROUPHEADER h{};
  if (size < sizeof h) {
    call.streamError = "group header outside the block";
    return;
  }
  std::memcpy(&h, p, sizeof h);
  call.transactionId = h.dwTransactionID;
  call.group = h.hClientGroup;
  call.masterQuality = h.hrStatus;
  if (h.dwSize != size) call.streamError = "dwSize is not the block's size";
  const std::size_t headerSize = withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
  if (h.dwItemCount > (size - sizeof h) / headerSize) {
    call.streamError = "item count beyond the block";
    return;
  }
  opc::stream::Decoder decoder(p, size);
  std::uint64_t next = sizeof h + std::size_t(h.dwItemCount) * headerSize;
  for (DWORD i = 0; i < h.dwItemCount; ++i) {
    ItemUpdate u;
    OPCITEMHEADER1 ih{};
    std::memcpy(&ih, p + sizeof h + i * headerSize, headerSize);
    u.client = ih.hClient;
    u.quality = ih.wQuality;
    if (withTime) u.timeStamp = ih.ftTimeStampItem;
    if (ih.dwValueOffset != next) {
      if (call.streamError.empty()) call.streamError = "value does not follow the one before";
      break;
    }
    if (!decoder.value(ih.dwValueOffset, *u.value.ptr(), &next)) {
      if (call.streamError.empty()) call.streamError = "value outside the block";
      break;
    }
    call.items.push_back(std::move(u));
  }
  if (call.streamError.empty() && next != size) call.streamError = "bytes past the last value";
}

/// Decodes a write-result stream into `call` (kind WriteResults).
inline void decodeWriteStream(const BYTE* p, std::size_t size, SinkCall& call) {
  OPCGROUPHEADERWRITE h{};
  if (size < sizeof h) {
    call.streamError = "group header outside the block";
    return;
  }
  std::memcpy(&h, p, sizeof h);
  call.transactionId = h.dwTransactionID;
  call.group = h.hClientGroup;
  call.masterError = h.hrStatus;
  if (size != sizeof h + std::size_t(h.dwItemCount) * sizeof(OPCITEMHEADERWRITE)) {
    call.streamError = "size does not match the item count";
    return;
  }
  for (DWORD i = 0; i < h.dwItemCount; ++i) {
    OPCITEMHEADERWRITE ih{};
    std::memcpy(&ih, p + sizeof h + i * sizeof ih, sizeof ih);
    ItemUpdate u;
    u.client = ih.hClient;
    u.error = ih.dwError;
    call.items.push_back(std::move(u));
  }
}

/// Records IAdviseSink::OnDataChange calls, decoding the streams at once
/// (the block is the server's and goes after the call).
class StreamSink final : public opc::ComObject<IAdviseSink> {
 public:
  void OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) override {
    SinkCall c;
    c.thread = std::this_thread::get_id();
    c.format = pFormatetc ? pFormatetc->cfFormat : 0;
    if (!pFormatetc || !pStgmed || pStgmed->tymed != TYMED_HGLOBAL || pStgmed->pUnkForRelease ||
        pFormatetc->tymed != TYMED_HGLOBAL) {
      c.streamError = "not a global-memory stream";
      calls.push_back(std::move(c));
      return;
    }
    c.blockSize = GlobalSize(pStgmed->hGlobal);
    const auto* p = static_cast<const BYTE*>(GlobalLock(pStgmed->hGlobal));
    if (!p) {
      c.streamError = "block does not lock";
    } else if (c.format == OPCSTMFORMATWRITECOMPLETE) {
      c.kind = SinkCall::Kind::WriteResults;
      decodeWriteStream(p, c.blockSize, c);
    } else {
      c.kind = SinkCall::Kind::Data;
      decodeDataStream(p, c.blockSize, c.format == OPCSTMFORMATDATATIME, c);
    }
    if (p) GlobalUnlock(pStgmed->hGlobal);
    calls.push_back(std::move(c));
  }
  void OnViewChange(DWORD, LONG) override {}
  void OnRename(struct IMoniker*) override {}
  void OnSave() override {}
  void OnClose() override {}

  std::vector<SinkCall> calls;
};

/// 2024-03-15 12:00:00 UTC.
inline constexpr FILETIME kStart{DWORD(133549776000000000ull & 0xFFFFFFFFu),
                                 DWORD(133549776000000000ull >> 32)};

inline FILETIME plusMs(FILETIME t, std::uint64_t ms) {
  return opc::fileTimeFromTicks(opc::fileTimeTicks(t) + ms * 10000u);
}

inline std::uint64_t ticks(const FILETIME& t) { return opc::fileTimeTicks(t); }

/// One item read synchronously, its value owned here.
struct ReadValue {
  HRESULT error = E_FAIL;
  OPCHANDLE client = 0;
  WORD quality = 0;
  FILETIME timeStamp{};
  OleVariant value;
};

/// A server whose scans run by hand on a manual clock starting at kStart
/// (base scan rate 100 ms), and a manual apartment on the test thread.
class LiveTest : public SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    apartment = std::make_shared<opc::ManualApartment>();
    opc::Apartment::setCurrent(apartment);
    createLive({});
  }

  void TearDown() override {
    // Queued calls hold values: let them run (or find their sinks gone).
    apartment->runPending();
    opc::Apartment::setCurrent(nullptr);
    apartment.reset();
    SimulatorTest::TearDown();
  }

  void createLive(SimulationOptions options) {
    clock = std::make_shared<ManualClock>(kStart);
    options.clock = clock;
    options.manualScan = true;
    createServer(options);
  }

  /// Adds a group (active, or not) with a dead band; its client handle is
  /// `client`.
  ComPtr<IOPCItemMgt> group(const std::u16string& name, DWORD rate, OPCHANDLE client,
                            bool active = true, FLOAT deadband = 0.0f) {
    OPCHANDLE h = 0;
    DWORD revised = 0;
    LONG bias = 0;
    ComPtr<IUnknown> unk;
    const HRESULT hr = server->AddGroup(name.c_str(), active ? TRUE : FALSE, rate, client, &bias,
                                        &deadband, 0, &h, &revised, IID_IOPCItemMgt, unk.put());
    EXPECT_TRUE(SUCCEEDED(hr));
    return unk.as<IOPCItemMgt>();
  }

  /// Adds items (each must succeed) and returns their server handles.
  std::vector<OPCHANDLE> add(IOPCItemMgt* g, ItemDefs& defs) {
    ItemResults r;
    EXPECT_EQ(addItems(g, defs, r), S_OK);
    std::vector<OPCHANDLE> handles;
    for (DWORD i = 0; i < defs.size(); ++i) handles.push_back(r.results ? r.results[i].hServer : 0);
    return handles;
  }

  DWORD advise(IOPCItemMgt* g, CallbackSink* sink) {
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(ComPtr<IOPCItemMgt>(g).as<IConnectionPointContainer>()->FindConnectionPoint(
                  IID_IOPCDataCallback, point.put()),
              S_OK);
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(sink->unknown(), &cookie), S_OK);
    return cookie;
  }

  HRESULT unadvise(IOPCItemMgt* g, DWORD cookie) {
    ComPtr<IConnectionPoint> point;
    ComPtr<IOPCItemMgt>(g).as<IConnectionPointContainer>()->FindConnectionPoint(
        IID_IOPCDataCallback, point.put());
    return point->Unadvise(cookie);
  }

  HRESULT dadvise(IOPCItemMgt* g, StreamSink* sink, UINT format, DWORD* connection,
                  DWORD tymed = TYMED_HGLOBAL) {
    FORMATETC fe{CLIPFORMAT(format), nullptr, DVASPECT_CONTENT, -1, tymed};
    return ComPtr<IOPCItemMgt>(g).as<IDataObject>()->DAdvise(&fe, ADVF_PRIMEFIRST, sink,
                                                             connection);
  }

  /// One item by a device or cache read.
  ReadValue readOne(IOPCItemMgt* g, OPCHANDLE h, OPCDATASOURCE source) {
    opc::TaskOut<OPCITEMSTATE> states;
    opc::TaskOut<HRESULT> errors;
    ReadValue out;
    const HRESULT hr =
        ComPtr<IOPCItemMgt>(g).as<IOPCSyncIO>()->Read(source, 1, &h, states.put(), errors.put());
    EXPECT_TRUE(SUCCEEDED(hr));
    if (!states || !errors) return out;
    out.error = errors[0];
    out.client = states[0].hClient;
    out.quality = states[0].wQuality;
    out.timeStamp = states[0].ftTimeStamp;
    out.value = OleVariant::attach(states[0].vDataValue);
    return out;
  }

  std::shared_ptr<opc::ManualApartment> apartment;
  std::shared_ptr<ManualClock> clock;
};

}  // namespace veze6::sim::test
