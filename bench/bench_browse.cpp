// The cost of listing a flat address space of 100,000 items: the browser's
// ShowLeafs(true) against the simulation server's own enumeration (the
// BrowseOPCItemIDs call and reading its enumerator directly, strings freed).
// Names per second are the items/s column; the browser's ratio to the
// server's own cost is the ratio of the two times.
#include <benchmark/benchmark.h>

#include "benchserver.h"
#include "core/qOPC.h"

namespace {

constexpr int kItems = 100000;

// A class of its own: the simulation server with only the benchmark's items,
// presented flat.
constexpr CLSID kFlatServer{
    0x7B1C2E40, 0x5D3A, 0x4F60, {0x9A, 0x11, 0x2C, 0x44, 0x8E, 0x01, 0xB7, 0x5F}};

QString registerFlatServer() {
  return bench::registerServer(kFlatServer, u"veze6 benchmark: flat address space", [] {
    veze6::sim::SimulationOptions options;
    options.defaultItems = false;
    options.flatAddressSpace = true;
    options.extendAddressSpace = [](veze6::sim::AddressSpace& space) {
      const OleVariant zero(LONG(0));
      for (int i = 0; i < kItems; ++i) {
        const std::u16string id = u"Plant.Unit" + opc::utf8ToUtf16(std::to_string(i / 1000)) +
                                  u".Tag" + opc::utf8ToUtf16(std::to_string(i));
        space.addItem(id, VT_I4, OPC_READABLE, zero);
      }
    };
    return options;
  });
}

TqOPCServer& connectedServer() {
  static TqOPCServer* server = [] {
    auto* s = new TqOPCServer();  // lives for the whole benchmark run
    s->SetServer(registerFlatServer());
    s->SetActive(true);
    return s;
  }();
  return *server;
}

ComPtr<IOPCBrowseServerAddressSpace> rawBrowse() {
  return connectedServer().GetOPCServer().as<IOPCBrowseServerAddressSpace>();
}

// The server's own cost: the listing call and every name taken out of the
// enumerator and freed, `batch` names per Next call.
void rawEnumeration(benchmark::State& state, ULONG batch) {
  const ComPtr<IOPCBrowseServerAddressSpace> browse = rawBrowse();
  std::vector<LPOLESTR> names(batch);
  std::size_t count = 0;
  for (auto _ : state) {
    ComPtr<IEnumString> e;
    browse->BrowseOPCItemIDs(OPC_FLAT, u"", VT_EMPTY, 0, e.put());
    count = 0;
    for (;;) {
      ULONG fetched = 0;
      const HRESULT hr = e->Next(batch, names.data(), &fetched);
      for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(names[i]);
      count += fetched;
      if (hr != S_OK) break;
    }
    benchmark::DoNotOptimize(count);
  }
  if (count != kItems) state.SkipWithError("the server did not list every item");
  state.SetItemsProcessed(state.iterations() * kItems);
}

void BM_ServerEnumeration_Batch256(benchmark::State& state) { rawEnumeration(state, 256); }
BENCHMARK(BM_ServerEnumeration_Batch256)->Unit(benchmark::kMillisecond);

void BM_ServerEnumeration_OneAtATime(benchmark::State& state) { rawEnumeration(state, 1); }
BENCHMARK(BM_ServerEnumeration_OneAtATime)->Unit(benchmark::kMillisecond);

void BM_BrowserShowLeafsFlat(benchmark::State& state) {
  TqOPCBrowser& browser = *connectedServer().Browser();
  for (auto _ : state) {
    browser.ShowLeafs(true);
    benchmark::DoNotOptimize(browser.GetCount());
  }
  if (browser.GetCount() != kItems) state.SkipWithError("the browser did not list every item");
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_BrowserShowLeafsFlat)->Unit(benchmark::kMillisecond);

}  // namespace
