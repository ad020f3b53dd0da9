// The simulated address space: the standard tree, the item id syntax and the
// rules for adding items.
#include <gtest/gtest.h>

#include "common/leakcheck.h"
#include "simulator/addressspace.h"

namespace veze6::sim::test {
namespace {

using AddressSpaceDefault = veze6::test::LeakCheckedTest;
using AddressSpaceSyntax = veze6::test::LeakCheckedTest;
using AddressSpaceBuild = veze6::test::LeakCheckedTest;

struct Typed {
  const char16_t* name;
  VARTYPE type;
};
constexpr Typed kEveryType[] = {
    {u"Int1", VT_I1},
    {u"UInt1", VT_UI1},
    {u"Int2", VT_I2},
    {u"UInt2", VT_UI2},
    {u"Int4", VT_I4},
    {u"UInt4", VT_UI4},
    {u"Int8", VT_I8},
    {u"UInt8", VT_UI8},
    {u"Real4", VT_R4},
    {u"Real8", VT_R8},
    {u"Boolean", VT_BOOL},
    {u"String", VT_BSTR},
    {u"Date", VT_DATE},
    {u"Money", VT_CY},
    {u"ArrayOfUInt1", VT_ARRAY | VT_UI1},
    {u"ArrayOfInt4", VT_ARRAY | VT_I4},
    {u"ArrayOfReal8", VT_ARRAY | VT_R8},
    {u"ArrayOfString", VT_ARRAY | VT_BSTR},
    {u"ArrayOfBoolean", VT_ARRAY | VT_BOOL},
};

TEST_F(AddressSpaceDefault, StaticAndWritableCarryEveryType) {
  AddressSpace space;
  space.populateDefault(FILETIME{1, 2});
  for (const char16_t* branch : {u"Static", u"Writable"}) {
    const bool writable = std::u16string_view(branch) == u"Writable";
    for (const Typed& t : kEveryType) {
      const std::u16string id = std::u16string(branch) + u"." + t.name;
      const SimItem* item = space.find(id);
      ASSERT_TRUE(item) << std::string(id.begin(), id.end());
      EXPECT_EQ(item->canonicalType, t.type);
      EXPECT_EQ(item->value.vt(), t.type);
      EXPECT_EQ(item->accessRights,
                writable ? DWORD(OPC_READABLE | OPC_WRITEABLE) : DWORD(OPC_READABLE));
      EXPECT_EQ(item->name(), t.name);
    }
  }
  for (const auto& item : space.items()) {
    EXPECT_EQ(item->value.vt(), item->canonicalType);
    EXPECT_EQ(item->quality, OPC_QUALITY_GOOD);
    EXPECT_EQ(item->timeStamp.dwHighDateTime, 2u);
  }
}

TEST_F(AddressSpaceDefault, BranchesNestAndSignalsHaveRanges) {
  AddressSpace space;
  space.populateDefault({});
  std::vector<std::u16string> top;
  for (const auto& b : space.root().branches) top.push_back(b->name);
  EXPECT_EQ(top, (std::vector<std::u16string>{u"Random", u"Ramp", u"Sine", u"Square", u"Triangle",
                                              u"Static", u"Writable"}));
  const Branch* nested = space.findBranch(u"Static.Nested Level");
  ASSERT_TRUE(nested);
  EXPECT_EQ(nested->path(), u"Static.Nested Level");
  ASSERT_TRUE(space.findBranch(u"Static.Nested Level.Deeper"));
  EXPECT_EQ(space.findBranch(u"Static.Nested Level.Deeper")->parent, nested);
  EXPECT_TRUE(space.find(u"Static.Nested Level.Deeper.Real8"));
  EXPECT_FALSE(space.findBranch(u"Static.Nested"));
  EXPECT_EQ(space.findBranch(u""), &space.root());

  for (const char16_t* id : {u"Random.Real8", u"Ramp.UInt2", u"Sine.Int4", u"Triangle.Real4",
                             u"Square.Real8", u"Random.ArrayOfReal8"}) {
    const SimItem* item = space.find(id);
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->euRange);
    EXPECT_EQ(item->accessRights, DWORD(OPC_READABLE));
  }
  EXPECT_EQ(space.find(u"Sine.Real8")->euRange->low, -100.0);
  EXPECT_FALSE(space.find(u"Square.Boolean")->euRange);
  EXPECT_FALSE(space.find(u"Static.Real8")->euRange);
}

TEST_F(AddressSpaceSyntax, ItemIds) {
  EXPECT_EQ(AddressSpace::checkItemIdSyntax(u"A.B c.D"), S_OK);
  EXPECT_EQ(AddressSpace::checkItemIdSyntax(u"Single"), S_OK);
  EXPECT_EQ(AddressSpace::checkItemIdSyntax(u" padded "), S_OK);
  for (std::u16string_view bad : {u"", u".A", u"A.", u"A..B", u"A\tB", u"A\x7F"}) {
    EXPECT_EQ(AddressSpace::checkItemIdSyntax(bad), OPC_E_INVALIDITEMID);
  }
  EXPECT_EQ(AddressSpace::checkItemIdSyntax(std::u16string(AddressSpace::kMaxItemIdLength, u'a')),
            S_OK);
  EXPECT_EQ(
      AddressSpace::checkItemIdSyntax(std::u16string(AddressSpace::kMaxItemIdLength + 1, u'a')),
      OPC_E_INVALIDITEMID);

  EXPECT_EQ(boundedWideView(u"abc", 3), std::u16string_view(u"abc"));
  EXPECT_FALSE(boundedWideView(u"abcd", 3));
  EXPECT_EQ(boundedWideView(nullptr, 3), std::u16string_view());
}

TEST_F(AddressSpaceBuild, AddItemRefusesCollisionsAndBadValues) {
  AddressSpace space;
  SimItem* a = space.addItem(u"Plant.Line 1.Speed", VT_R4, OPC_READABLE, OleVariant(LONG(3)));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->value, OleVariant(FLOAT(3.0f)));  // converted to the canonical type
  EXPECT_EQ(space.find(u"Plant.Line 1.Speed"), a);

  EXPECT_FALSE(space.addItem(u"Plant.Line 1.Speed", VT_R4, OPC_READABLE, OleVariant(1.0)));
  EXPECT_FALSE(space.addItem(u"Plant.Line 1", VT_R4, OPC_READABLE, OleVariant(1.0)));  // a branch
  EXPECT_FALSE(space.addItem(u"Plant.Line 1.Speed.Sub", VT_R4, OPC_READABLE, OleVariant(1.0)));
  EXPECT_FALSE(space.addItem(u"Plant..X", VT_R4, OPC_READABLE, OleVariant(1.0)));
  EXPECT_FALSE(space.addItem(u"Plant.Text", VT_I4, OPC_READABLE, OleVariant(u"no number")));
  EXPECT_EQ(space.items().size(), 1u);
  EXPECT_EQ(space.findBranch(u"Plant")->leaves.size(), 0u);
  EXPECT_EQ(space.findBranch(u"Plant.Line 1")->leaves.size(), 1u);
}

}  // namespace
}  // namespace veze6::sim::test
