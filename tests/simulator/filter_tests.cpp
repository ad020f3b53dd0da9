#include <gmock/gmock.h>

#include "discovery_utils.h"

namespace veze6::sim::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAreArray;

// A branch whose item names exercise every part of the filter syntax, and
// one with known types and rights.
class Filters : public DiscoveryTest {
 protected:
  void prepare(SimulationOptions& options) override {
    options.extendAddressSpace = [](AddressSpace& space) {
      for (const char16_t* name :
           {u"Tank1", u"Tank12", u"tank2", u"TankA", u"Valve_A", u"Pump#3", u"Star*Name", u"Why?",
            u"Box[1]", u"Dash-Item", u"Excl!am", u"Tank 7", u"\u00C4rger"}) {
        space.addItem(std::u16string(u"Names.") + name, VT_I4, OPC_READABLE, OleVariant(LONG(1)));
      }
      const DWORD rw = OPC_READABLE | OPC_WRITEABLE;
      space.addItem(u"Types.Text", VT_BSTR, OPC_READABLE, OleVariant(u"abc"));
      space.addItem(u"Types.NumericText", VT_BSTR, rw, OleVariant(u"12"));
      space.addItem(u"Types.Number", VT_I4, rw, OleVariant(LONG(5)));
      space.addItem(u"Types.List", VT_ARRAY | VT_I4, OPC_READABLE,
                    OleVariant::array(VT_I4, {OleVariant(LONG(1)), OleVariant(LONG(2))}));
      space.addItem(u"Types.WriteOnly", VT_I4, OPC_WRITEABLE, OleVariant(LONG(0)));
    };
  }

  std::vector<std::u16string> names(const std::u16string& filter, HRESULT* hr = nullptr) {
    EXPECT_EQ(move(OPC_BROWSE_TO, u"Names"), S_OK);
    return list(OPC_LEAF, filter, VT_EMPTY, 0, hr);
  }
};

TEST_F(Filters, WildcardsDigitsAndLists) {
  struct Case {
    std::u16string filter;
    std::vector<std::u16string> expected;
  };
  const Case cases[] = {
      {u"Tank?", {u"Tank1", u"TankA"}},
      {u"Tank#", {u"Tank1"}},
      {u"Tank#*", {u"Tank1", u"Tank12"}},
      {u"Tank##", {u"Tank12"}},
      {u"[Tt]ank#", {u"Tank1", u"tank2"}},
      {u"[!T]*",
       {u"tank2", u"Valve_A", u"Pump#3", u"Star*Name", u"Why?", u"Box[1]", u"Dash-Item", u"Excl!am",
        u"\u00C4rger"}},
      {u"[a-z]*", {u"tank2"}},
      {u"[P-S]*", {u"Pump#3", u"Star*Name"}},
      {u"*[*]*", {u"Star*Name"}},
      {u"*[?]", {u"Why?"}},
      {u"*[#]#", {u"Pump#3"}},
      {u"Box[[]1]", {u"Box[1]"}},
      {u"*]", {u"Box[1]"}},
      {u"*[-]*", {u"Dash-Item"}},
      {u"*[-_]*", {u"Valve_A", u"Dash-Item"}},
      {u"*!*", {u"Excl!am"}},
      {u"Tank *", {u"Tank 7"}},
      {u"?rger", {u"\u00C4rger"}},
      {u"*A", {u"TankA", u"Valve_A"}},
      {u"**a**m", {u"Dash-Item", u"Excl!am"}},
      {u"Tank1", {u"Tank1"}},
      {u"tank1", {}},  // case counts
  };
  for (const auto& c : cases) {
    HRESULT hr = E_FAIL;
    EXPECT_THAT(names(c.filter, &hr), UnorderedElementsAreArray(c.expected))
        << opc::utf16ToUtf8(c.filter);
    EXPECT_EQ(hr, c.expected.empty() ? S_FALSE : S_OK) << opc::utf16ToUtf8(c.filter);
  }
  EXPECT_EQ(names(u"").size(), 13u);
  EXPECT_EQ(names(u"*").size(), 13u);
}

TEST_F(Filters, MalformedFiltersAreRefused) {
  for (const std::u16string& filter : std::vector<std::u16string>{
           u"[", u"Tank[1", u"[]", u"[!]", u"[z-a]", u"*[9-0]", std::u16string(5000, u'*')}) {
    HRESULT hr = S_OK;
    EXPECT_THAT(names(filter, &hr), IsEmpty());
    EXPECT_EQ(hr, OPC_E_INVALIDFILTER) << opc::utf16ToUtf8(filter.substr(0, 20));
  }
}

TEST_F(Filters, HostileFiltersEndQuicklyAndMatchNothing) {
  // Backtracking over many stars stays polynomial.
  std::u16string stars;
  for (int i = 0; i < 2000; ++i) stars += u"*a";
  stars += u"b";
  HRESULT hr = S_OK;
  EXPECT_THAT(names(stars, &hr), IsEmpty());
  EXPECT_EQ(hr, S_FALSE);
  // A control character, lone surrogates and a range of them.
  const std::u16string odd = {u'\u0001', char16_t(0xD800), u'\uFFFF', u'[', char16_t(0xDC00),
                              u'-',      char16_t(0xDFFF), u']'};
  EXPECT_THAT(names(odd, &hr), IsEmpty());
  EXPECT_EQ(hr, S_FALSE);
}

TEST_F(Filters, FlatListingsFilterTheFullIds) {
  ASSERT_EQ(move(OPC_BROWSE_TO, u"Names"), S_OK);
  EXPECT_THAT(list(OPC_FLAT, u"Names.Tank#"), ElementsAre(u"Names.Tank1"));
  EXPECT_THAT(list(OPC_FLAT, u"Tank#"), IsEmpty());
}

TEST_F(Filters, BranchesAreFilteredByNameOnly) {
  EXPECT_THAT(list(OPC_BRANCH, u"T*"), ElementsAre(u"Triangle", u"Types"));
  // Type and rights filters concern items; branches pass them.
  EXPECT_THAT(list(OPC_BRANCH, u"Ty*", VT_DATE, OPC_WRITEABLE), ElementsAre(u"Types"));
}

TEST_F(Filters, DataTypeFilterKeepsItemsWhoseValueConverts) {
  ASSERT_EQ(move(OPC_BROWSE_TO, u"Types"), S_OK);
  EXPECT_EQ(list(OPC_LEAF, u"", VT_EMPTY).size(), 5u);
  EXPECT_THAT(list(OPC_LEAF, u"", VT_I4),
              UnorderedElementsAreArray({u"NumericText", u"Number", u"WriteOnly"}));
  EXPECT_THAT(list(OPC_LEAF, u"", VT_ARRAY | VT_I4), ElementsAre(u"List"));
  EXPECT_THAT(list(OPC_LEAF, u"*Text", VT_BSTR), ElementsAre(u"Text", u"NumericText"));
  HRESULT hr = S_OK;
  EXPECT_THAT(list(OPC_LEAF, u"", VARTYPE(0x7777), 0, &hr), IsEmpty());
  EXPECT_EQ(hr, S_FALSE);
}

TEST_F(Filters, AccessRightsFilterWantsEveryRightOfTheMask) {
  ASSERT_EQ(move(OPC_BROWSE_TO, u"Types"), S_OK);
  EXPECT_EQ(list(OPC_LEAF, u"", VT_EMPTY, 0).size(), 5u);
  EXPECT_THAT(list(OPC_LEAF, u"", VT_EMPTY, OPC_READABLE),
              ElementsAreArray({u"Text", u"NumericText", u"Number", u"List"}));
  EXPECT_THAT(list(OPC_LEAF, u"", VT_EMPTY, OPC_WRITEABLE),
              ElementsAreArray({u"NumericText", u"Number", u"WriteOnly"}));
  EXPECT_THAT(list(OPC_LEAF, u"", VT_EMPTY, OPC_READABLE | OPC_WRITEABLE),
              ElementsAreArray({u"NumericText", u"Number"}));
  EXPECT_THAT(list(OPC_LEAF, u"N*", VT_BSTR, OPC_READABLE | OPC_WRITEABLE),
              ElementsAre(u"NumericText", u"Number"));
  ASSERT_EQ(move(OPC_BROWSE_TO, u"Static"), S_OK);
  HRESULT hr = S_OK;
  EXPECT_THAT(list(OPC_LEAF, u"", VT_EMPTY, OPC_WRITEABLE, &hr), IsEmpty());
  EXPECT_EQ(hr, S_FALSE);
}

}  // namespace
}  // namespace veze6::sim::test
