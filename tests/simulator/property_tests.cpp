#include <gmock/gmock.h>

#include "discovery_utils.h"
#include "opc/filetime.h"

namespace veze6::sim::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// 2024-03-15 12:00:00 UTC, as FILETIME ticks and as a date.
constexpr std::uint64_t kStartTicks = 133549776000000000ULL;
constexpr double kStartDate = 45366.5;

struct Listing {
  std::vector<DWORD> ids;
  std::vector<std::u16string> descriptions;
  std::vector<VARTYPE> types;
};

class Properties : public DiscoveryTest {
 protected:
  void prepare(SimulationOptions& options) override {
    options.clock = std::make_shared<ManualClock>(opc::fileTimeFromTicks(kStartTicks));
    options.baseScanRateMs = 250;
    options.extendAddressSpace = [](AddressSpace& space) {
      SimItem* item = space.addItem(u"Plant.Tank 1.Level", VT_R4, OPC_READABLE,
                                    OleVariant(FLOAT(12.5f)), opc::fileTimeFromTicks(kStartTicks));
      item->euRange = EngineeringRange{0.0, 250.0};
      item->euUnits = u"m\u00B3";
      item->description = u"Level of \"Tank 1\"";
    };
  }

  HRESULT query(std::u16string itemId, Listing& out) {
    DWORD count = 0;
    opc::TaskOut<DWORD> ids;
    opc::TaskOut<LPWSTR> texts;
    opc::TaskOut<VARTYPE> types;
    const HRESULT hr = properties->QueryAvailableProperties(itemId.data(), &count, ids.put(),
                                                            texts.put(), types.put());
    out = {};
    for (DWORD i = 0; i < count; ++i) {
      opc::TaskString text;
      *text.put() = texts[i];
      out.ids.push_back(ids[i]);
      out.descriptions.push_back(taskText(text));
      out.types.push_back(types[i]);
    }
    if (FAILED(hr)) {
      EXPECT_EQ(count, 0u);
      EXPECT_FALSE(ids || texts || types);
    }
    return hr;
  }

  HRESULT lookup(std::u16string itemId, std::vector<DWORD> pids, std::vector<std::u16string>& ids,
                 std::vector<HRESULT>& errors) {
    opc::TaskOut<LPWSTR> names;
    opc::TaskOut<HRESULT> errs;
    const HRESULT hr = properties->LookupItemIDs(itemId.data(), DWORD(pids.size()), pids.data(),
                                                 names.put(), errs.put());
    ids.clear();
    errors.clear();
    if (SUCCEEDED(hr)) {
      for (DWORD i = 0; i < pids.size(); ++i) {
        opc::TaskString name;
        *name.put() = names[i];
        ids.push_back(taskText(name));
        errors.push_back(errs[i]);
      }
    } else {
      EXPECT_FALSE(names || errs);
    }
    return hr;
  }
};

TEST_F(Properties, AnalogItemsListTheEngineeringUnitProperties) {
  Listing l;
  ASSERT_EQ(query(u"Random.Int4", l), S_OK);
  EXPECT_THAT(l.ids,
              ElementsAreArray<DWORD>({1, 2, 3, 4, 5, 6, 7, 8, 100, 101, 102, 103, 104, 105}));
  EXPECT_THAT(
      l.descriptions,
      ElementsAreArray({u"Item Canonical DataType", u"Item Value", u"Item Quality",
                        u"Item Timestamp", u"Item Access Rights", u"Server Scan Rate",
                        u"Item EU Type", u"Item EUInfo", u"EU Units", u"Item Description",
                        u"High EU", u"Low EU", u"High Instrument Range", u"Low Instrument Range"}));
  EXPECT_THAT(l.types, ElementsAreArray<VARTYPE>({VT_I2, VT_I4, VT_I2, VT_DATE, VT_I4, VT_R4, VT_I4,
                                                  VT_ARRAY | VT_R8, VT_BSTR, VT_BSTR, VT_R8, VT_R8,
                                                  VT_R8, VT_R8}));
}

TEST_F(Properties, ContactLabelsForBooleansAndTheTimezoneForDates) {
  Listing l;
  ASSERT_EQ(query(u"Static.Boolean", l), S_OK);
  EXPECT_THAT(l.ids, ElementsAreArray<DWORD>({1, 2, 3, 4, 5, 6, 7, 8, 101, 106, 107}));
  EXPECT_EQ(l.descriptions[9], u"Contact Close Label");
  EXPECT_EQ(l.descriptions[10], u"Contact Open Label");
  EXPECT_EQ(l.types[7], VT_EMPTY);  // no engineering units: no EU info
  ASSERT_EQ(query(u"Static.Date", l), S_OK);
  EXPECT_THAT(l.ids, ElementsAreArray<DWORD>({1, 2, 3, 4, 5, 6, 7, 8, 101, 108}));
  EXPECT_EQ(l.descriptions.back(), u"Item Timezone");
}

TEST_F(Properties, StandardValues) {
  PropertyValues v;
  ASSERT_EQ(v.fetch(properties.get(), u"Plant.Tank 1.Level",
                    {1, 2, 3, 4, 5, 6, 7, 8, 100, 101, 102, 103, 104, 105}),
            S_OK);
  for (DWORD i = 0; i < v.count; ++i) EXPECT_EQ(v.error(i), S_OK);
  EXPECT_EQ(v.value(0).vt, VT_I2);
  EXPECT_EQ(v.value(0).iVal, VT_R4);
  EXPECT_EQ(OleVariant(v.value(1)), OleVariant(FLOAT(12.5f)));
  EXPECT_EQ(OleVariant(v.value(2)), OleVariant(SHORT(OPC_QUALITY_GOOD)));
  EXPECT_EQ(v.value(3).vt, VT_DATE);
  EXPECT_DOUBLE_EQ(v.value(3).date, kStartDate);  // the time stamp, in UTC
  EXPECT_EQ(OleVariant(v.value(4)), OleVariant(LONG(OPC_READABLE)));
  EXPECT_EQ(OleVariant(v.value(5)), OleVariant(FLOAT(250.0f)));
  EXPECT_EQ(OleVariant(v.value(6)), OleVariant(LONG(OPC_ANALOG)));
  EXPECT_EQ(OleVariant(v.value(7)), OleVariant::array(VT_R8, {OleVariant(0.0), OleVariant(250.0)}));
  EXPECT_EQ(OleVariant(v.value(8)), OleVariant(u"m\u00B3"));
  EXPECT_EQ(OleVariant(v.value(9)), OleVariant(u"Level of \"Tank 1\""));
  EXPECT_EQ(OleVariant(v.value(10)), OleVariant(250.0));
  EXPECT_EQ(OleVariant(v.value(11)), OleVariant(0.0));
  EXPECT_EQ(OleVariant(v.value(12)), OleVariant(250.0));
  EXPECT_EQ(OleVariant(v.value(13)), OleVariant(0.0));
}

TEST_F(Properties, ValuesFollowTheItem) {
  PropertyValues v;
  ASSERT_EQ(control->setItemValue(u"Writable.Int4", OleVariant(LONG(77))), S_OK);
  ASSERT_EQ(control->setItemQuality(u"Writable.Int4", OPC_QUALITY_LAST_USABLE), S_OK);
  ASSERT_EQ(v.fetch(properties.get(), u"Writable.Int4", {2, 3, 5, 7, 8}), S_OK);
  EXPECT_EQ(OleVariant(v.value(0)), OleVariant(LONG(77)));
  EXPECT_EQ(OleVariant(v.value(1)), OleVariant(SHORT(OPC_QUALITY_LAST_USABLE)));
  EXPECT_EQ(OleVariant(v.value(2)), OleVariant(LONG(OPC_READABLE | OPC_WRITEABLE)));
  EXPECT_EQ(OleVariant(v.value(3)), OleVariant(LONG(OPC_NOENUM)));
  EXPECT_EQ(v.value(4).vt, VT_EMPTY);

  ASSERT_EQ(v.fetch(properties.get(), u"Static.Boolean", {106, 107}), S_OK);
  EXPECT_EQ(OleVariant(v.value(0)), OleVariant(u"On"));
  EXPECT_EQ(OleVariant(v.value(1)), OleVariant(u"Off"));
}

TEST_F(Properties, OneUnknownPropertyAmongFour) {
  PropertyValues v;
  ASSERT_EQ(v.fetch(properties.get(), u"Static.Int4", {1, 2, 102, 5}), S_FALSE);
  EXPECT_EQ(v.error(0), S_OK);
  EXPECT_EQ(v.error(1), S_OK);
  EXPECT_EQ(v.error(2), OPC_E_INVALID_PID);  // Static items have no engineering units
  EXPECT_EQ(v.value(2).vt, VT_EMPTY);
  EXPECT_EQ(v.error(3), S_OK);
  EXPECT_EQ(OleVariant(v.value(1)), OleVariant(LONG(123456)));

  ASSERT_EQ(v.fetch(properties.get(), u"Static.Int4", {0, 9, 5000, 0xFFFFFFFF}), S_FALSE);
  for (DWORD i = 0; i < 4; ++i) EXPECT_EQ(v.error(i), OPC_E_INVALID_PID);
}

TEST_F(Properties, UnknownOrMalformedItemsFailTheWholeCall) {
  Listing l;
  EXPECT_EQ(query(u"Static.Missing", l), OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(query(u"Static", l), OPC_E_UNKNOWNITEMID);  // a branch is no item
  EXPECT_EQ(query(u"Static.", l), OPC_E_INVALIDITEMID);
  EXPECT_EQ(query(std::u16string(3000, u'x'), l), OPC_E_INVALIDITEMID);
  DWORD count = 7;
  DWORD* ids = nullptr;
  LPWSTR* texts = nullptr;
  VARTYPE* types = nullptr;
  EXPECT_EQ(properties->QueryAvailableProperties(nullptr, &count, &ids, &texts, &types),
            OPC_E_INVALIDITEMID);
  EXPECT_EQ(count, 0u);
  std::u16string id = u"Static.Int4";
  EXPECT_EQ(properties->QueryAvailableProperties(id.data(), nullptr, &ids, &texts, &types),
            E_INVALIDARG);

  PropertyValues v;
  EXPECT_EQ(v.fetch(properties.get(), u"Static.Missing", {1, 2}), OPC_E_UNKNOWNITEMID);
  EXPECT_FALSE(v.values || v.errors);
  EXPECT_EQ(v.fetch(properties.get(), u"Static.Int4", {}), E_INVALIDARG);
  std::vector<std::u16string> found;
  std::vector<HRESULT> errors;
  EXPECT_EQ(lookup(u"Nowhere.Int4", {100}, found, errors), OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(lookup(u"Random.Int4", {}, found, errors), E_INVALIDARG);
}

TEST_F(Properties, LookupGivesItemIdsOnlyToPropertiesThatHaveThem) {
  std::vector<std::u16string> ids;
  std::vector<HRESULT> errors;
  ASSERT_EQ(lookup(u"Random.Int4", {1, 100, 102, 103, 106, 2}, ids, errors), S_FALSE);
  EXPECT_THAT(ids, ElementsAre(u"", u"Random.Int4.EUUnits", u"Random.Int4.HighEU",
                               u"Random.Int4.LowEU", u"", u""));
  EXPECT_THAT(errors, ElementsAre(OPC_E_INVALID_PID, S_OK, S_OK, S_OK, OPC_E_INVALID_PID,
                                  OPC_E_INVALID_PID));
  ASSERT_EQ(lookup(u"Plant.Tank 1.Level", {101, 104, 105}, ids, errors), S_OK);
  EXPECT_THAT(ids, ElementsAre(u"Plant.Tank 1.Level.Description", u"Plant.Tank 1.Level.HighIR",
                               u"Plant.Tank 1.Level.LowIR"));
  ASSERT_EQ(lookup(u"Static.Date", {108}, ids, errors), S_OK);
  EXPECT_THAT(ids, ElementsAre(u"Static.Date.TimeZone"));
}

TEST_F(Properties, PropertyItemIdsAreReadableItems) {
  OleVariant value;
  ASSERT_EQ(control->itemValue(u"Plant.Tank 1.Level.HighEU", value), S_OK);
  EXPECT_EQ(value, OleVariant(250.0));
  ASSERT_EQ(control->itemValue(u"Plant.Tank 1.Level.EUUnits", value), S_OK);
  EXPECT_EQ(value, OleVariant(u"m\u00B3"));
  EXPECT_EQ(control->itemValue(u"Static.Int4.HighEU", value), OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(control->itemValue(u"Random.Int4.NoSuchProperty", value), OPC_E_UNKNOWNITEMID);

  // A client adds them like any item: read-only, with the property's type.
  ComPtr<IOPCItemMgt> group = addGroup(u"Properties");
  ASSERT_TRUE(group);
  ItemDefs defs;
  defs.add(u"Random.Int4.LowEU").add(u"Static.Boolean.CloseLabel").add(u"Static.Int4.LowEU");
  ItemResults results;
  ASSERT_EQ(validateItems(group.get(), defs, results), S_FALSE);
  EXPECT_EQ(results.errors[0], S_OK);
  EXPECT_EQ(results.results[0].vtCanonicalDataType, VT_R8);
  EXPECT_EQ(results.results[0].dwAccessRights, OPC_READABLE);
  EXPECT_EQ(results.errors[1], S_OK);
  EXPECT_EQ(results.results[1].vtCanonicalDataType, VT_BSTR);
  EXPECT_EQ(results.errors[2], OPC_E_UNKNOWNITEMID);

  // Their own properties are the standard ones only.
  Listing l;
  ASSERT_EQ(query(u"Random.Int4.LowEU", l), S_OK);
  EXPECT_THAT(l.ids, ElementsAreArray<DWORD>({1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(l.descriptions.size(), 8u);
  std::vector<std::u16string> ids;
  std::vector<HRESULT> errors;
  ASSERT_EQ(lookup(u"Random.Int4.LowEU", {101}, ids, errors), S_FALSE);
  EXPECT_EQ(errors[0], OPC_E_INVALID_PID);
}

TEST_F(Properties, InjectedFailuresReturnNoArrays) {
  control->failCall(SimCall::GetItemProperties, E_OUTOFMEMORY, 1);
  PropertyValues v;
  EXPECT_EQ(v.fetch(properties.get(), u"Static.Int4", {1}), E_OUTOFMEMORY);
  EXPECT_FALSE(v.values || v.errors);
  EXPECT_EQ(v.fetch(properties.get(), u"Static.Int4", {1}), S_OK);
}

}  // namespace
}  // namespace veze6::sim::test
