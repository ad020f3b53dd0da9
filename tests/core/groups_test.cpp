// The local side of groups and items: naming, defaults, lookups and reports.
#include "test_utils.h"

using namespace core_test;

namespace {

class GroupsTest : public LeakCheckedTest {
 protected:
  TqOPCServer server;
  TqOPCGroups& groups = *server.OPCGroups();
};

TEST_F(GroupsTest, Add_NamesAndRejectsDuplicatesAndBlanks) {
  TqOPCGroup* g = groups.Add("Boiler");
  EXPECT_EQ(g->Name(), "Boiler");
  EXPECT_EQ(g->ID(), 0);
  EXPECT_NE(groups.Add("boiler"), nullptr) << "case matters";
  EXPECT_EQ(thrownMessage([&] { groups.Add("Boiler"); }), "group Boiler already exists");
  EXPECT_EQ(thrownMessage([&] { groups.Add(""); }), "group  already exists");
  EXPECT_EQ(thrownMessage([&] { groups.Add("   "); }), "group     already exists");
  EXPECT_EQ(server.GetGroupCount(), 2);
}

TEST_F(GroupsTest, MovedItemsAndGroups_BelongWhereTheyMovedTo) {
  TqOPCGroup* from = groups.Add("from");
  TqOPCGroup* to = groups.Add("to");
  TqOPCItem* item = from->OPCItems()->AddItem("X");
  item->SetCollection(to->OPCItems());
  EXPECT_EQ(item->Group(), to);
  groups.Remove("from");
  item->SetIsActive(false);  // reaches its new group, not the freed one
  EXPECT_EQ(thrownMessage([&] { item->SetCollection(nullptr); }), "item X belongs to a group");
  EXPECT_EQ(item->Collection(), to->OPCItems());

  TqOPCServer second;
  to->SetCollection(second.OPCGroups());
  EXPECT_EQ(to->Server(), &second);
  EXPECT_EQ(item->Group()->Server(), &second);
  EXPECT_EQ(thrownMessage([&] { to->SetCollection(nullptr); }),
            "group to belongs to a server component");
  EXPECT_EQ(server.GetGroupCount(), 0);
}

TEST_F(GroupsTest, DefaultNamesFollowTheIndex) {
  EXPECT_EQ(groups.AddDefault()->Name(), "TqOPCGroup0");
  groups.AddDefault();
  groups.Delete(0);
  TqOPCGroup* third = groups.AddDefault();
  EXPECT_EQ(third->Name(), "TqOPCGroup1") << "the index, not unique";
  EXPECT_EQ(third->ID(), 2);
  EXPECT_EQ(groups.FindItemID(2), third);
}

TEST_F(GroupsTest, NewGroupsStartFromTheServerDefaults) {
  TqDefaultGroup* d = server.OPCGroupDefault();
  EXPECT_TRUE(d->IsActive);
  EXPECT_EQ(d->UpdateRate, 1000);
  d->IsActive = false;
  d->UpdateRate = 250;
  d->DeadBand = 1.5f;
  d->LocaleId = 1033;
  d->TimeBias = -60;
  TqOPCGroup* g = groups.Add("g");
  EXPECT_FALSE(g->IsActive());
  EXPECT_EQ(g->UpdateRate(), 250);
  EXPECT_EQ(g->DeadBand(), 1.5f);
  EXPECT_EQ(g->LocaleId(), 1033);
  EXPECT_EQ(g->TimeBias(), -60);
  EXPECT_FALSE(g->IsPublic());
  d->UpdateRate = 10;
  EXPECT_EQ(g->UpdateRate(), 250) << "later default changes leave groups alone";
}

TEST_F(GroupsTest, RemoveAndLookup) {
  groups.Add("a");
  groups.Add("b");
  EXPECT_EQ(groups.Exists("b"), 1);
  EXPECT_EQ(groups.Exists("B"), -1);
  EXPECT_EQ(groups.GetOPCGroup("a")->Name(), "a");
  EXPECT_EQ(thrownMessage([&] { groups.Remove("c"); }), "group not found");
  EXPECT_EQ(groups.Count(), 2);
  groups.Remove("a");
  EXPECT_EQ(groups.Count(), 1);
  EXPECT_EQ(groups.GetOPCGroup("a"), nullptr);
  groups.RemoveAll();
  EXPECT_EQ(groups.Count(), 0);
}

TEST_F(GroupsTest, DisplayNames) {
  TqOPCGroup* g = groups.Add("g");
  g->SetName("  ");
  EXPECT_EQ(g->GetDisplayName(), "TqOPCGroup");
  TqOPCItem* item = g->OPCItems()->AddItem(" ");
  EXPECT_EQ(item->GetDisplayName(), "TqOPCItem");
  item->SetItemID("Random.Real8");
  EXPECT_EQ(item->GetDisplayName(), "Random.Real8");
}

TEST_F(GroupsTest, ItemsStartFromTheDefaultItem) {
  TqOPCGroup* g = groups.Add("g");
  g->DefaultItem()->IsActive = false;
  g->DefaultItem()->AccessPath = "path";
  g->DefaultItem()->RequestDataType = vtR8;
  TqOPCItem* item = g->OPCItems()->AddItem("Static.Int4");
  EXPECT_FALSE(item->IsActive());
  EXPECT_EQ(item->AccessPath(), "path");
  EXPECT_EQ(item->RequestDatatype(), vtR8);
  EXPECT_EQ(item->ServerHandle(), TqOPCItem::kNoServerHandle);
  EXPECT_EQ(item->Group(), g);
  EXPECT_EQ(item->LastError(), S_OK);
  EXPECT_EQ(item->GetLastErrorStr(), "");
  EXPECT_EQ(item->ValueStr(), "");
  EXPECT_FALSE(item->IsGoodQuality());
  g->DefaultItem()->AccessPath = "other";
  EXPECT_EQ(item->AccessPath(), "path");
}

TEST_F(GroupsTest, FindOPCItemIsCaseSensitiveAndFindsTheFirst) {
  TqOPCItems* items = groups.Add("g")->OPCItems();
  TqOPCItem* first = items->AddItem("Tag");
  items->AddItem("Tag");
  EXPECT_EQ(items->FindOPCItem("Tag"), first);
  EXPECT_EQ(items->FindOPCItem("tag"), nullptr);
  EXPECT_EQ(items->GetOPCItem(TqOPCItem::kNoServerHandle), first);
}

TEST_F(GroupsTest, ItemsExistsLooksIntoEveryGroup) {
  EXPECT_FALSE(server.ItemsExists());
  groups.Add("a");
  TqOPCGroup* b = groups.Add("b");
  EXPECT_FALSE(server.ItemsExists());
  b->OPCItems()->AddItem("x");
  EXPECT_TRUE(server.ItemsExists());
  b->OPCItems()->RemoveAll();
  EXPECT_FALSE(server.ItemsExists());
}

TEST_F(GroupsTest, ItemListFollowsItsItems) {
  TqOPCItems* items = groups.Add("g")->OPCItems();
  items->AddItem("a");
  items->AddItem("b");
  TqOPCItemList list(items);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(thrownMessage([&] { list.CheckAllActiveOnServer(); }),
            "item a not exists on OPCServer");
  items->Delete(0);
  EXPECT_EQ(list.Items(0), nullptr) << "a destroyed item reads as null";
  EXPECT_NO_THROW(list.CheckOPCErrors("cannot add Items:", true)) << "no failed item";
  EXPECT_THROW(list.Items(2), EListError);
}

TEST_F(GroupsTest, StoredRules) {
  TqDefaultItem* d = groups.Add("g")->DefaultItem();
  const QMetaObject* meta = d->metaObject();
  auto stored = [&](const char* name) {
    return d->IsPropertyStored(meta->property(meta->indexOfProperty(name)));
  };
  EXPECT_FALSE(stored("IsActive")) << "declared default True";
  d->IsActive = false;
  EXPECT_TRUE(stored("IsActive"));
  EXPECT_FALSE(stored("AccessPath"));
  EXPECT_TRUE(stored("RequestDataType"));
  TqOPCGroup* g = groups.Items(0);
  const QMetaObject* gm = g->metaObject();
  EXPECT_FALSE(g->IsPropertyStored(gm->property(gm->indexOfProperty("DeadBand"))));
  g->SetDeadBand(0.5f);
  EXPECT_TRUE(g->IsPropertyStored(gm->property(gm->indexOfProperty("DeadBand"))));
  TqOPCItem* item = g->OPCItems()->AddItem("x");
  const QMetaObject* im = item->metaObject();
  EXPECT_FALSE(item->IsPropertyStored(im->property(im->indexOfProperty("Value"))));
  EXPECT_TRUE(item->IsPropertyStored(im->property(im->indexOfProperty("IsActive"))));
}

}  // namespace
