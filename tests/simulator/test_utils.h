// Shared helpers of the simulator tests: a fixture that creates a server and
// checks that every block the server handed out was freed, and item
// definitions.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "common/leakcheck.h"
#include "common/sinks.h"
#include "opc/com.h"
#include "simulator/simulator.h"

namespace veze6::sim::test {

using namespace veze6::test;

/// Item definitions for AddItems/ValidateItems; keeps the strings alive.
class ItemDefs {
 public:
  ItemDefs& add(std::u16string itemId, VARTYPE requested = VT_EMPTY, std::u16string path = u"",
                OPCHANDLE client = 0, bool active = true) {
    entries_.push_back({std::move(itemId), std::move(path), requested, client, active, false});
    return *this;
  }
  /// An entry whose item id pointer is null.
  ItemDefs& addNullId() {
    entries_.push_back({u"", u"", VT_EMPTY, 0, true, true});
    return *this;
  }
  OPCITEMDEF* data() {
    defs_.clear();
    for (auto& e : entries_) {
      OPCITEMDEF d{};
      d.szAccessPath = e.path.data();
      d.szItemID = e.nullId ? nullptr : e.id.data();
      d.bActive = e.active ? TRUE : FALSE;
      d.hClient = e.client;
      d.vtRequestedDataType = e.requested;
      defs_.push_back(d);
    }
    return defs_.data();
  }
  DWORD size() const { return static_cast<DWORD>(entries_.size()); }

 private:
  struct Entry {
    std::u16string id;
    std::u16string path;
    VARTYPE requested;
    OPCHANDLE client;
    bool active;
    bool nullId;
  };
  std::deque<Entry> entries_;
  std::vector<OPCITEMDEF> defs_;
};

/// Creates a server per test; at the end releases it and checks that every
/// block the server handed out was freed.
class SimulatorTest : public veze6::test::LeakCheckedTest {
 protected:
  void SetUp() override { createServer({}); }

  void TearDown() override {
    control.reset();
    server.reset();
    EXPECT_EQ(liveServerCount(), 0u);
  }

  void createServer(const SimulationOptions& options) {
    control.reset();
    server = createSimulationServer(options);
    control = server.as<SimulationControl>();
    ASSERT_TRUE(control);
  }

  /// Adds a group and returns its IOPCItemMgt (empty on failure, hr tells).
  ComPtr<IOPCItemMgt> addGroup(const std::u16string& name, DWORD rate = 1000, OPCHANDLE client = 0,
                               HRESULT* hr = nullptr, OPCHANDLE* serverHandle = nullptr,
                               DWORD* revised = nullptr) {
    OPCHANDLE h = 0;
    DWORD r = 0;
    ComPtr<IUnknown> unk;
    LONG bias = 0;
    FLOAT deadband = 0.0f;
    const HRESULT result = server->AddGroup(name.c_str(), TRUE, rate, client, &bias, &deadband, 0,
                                            &h, &r, IID_IOPCItemMgt, unk.put());
    if (hr) *hr = result;
    if (serverHandle) *serverHandle = h;
    if (revised) *revised = r;
    return unk.as<IOPCItemMgt>();
  }

  ComPtr<IOPCServer> server;
  ComPtr<SimulationControl> control;
};

/// Task memory arrays of one AddItems/ValidateItems call.
struct ItemResults {
  opc::TaskOut<OPCITEMRESULT> results;
  opc::TaskOut<HRESULT> errors;
};

inline HRESULT addItems(IOPCItemMgt* group, ItemDefs& defs, ItemResults& out) {
  return group->AddItems(defs.size(), defs.data(), out.results.put(), out.errors.put());
}

inline HRESULT validateItems(IOPCItemMgt* group, ItemDefs& defs, ItemResults& out) {
  return group->ValidateItems(defs.size(), defs.data(), FALSE, out.results.put(), out.errors.put());
}

/// A status block from GetStatus and its vendor text, both freed at the end.
struct StatusBlock {
  HRESULT fetch(IOPCServer* server) {
    vendor.put();
    const HRESULT hr = server->GetStatus(block.put());
    if (block) *vendor.put() = block.get()->szVendorInfo;
    return hr;
  }
  const OPCSERVERSTATUS* operator->() const { return block.get(); }
  explicit operator bool() const { return static_cast<bool>(block); }
  std::u16string vendorText() const { return vendor ? std::u16string(vendor.get()) : u""; }

  opc::TaskOut<OPCSERVERSTATUS> block;
  opc::TaskString vendor;
};

inline std::u16string taskText(const opc::TaskString& s) {
  return s ? std::u16string(s.get()) : std::u16string();
}

}  // namespace veze6::sim::test
