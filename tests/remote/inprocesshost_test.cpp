// Remote creation and calls against a host in this process.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <sstream>
#include <thread>

#include "childprocess.h"
#include "hostfixture.h"
#include "opc/OPCCOMN.h"
#include "opc/OPCDA.h"
#include "opc/classregistry.h"
#include "opc/com.h"
#include "simulator/simulationcontrol.h"

namespace veze6::test {
namespace {

using InProcessHost = InProcessHostTest;

/// A server object's answers to the calls that hand back objects, texts and
/// per-id lists, as text.
std::string transcript(const ComPtr<IOPCServer>& server) {
  std::ostringstream out;
  const auto code = [&](HRESULT hr) -> std::ostream& {
    return out << '|' << std::hex << hr << ' ';
  };
  OPCHANDLE handle = 0;
  DWORD rate = 0;
  ComPtr<IUnknown> group, found;
  code(server->AddGroup(u"g", TRUE, 100, 1, nullptr, nullptr, 0, &handle, &rate, IID_IOPCItemMgt,
                        group.put()));
  code(server->GetGroupByName(u"g", IID_IOPCItemMgt, found.put())) << bool(found);
  code(server->GetGroupByName(u"none", IID_IOPCItemMgt, found.put())) << bool(found);
  opc::TaskString text;
  code(server->GetErrorString(OPC_E_INVALIDHANDLE, 0, text.put())) << opc::utf16ToUtf8(text.get());

  const auto properties = server.as<IOPCItemProperties>();
  auto* item = const_cast<LPWSTR>(u"Static.Nested Level.Int4");
  DWORD ids[3] = {OPC_PROP_VALUE, OPC_PROP_DESC, 4711};
  opc::TaskOut<VARIANT> values;
  opc::TaskOut<HRESULT> errors;
  code(properties->GetItemProperties(item, 3, ids, values.put(), errors.put()));
  for (DWORD i = 0; values && i < 3; ++i) code(errors[i]) << values[i].vt << ' ';
  for (DWORD i = 0; values && i < 3; ++i) VariantClear(&values[i]);
  opc::TaskOut<LPWSTR> itemIds;
  code(properties->LookupItemIDs(item, 3, ids, itemIds.put(), errors.put()));
  for (DWORD i = 0; itemIds && i < 3; ++i)
    code(errors[i]) << (itemIds[i] ? opc::utf16ToUtf8(itemIds[i]) : "-");
  for (DWORD i = 0; itemIds && i < 3; ++i) CoTaskMemFree(itemIds[i]);

  ComPtr<IEnumString> paths;
  code(server.as<IOPCBrowseServerAddressSpace>()->BrowseAccessPaths(item, paths.put()))
      << bool(paths);
  ComPtr<IEnumConnectionPoints> points;
  code(server.as<IConnectionPointContainer>()->EnumConnectionPoints(points.put()));
  ComPtr<IConnectionPoint> point;
  code(points->Next(1, point.put(), nullptr));
  ComPtr<IConnectionPointContainer> container;
  code(point->GetConnectionPointContainer(container.put())) << bool(container.as<IOPCServer>());
  group = nullptr;
  found = nullptr;
  code(server->RemoveGroup(handle, TRUE));
  return out.str();
}

TEST_F(InProcessHost, CreatesTheServerThereAndCallsIt) {
  {
    ComPtr<IOPCServer> server;
    ASSERT_EQ(createOn(computer, sim::CLSID_Veze6Simulation, server), S_OK);
    ASSERT_TRUE(server);
    opc::TaskOut<OPCSERVERSTATUS> status;
    ASSERT_EQ(server->GetStatus(status.put()), S_OK);
    EXPECT_EQ(status.get()->dwServerState, OPC_STATUS_RUNNING);
    ASSERT_NE(status.get()->szVendorInfo, nullptr);
    EXPECT_FALSE(std::u16string_view(status.get()->szVendorInfo).empty());
    CoTaskMemFree(status.get()->szVendorInfo);

    // One proxy per object: a listed interface comes from the same proxy.
    const auto common = server.as<IOPCCommon>();
    ASSERT_TRUE(common);
    EXPECT_EQ(common.as<IOPCServer>().get(), server.get());
    EXPECT_EQ(common->SetClientName(u"remote test"), S_OK);
  }
  EXPECT_TRUE(pumpUntil([&] { return log.count("released Veze6.Simulation.1") == 1; }));
  EXPECT_EQ(log.count("created Veze6.Simulation.1"), 1u);
}

TEST_F(InProcessHost, ServerObjectAnswersAsInProcess) {
  ComPtr<IOPCServer> local, remote;
  ASSERT_EQ(CoCreateInstance(sim::CLSID_Veze6Simulation, nullptr, CLSCTX_ALL, IID_IOPCServer,
                             reinterpret_cast<void**>(local.put())),
            S_OK);
  ASSERT_EQ(createOn(computer, sim::CLSID_Veze6Simulation, remote), S_OK);
  const std::string expected = transcript(local);
  EXPECT_EQ(transcript(remote), expected);
}

/// A sync read of one item on a server made on the host; the read's code.
HRESULT createAndRead(const std::u16string& computer) {
  ComPtr<IOPCServer> server;
  HRESULT hr = createOn(computer, sim::CLSID_Veze6Simulation, server);
  if (FAILED(hr)) return hr;
  OPCHANDLE group = 0;
  DWORD rate = 0;
  ComPtr<IUnknown> made;
  hr = server->AddGroup(u"g", TRUE, 100, 1, nullptr, nullptr, 0, &group, &rate, IID_IOPCItemMgt,
                        made.put());
  if (FAILED(hr)) return hr;
  OPCITEMDEF def{
      nullptr, const_cast<LPWSTR>(u"Static.Nested Level.Int4"), TRUE, 1, 0, nullptr, VT_EMPTY, 0};
  opc::TaskOut<OPCITEMRESULT> added;
  opc::TaskOut<HRESULT> errors;
  hr = made.as<IOPCItemMgt>()->AddItems(1, &def, added.put(), errors.put());
  if (FAILED(hr)) return hr;
  OPCHANDLE item = added[0].hServer;
  opc::TaskOut<OPCITEMSTATE> states;
  hr = made.as<IOPCSyncIO>()->Read(OPC_DS_DEVICE, 1, &item, states.put(), errors.put());
  if (states) VariantClear(&states[0].vDataValue);
  return hr;
}

TEST_F(InProcessHost, AServerThatBlocksHoldsUpNoOtherClient) {
  // The first server made blocks in its making until the test lets it go,
  // as a bridge does while its UA server does not answer.
  std::mutex mutex;
  std::condition_variable opened;
  bool open = false;  // guarded by mutex
  std::atomic<int> made{0};
  sim::ScopedCreationHook gate([&](sim::SimulationControl&) {
    if (made++ != 0) return;
    std::unique_lock lock(mutex);
    opened.wait(lock, [&] { return open; });
  });
  std::atomic<HRESULT> blocked{E_PENDING}, other{E_PENDING};
  std::thread a([&] { blocked = createAndRead(computer); });
  ASSERT_TRUE(pumpUntil([&] { return made.load() == 1; }));
  std::thread b([&] { other = createAndRead(computer); });
  EXPECT_TRUE(pumpUntil([&] { return other.load() != E_PENDING; }));
  EXPECT_EQ(other.load(), S_OK);
  EXPECT_EQ(blocked.load(), E_PENDING);
  {
    std::lock_guard lock(mutex);
    open = true;
  }
  opened.notify_all();
  a.join();
  b.join();
  EXPECT_EQ(blocked.load(), S_OK);
  EXPECT_TRUE(
      pumpUntil([&] { return host->connectionCount() == 0 && sim::liveServerCount() == 0; }));
}

/// Item properties that succeed with their values but without the errors
/// that go with them.
class HalfAnswers final : public opc::ComObject<IOPCItemProperties> {
 public:
  HRESULT QueryAvailableProperties(LPWSTR, DWORD* count, DWORD** ids, LPWSTR** texts,
                                   VARTYPE** types) override {
    *count = 1;
    *ids = nullptr;
    *texts = static_cast<LPWSTR*>(CoTaskMemAlloc(sizeof(LPWSTR)));
    (*texts)[0] = opc::taskStringDup(u"text");
    *types = nullptr;
    return S_OK;
  }
  HRESULT GetItemProperties(LPWSTR, DWORD count, DWORD*, VARIANT** values,
                            HRESULT** errors) override {
    *values = static_cast<VARIANT*>(CoTaskMemAlloc(count * sizeof(VARIANT)));
    for (DWORD i = 0; i < count; ++i) {
      (*values)[i].vt = VT_BSTR;
      (*values)[i].bstrVal = SysAllocString(u"value");
    }
    *errors = nullptr;
    return S_OK;
  }
  HRESULT LookupItemIDs(LPWSTR, DWORD count, DWORD*, LPWSTR** itemIds, HRESULT** errors) override {
    *itemIds = static_cast<LPWSTR*>(CoTaskMemAlloc(count * sizeof(LPWSTR)));
    for (DWORD i = 0; i < count; ++i) (*itemIds)[i] = opc::taskStringDup(u"id");
    *errors = nullptr;
    return S_OK;
  }
};

TEST_F(InProcessHost, HalfAnswersOfTheServerAreUnexpectedAndFreed) {
  const CLSID half{0x5a1f, 1, 2, {3}};
  opc::ClassRegistry::instance().registerClass(
      {half, u"", u"", {}, false, [](REFIID iid, void** ppv) {
         return opc::makeCom<HalfAnswers>()->QueryInterface(iid, ppv);
       }});
  {
    ComPtr<IOPCItemProperties> properties;
    ASSERT_EQ(createOn(computer, half, properties), S_OK);
    DWORD ids[2] = {1, 2};
    VARIANT* values = nullptr;
    LPWSTR* itemIds = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_EQ(properties->GetItemProperties(nullptr, 2, ids, &values, &errors), E_UNEXPECTED);
    EXPECT_EQ(properties->LookupItemIDs(nullptr, 2, ids, &itemIds, &errors), E_UNEXPECTED);
    DWORD count = 0;
    DWORD* propertyIds = nullptr;
    LPWSTR* texts = nullptr;
    VARTYPE* types = nullptr;
    EXPECT_EQ(properties->QueryAvailableProperties(nullptr, &count, &propertyIds, &texts, &types),
              E_UNEXPECTED);
  }
  // The fixture checks that what the server handed out was freed on the host.
  opc::ClassRegistry::instance().unregisterClass(half);
}

TEST_F(InProcessHost, UnknownClassAndUnreachableHostFail) {
  ComPtr<IOPCServer> server;
  EXPECT_EQ(createOn(computer, GUID{1, 2, 3, {4}}, server), REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(server);
  // Nothing listens on the port a closed host had.
  const std::u16string gone = computer;
  host.reset();
  EXPECT_EQ(createOn(gone, sim::CLSID_Veze6Simulation, server), HRESULT_RPC_S_SERVER_UNAVAILABLE);
  EXPECT_EQ(createOn(u"[::1", sim::CLSID_Veze6Simulation, server),
            HRESULT_RPC_S_SERVER_UNAVAILABLE);
}

TEST_F(InProcessHost, KilledClientProcess_HostReleasesWhatItHeld) {
  ChildProcess client(HOLDCLIENT_PATH, {opc::utf16ToUtf8(computer)});
  ASSERT_TRUE(pumpUntil([&] { return client.output().find("holding") != std::string::npos; },
                        std::chrono::seconds(20)));
  EXPECT_GT(opc::diag::snapshot().objects, leaks_.start().objects);
  client.stop(SIGKILL);
  // A closed connection frees at once what it held (the fixture checks that
  // every object is gone).
  const auto killed = std::chrono::steady_clock::now();
  ASSERT_TRUE(pumpUntil([&] { return log.count("closed") == 1; }));
  EXPECT_EQ(log.count("released Veze6.Simulation.1"), 1u);
  ASSERT_TRUE(pumpUntil([&] { return leaks_.balanced(); }));
  RecordProperty("release_ms", int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - killed)
                                       .count()));
}

TEST_F(InProcessHost, HundredConcurrentClients) {
  constexpr int kClients = 100;
  std::atomic<int> served{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&] {
      ComPtr<IOPCServer> server;
      if (FAILED(createOn(computer, sim::CLSID_Veze6Simulation, server))) return;
      opc::TaskOut<OPCSERVERSTATUS> status;
      if (server->GetStatus(status.put()) != S_OK) return;
      CoTaskMemFree(status.get()->szVendorInfo);
      ++served;
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(served.load(), kClients);
  EXPECT_TRUE(pumpUntil([&] { return log.count("closed") == kClients; }));
}

}  // namespace
}  // namespace veze6::test
