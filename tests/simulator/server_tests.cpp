// The server object as a client sees it: registration and creation, status,
// error texts, OPC Common, the shutdown connection point, DA 1.0 mode, and
// the control interface's failure injection.
#include <cmath>
#include <thread>

#include "opc/filetime.h"
#include "test_utils.h"

namespace veze6::sim::test {
namespace {

using RegistrationTest = veze6::test::LeakCheckedTest;

std::uint64_t ticks(const FILETIME& ft) { return opc::fileTimeTicks(ft); }

TEST_F(RegistrationTest, ProgIdsResolveToServersOfTheirVersion) {
  registerSimulationServer();
  registerSimulationServer();  // idempotent
  auto& registry = opc::ClassRegistry::instance();
  std::size_t entries = 0;
  for (const auto& e : registry.entries()) {
    if (e.clsid == CLSID_Veze6Simulation || e.clsid == CLSID_Veze6SimulationDA10) ++entries;
  }
  EXPECT_EQ(entries, 2u);

  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"veze6.simulation.1", &clsid), S_OK);  // case-insensitive
  EXPECT_EQ(clsid, CLSID_Veze6Simulation);
  const auto entry = registry.find(CLSID_Veze6Simulation);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->userType, kSimulationUserType);
  EXPECT_TRUE(entry->opcMarker);
  EXPECT_EQ(entry->categories, (std::vector<CATID>{CATID_OPCDAServer10, CATID_OPCDAServer20}));
  const auto da10 = registry.find(CLSID_Veze6SimulationDA10);
  ASSERT_TRUE(da10);
  EXPECT_EQ(da10->progId, kSimulationDA10ProgId);
  EXPECT_EQ(da10->categories, std::vector<CATID>{CATID_OPCDAServer10});

  const auto before = opc::diag::snapshot();
  {
    ComPtr<IOPCServer> full, old;
    ASSERT_EQ(CoCreateInstance(CLSID_Veze6Simulation, nullptr, CLSCTX_ALL, IID_IOPCServer,
                               full.putVoid()),
              S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_Veze6SimulationDA10, nullptr, CLSCTX_ALL, IID_IOPCServer,
                               old.putVoid()),
              S_OK);
    EXPECT_TRUE(full.as<IOPCCommon>());
    EXPECT_FALSE(old.as<IOPCCommon>());
    EXPECT_EQ(liveServerCount(), 2u);
  }
  EXPECT_EQ(liveServerCount(), 0u);
  EXPECT_EQ(opc::diag::snapshot().objects, before.objects);

  unregisterSimulationServer();
  EXPECT_EQ(CLSIDFromProgID(u"Veze6.Simulation.1", &clsid), CO_E_CLASSSTRING);
  registerSimulationServer();
  EXPECT_EQ(CLSIDFromProgID(u"Veze6.Simulation.DA10.1", &clsid), S_OK);
}

using Status = SimulatorTest;

TEST_F(Status, RunningWithSystemTimesVersionsAndGroupCount) {
  const auto before = ticks(opc::fileTimeNow());
  StatusBlock status;
  ASSERT_EQ(status.fetch(server.get()), S_OK);
  ASSERT_TRUE(status);
  const auto after = ticks(opc::fileTimeNow());

  EXPECT_EQ(status->dwServerState, OPC_STATUS_RUNNING);
  EXPECT_LE(ticks(status->ftStartTime), ticks(status->ftCurrentTime));
  EXPECT_GE(ticks(status->ftCurrentTime), before);
  EXPECT_LE(ticks(status->ftCurrentTime), after);
  EXPECT_NE(ticks(status->ftLastUpdateTime), 0u);
  EXPECT_EQ(status->wMajorVersion, kSimulationMajorVersion);
  EXPECT_EQ(status->wMinorVersion, kSimulationMinorVersion);
  EXPECT_EQ(status->wBuildNumber, kSimulationBuildNumber);
  EXPECT_EQ(status->dwGroupCount, 0u);
  EXPECT_EQ(status.vendorText(), SimulationOptions{}.vendorInfo);

  auto g1 = addGroup(u"one");
  auto g2 = addGroup(u"two");
  StatusBlock again;
  ASSERT_EQ(again.fetch(server.get()), S_OK);
  EXPECT_EQ(again->dwGroupCount, 2u);
}

TEST_F(Status, FollowsTheControlInterface) {
  const FILETIME noon = opc::fileTimeFromTicks(133000000000000000ULL);
  auto clock = std::make_shared<ManualClock>(noon);
  control->setClock(clock);
  control->setStartTime(opc::fileTimeFromTicks(132000000000000000ULL));
  control->setLastUpdateTime(FILETIME{0, 0});
  control->setServerState(OPC_STATUS_FAILED);
  control->setVendorInfo(u"Pr\u00fcfstand \u2603");
  clock->advance(std::chrono::milliseconds(1500));

  StatusBlock status;
  ASSERT_EQ(status.fetch(server.get()), S_OK);
  EXPECT_EQ(ticks(status->ftCurrentTime), 133000000000000000ULL + 15000000ULL);
  EXPECT_EQ(ticks(status->ftStartTime), 132000000000000000ULL);
  EXPECT_EQ(ticks(status->ftLastUpdateTime), 0u);
  EXPECT_EQ(status->dwServerState, OPC_STATUS_FAILED);
  EXPECT_EQ(control->serverState(), OPC_STATUS_FAILED);
  EXPECT_EQ(status.vendorText(), u"Pr\u00fcfstand \u2603");
}

TEST_F(Status, HostileAndFailingServer) {
  control->setQuirk(Quirk::NullStatus, true);
  OPCSERVERSTATUS* raw = reinterpret_cast<OPCSERVERSTATUS*>(1);
  EXPECT_EQ(server->GetStatus(&raw), S_OK);
  EXPECT_EQ(raw, nullptr);
  control->setQuirk(Quirk::NullStatus, false);

  control->setQuirk(Quirk::NullVendorInfo, true);
  {
    StatusBlock status;
    ASSERT_EQ(status.fetch(server.get()), S_OK);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->szVendorInfo, nullptr);
  }
  control->setQuirk(Quirk::NullVendorInfo, false);

  control->failCall(SimCall::GetStatus, E_FAIL, 1);
  raw = reinterpret_cast<OPCSERVERSTATUS*>(1);
  EXPECT_EQ(server->GetStatus(&raw), E_FAIL);
  EXPECT_EQ(raw, nullptr);
  StatusBlock status;
  EXPECT_EQ(status.fetch(server.get()), S_OK);  // the failure was for one call
  EXPECT_EQ(control->callCount(SimCall::GetStatus), 4u);
  EXPECT_EQ(server->GetStatus(nullptr), E_INVALIDARG);
}

using ErrorStrings = SimulatorTest;

TEST_F(ErrorStrings, OwnTextsSystemTextsAndUnknownCodes) {
  opc::TaskString text;
  ASSERT_EQ(server->GetErrorString(OPC_E_UNKNOWNITEMID, 0, text.put()), S_OK);
  EXPECT_EQ(taskText(text), u"The item is no longer available in the server address space.");
  ASSERT_EQ(server->GetErrorString(OPC_S_UNSUPPORTEDRATE, 1033, text.put()), S_OK);
  EXPECT_EQ(taskText(text).find(u'\n'), std::u16string::npos);  // one line, unlike clients'
  ASSERT_EQ(server->GetErrorString(E_FAIL, 0, text.put()), S_OK);
  EXPECT_EQ(taskText(text), opc::utf8ToUtf16(opc::systemErrorText(E_FAIL)));

  EXPECT_EQ(server->GetErrorString(hresult(0xC0040002), 0, text.put()), E_INVALIDARG);
  EXPECT_FALSE(text);
  EXPECT_EQ(server->GetErrorString(OPC_E_BADTYPE, 1031, text.put()), E_INVALIDARG);
  EXPECT_FALSE(text);
  EXPECT_EQ(server->GetErrorString(OPC_E_BADTYPE, 0, nullptr), E_INVALIDARG);

  auto common = server.as<IOPCCommon>();
  ASSERT_TRUE(common);
  ASSERT_EQ(common->GetErrorString(OPC_E_DUPLICATENAME, text.put()), S_OK);
  EXPECT_EQ(taskText(text), u"Duplicate name not allowed.");
  EXPECT_EQ(common->GetErrorString(hresult(0xC004000D), text.put()), E_INVALIDARG);
}

using Common = SimulatorTest;

TEST_F(Common, LocalesZeroAndEnglishOnly) {
  auto common = server.as<IOPCCommon>();
  ASSERT_TRUE(common);
  LCID lcid = 99;
  ASSERT_EQ(common->GetLocaleID(&lcid), S_OK);
  EXPECT_EQ(lcid, 0u);
  EXPECT_EQ(common->SetLocaleID(1033), S_OK);
  EXPECT_EQ(control->localeId(), 1033u);
  EXPECT_EQ(common->SetLocaleID(1031), E_INVALIDARG);
  EXPECT_EQ(common->SetLocaleID(0x800), E_INVALIDARG);
  ASSERT_EQ(common->GetLocaleID(&lcid), S_OK);
  EXPECT_EQ(lcid, 1033u);
  EXPECT_EQ(common->SetLocaleID(0), S_OK);
  EXPECT_EQ(control->localeId(), 0u);
  EXPECT_EQ(common->GetLocaleID(nullptr), E_INVALIDARG);

  DWORD count = 0;
  opc::TaskOut<LCID> ids;
  ASSERT_EQ(common->QueryAvailableLocaleIDs(&count, ids.put()), S_OK);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(ids[0], 0u);
  EXPECT_EQ(ids[1], 1033u);
}

TEST_F(Common, ClientNameIsStored) {
  auto common = server.as<IOPCCommon>();
  EXPECT_EQ(control->clientName(), u"");
  EXPECT_EQ(common->SetClientName(u"Leitstand \u00c4 \U0001F600"), S_OK);
  EXPECT_EQ(control->clientName(), u"Leitstand \u00c4 \U0001F600");
  EXPECT_EQ(common->SetClientName(nullptr), E_INVALIDARG);
  EXPECT_EQ(control->clientName(), u"Leitstand \u00c4 \U0001F600");

  control->failCall(SimCall::SetClientName, E_ACCESSDENIED, 2);
  EXPECT_EQ(common->SetClientName(u"a"), E_ACCESSDENIED);
  EXPECT_EQ(common->SetClientName(u"b"), E_ACCESSDENIED);
  EXPECT_EQ(control->clientName(), u"Leitstand \u00c4 \U0001F600");
  EXPECT_EQ(common->SetClientName(u"c"), S_OK);
  EXPECT_EQ(control->clientName(), u"c");
}

using Shutdown = SimulatorTest;

TEST_F(Shutdown, AdviseRequestUnadvise) {
  auto container = server.as<IConnectionPointContainer>();
  ASSERT_TRUE(container);
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(IID_IOPCShutdown, point.put()), S_OK);
  IID iid{};
  EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, IID_IOPCShutdown);
  ComPtr<IConnectionPoint> none;
  EXPECT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, none.put()),
            CONNECT_E_NOCONNECTION);
  EXPECT_FALSE(none);

  ComPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(container->EnumConnectionPoints(points.put()), S_OK);
  IConnectionPoint* listed[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(points->Next(2, listed, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(listed[0], point.get());
  listed[0]->Release();

  auto sink = opc::makeCom<ShutdownSink>();
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(sink->unknown(), &cookie), S_OK);
  EXPECT_EQ(control->shutdownSinkCount(), 1u);
  EXPECT_EQ(control->requestShutdown(u"maintenance"), 1u);
  ASSERT_EQ(sink->reasons.size(), 1u);
  EXPECT_EQ(sink->reasons[0], u"maintenance");
  EXPECT_EQ(sink->threads[0], std::this_thread::get_id());

  EXPECT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(control->requestShutdown(u"again"), 0u);
  EXPECT_EQ(sink->reasons.size(), 1u);
}

TEST_F(Shutdown, ServerReleaseLetsSinksGoAndLeavesPointSafe) {
  auto sink = opc::makeCom<ShutdownSink>();
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(
      server.as<IConnectionPointContainer>()->FindConnectionPoint(IID_IOPCShutdown, point.put()),
      S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(sink->unknown(), &cookie), S_OK);
  EXPECT_EQ(sink->refCount(), 2u);
  control.reset();
  server.reset();
  EXPECT_EQ(liveServerCount(), 0u);
  EXPECT_EQ(sink->refCount(), 1u);  // the server let its reference go
  ComPtr<IConnectionPointContainer> container;
  EXPECT_TRUE(FAILED(point->GetConnectionPointContainer(container.put())));
  EXPECT_FALSE(container);
}

TEST_F(Shutdown, RequestFromAnotherThreadRunsInTheServersApartment) {
  auto apartment = std::make_shared<opc::ManualApartment>();
  opc::Apartment::setCurrent(apartment);
  struct Uninstall {
    ~Uninstall() { opc::Apartment::setCurrent(nullptr); }
  } uninstall;
  createServer({});  // created in the apartment
  auto sink = opc::makeCom<ShutdownSink>();
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(
      server.as<IConnectionPointContainer>()->FindConnectionPoint(IID_IOPCShutdown, point.put()),
      S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(sink->unknown(), &cookie), S_OK);

  std::size_t called = 0;
  std::thread worker([&] { called = control->requestShutdown(u"from a worker"); });
  worker.join();
  EXPECT_EQ(called, 1u);
  EXPECT_TRUE(sink->reasons.empty());  // posted, not called on the worker
  EXPECT_EQ(apartment->runPending(), 1u);
  ASSERT_EQ(sink->reasons.size(), 1u);
  EXPECT_EQ(sink->reasons[0], u"from a worker");
  EXPECT_EQ(sink->threads[0], std::this_thread::get_id());

  // On the apartment's own thread the call is direct.
  control->requestShutdown(u"direct");
  EXPECT_EQ(sink->reasons.size(), 2u);
}

using DA10 = SimulatorTest;

TEST_F(DA10, RefusesTheDA2InterfacesButServesGroups) {
  EXPECT_TRUE(server.as<IConnectionPointContainer>());
  EXPECT_TRUE(server.as<IOPCCommon>());
  EXPECT_FALSE(control->isDA10Only());

  SimulationOptions options;
  options.da10Only = true;
  createServer(options);
  EXPECT_TRUE(control->isDA10Only());
  ComPtr<IUnknown> refused;
  EXPECT_EQ(server->QueryInterface(IID_IConnectionPointContainer, refused.putVoid()),
            E_NOINTERFACE);
  EXPECT_EQ(server->QueryInterface(IID_IOPCCommon, refused.putVoid()), E_NOINTERFACE);
  EXPECT_EQ(server->QueryInterface(IID_IOPCItemProperties, refused.putVoid()), E_NOINTERFACE);
  EXPECT_FALSE(refused);

  StatusBlock status;
  ASSERT_EQ(status.fetch(server.get()), S_OK);
  opc::TaskString text;
  EXPECT_EQ(server->GetErrorString(OPC_E_INVALIDHANDLE, 0, text.put()), S_OK);
  HRESULT hr = E_FAIL;
  auto group = addGroup(u"old", 500, 1, &hr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_TRUE(group.as<IOPCGroupStateMgt>());
}

using Control = SimulatorTest;

TEST_F(Control, CallNamesRoundTrip) {
  for (std::size_t i = 0; i < kSimCallCount; ++i) {
    const auto call = static_cast<SimCall>(i);
    const auto name = simCallName(call);
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(simCallFromName(name), call) << name;
  }
  EXPECT_EQ(simCallFromName("AddItems"), SimCall::AddItems);
  EXPECT_FALSE(simCallFromName("additems"));
  EXPECT_FALSE(simCallFromName(""));
}

TEST_F(Control, InjectedFailureHasNoEffectUntilCleared) {
  control->failCall(SimCall::AddGroup, E_OUTOFMEMORY);
  for (int i = 0; i < 3; ++i) {
    HRESULT hr = S_OK;
    EXPECT_FALSE(addGroup(u"g", 1000, 0, &hr));
    EXPECT_EQ(hr, E_OUTOFMEMORY);
  }
  EXPECT_EQ(control->groupCount(), 0u);
  EXPECT_EQ(control->liveGroupCount(), 0u);
  control->clearFailure(SimCall::AddGroup);
  HRESULT hr = E_FAIL;
  EXPECT_TRUE(addGroup(u"g", 1000, 0, &hr));
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(control->callCount(SimCall::AddGroup), 4u);

  control->failCall(SimCall::GetErrorString, RPC_E_DISCONNECTED);
  control->failCall(SimCall::SetLocaleID, E_FAIL);
  control->clearFailures();
  opc::TaskString text;
  EXPECT_EQ(server->GetErrorString(OPC_E_RANGE, 0, text.put()), S_OK);
  EXPECT_EQ(server.as<IOPCCommon>()->SetLocaleID(1033), S_OK);
}

TEST_F(Control, CreationHookPreparesNewServers) {
  std::size_t seen = 0;
  {
    ScopedCreationHook hook([&](SimulationControl& c) {
      ++seen;
      c.failCall(SimCall::GetStatus, E_ACCESSDENIED);
      c.setBaseScanRate(250);
    });
    registerSimulationServer();
    ComPtr<IOPCServer> created;
    ASSERT_EQ(CoCreateInstance(CLSID_Veze6Simulation, nullptr, CLSCTX_ALL, IID_IOPCServer,
                               created.putVoid()),
              S_OK);
    EXPECT_EQ(seen, 1u);
    StatusBlock status;
    EXPECT_EQ(status.fetch(created.get()), E_ACCESSDENIED);
    EXPECT_FALSE(status);
    EXPECT_EQ(created.as<SimulationControl>()->baseScanRate(), 250u);
  }
  ComPtr<IOPCServer> plain = createSimulationServer();
  EXPECT_EQ(seen, 1u);
  StatusBlock status;
  EXPECT_EQ(status.fetch(plain.get()), S_OK);
}

}  // namespace
}  // namespace veze6::sim::test
