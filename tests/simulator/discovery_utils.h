// Helpers of the discovery tests (browsing, filters, item properties): a
// fixture holding the server's browse and property interfaces, and guards
// for the arrays those calls return.
#pragma once

#include <string>
#include <vector>

#include "test_utils.h"

namespace veze6::sim::test {

/// Reads an enumerator to its end, one string a call, freeing each.
inline std::vector<std::u16string> readAll(IEnumString* e) {
  std::vector<std::u16string> out;
  if (!e) return out;
  for (;;) {
    LPOLESTR s = nullptr;
    ULONG fetched = 0;
    if (e->Next(1, &s, &fetched) != S_OK) break;
    opc::TaskString guard;
    *guard.put() = s;
    out.emplace_back(s ? s : u"");
  }
  return out;
}

/// The value and error arrays of GetItemProperties; clears the values.
struct PropertyValues {
  ~PropertyValues() { clear(); }
  void clear() {
    if (values) {
      for (DWORD i = 0; i < count; ++i) VariantClear(&values.get()[i]);
    }
    values.put();
    errors.put();
  }
  HRESULT fetch(IOPCItemProperties* props, std::u16string itemId, std::vector<DWORD> ids) {
    clear();
    count = DWORD(ids.size());
    return props->GetItemProperties(itemId.data(), count, ids.data(), values.put(), errors.put());
  }
  const VARIANT& value(DWORD i) const { return values.get()[i]; }
  HRESULT error(DWORD i) const { return errors.get()[i]; }

  DWORD count = 0;
  opc::TaskOut<VARIANT> values;
  opc::TaskOut<HRESULT> errors;
};

/// A server with manual scans (values stand still) and its discovery
/// interfaces.
class DiscoveryTest : public SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    SimulationOptions options;
    options.manualScan = true;
    prepare(options);
    use(options);
  }
  void TearDown() override {
    browser.reset();
    properties.reset();
    SimulatorTest::TearDown();
  }

  /// Lets a test suite adjust the options of the server made in SetUp.
  virtual void prepare(SimulationOptions&) {}

  void use(const SimulationOptions& options) {
    browser.reset();
    properties.reset();
    createServer(options);
    browser = server.as<IOPCBrowseServerAddressSpace>();
    properties = server.as<IOPCItemProperties>();
  }

  /// BrowseOPCItemIDs at the current position; the call's result in *hr.
  std::vector<std::u16string> list(OPCBROWSETYPE type, const std::u16string& filter = u"",
                                   VARTYPE vt = VT_EMPTY, DWORD rights = 0, HRESULT* hr = nullptr) {
    ComPtr<IEnumString> e;
    const HRESULT r = browser->BrowseOPCItemIDs(type, filter.c_str(), vt, rights, e.put());
    if (hr) *hr = r;
    EXPECT_EQ(SUCCEEDED(r), bool(e));
    return readAll(e.get());
  }

  HRESULT move(OPCBROWSEDIRECTION direction, const std::u16string& where = u"") {
    return browser->ChangeBrowsePosition(direction, where.c_str());
  }

  /// GetItemID of a name at the current position ("" on failure).
  std::u16string itemId(std::u16string name, HRESULT* hr = nullptr) {
    opc::TaskString id;
    const HRESULT r = browser->GetItemID(name.data(), id.put());
    if (hr) *hr = r;
    return taskText(id);
  }

  ComPtr<IOPCBrowseServerAddressSpace> browser;
  ComPtr<IOPCItemProperties> properties;
};

}  // namespace veze6::sim::test
