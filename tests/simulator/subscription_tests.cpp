// The live server's subscriptions: what a scan reports and when (update
// rates, active flags, dead band, qualities, sinks coming and going), and
// the generated signals behind it, all on a manual clock.
#include <cmath>

#include "live_utils.h"

namespace veze6::sim::test {
namespace {

using namespace std::chrono_literals;
using Kind = SinkCall::Kind;

using Subscription = LiveTest;

TEST_F(Subscription, FirstReportHasEveryActiveItemThenOnlyChanges) {
  auto g = group(u"g", 1000, 42);
  ItemDefs defs;
  defs.add(u"Static.Int4", VT_EMPTY, u"", 1)
      .add(u"Writable.Int4", VT_EMPTY, u"", 2)
      .add(u"Ramp.Real8", VT_EMPTY, u"", 3)
      .add(u"Static.String", VT_EMPTY, u"", 4, false);
  add(g.get(), defs);
  auto sink = advisedSink(g.get());
  EXPECT_TRUE(sink->calls.empty()) << "nothing is called inside Advise";

  EXPECT_EQ(control->runScan(), 1u);
  ASSERT_EQ(sink->calls.size(), 1u);
  const SinkCall& first = sink->calls[0];
  EXPECT_EQ(first.kind, Kind::DataChange);
  EXPECT_EQ(first.transactionId, 0u);
  EXPECT_EQ(first.group, 42u);
  EXPECT_EQ(first.clients(), (std::vector<OPCHANDLE>{1, 2, 3}));
  EXPECT_EQ(first.find(1)->value, OleVariant(LONG(123456)));
  EXPECT_EQ(first.find(2)->value, OleVariant(LONG(0)));
  EXPECT_EQ(first.find(3)->value, OleVariant(0.0));
  for (const auto& item : first.items) {
    EXPECT_EQ(item.quality, OPC_QUALITY_GOOD);
    EXPECT_EQ(item.error, S_OK);
    EXPECT_EQ(ticks(item.timeStamp), ticks(kStart));
  }
  EXPECT_EQ(first.masterQuality, S_OK);
  EXPECT_EQ(first.masterError, S_OK);
  EXPECT_EQ(first.thread, std::this_thread::get_id());

  // Nothing is due before the update rate has passed; then only the ramp moved.
  EXPECT_EQ(control->advance(900ms), 0u);
  EXPECT_EQ(control->advance(100ms), 1u);
  ASSERT_EQ(sink->calls.size(), 2u);
  EXPECT_EQ(sink->calls[1].clients(), (std::vector<OPCHANDLE>{3}));
  EXPECT_EQ(sink->calls[1].find(3)->value, OleVariant(10.0));  // 0..100 over 10 s
  EXPECT_EQ(ticks(sink->calls[1].find(3)->timeStamp), ticks(plusMs(kStart, 1000)));

  ASSERT_EQ(control->setItemValue(u"Writable.Int4", OleVariant(LONG(7))), S_OK);
  control->advance(1000ms);
  ASSERT_EQ(sink->calls.size(), 3u);
  EXPECT_EQ(sink->calls[2].clients(), (std::vector<OPCHANDLE>{2, 3}));
  EXPECT_EQ(sink->calls[2].find(2)->value, OleVariant(LONG(7)));

  StatusBlock status;
  ASSERT_EQ(status.fetch(server.get()), S_OK);
  EXPECT_EQ(ticks(status->ftLastUpdateTime), ticks(plusMs(kStart, 2000)));
}

TEST_F(Subscription, EachGroupKeepsItsOwnRate) {
  auto fast = group(u"fast", 150, 1);  // revised to 200
  auto slow = group(u"slow", 1000, 2);
  ItemDefs defs;
  defs.add(u"Ramp.Real8", VT_EMPTY, u"", 10);
  add(fast.get(), defs);
  add(slow.get(), defs);
  auto fastSink = opc::makeCom<CallbackSink>();
  auto slowSink = opc::makeCom<CallbackSink>();
  advise(fast.get(), fastSink.get());
  advise(slow.get(), slowSink.get());

  control->runScan();
  control->advance(1000ms);
  ASSERT_EQ(fastSink->calls.size(), 6u);
  EXPECT_EQ(slowSink->calls.size(), 2u);
  for (std::size_t i = 0; i < fastSink->calls.size(); ++i) {
    EXPECT_EQ(fastSink->calls[i].group, 1u);
    EXPECT_EQ(ticks(fastSink->calls[i].items.at(0).timeStamp), ticks(plusMs(kStart, 200 * i)));
  }

  // A new rate counts from the next pass.
  DWORD rate = 500, revised = 0;
  ASSERT_EQ(slow.as<IOPCGroupStateMgt>()->SetState(&rate, &revised, nullptr, nullptr, nullptr,
                                                   nullptr, nullptr),
            S_OK);
  control->advance(100ms);
  EXPECT_EQ(slowSink->calls.size(), 3u);
  control->advance(500ms);
  EXPECT_EQ(slowSink->calls.size(), 4u);
}

TEST_F(Subscription, InactiveGroupsAndItemsStaySilentAndReportOnReactivation) {
  auto g = group(u"g", 1000, 7, false);
  const auto handles = add(g.get(), {{u"Ramp.Real8", 1}, {u"Writable.Int4", 2}});
  auto sink = advisedSink(g.get());
  control->runScan();
  control->advance(2000ms);
  EXPECT_TRUE(sink->calls.empty());

  BOOL active = TRUE;
  DWORD revised = 0;
  auto state = g.as<IOPCGroupStateMgt>();
  ASSERT_EQ(state->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr), S_OK);
  control->runScan();  // a reactivated group reports at once
  ASSERT_EQ(sink->calls.size(), 1u);
  EXPECT_EQ(sink->calls[0].clients(), (std::vector<OPCHANDLE>{1, 2}));

  opc::TaskOut<HRESULT> errors;
  ASSERT_EQ(g->SetActiveState(1, const_cast<OPCHANDLE*>(&handles[1]), FALSE, errors.put()), S_OK);
  control->setItemValue(u"Writable.Int4", OleVariant(LONG(5)));
  control->advance(1000ms);
  ASSERT_EQ(sink->calls.size(), 2u);
  EXPECT_EQ(sink->calls[1].clients(), (std::vector<OPCHANDLE>{1}));

  // Reactivated, the item is reported at the next scan.
  ASSERT_EQ(g->SetActiveState(1, const_cast<OPCHANDLE*>(&handles[1]), TRUE, errors.put()), S_OK);
  control->advance(1000ms);
  ASSERT_EQ(sink->calls.size(), 3u);
  EXPECT_EQ(sink->calls[2].clients(), (std::vector<OPCHANDLE>{1, 2}));
  EXPECT_EQ(sink->calls[2].find(2)->value, OleVariant(LONG(5)));

  active = FALSE;
  ASSERT_EQ(state->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr), S_OK);
  control->advance(3000ms);
  EXPECT_EQ(sink->calls.size(), 3u);
}

TEST_F(Subscription, DeadBandFiltersSmallAnalogMovesOnly) {
  SimulationOptions options;
  options.extendAddressSpace = [](AddressSpace& space) {
    const DWORD rw = OPC_READABLE | OPC_WRITEABLE;
    space.addItem(u"Plant.Level", VT_R8, rw, OleVariant(0.0))->euRange = EngineeringRange{0, 200};
    space.addItem(u"Plant.Count", VT_I4, rw, OleVariant(LONG(0)));
  };
  createLive(options);
  auto g = group(u"g", 100, 1, true, 10.0f);  // 10 % of 0..200: 20 units
  add(g.get(), {{u"Plant.Level", 1}, {u"Plant.Count", 2}});
  auto sink = advisedSink(g.get());
  control->runScan();
  ASSERT_EQ(sink->calls.size(), 1u);

  const auto levelTo = [&](double v) {
    control->setItemValue(u"Plant.Level", OleVariant(v));
    control->advance(100ms);
  };
  levelTo(15.0);  // |15 - 0| <= 20
  EXPECT_EQ(sink->calls.size(), 1u);
  levelTo(20.0);  // exactly the band: still nothing
  EXPECT_EQ(sink->calls.size(), 1u);
  levelTo(25.0);
  ASSERT_EQ(sink->calls.size(), 2u);
  EXPECT_EQ(sink->calls[1].find(1)->value, OleVariant(25.0));
  levelTo(40.0);  // 15 from the 25 last reported
  EXPECT_EQ(sink->calls.size(), 2u);
  levelTo(45.5);
  ASSERT_EQ(sink->calls.size(), 3u);
  EXPECT_EQ(sink->calls[2].find(1)->value, OleVariant(45.5));

  // Without a range any change counts; a quality change always does.
  control->setItemValue(u"Plant.Count", OleVariant(LONG(1)));
  control->advance(100ms);
  ASSERT_EQ(sink->calls.size(), 4u);
  EXPECT_EQ(sink->calls[3].clients(), (std::vector<OPCHANDLE>{2}));
  control->setItemQuality(u"Plant.Level", OPC_QUALITY_UNCERTAIN);
  levelTo(46.0);
  ASSERT_EQ(sink->calls.size(), 5u);
  EXPECT_EQ(sink->calls[4].find(1)->quality, OPC_QUALITY_UNCERTAIN);
}

TEST_F(Subscription, QualitiesOnDemandAreReportedAndRead) {
  auto g = group(u"g", 100, 1);
  const auto handles = add(g.get(), {{u"Static.Int4", 1}, {u"Static.Real8", 2}});
  auto sink = advisedSink(g.get());
  control->runScan();

  ASSERT_EQ(control->setItemQuality(u"Static.Int4", OPC_QUALITY_UNCERTAIN), S_OK);
  control->advance(100ms);
  ASSERT_EQ(sink->calls.size(), 2u);
  EXPECT_EQ(sink->calls[1].clients(), (std::vector<OPCHANDLE>{1}));
  EXPECT_EQ(sink->calls[1].find(1)->quality, OPC_QUALITY_UNCERTAIN);
  EXPECT_EQ(sink->calls[1].find(1)->value, OleVariant(LONG(123456)));
  EXPECT_EQ(sink->calls[1].masterQuality, S_FALSE);
  EXPECT_EQ(readOne(g.get(), handles[0], OPC_DS_CACHE).quality, OPC_QUALITY_UNCERTAIN);

  control->setItemQuality(u"Static.Int4", OPC_QUALITY_UNCERTAIN);  // no change, no report
  control->advance(100ms);
  EXPECT_EQ(sink->calls.size(), 2u);
  control->setItemQuality(u"Static.Int4", OPC_QUALITY_COMM_FAILURE);
  control->advance(100ms);
  ASSERT_EQ(sink->calls.size(), 3u);
  EXPECT_EQ(sink->calls[2].find(1)->quality, OPC_QUALITY_COMM_FAILURE);
  WORD q = 0;
  EXPECT_EQ(control->itemQuality(u"Static.Int4", q), S_OK);
  EXPECT_EQ(q, OPC_QUALITY_COMM_FAILURE);

  control->setItemQuality(u"Static.Int4", OPC_QUALITY_GOOD);
  control->advance(100ms);
  ASSERT_EQ(sink->calls.size(), 4u);
  EXPECT_EQ(sink->calls[3].masterQuality, S_OK);
  EXPECT_EQ(control->setItemQuality(u"No.Such", OPC_QUALITY_BAD), OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(control->itemQuality(u"No.Such", q), OPC_E_UNKNOWNITEMID);
}

TEST_F(Subscription, RequestedTypesAndFailedConversions) {
  auto g = group(u"g", 100, 1);
  ItemDefs defs;
  defs.add(u"Static.Int4", VT_BSTR, u"", 1).add(u"Static.Int4", VT_UI1, u"", 2);
  const auto handles = add(g.get(), defs);
  auto sink = advisedSink(g.get());
  control->runScan();
  ASSERT_EQ(sink->calls.size(), 1u);
  EXPECT_EQ(sink->calls[0].find(1)->value, OleVariant(u"123456"));
  const ItemUpdate* tooBig = sink->calls[0].find(2);
  EXPECT_EQ(tooBig->error, OPC_E_RANGE);
  EXPECT_EQ(tooBig->quality, OPC_QUALITY_BAD);
  EXPECT_TRUE(tooBig->value.isEmpty());
  EXPECT_EQ(sink->calls[0].masterError, S_FALSE);

  // A new requested type is reported at the next scan, value unchanged.
  VARTYPE real = VT_R8;
  opc::TaskOut<HRESULT> errors;
  ASSERT_EQ(g->SetDatatypes(1, const_cast<OPCHANDLE*>(&handles[0]), &real, errors.put()), S_OK);
  control->advance(100ms);
  ASSERT_EQ(sink->calls.size(), 2u);
  EXPECT_EQ(sink->calls[1].clients(), (std::vector<OPCHANDLE>{1}));
  EXPECT_EQ(sink->calls[1].find(1)->value, OleVariant(123456.0));
}

TEST_F(Subscription, NewItemsNewSinksAndDisabledCallbacks) {
  auto g = group(u"g", 1000, 1);
  ItemDefs first;
  first.add(u"Static.Int4", VT_EMPTY, u"", 1);
  add(g.get(), first);
  auto sink = opc::makeCom<CallbackSink>();
  const DWORD cookie = advise(g.get(), sink.get());
  control->runScan();
  ASSERT_EQ(sink->calls.size(), 1u);

  ItemDefs more;
  more.add(u"Static.Real8", VT_EMPTY, u"", 2);
  add(g.get(), more);
  control->advance(1000ms);
  ASSERT_EQ(sink->calls.size(), 2u);
  EXPECT_EQ(sink->calls[1].clients(), (std::vector<OPCHANDLE>{2}));

  // A group takes one callback; a new one hears of every item at once.
  auto other = opc::makeCom<CallbackSink>();
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(
      g.as<IConnectionPointContainer>()->FindConnectionPoint(IID_IOPCDataCallback, point.put()),
      S_OK);
  DWORD refused = 0;
  EXPECT_EQ(point->Advise(other->unknown(), &refused), CONNECT_E_ADVISELIMIT);
  ASSERT_EQ(unadvise(g.get(), cookie), S_OK);
  EXPECT_EQ(sink->refCount(), 1u) << "an unadvised sink is let go at once";
  advise(g.get(), other.get());
  control->runScan();
  ASSERT_EQ(other->calls.size(), 1u);
  EXPECT_EQ(other->calls[0].clients(), (std::vector<OPCHANDLE>{1, 2}));

  auto async = g.as<IOPCAsyncIO2>();
  ASSERT_EQ(async->SetEnable(FALSE), S_OK);
  BOOL enabled = TRUE;
  ASSERT_EQ(async->GetEnable(&enabled), S_OK);
  EXPECT_EQ(enabled, FALSE);
  control->setItemValue(u"Static.Int4", OleVariant(LONG(1)));
  control->advance(2000ms);
  EXPECT_EQ(other->calls.size(), 1u);
  ASSERT_EQ(async->SetEnable(TRUE), S_OK);
  control->advance(1000ms);
  ASSERT_EQ(other->calls.size(), 2u);
  EXPECT_EQ(other->calls[1].clients(), (std::vector<OPCHANDLE>{1, 2}));
  EXPECT_EQ(other->calls[1].find(1)->value, OleVariant(LONG(1)));
}

TEST_F(Subscription, SignalsFollowTheirShapes) {
  auto g = group(u"g", 1000, 1, false);
  ItemDefs defs;
  for (const char16_t* id :
       {u"Ramp.Real8", u"Ramp.Int4", u"Sine.Real8", u"Square.Boolean", u"Square.Real8",
        u"Triangle.Real8", u"Random.Real8", u"Random.String", u"Random.ArrayOfInt4"}) {
    defs.add(id);
  }
  const auto h = add(g.get(), defs);
  const auto at = [&](std::uint64_t ms, std::size_t item) {
    clock->set(plusMs(kStart, ms));
    ReadValue r = readOne(g.get(), h[item], OPC_DS_DEVICE);
    EXPECT_EQ(r.error, S_OK);
    return r;
  };
  EXPECT_EQ(at(2500, 0).value, OleVariant(25.0));
  EXPECT_EQ(at(2500, 1).value, OleVariant(LONG(25)));
  EXPECT_NEAR(at(2500, 2).value.get().dblVal, 100.0 * std::sin(3.14159265358979 / 4), 1e-9);
  EXPECT_EQ(at(2500, 3).value, OleVariant(false));
  EXPECT_EQ(at(2500, 5).value, OleVariant(25.0));
  EXPECT_EQ(at(7500, 0).value, OleVariant(75.0));
  EXPECT_EQ(at(7500, 3).value, OleVariant(true));
  EXPECT_EQ(at(7500, 4).value, OleVariant(100.0));
  EXPECT_EQ(at(7500, 5).value, OleVariant(75.0));
  EXPECT_EQ(at(12500, 0).value, OleVariant(25.0)) << "the ramp starts again";
  EXPECT_EQ(at(12500, 5).value, OleVariant(75.0)) << "the triangle falls";
  const ReadValue stamped = at(12500, 5);
  EXPECT_EQ(ticks(stamped.timeStamp), ticks(plusMs(kStart, 7500)))
      << "the triangle's value has not changed since 7.5 s";

  std::vector<double> randoms;
  for (std::uint64_t ms = 0; ms < 1000; ms += 100) {
    const double x = at(ms + 20000, 6).value.get().dblVal;
    EXPECT_GE(x, 0.0);
    EXPECT_LT(x, 100.0);
    randoms.push_back(x);
  }
  EXPECT_NE(randoms[0], randoms[1]);
  EXPECT_EQ(std::u16string_view(at(30000, 7).value.get().bstrVal).substr(0, 7), u"Random ");
  const OleVariant array = at(30000, 8).value;
  ASSERT_EQ(array.vt(), VT_ARRAY | VT_I4);
  for (ULONG i = 0; i < array.get().parray->rgsabound[0].cElements; ++i) {
    const LONG x = static_cast<const LONG*>(array.get().parray->pvData)[i];
    EXPECT_GE(x, 0);
    EXPECT_LE(x, 100);
  }

  // The same server made again repeats the random sequence.
  g.reset();
  createLive({});
  g = group(u"g", 1000, 1, false);
  const auto again = add(g.get(), defs);
  for (std::uint64_t ms = 0; ms < 1000; ms += 100) {
    clock->set(plusMs(kStart, ms + 20000));
    EXPECT_EQ(readOne(g.get(), again[6], OPC_DS_DEVICE).value.get().dblVal, randoms[ms / 100]);
  }
}

}  // namespace
}  // namespace veze6::sim::test
