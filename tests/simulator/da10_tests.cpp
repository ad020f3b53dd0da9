// The DA 1.0 path of the live server: data-object advises, the data and
// write-result streams (decoded here with every offset checked), IOPCAsyncIO,
// and the stream layout itself.
#include <cstring>
#include <set>

#include "live_utils.h"
#include "simulator/datastream.h"

namespace veze6::sim::test {
namespace {

using DataStreamLayout = veze6::test::LeakCheckedTest;

using namespace std::chrono_literals;
using Kind = SinkCall::Kind;

using DA10Streams = LiveTest;

TEST_F(DA10Streams, DataStreamWithTimeCarriesEveryKindOfValue) {
  auto g = group(u"g", 1000, 55);
  ItemDefs defs;
  defs.add(u"Static.Int4", VT_EMPTY, u"", 1)
      .add(u"Static.String", VT_EMPTY, u"", 2)
      .add(u"Static.ArrayOfString", VT_EMPTY, u"", 3)
      .add(u"Static.ArrayOfReal8", VT_EMPTY, u"", 4)
      .add(u"Static.Money", VT_EMPTY, u"", 5)
      .add(u"Static.Boolean", VT_EMPTY, u"", 6)
      .add(u"Static.ArrayOfInt4", VT_ARRAY | VT_VARIANT, u"", 7)
      .add(u"Static.Real8", VT_BSTR, u"", 8)
      .add(u"Writable.String", VT_EMPTY, u"", 9);
  add(g.get(), defs);
  auto sink = opc::makeCom<StreamSink>();
  DWORD connection = 0;
  ASSERT_EQ(dadvise(g.get(), sink.get(), OPCSTMFORMATDATATIME, &connection), S_OK);
  EXPECT_NE(connection, 0u);
  EXPECT_TRUE(sink->calls.empty()) << "nothing is called inside DAdvise";

  EXPECT_EQ(control->runScan(), 1u);
  ASSERT_EQ(sink->calls.size(), 1u);
  const SinkCall& c = sink->calls[0];
  EXPECT_EQ(c.streamError, "");
  EXPECT_EQ(c.kind, Kind::Data);
  EXPECT_EQ(c.format, OPCSTMFORMATDATATIME);
  EXPECT_EQ(c.group, 55u);
  EXPECT_EQ(c.transactionId, 0u);
  EXPECT_EQ(c.masterQuality, S_OK);
  ASSERT_EQ(c.clients(), (std::vector<OPCHANDLE>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  for (const auto& item : c.items) {
    EXPECT_EQ(item.quality, OPC_QUALITY_GOOD);
    EXPECT_EQ(ticks(item.timeStamp), ticks(kStart));
  }
  EXPECT_EQ(c.find(1)->value, OleVariant(LONG(123456)));
  EXPECT_EQ(c.find(2)->value, OleVariant(u"Hello, OPC"));
  EXPECT_EQ(c.find(3)->value, valueOf(u"Static.ArrayOfString"));
  EXPECT_EQ(c.find(4)->value, valueOf(u"Static.ArrayOfReal8"));
  EXPECT_EQ(c.find(5)->value, OleVariant::fromCurrency(CY{123456}));
  EXPECT_EQ(c.find(6)->value, OleVariant(true));
  EXPECT_EQ(c.find(7)->value, valueOf(u"Static.ArrayOfInt4").changedTo(VT_ARRAY | VT_VARIANT));
  EXPECT_EQ(c.find(8)->value, OleVariant(u"3.14159265358979"));
  EXPECT_EQ(c.find(9)->value, OleVariant(u""));
  EXPECT_EQ(c.thread, std::this_thread::get_id());
}

TEST_F(DA10Streams, DataStreamWithoutTimeAndChangedItemsOnly) {
  auto g = group(u"g", 1000, 56);
  add(g.get(), {{u"Ramp.Int2", 1}, {u"Static.String", 2}});
  auto sink = opc::makeCom<StreamSink>();
  DWORD connection = 0;
  ASSERT_EQ(dadvise(g.get(), sink.get(), OPCSTMFORMATDATA, &connection), S_OK);
  control->runScan();
  control->advance(1000ms);
  ASSERT_EQ(sink->calls.size(), 2u);
  for (const auto& c : sink->calls) {
    EXPECT_EQ(c.streamError, "");
    EXPECT_EQ(c.format, OPCSTMFORMATDATA);
    for (const auto& item : c.items) EXPECT_EQ(ticks(item.timeStamp), 0u) << "no time stamps";
  }
  EXPECT_EQ(sink->calls[0].clients(), (std::vector<OPCHANDLE>{1, 2}));
  EXPECT_EQ(sink->calls[1].clients(), (std::vector<OPCHANDLE>{1}));
  EXPECT_EQ(sink->calls[1].find(1)->value, OleVariant(SHORT(10)));
  // 20 bytes of group header and one item header of 12, then the value.
  EXPECT_EQ(sink->calls[1].blockSize, 32u + 16u);

  control->setItemQuality(u"Static.String", OPC_QUALITY_LAST_USABLE);
  control->advance(1000ms);
  ASSERT_EQ(sink->calls.size(), 3u);
  EXPECT_EQ(sink->calls[2].masterQuality, S_FALSE) << "a quality not good";
  EXPECT_EQ(sink->calls[2].find(2)->quality, OPC_QUALITY_LAST_USABLE);
}

TEST_F(DA10Streams, AdviseRules) {
  auto g = group(u"g", 1000, 1);
  auto data = g.as<IDataObject>();
  auto sink = opc::makeCom<StreamSink>();
  DWORD c1 = 0, c2 = 0, c3 = 0;
  EXPECT_EQ(dadvise(g.get(), sink.get(), RegisterClipboardFormat("Something else"), &c1),
            DV_E_FORMATETC);
  EXPECT_EQ(dadvise(g.get(), sink.get(), OPCSTMFORMATDATA, &c1, TYMED_ISTREAM), DV_E_TYMED);
  EXPECT_EQ(c1, 0u);

  ASSERT_EQ(dadvise(g.get(), sink.get(), OPCSTMFORMATDATATIME, &c1), S_OK);
  EXPECT_EQ(dadvise(g.get(), sink.get(), OPCSTMFORMATDATA, &c2), CONNECT_E_ADVISELIMIT)
      << "one data advise per group";
  ASSERT_EQ(dadvise(g.get(), sink.get(), OPCSTMFORMATWRITECOMPLETE, &c2), S_OK);
  EXPECT_EQ(dadvise(g.get(), sink.get(), OPCSTMFORMATWRITECOMPLETE, &c3), CONNECT_E_ADVISELIMIT);
  EXPECT_NE(c1, c2);
  EXPECT_EQ(sink->refCount(), 3u);

  ComPtr<IEnumSTATDATA> e;
  ASSERT_EQ(data->EnumDAdvise(e.put()), S_OK);
  STATDATA listed[3] = {};
  ULONG n = 0;
  EXPECT_EQ(e->Next(3, listed, &n), S_FALSE);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(listed[0].dwConnection, c1);
  EXPECT_EQ(listed[0].formatetc.cfFormat, OPCSTMFORMATDATATIME);
  EXPECT_EQ(listed[0].advf, DWORD(ADVF_PRIMEFIRST));
  EXPECT_EQ(listed[1].formatetc.cfFormat, OPCSTMFORMATWRITECOMPLETE);
  EXPECT_EQ(listed[0].pAdvSink, sink.get());
  for (ULONG i = 0; i < n; ++i) listed[i].pAdvSink->Release();
  e.reset();

  EXPECT_EQ(data->DUnadvise(4711), OLE_E_NOCONNECTION);
  EXPECT_EQ(data->DUnadvise(c1), S_OK);
  EXPECT_EQ(data->DUnadvise(c1), OLE_E_NOCONNECTION);
  EXPECT_EQ(dadvise(g.get(), sink.get(), OPCSTMFORMATDATA, &c3), S_OK) << "the data slot is free";
}

TEST_F(DA10Streams, AsyncReadWriteRefreshAndCancel) {
  auto g = group(u"g", 1000, 57);
  ItemDefs defs;
  defs.add(u"Ramp.Real8", VT_EMPTY, u"", 1)
      .add(u"Writable.Clamped.Int4", VT_EMPTY, u"", 2)
      .add(u"Static.Int4", VT_EMPTY, u"", 3);
  auto h = add(g.get(), defs);
  auto io = g.as<IOPCAsyncIO>();
  auto dataSink = opc::makeCom<StreamSink>();
  auto writeSink = opc::makeCom<StreamSink>();
  DWORD tid = 0;
  opc::TaskOut<HRESULT> errors;
  EXPECT_EQ(io->Read(1, OPC_DS_DEVICE, 1, h.data(), &tid, errors.put()), CONNECT_E_NOCONNECTION);
  DWORD writeConnection = 0, dataConnection = 0;
  ASSERT_EQ(dadvise(g.get(), writeSink.get(), OPCSTMFORMATWRITECOMPLETE, &writeConnection), S_OK);
  EXPECT_EQ(io->Read(writeConnection, OPC_DS_DEVICE, 1, h.data(), &tid, errors.put()),
            CONNECT_E_NOCONNECTION)
      << "a read needs a data advise to answer to";
  ASSERT_EQ(dadvise(g.get(), dataSink.get(), OPCSTMFORMATDATATIME, &dataConnection), S_OK);
  control->runScan();
  ASSERT_EQ(dataSink->calls.size(), 1u);
  clock->advance(500ms);

  OPCHANDLE readHandles[] = {h[0], 9999};
  DWORD readId = 0;
  ASSERT_EQ(io->Read(dataConnection, OPC_DS_DEVICE, 2, readHandles, &readId, errors.put()),
            S_FALSE);
  EXPECT_NE(readId, 0u);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);

  // Writes named by the data advise's connection, as clients do; the
  // results go to the write-result advise.
  OleVariant values[] = {OleVariant(LONG(500)), OleVariant(LONG(1))};
  VARIANT raws[] = {values[0].get(), values[1].get()};
  OPCHANDLE writeHandles[] = {h[1], h[2]};
  DWORD writeId = 0;
  ASSERT_EQ(io->Write(dataConnection, 2, writeHandles, raws, &writeId, errors.put()), S_FALSE);
  EXPECT_EQ(errors[1], OPC_E_BADRIGHTS);
  DWORD refreshId = 0;
  ASSERT_EQ(io->Refresh(writeConnection, OPC_DS_CACHE, &refreshId), S_OK);
  DWORD cancelledId = 0;
  ASSERT_EQ(io->Read(dataConnection, OPC_DS_DEVICE, 1, h.data(), &cancelledId, errors.put()), S_OK);
  EXPECT_EQ(io->Cancel(cancelledId), S_OK);
  EXPECT_EQ(io->Cancel(cancelledId), E_FAIL);
  EXPECT_EQ(io->Refresh(4711, OPC_DS_CACHE, &tid), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(std::set<DWORD>({readId, writeId, refreshId, cancelledId}).size(), 4u);
  EXPECT_EQ(dataSink->calls.size(), 1u) << "nothing arrives inside the requests";

  control->runScan();
  ASSERT_EQ(dataSink->calls.size(), 3u);
  const SinkCall& read = dataSink->calls[1];
  EXPECT_EQ(read.streamError, "");
  EXPECT_EQ(read.transactionId, readId);
  EXPECT_EQ(read.clients(), (std::vector<OPCHANDLE>{1}));
  EXPECT_EQ(read.find(1)->value, OleVariant(5.0));
  const SinkCall& refresh = dataSink->calls[2];
  EXPECT_EQ(refresh.transactionId, refreshId);
  EXPECT_EQ(refresh.clients(), (std::vector<OPCHANDLE>{1, 2, 3}));
  EXPECT_EQ(refresh.find(2)->value, OleVariant(LONG(100))) << "written before the refresh";
  ASSERT_EQ(writeSink->calls.size(), 1u);
  const SinkCall& written = writeSink->calls[0];
  EXPECT_EQ(written.streamError, "");
  EXPECT_EQ(written.kind, Kind::WriteResults);
  EXPECT_EQ(written.transactionId, writeId);
  EXPECT_EQ(written.group, 57u);
  ASSERT_EQ(written.clients(), (std::vector<OPCHANDLE>{2}));
  EXPECT_EQ(written.items[0].error, OPC_S_CLAMP);
  EXPECT_EQ(written.masterError, S_FALSE);
}

TEST_F(DA10Streams, DA10OnlyGroupsOfferOnlyTheAdvisePath) {
  SimulationOptions options;
  options.da10Only = true;
  createLive(options);
  auto g = group(u"g", 1000, 1);
  ComPtr<IUnknown> refused;
  EXPECT_EQ(g->QueryInterface(IID_IConnectionPointContainer, refused.putVoid()), E_NOINTERFACE);
  EXPECT_EQ(g->QueryInterface(IID_IOPCAsyncIO2, refused.putVoid()), E_NOINTERFACE);
  EXPECT_TRUE(g.as<IOPCAsyncIO>());
  EXPECT_TRUE(g.as<IDataObject>());
  EXPECT_TRUE(g.as<IOPCSyncIO>());

  add(g.get(), {{u"Static.Int4", 1}});
  auto sink = opc::makeCom<StreamSink>();
  DWORD connection = 0;
  ASSERT_EQ(dadvise(g.get(), sink.get(), OPCSTMFORMATDATATIME, &connection), S_OK);
  control->runScan();
  ASSERT_EQ(sink->calls.size(), 1u);
  EXPECT_EQ(sink->calls[0].find(1)->value, OleVariant(LONG(123456)));

  // A DA 2.0 server's group offers both paths.
  createLive({});
  g = group(u"g", 1000, 1);
  EXPECT_TRUE(g.as<IConnectionPointContainer>());
  EXPECT_TRUE(g.as<IOPCAsyncIO2>());
  EXPECT_TRUE(g.as<IOPCAsyncIO>());
  EXPECT_TRUE(g.as<IDataObject>());
}

/// Builds a stream straight from values and decodes it again.
SinkCall roundTrip(const std::vector<OleVariant>& values, bool withTime, HGLOBAL* keep = nullptr) {
  std::vector<OPCHANDLE> handles;
  std::vector<VARIANT> raw;
  std::vector<WORD> qualities;
  std::vector<FILETIME> stamps;
  for (std::size_t i = 0; i < values.size(); ++i) {
    handles.push_back(OPCHANDLE(100 + i));
    raw.push_back(values[i].get());
    qualities.push_back(OPC_QUALITY_GOOD);
    stamps.push_back(plusMs(kStart, i));
  }
  HGLOBAL h = buildDataStream(withTime, 9, 8, values.size(), handles.data(), raw.data(),
                              qualities.data(), stamps.data());
  SinkCall c;
  EXPECT_TRUE(h);
  if (!h) return c;
  c.blockSize = GlobalSize(h);
  decodeDataStream(static_cast<const BYTE*>(GlobalLock(h)), c.blockSize, withTime, c);
  GlobalUnlock(h);
  if (keep) {
    *keep = h;
  } else {
    GlobalFree(h);
  }
  return c;
}

TEST_F(DataStreamLayout, PayloadsFollowTheirVariantsAndRoundTrip) {
  const veze6::test::LeakCheck leaks;
  {
    VARIANT nullText;
    VariantInit(&nullText);
    nullText.vt = VT_BSTR;  // a null BSTR
    SAFEARRAYBOUND bounds[] = {{2, 1}, {3, -1}};
    SAFEARRAY* grid = SafeArrayCreate(VT_I2, 2, bounds);
    for (int i = 0; i < 6; ++i) static_cast<SHORT*>(grid->pvData)[i] = SHORT(i * 11);
    VARIANT gridValue;
    VariantInit(&gridValue);
    gridValue.vt = VT_ARRAY | VT_I2;
    gridValue.parray = grid;
    const std::vector<OleVariant> values = {
        OleVariant(LONG(-5)),
        OleVariant(u"text"),
        OleVariant(nullText),
        OleVariant::array(VT_VARIANT,
                          {OleVariant(u"inner"), OleVariant(2.5),
                           OleVariant::array(VT_BSTR, {OleVariant(u"a"), OleVariant(u"")})},
                          3),
        OleVariant::attach(gridValue),
        OleVariant::array(VT_BSTR, {}),
    };
    HGLOBAL block = nullptr;
    const SinkCall c = roundTrip(values, true, &block);
    EXPECT_EQ(c.streamError, "");
    ASSERT_EQ(c.items.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      EXPECT_EQ(c.items[i].client, 100u + i);
      EXPECT_EQ(c.items[i].value, values[i]) << "value " << i;
      EXPECT_EQ(ticks(c.items[i].timeStamp), ticks(plusMs(kStart, i)));
    }
    EXPECT_EQ(c.transactionId, 8u);
    EXPECT_EQ(c.group, 9u);

    // The layout itself: values packed right after the headers; a string's
    // payload (byte count, text, terminator) right after its VARIANT, whose
    // pointer field means nothing in a stream.
    const auto* p = static_cast<const BYTE*>(GlobalLock(block));
    OPCITEMHEADER1 first{}, second{}, third{};
    std::memcpy(&first, p + 20, sizeof first);
    std::memcpy(&second, p + 40, sizeof second);
    std::memcpy(&third, p + 60, sizeof third);
    EXPECT_EQ(first.dwValueOffset, 140u);  // 20 + 6 * 20
    EXPECT_EQ(second.dwValueOffset, 156u);
    VARIANT text;
    std::memcpy(&text, p + second.dwValueOffset, sizeof text);
    EXPECT_EQ(text.vt, VT_BSTR);
    EXPECT_EQ(text.ullVal, 0u);
    DWORD length = 0;
    std::memcpy(&length, p + 172, 4);
    EXPECT_EQ(length, 8u) << "bytes, not characters";
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(p + 176), 5),
              std::u16string(u"text\0", 5));
    EXPECT_EQ(third.dwValueOffset, 186u);
    GlobalUnlock(block);
    GlobalFree(block);

    const SinkCall plain = roundTrip(values, false);
    EXPECT_EQ(plain.streamError, "");
    EXPECT_EQ(plain.items.size(), values.size());

    HGLOBAL results = buildWriteCompleteStream(3, 4, 2, std::vector<OPCHANDLE>{7, 8}.data(),
                                               std::vector<HRESULT>{S_OK, OPC_E_RANGE}.data());
    ASSERT_TRUE(results);
    SinkCall w;
    decodeWriteStream(static_cast<const BYTE*>(GlobalLock(results)), GlobalSize(results), w);
    GlobalUnlock(results);
    GlobalFree(results);
    EXPECT_EQ(w.streamError, "");
    EXPECT_EQ(w.masterError, S_FALSE);
    EXPECT_EQ(w.clients(), (std::vector<OPCHANDLE>{7, 8}));
    EXPECT_EQ(w.items[1].error, OPC_E_RANGE);
  }
  leaks.expectBalanced();
}

}  // namespace
}  // namespace veze6::sim::test
