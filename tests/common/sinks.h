// Recording client sinks: the DA 2.0 data callback, the DA 1.0 advise sink
// (which decodes each stream checking every offset against the block the way
// a careful client must) and the shutdown sink.
#pragma once

#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "opc/OPCCOMN.h"
#include "opc/OPCDA.h"
#include "opc/com.h"
#include "opc/variant.h"

namespace veze6::test {

/// Records every shutdown request and the thread it arrived on.
class ShutdownSink final : public opc::ComObject<IOPCShutdown> {
 public:
  HRESULT ShutdownRequest(LPCWSTR szReason) override {
    reasons.emplace_back(szReason ? szReason : u"");
    threads.push_back(std::this_thread::get_id());
    return S_OK;
  }
  std::vector<std::u16string> reasons;
  std::vector<std::thread::id> threads;
};

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
void decodeDataStream(const BYTE* p, std::size_t size, bool withTime, SinkCall& call);

/// Decodes a write-result stream into `call` (kind WriteResults).
void decodeWriteStream(const BYTE* p, std::size_t size, SinkCall& call);

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

}  // namespace veze6::test
