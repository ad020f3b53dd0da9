// Reads and writes on the live server: cache and device reads, every write
// outcome, and the asynchronous requests of IOPCAsyncIO2 with their
// completions, cancellations and order.
#include "live_utils.h"

namespace veze6::sim::test {
namespace {

using namespace std::chrono_literals;
using Kind = SinkCall::Kind;

struct Outcome {
  HRESULT hr = E_FAIL;
  DWORD id = 0;
  std::vector<HRESULT> errors;
};

/// The VARIANTs of a write, borrowed from the OleVariants (the server copies).
std::vector<VARIANT> raw(const std::vector<OleVariant>& values) {
  std::vector<VARIANT> out;
  for (const auto& v : values) out.push_back(v.get());
  return out;
}

Outcome asyncRead(IOPCAsyncIO2* io, std::vector<OPCHANDLE> h, DWORD tid) {
  Outcome o;
  opc::TaskOut<HRESULT> errors;
  o.hr = io->Read(DWORD(h.size()), h.data(), tid, &o.id, errors.put());
  if (errors) o.errors.assign(errors.get(), errors.get() + h.size());
  return o;
}

Outcome asyncWrite(IOPCAsyncIO2* io, std::vector<OPCHANDLE> h, const std::vector<OleVariant>& v,
                   DWORD tid) {
  Outcome o;
  opc::TaskOut<HRESULT> errors;
  auto values = raw(v);
  o.hr = io->Write(DWORD(h.size()), h.data(), values.data(), tid, &o.id, errors.put());
  if (errors) o.errors.assign(errors.get(), errors.get() + h.size());
  return o;
}

using SyncIO = LiveTest;

TEST_F(SyncIO, CacheHoldsTheLastScanAndDeviceReadsSampleNow) {
  auto g = group(u"g", 1000, 1);
  const auto h = add(g.get(), {{u"Ramp.Real8", 5}});
  control->runScan();      // no sink: the cache is kept all the same
  clock->advance(2500ms);  // time passes without a scan
  ReadValue cache = readOne(g.get(), h[0], OPC_DS_CACHE);
  EXPECT_EQ(cache.error, S_OK);
  EXPECT_EQ(cache.client, 5u);
  EXPECT_EQ(cache.value, OleVariant(0.0));
  EXPECT_EQ(cache.quality, OPC_QUALITY_GOOD);
  EXPECT_EQ(ticks(cache.timeStamp), ticks(kStart));

  ReadValue device = readOne(g.get(), h[0], OPC_DS_DEVICE);
  EXPECT_EQ(device.value, OleVariant(25.0));
  EXPECT_EQ(ticks(device.timeStamp), ticks(plusMs(kStart, 2500)));
  EXPECT_EQ(readOne(g.get(), h[0], OPC_DS_CACHE).value, OleVariant(25.0))
      << "a device read refreshes the cache";

  clock->advance(500ms);
  control->runScan();
  EXPECT_EQ(readOne(g.get(), h[0], OPC_DS_CACHE).value, OleVariant(30.0));
}

TEST_F(SyncIO, CacheOfInactiveItemsAndGroupsIsOutOfService) {
  auto g = group(u"g", 1000, 1);
  ItemDefs defs;
  defs.add(u"Static.Int4", VT_EMPTY, u"", 1).add(u"Static.Real8", VT_EMPTY, u"", 2, false);
  const auto h = add(g.get(), defs);
  ReadValue inactive = readOne(g.get(), h[1], OPC_DS_CACHE);
  EXPECT_EQ(inactive.error, S_OK);
  EXPECT_EQ(inactive.quality, OPC_QUALITY_OUT_OF_SERVICE);
  EXPECT_EQ(inactive.value, OleVariant(3.14159265358979));
  EXPECT_EQ(readOne(g.get(), h[1], OPC_DS_DEVICE).quality, OPC_QUALITY_GOOD);
  EXPECT_EQ(readOne(g.get(), h[0], OPC_DS_CACHE).quality, OPC_QUALITY_GOOD);

  BOOL off = FALSE;
  DWORD revised = 0;
  ASSERT_EQ(g.as<IOPCGroupStateMgt>()->SetState(nullptr, &revised, &off, nullptr, nullptr, nullptr,
                                                nullptr),
            S_OK);
  EXPECT_EQ(readOne(g.get(), h[0], OPC_DS_CACHE).quality, OPC_QUALITY_OUT_OF_SERVICE);
  EXPECT_EQ(readOne(g.get(), h[0], OPC_DS_DEVICE).quality, OPC_QUALITY_GOOD);
}

TEST_F(SyncIO, ReadReportsEachItemOnItsOwn) {
  auto g = group(u"g", 1000, 1);
  ItemDefs defs;
  defs.add(u"Static.Int4", VT_BSTR, u"", 1).add(u"Static.Int4", VT_UI1, u"", 2);
  const auto h = add(g.get(), defs);
  auto io = g.as<IOPCSyncIO>();
  OPCHANDLE handles[] = {h[0], 9999, h[1]};
  opc::TaskOut<OPCITEMSTATE> states;
  opc::TaskOut<HRESULT> errors;
  ASSERT_EQ(io->Read(OPC_DS_DEVICE, 3, handles, states.put(), errors.put()), S_FALSE);
  std::vector<OleVariant> values;
  for (int i = 0; i < 3; ++i) values.push_back(OleVariant::attach(states[i].vDataValue));
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(values[0], OleVariant(u"123456"));
  EXPECT_EQ(states[0].hClient, 1u);
  EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
  EXPECT_TRUE(values[1].isEmpty());
  EXPECT_EQ(errors[2], OPC_E_RANGE);  // 123456 does not fit a byte
  EXPECT_EQ(states[2].wQuality, OPC_QUALITY_BAD);
  EXPECT_TRUE(values[2].isEmpty());

  // A whole-call failure hands out nothing.
  EXPECT_EQ(io->Read(OPCDATASOURCE(3), 1, handles, states.put(), errors.put()), E_INVALIDARG);
  EXPECT_FALSE(states);
  EXPECT_FALSE(errors);
}

TEST_F(SyncIO, WritesReportEveryOutcome) {
  auto g = group(u"g", 1000, 1);
  ItemDefs defs;
  for (const char16_t* id :
       {u"Static.Int4", u"Writable.Int4", u"Writable.UInt1", u"Writable.Limited.Int2",
        u"Writable.Clamped.Int4", u"Writable.String", u"Writable.Clamped.Real8", u"Writable.Real8",
        u"Writable.Limited.Int2", u"Writable.ArrayOfInt4"}) {
    defs.add(id);
  }
  const auto h = add(g.get(), defs);
  std::vector<OPCHANDLE> handles = {h[0], h[1], h[2], h[3], h[4], 9999,
                                    h[5], h[6], h[7], h[8], h[9]};
  std::vector<OleVariant> values = {OleVariant(LONG(1)),
                                    OleVariant(u"abc"),
                                    OleVariant(LONG(300)),
                                    OleVariant(LONG(150)),
                                    OleVariant(LONG(150)),
                                    OleVariant(LONG(1)),
                                    OleVariant(LONG(42)),
                                    OleVariant(-50.0),
                                    OleVariant(u"2.5"),
                                    OleVariant(LONG(-99)),
                                    OleVariant::array(VT_R8, {OleVariant(1.0), OleVariant(2.0)})};
  auto raws = raw(values);
  clock->advance(1234ms);
  opc::TaskOut<HRESULT> errors;
  ASSERT_EQ(
      g.as<IOPCSyncIO>()->Write(DWORD(handles.size()), handles.data(), raws.data(), errors.put()),
      S_FALSE);
  const std::vector<HRESULT> expected = {OPC_E_BADRIGHTS,
                                         OPC_E_BADTYPE,
                                         OPC_E_RANGE,
                                         OPC_E_RANGE,
                                         OPC_S_CLAMP,
                                         OPC_E_INVALIDHANDLE,
                                         S_OK,
                                         OPC_S_CLAMP,
                                         S_OK,
                                         S_OK,
                                         S_OK};
  EXPECT_EQ(std::vector<HRESULT>(errors.get(), errors.get() + handles.size()), expected);

  EXPECT_EQ(valueOf(u"Static.Int4"), OleVariant(LONG(123456)));
  EXPECT_EQ(valueOf(u"Writable.Int4"), OleVariant(LONG(0)));
  EXPECT_EQ(valueOf(u"Writable.UInt1").changedTo(VT_I4), OleVariant(LONG(200)));
  EXPECT_EQ(valueOf(u"Writable.Limited.Int2"), OleVariant(SHORT(-99)));
  EXPECT_EQ(valueOf(u"Writable.Clamped.Int4"), OleVariant(LONG(100)));
  EXPECT_EQ(valueOf(u"Writable.String"), OleVariant(u"42"));
  EXPECT_EQ(valueOf(u"Writable.Clamped.Real8"), OleVariant(-10.0));
  EXPECT_EQ(valueOf(u"Writable.Real8"), OleVariant(2.5));
  EXPECT_EQ(valueOf(u"Writable.ArrayOfInt4"),
            OleVariant::array(VT_I4, {OleVariant(LONG(1)), OleVariant(LONG(2))}));
  EXPECT_EQ(ticks(readOne(g.get(), h[6], OPC_DS_CACHE).timeStamp), ticks(plusMs(kStart, 1234)));

  // A clamp is a success: alone, the call succeeds.
  OleVariant big(LONG(1000));
  VARIANT one = big.get();
  OPCHANDLE clamped = h[4];
  EXPECT_EQ(g.as<IOPCSyncIO>()->Write(1, &clamped, &one, errors.put()), S_OK);
  EXPECT_EQ(errors[0], OPC_S_CLAMP);
  EXPECT_EQ(g.as<IOPCSyncIO>()->Write(1, &clamped, nullptr, errors.put()), E_INVALIDARG);
  EXPECT_FALSE(errors);
}

using AsyncIO = LiveTest;

TEST_F(AsyncIO, RequestsNeedACallback) {
  auto g = group(u"g", 1000, 1);
  ItemDefs defs;
  defs.add(u"Writable.Int4");
  auto h = add(g.get(), defs);
  auto io = g.as<IOPCAsyncIO2>();
  EXPECT_EQ(asyncRead(io.get(), h, 1).hr, CONNECT_E_NOCONNECTION);
  EXPECT_EQ(asyncWrite(io.get(), h, {OleVariant(LONG(1))}, 1).hr, CONNECT_E_NOCONNECTION);
  DWORD id = 99;
  EXPECT_EQ(io->Refresh2(OPC_DS_CACHE, 1, &id), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(id, 0u);
  EXPECT_EQ(io->SetEnable(FALSE), CONNECT_E_NOCONNECTION);
  BOOL enabled = FALSE;
  EXPECT_EQ(io->GetEnable(&enabled), CONNECT_E_NOCONNECTION);

  auto sink = advisedSink(g.get());
  control->failCall(SimCall::AsyncRead, E_OUTOFMEMORY, 1);
  EXPECT_EQ(asyncRead(io.get(), h, 1).hr, E_OUTOFMEMORY);

  // Every item refused: nothing is queued and nothing completes.
  const Outcome none = asyncRead(io.get(), {4242}, 1);
  EXPECT_EQ(none.hr, S_FALSE);
  EXPECT_EQ(none.id, 0u);
  EXPECT_EQ(none.errors, std::vector<HRESULT>{OPC_E_INVALIDHANDLE});
  control->runScan();
  ASSERT_EQ(sink->calls.size(), 1u);  // the first data change only
  EXPECT_EQ(sink->calls[0].kind, Kind::DataChange);
}

TEST_F(AsyncIO, ReadCompletesAtTheNextPassWithItsTransactionId) {
  auto g = group(u"g", 1000, 3);
  ItemDefs defs;
  defs.add(u"Ramp.Real8", VT_EMPTY, u"", 1).add(u"Static.Int4", VT_EMPTY, u"", 2, false);
  const auto h = add(g.get(), defs);
  auto sink = advisedSink(g.get());
  control->runScan();
  ASSERT_EQ(sink->calls.size(), 1u);

  clock->advance(500ms);  // the group is not due before 1000 ms
  auto io = g.as<IOPCAsyncIO2>();
  const Outcome read = asyncRead(io.get(), {h[0], 9999, h[1]}, 77);
  EXPECT_EQ(read.hr, S_FALSE);
  EXPECT_NE(read.id, 0u);
  EXPECT_EQ(read.errors, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, S_OK}));
  EXPECT_EQ(sink->calls.size(), 1u) << "a completion never arrives inside the request";

  control->runScan();
  ASSERT_EQ(sink->calls.size(), 2u);
  const SinkCall& done = sink->calls[1];
  EXPECT_EQ(done.kind, Kind::ReadComplete);
  EXPECT_EQ(done.transactionId, 77u);
  EXPECT_EQ(done.group, 3u);
  EXPECT_EQ(done.clients(), (std::vector<OPCHANDLE>{1, 2}));
  EXPECT_EQ(done.find(1)->value, OleVariant(5.0));  // from the device, now
  EXPECT_EQ(ticks(done.find(1)->timeStamp), ticks(plusMs(kStart, 500)));
  EXPECT_EQ(done.find(2)->quality, OPC_QUALITY_GOOD) << "a device read ignores the active flag";
  EXPECT_EQ(done.masterError, S_OK);

  EXPECT_NE(asyncRead(io.get(), {h[0]}, 78).id, read.id);
}

TEST_F(AsyncIO, WriteCompletesWithEachItemsResult) {
  auto g = group(u"g", 1000, 3);
  const auto h = add(g.get(), {{u"Writable.Int4", 1},
                               {u"Writable.Clamped.Int4", 2},
                               {u"Static.Int4", 3},
                               {u"Writable.Int2", 4}});
  auto sink = advisedSink(g.get());
  const Outcome write = asyncWrite(
      g.as<IOPCAsyncIO2>().get(), h,
      {OleVariant(LONG(5)), OleVariant(LONG(500)), OleVariant(LONG(1)), OleVariant(u"x")}, 9);
  EXPECT_EQ(write.hr, S_FALSE);
  EXPECT_EQ(write.errors, (std::vector<HRESULT>{S_OK, S_OK, OPC_E_BADRIGHTS, S_OK}));
  EXPECT_EQ(valueOf(u"Writable.Int4"), OleVariant(LONG(0))) << "the write happens at the next pass";

  control->runScan();
  ASSERT_EQ(sink->calls.size(), 2u);
  const SinkCall& done = sink->calls[0];
  EXPECT_EQ(done.kind, Kind::WriteComplete);
  EXPECT_EQ(done.transactionId, 9u);
  EXPECT_EQ(done.group, 3u);
  EXPECT_EQ(done.clients(), (std::vector<OPCHANDLE>{1, 2, 4}));
  EXPECT_EQ(done.items[0].error, S_OK);
  EXPECT_EQ(done.items[1].error, OPC_S_CLAMP);
  EXPECT_EQ(done.items[2].error, OPC_E_BADTYPE);
  EXPECT_EQ(done.masterError, S_FALSE);
  // The data change of the same pass already shows the written values.
  EXPECT_EQ(sink->calls[1].kind, Kind::DataChange);
  EXPECT_EQ(sink->calls[1].find(1)->value, OleVariant(LONG(5)));
  EXPECT_EQ(sink->calls[1].find(2)->value, OleVariant(LONG(100)));
}

TEST_F(AsyncIO, RefreshSendsTheActiveItemsAsADataChange) {
  auto g = group(u"g", 1000, 3);
  ItemDefs defs;
  defs.add(u"Ramp.Real8", VT_EMPTY, u"", 1).add(u"Static.Int4", VT_EMPTY, u"", 2, false);
  const auto h = add(g.get(), defs);
  auto sink = advisedSink(g.get());
  control->runScan();
  clock->advance(2500ms);
  auto io = g.as<IOPCAsyncIO2>();
  DWORD id = 0;
  ASSERT_EQ(io->Refresh2(OPC_DS_CACHE, 31, &id), S_OK);
  EXPECT_NE(id, 0u);
  control->runScan();  // the group is due as well
  ASSERT_EQ(sink->calls.size(), 3u);
  EXPECT_EQ(sink->calls[1].kind, Kind::DataChange);
  EXPECT_EQ(sink->calls[1].transactionId, 31u);
  EXPECT_EQ(sink->calls[1].clients(), (std::vector<OPCHANDLE>{1}));
  EXPECT_EQ(sink->calls[1].find(1)->value, OleVariant(0.0)) << "the cache of the last scan";
  EXPECT_EQ(sink->calls[2].transactionId, 0u);
  EXPECT_EQ(sink->calls[2].find(1)->value, OleVariant(25.0));

  ASSERT_EQ(io->Refresh2(OPC_DS_DEVICE, 32, &id), S_OK);
  clock->advance(500ms);
  control->runScan();  // not due: only the refresh
  ASSERT_EQ(sink->calls.size(), 4u);
  EXPECT_EQ(sink->calls[3].transactionId, 32u);
  EXPECT_EQ(sink->calls[3].find(1)->value, OleVariant(30.0));

  // Nothing active, nothing to refresh.
  opc::TaskOut<HRESULT> errors;
  ASSERT_EQ(g->SetActiveState(1, const_cast<OPCHANDLE*>(&h[0]), FALSE, errors.put()), S_OK);
  EXPECT_EQ(io->Refresh2(OPC_DS_CACHE, 33, &id), E_FAIL);
  EXPECT_EQ(id, 0u);
  ASSERT_EQ(g->SetActiveState(1, const_cast<OPCHANDLE*>(&h[0]), TRUE, errors.put()), S_OK);
  BOOL off = FALSE;
  DWORD revised = 0;
  g.as<IOPCGroupStateMgt>()->SetState(nullptr, &revised, &off, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(io->Refresh2(OPC_DS_CACHE, 34, &id), E_FAIL);
}

TEST_F(AsyncIO, CancelReplacesTheCompletionWithANotice) {
  auto g = group(u"g", 1000, 3);
  const auto h = add(g.get(), {{u"Writable.Int4", 1}});
  auto sink = advisedSink(g.get());
  control->runScan();
  auto io = g.as<IOPCAsyncIO2>();

  const Outcome read = asyncRead(io.get(), h, 5);
  const Outcome write = asyncWrite(io.get(), h, {OleVariant(LONG(9))}, 6);
  EXPECT_EQ(io->Cancel2(read.id), S_OK);
  EXPECT_EQ(io->Cancel2(read.id), E_FAIL) << "cancelled once";
  EXPECT_EQ(io->Cancel2(write.id), S_OK);
  EXPECT_EQ(io->Cancel2(123456), E_FAIL);
  control->runScan();
  ASSERT_EQ(sink->calls.size(), 3u);
  EXPECT_EQ(sink->calls[1].kind, Kind::CancelComplete);
  EXPECT_EQ(sink->calls[1].transactionId, 5u);
  EXPECT_EQ(sink->calls[1].group, 3u);
  EXPECT_EQ(sink->calls[2].kind, Kind::CancelComplete);
  EXPECT_EQ(sink->calls[2].transactionId, 6u);
  EXPECT_EQ(valueOf(u"Writable.Int4"), OleVariant(LONG(0))) << "a cancelled write does not happen";

  const Outcome late = asyncRead(io.get(), h, 7);
  control->runScan();
  EXPECT_EQ(sink->calls.back().kind, Kind::ReadComplete);
  EXPECT_EQ(io->Cancel2(late.id), E_FAIL) << "too late";
}

TEST_F(AsyncIO, CompletionsComeInRequestOrderBeforeTheDataChange) {
  auto g = group(u"g", 1000, 3);
  const auto h = add(g.get(), {{u"Ramp.Real8", 1}, {u"Writable.Int4", 2}});
  auto sink = advisedSink(g.get());
  control->runScan();
  auto io = g.as<IOPCAsyncIO2>();
  asyncRead(io.get(), {h[0]}, 1);
  asyncWrite(io.get(), {h[1]}, {OleVariant(LONG(3))}, 2);
  DWORD id = 0;
  ASSERT_EQ(io->Refresh2(OPC_DS_DEVICE, 3, &id), S_OK);
  clock->advance(1000ms);
  control->runScan();  // one pass: the completions, then the group's data change
  ASSERT_EQ(sink->calls.size(), 5u);
  std::vector<std::pair<Kind, DWORD>> order;
  for (std::size_t i = 1; i < sink->calls.size(); ++i) {
    order.emplace_back(sink->calls[i].kind, sink->calls[i].transactionId);
  }
  EXPECT_EQ(order, (std::vector<std::pair<Kind, DWORD>>{{Kind::ReadComplete, 1},
                                                        {Kind::WriteComplete, 2},
                                                        {Kind::DataChange, 3},
                                                        {Kind::DataChange, 0}}));
}

TEST_F(AsyncIO, WithoutASinkNothingIsToldButTheWriteHappens) {
  auto g = group(u"g", 1000, 3);
  const auto h = add(g.get(), {{u"Writable.Int4", 1}});
  auto sink = opc::makeCom<CallbackSink>();
  const DWORD cookie = advise(g.get(), sink.get());
  asyncWrite(g.as<IOPCAsyncIO2>().get(), h, {OleVariant(LONG(3))}, 1);
  asyncRead(g.as<IOPCAsyncIO2>().get(), h, 2);
  ASSERT_EQ(unadvise(g.get(), cookie), S_OK);
  control->runScan();
  EXPECT_TRUE(sink->calls.empty());
  EXPECT_EQ(valueOf(u"Writable.Int4"), OleVariant(LONG(3)));

  // A group that goes with requests still queued just drops them.
  advise(g.get(), sink.get());
  asyncRead(g.as<IOPCAsyncIO2>().get(), h, 3);
  OPCHANDLE groupHandle = 0;
  {
    DWORD rate = 0;
    BOOL active = FALSE;
    LONG bias = 0;
    FLOAT band = 0;
    LCID lcid = 0;
    OPCHANDLE client = 0;
    opc::TaskString name;
    g.as<IOPCGroupStateMgt>()->GetState(&rate, &active, name.put(), &bias, &band, &lcid, &client,
                                        &groupHandle);
  }
  g.reset();
  EXPECT_EQ(server->RemoveGroup(groupHandle, FALSE), S_OK);
  EXPECT_EQ(control->liveGroupCount(), 0u);
  EXPECT_EQ(sink->refCount(), 1u);
  control->runScan();
  EXPECT_TRUE(sink->calls.empty());
}

}  // namespace
}  // namespace veze6::sim::test
