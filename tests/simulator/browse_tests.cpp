#include <gmock/gmock.h>

#include "discovery_utils.h"

namespace veze6::sim::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::IsSupersetOf;

using Browse = DiscoveryTest;

TEST_F(Browse, HierarchicalByDefaultWithTheStandardBranches) {
  OPCNAMESPACETYPE type = OPC_NS_FLAT;
  ASSERT_EQ(browser->QueryOrganization(&type), S_OK);
  EXPECT_EQ(type, OPC_NS_HIERARCHIAL);
  EXPECT_THAT(list(OPC_BRANCH), IsSupersetOf({u"Random", u"Ramp", u"Sine", u"Square", u"Triangle",
                                              u"Static", u"Writable"}));
  HRESULT hr = E_FAIL;
  EXPECT_THAT(list(OPC_LEAF, u"", VT_EMPTY, 0, &hr), IsEmpty());  // no items at the root
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(browser->QueryOrganization(nullptr), E_INVALIDARG);
}

TEST_F(Browse, WalksDownAndUpThroughABranchNameWithABlank) {
  ASSERT_EQ(move(OPC_BROWSE_DOWN, u"Static"), S_OK);
  EXPECT_THAT(list(OPC_BRANCH), ElementsAre(u"Nested Level"));
  EXPECT_THAT(list(OPC_LEAF), IsSupersetOf({u"Int4", u"String", u"ArrayOfReal8"}));
  ASSERT_EQ(move(OPC_BROWSE_DOWN, u"Nested Level"), S_OK);
  EXPECT_THAT(list(OPC_LEAF), ElementsAre(u"Int4", u"String"));
  EXPECT_EQ(itemId(u""), u"Static.Nested Level");
  ASSERT_EQ(move(OPC_BROWSE_DOWN, u"Deeper"), S_OK);
  EXPECT_THAT(list(OPC_LEAF), ElementsAre(u"Real8"));
  EXPECT_THAT(list(OPC_BRANCH), IsEmpty());

  ASSERT_EQ(move(OPC_BROWSE_UP), S_OK);
  EXPECT_EQ(itemId(u""), u"Static.Nested Level");
  ASSERT_EQ(move(OPC_BROWSE_UP), S_OK);
  ASSERT_EQ(move(OPC_BROWSE_UP), S_OK);
  EXPECT_EQ(itemId(u""), u"");
  EXPECT_EQ(move(OPC_BROWSE_UP), E_FAIL);  // already at the root
  EXPECT_EQ(itemId(u""), u"");
}

TEST_F(Browse, RefusedMovesLeaveThePositionAlone) {
  ASSERT_EQ(move(OPC_BROWSE_DOWN, u"Static"), S_OK);
  EXPECT_EQ(move(OPC_BROWSE_DOWN, u"Nowhere"), E_INVALIDARG);
  EXPECT_EQ(move(OPC_BROWSE_DOWN, u"Int4"), E_INVALIDARG);          // a leaf, not a branch
  EXPECT_EQ(move(OPC_BROWSE_DOWN, u"nested level"), E_INVALIDARG);  // names are exact
  EXPECT_EQ(move(OPC_BROWSE_DOWN, u"Nested Level.Deeper"), E_INVALIDARG);
  EXPECT_EQ(move(OPC_BROWSE_DOWN, u""), E_INVALIDARG);
  EXPECT_EQ(browser->ChangeBrowsePosition(OPC_BROWSE_DOWN, nullptr), E_INVALIDARG);
  EXPECT_EQ(move(OPC_BROWSE_TO, u"Static.Int4"), E_INVALIDARG);  // an item, not a branch
  EXPECT_EQ(move(OPC_BROWSE_TO, u"Static..Nested Level"), E_INVALIDARG);
  EXPECT_EQ(move(OPC_BROWSE_TO, std::u16string(5000, u'A')), E_INVALIDARG);
  EXPECT_EQ(move(OPCBROWSEDIRECTION(7), u"Static"), E_INVALIDARG);
  EXPECT_EQ(itemId(u""), u"Static");
}

TEST_F(Browse, ToJumpsToAFullBranchPathAndEmptyIsTheRoot) {
  ASSERT_EQ(move(OPC_BROWSE_TO, u"Static.Nested Level.Deeper"), S_OK);
  EXPECT_THAT(list(OPC_LEAF), ElementsAre(u"Real8"));
  ASSERT_EQ(move(OPC_BROWSE_TO, u"Writable"), S_OK);
  EXPECT_EQ(itemId(u""), u"Writable");
  ASSERT_EQ(move(OPC_BROWSE_TO, u""), S_OK);
  EXPECT_EQ(itemId(u""), u"");
  ASSERT_EQ(move(OPC_BROWSE_TO, u"Static"), S_OK);
  ASSERT_EQ(browser->ChangeBrowsePosition(OPC_BROWSE_TO, nullptr), S_OK);
  EXPECT_EQ(itemId(u""), u"");
}

TEST_F(Browse, FlatListingBelowThePositionGivesFullIds) {
  ASSERT_EQ(move(OPC_BROWSE_TO, u"Static.Nested Level"), S_OK);
  EXPECT_THAT(list(OPC_FLAT),
              ElementsAre(u"Static.Nested Level.Int4", u"Static.Nested Level.String",
                          u"Static.Nested Level.Deeper.Real8"));
  ASSERT_EQ(move(OPC_BROWSE_TO, u""), S_OK);
  const auto all = list(OPC_FLAT);
  EXPECT_THAT(all, IsSupersetOf({u"Random.Int4", u"Static.Nested Level.Deeper.Real8",
                                 u"Writable.ArrayOfString"}));
  // Every listed id is an item a client can add.
  for (const auto& id : all) {
    OleVariant v;
    EXPECT_EQ(control->itemValue(id, v), S_OK) << opc::utf16ToUtf8(id);
  }
}

TEST_F(Browse, ItemIdsOfNamesAtThePosition) {
  ASSERT_EQ(move(OPC_BROWSE_TO, u"Static"), S_OK);
  EXPECT_EQ(itemId(u"Int4"), u"Static.Int4");
  EXPECT_EQ(itemId(u"Nested Level"), u"Static.Nested Level");  // a branch has one too
  EXPECT_EQ(itemId(u"Random.Int4"), u"Random.Int4");           // full ids pass unchanged
  HRESULT hr = S_OK;
  EXPECT_EQ(itemId(u"Nowhere", &hr), u"");
  EXPECT_EQ(hr, E_INVALIDARG);
  itemId(std::u16string(5000, u'x'), &hr);
  EXPECT_EQ(hr, E_INVALIDARG);
  itemId(u"Int4\u0001", &hr);
  EXPECT_EQ(hr, E_INVALIDARG);
  std::u16string name = u"Int4";
  EXPECT_EQ(browser->GetItemID(name.data(), nullptr), E_INVALIDARG);
}

TEST_F(Browse, EachServerObjectHasItsOwnPosition) {
  ComPtr<IOPCServer> second = createSimulationServer();
  auto other = second.as<IOPCBrowseServerAddressSpace>();
  ASSERT_TRUE(other);
  ASSERT_EQ(move(OPC_BROWSE_TO, u"Static.Nested Level"), S_OK);
  ASSERT_EQ(other->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Writable"), S_OK);
  EXPECT_EQ(itemId(u""), u"Static.Nested Level");
  opc::TaskString there;
  std::u16string empty;
  ASSERT_EQ(other->GetItemID(empty.data(), there.put()), S_OK);
  EXPECT_EQ(taskText(there), u"Writable");
}

TEST_F(Browse, AccessPathsOfAnItem) {
  ComPtr<IEnumString> e;
  ASSERT_EQ(browser->BrowseAccessPaths(u"Static.Int4", e.put()), S_OK);
  EXPECT_THAT(readAll(e.get()), ElementsAre(u"Primary", u"Secondary"));
  EXPECT_EQ(browser->BrowseAccessPaths(u"Static.Missing", e.put()), OPC_E_UNKNOWNITEMID);
  EXPECT_FALSE(e);
  EXPECT_EQ(browser->BrowseAccessPaths(u"Static", e.put()), OPC_E_UNKNOWNITEMID);  // a branch
  EXPECT_EQ(browser->BrowseAccessPaths(u"Static..Int4", e.put()), OPC_E_INVALIDITEMID);
  EXPECT_EQ(browser->BrowseAccessPaths(nullptr, e.put()), OPC_E_INVALIDITEMID);
  EXPECT_EQ(browser->BrowseAccessPaths(u"Static.Int4", nullptr), E_INVALIDARG);
}

TEST_F(Browse, BadListingArguments) {
  IEnumString* e = reinterpret_cast<IEnumString*>(1);
  EXPECT_EQ(browser->BrowseOPCItemIDs(OPCBROWSETYPE(0), u"", VT_EMPTY, 0, &e), E_INVALIDARG);
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(browser->BrowseOPCItemIDs(OPCBROWSETYPE(4), u"", VT_EMPTY, 0, &e), E_INVALIDARG);
  EXPECT_EQ(browser->BrowseOPCItemIDs(OPC_LEAF, u"", VT_EMPTY, 0, nullptr), E_INVALIDARG);
  // A null filter is the empty one.
  ComPtr<IEnumString> all;
  ASSERT_EQ(browser->BrowseOPCItemIDs(OPC_BRANCH, nullptr, VT_EMPTY, 0, all.put()), S_OK);
  EXPECT_FALSE(readAll(all.get()).empty());
}

TEST_F(Browse, PropertyItemsAreReadableButNeverListed) {
  OleVariant high;
  ASSERT_EQ(control->itemValue(u"Random.Int4.HighEU", high), S_OK);
  ASSERT_EQ(move(OPC_BROWSE_TO, u"Random"), S_OK);
  for (const auto& name : list(OPC_FLAT)) EXPECT_EQ(name.find(u"HighEU"), std::u16string::npos);
  EXPECT_THAT(list(OPC_BRANCH), IsEmpty());  // Random.Int4 does not become a branch
}

TEST_F(Browse, InjectedFailuresAreCounted) {
  control->failCall(SimCall::BrowseOPCItemIDs, E_OUTOFMEMORY, 1);
  HRESULT hr = S_OK;
  EXPECT_THAT(list(OPC_BRANCH, u"", VT_EMPTY, 0, &hr), IsEmpty());
  EXPECT_EQ(hr, E_OUTOFMEMORY);
  EXPECT_FALSE(list(OPC_BRANCH).empty());
  EXPECT_EQ(control->callCount(SimCall::BrowseOPCItemIDs), 2u);
  EXPECT_EQ(simCallFromName("LookupItemIDs"), SimCall::LookupItemIDs);
}

// ---- Flat on request ------------------------------------------------------------

class FlatBrowse : public DiscoveryTest {
 protected:
  void prepare(SimulationOptions& options) override { options.flatAddressSpace = true; }
};

TEST_F(FlatBrowse, ListsEveryItemIdAndHasNoPositions) {
  OPCNAMESPACETYPE type = OPC_NS_HIERARCHIAL;
  ASSERT_EQ(browser->QueryOrganization(&type), S_OK);
  EXPECT_EQ(type, OPC_NS_FLAT);
  EXPECT_TRUE(control->flatAddressSpace());

  HRESULT hr = S_OK;
  EXPECT_THAT(list(OPC_BRANCH, u"", VT_EMPTY, 0, &hr), IsEmpty());
  EXPECT_EQ(hr, S_FALSE);
  const auto leaves = list(OPC_LEAF);
  EXPECT_EQ(leaves, list(OPC_FLAT));
  EXPECT_THAT(leaves, IsSupersetOf({u"Random.Int4", u"Static.Nested Level.Deeper.Real8"}));

  EXPECT_EQ(move(OPC_BROWSE_DOWN, u"Static"), E_FAIL);
  EXPECT_EQ(move(OPC_BROWSE_TO, u""), E_FAIL);
  EXPECT_EQ(move(OPC_BROWSE_UP), E_FAIL);
  EXPECT_EQ(itemId(u"Static.Int4"), u"Static.Int4");
  HRESULT idHr = S_OK;
  itemId(u"Static", &idHr);  // branches are no names of a flat space
  EXPECT_EQ(idHr, E_INVALIDARG);
}

TEST_F(Browse, SwitchingToFlatReturnsToTheRoot) {
  ASSERT_EQ(move(OPC_BROWSE_TO, u"Static.Nested Level"), S_OK);
  control->setFlatAddressSpace(true);
  OPCNAMESPACETYPE type{};
  ASSERT_EQ(browser->QueryOrganization(&type), S_OK);
  EXPECT_EQ(type, OPC_NS_FLAT);
  control->setFlatAddressSpace(false);
  EXPECT_EQ(itemId(u""), u"");
  EXPECT_THAT(list(OPC_BRANCH), IsSupersetOf({u"Static"}));
}

TEST_F(Browse, ADa10ServerBrowsesButHasNoItemProperties) {
  SimulationOptions options;
  options.da10Only = true;
  use(options);
  ASSERT_TRUE(browser);
  EXPECT_FALSE(properties);
  EXPECT_THAT(list(OPC_BRANCH), IsSupersetOf({u"Static"}));
}

}  // namespace
}  // namespace veze6::sim::test
