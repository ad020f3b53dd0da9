// Helpers of the tests of the live server: a fixture with manual scans, a
// manual clock and a manual apartment (the recording sinks are common).
#pragma once

#include <initializer_list>
#include <utility>
#include <vector>

#include "common/pump.h"
#include "opc/apartment.h"
#include "opc/filetime.h"
#include "test_utils.h"

namespace veze6::sim::test {

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

  /// Adds active items of their canonical types, each id with its client
  /// handle.
  std::vector<OPCHANDLE> add(IOPCItemMgt* g,
                             std::initializer_list<std::pair<std::u16string, OPCHANDLE>> items) {
    ItemDefs defs;
    for (const auto& [id, client] : items) defs.add(id, VT_EMPTY, u"", client);
    return add(g, defs);
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

  /// A callback sink advised on the group.
  ComPtr<CallbackSink> advisedSink(IOPCItemMgt* g) {
    auto sink = opc::makeCom<CallbackSink>();
    advise(g, sink.get());
    return sink;
  }

  /// The server's current value of an item.
  OleVariant valueOf(std::u16string_view id) {
    OleVariant v;
    EXPECT_EQ(control->itemValue(id, v), S_OK);
    return v;
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
