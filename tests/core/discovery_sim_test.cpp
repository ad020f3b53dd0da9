// Browsing, item properties and server enumeration end to end against the
// simulation server, with every string and value it hands out accounted for.
#include <QRegularExpression>

#include "common/simcomponent.h"
#include "test_utils.h"

using namespace core_test;
namespace sim = veze6::sim;

namespace {

class DiscoverySimTest : public veze6::test::SimComponentTest {
 protected:
  TqOPCBrowser& browser() { return *server->Browser(); }
};

// ---- browsing -----------------------------------------------------------------------------

TEST_F(DiscoverySimTest, Hierarchical_WalkTheTree) {
  connect();
  TqOPCBrowser& b = browser();
  EXPECT_EQ(b.GetOrganization(), OPC_NS_HIERARCHIAL);
  b.ShowBranches();
  for (const char* branch : {"Random", "Ramp", "Sine", "Square", "Triangle", "Static", "Writable"})
    EXPECT_TRUE(b.Tags().contains(branch)) << branch;

  ASSERT_TRUE(b.MoveDown("Static"));
  ASSERT_TRUE(b.MoveDown("Nested Level"));
  EXPECT_EQ(b.GetCurrentPosition(), "Static.Nested Level");
  b.ShowLeafs(false);
  EXPECT_TRUE(b.Tags().contains("Int4"));
  EXPECT_TRUE(b.Tags().contains("String"));
  EXPECT_EQ(b.GetItemId("Int4"), "Static.Nested Level.Int4");
  b.ShowBranches();
  EXPECT_EQ(b.Tags(), QStringList{"Deeper"});

  ASSERT_TRUE(b.Moveto("Static.Nested Level.Deeper"));
  EXPECT_EQ(b.Levels(), (QStringList{"Static", "Nested Level", "Deeper"}));
  b.ShowLeafs(false);
  EXPECT_EQ(b.Tags(), QStringList{"Real8"});
  ASSERT_TRUE(b.Moveup());
  EXPECT_EQ(b.GetCurrentPosition(), "Static.Nested Level");

  // Refused moves: false, the position kept, nothing raised.
  EXPECT_FALSE(b.Moveto("Static.No Such Branch"));
  EXPECT_FALSE(b.MoveDown("Int4"));
  EXPECT_EQ(b.GetCurrentPosition(), "Static.Nested Level");
  ASSERT_TRUE(b.MovetoRoot());
  EXPECT_EQ(b.GetCurrentPosition(), "");
  EXPECT_EQ(simControl()->callCount(sim::SimCall::QueryOrganization), 1u) << "cached";
}

TEST_F(DiscoverySimTest, Hierarchical_FlatListingBelowABranchAndAccessPaths) {
  connect();
  TqOPCBrowser& b = browser();
  ASSERT_TRUE(b.MoveDown("Static"));
  b.ShowLeafs(true);
  ASSERT_GT(b.GetCount(), 0);
  for (const QString& id : b.Tags()) EXPECT_TRUE(id.startsWith("Static.")) << id.toStdString();
  EXPECT_TRUE(b.Tags().contains("Static.Nested Level.Deeper.Real8"));

  QStringList paths{"stale"};
  b.GetAccessPath("Static.Nested Level.Int4", paths);
  EXPECT_FALSE(paths.contains("stale"));
}

TEST_F(DiscoverySimTest, Filters_NameTypeAndRights) {
  connect();
  TqOPCBrowser& b = browser();
  b.SetAccessRights(opcWritable);
  b.ShowLeafs(true);
  ASSERT_GT(b.GetCount(), 0);
  for (const QString& id : b.Tags()) EXPECT_TRUE(id.startsWith("Writable.")) << id.toStdString();

  b.SetAccessRights({});
  ASSERT_TRUE(b.MoveDown("Static"));
  b.SetFilter("Int?");
  b.ShowLeafs(false);
  ASSERT_GT(b.GetCount(), 0);
  const QRegularExpression intOfOneMore("^Int.$");
  for (const QString& name : b.Tags())
    EXPECT_TRUE(intOfOneMore.match(name).hasMatch()) << name.toStdString();

  b.SetFilter("");
  b.SetDatatype(vtBSTR);
  b.ShowLeafs(false);
  const int convertibleToText = b.GetCount();
  b.SetDatatype(vtEMPTY);
  b.ShowLeafs(false);
  EXPECT_GT(convertibleToText, 0);
  EXPECT_LE(convertibleToText, b.GetCount());
}

TEST_F(DiscoverySimTest, BadFilters_FaultWithTheServersTextOrListNothing) {
  connect();
  TqOPCBrowser& b = browser();
  b.SetFilter("[unclosed");
  const QString message = thrownMessage([&] { b.ShowLeafs(true); });
  EXPECT_TRUE(message.startsWith("Browser: ")) << message.toStdString();
  EXPECT_GT(message.size(), 9);
  EXPECT_EQ(b.GetCount(), 0);

  // Names of any length and content: an answer, never a crash.
  b.SetFilter(QString(70000, QChar(u'*')));
  thrownMessage([&] { b.ShowLeafs(true); });
  b.SetFilter(QStringLiteral("\u4e2d\U0001F600#?"));
  b.ShowLeafs(true);
  EXPECT_EQ(b.GetCount(), 0);
  EXPECT_FALSE(b.MoveDown(QString(5000, QChar(u'x'))));
  EXPECT_FALSE(b.MoveDown(QStringLiteral("a") + QChar(0) + QStringLiteral("b")));
  EXPECT_EQ(b.GetCurrentPosition(), "");
}

TEST_F(DiscoverySimTest, Flat_NoBranchesNoMovesEveryIdListed) {
  sim::ScopedCreationHook flat([](sim::SimulationControl& c) { c.setFlatAddressSpace(true); });
  connect();
  TqOPCBrowser& b = browser();
  EXPECT_EQ(b.GetOrganization(), OPC_NS_FLAT);
  b.ShowBranches();
  EXPECT_EQ(b.GetCount(), 0);
  EXPECT_EQ(simControl()->callCount(sim::SimCall::BrowseOPCItemIDs), 0u);
  EXPECT_FALSE(b.MoveDown("Static"));
  EXPECT_FALSE(b.Moveto("Static.Nested Level"));
  EXPECT_EQ(simControl()->callCount(sim::SimCall::ChangeBrowsePosition), 0u);
  b.ShowLeafs(false);
  EXPECT_TRUE(b.Tags().contains("Static.Nested Level.Int4"));
  EXPECT_GT(b.GetCount(), 50);
  EXPECT_EQ(b.GetItemId("Static.Nested Level.Int4"), "Static.Nested Level.Int4");
}

// ---- item properties ----------------------------------------------------------------------

TEST_F(DiscoverySimTest, Properties_TextLinesValuesAndLookups) {
  connect();
  QStringList lines;
  ASSERT_TRUE(server->QueryAvailableProperties("Static.Nested Level.Int4", lines));
  EXPECT_EQ(lines.first(), "1,\"Item Canonical DataType\",2");
  EXPECT_TRUE(lines.contains("2,\"Item Value\",3")) << lines.join(" | ").toStdString();

  OleVariant value;
  ASSERT_TRUE(server->GetItemProperty("Static.Nested Level.Int4", OPC_PROP_VALUE, value));
  EXPECT_EQ(value, OleVariant(LONG(42)));
  EXPECT_FALSE(server->GetItemProperty("Static.Nested Level.Int4", 9999, value));
  EXPECT_TRUE(value.isEmpty());

  EXPECT_EQ(thrownMessage([&] { server->LookupItemId("Static.Nested Level.Int4", 9999); }),
            "The server does not recognise the passed property ID.");
  EXPECT_EQ(thrownMessage([&] { server->QueryAvailableProperties("No.Such.Item", lines); }),
            "The item is no longer available in the server address space.");
}

TEST_F(DiscoverySimTest, Properties_ListWithValues) {
  connect();
  TqOPCItemProperties list(server.get(), "Static.Nested Level.Int4");
  ASSERT_GE(list.Count(), 8);
  EXPECT_EQ(list.GetItem(0)->PropertyID, OPC_PROP_CDT);
  EXPECT_EQ(list.GetItem(0)->Value, OleVariant(SHORT(VT_I4)));
  EXPECT_EQ(list.GetItem(1)->Value, OleVariant(LONG(42)));
  EXPECT_TRUE(list.GetItemProperties());
  list.SetItemId("Static.Nested Level.String");
  EXPECT_EQ(list.GetItem(1)->Value, OleVariant(u"nested"));
}

// ---- server enumeration ------------------------------------------------------------------

TEST_F(DiscoverySimTest, Servers_FoundByCategoryAndMerged) {
  TqopcServerBrowser servers;
  servers.Execute();
  const TqopcServerItem* both = servers.GetServer(clsidText(sim::CLSID_Veze6Simulation));
  const TqopcServerItem* da10 = servers.GetServer(clsidText(sim::CLSID_Veze6SimulationDA10));
  ASSERT_NE(both, nullptr);
  ASSERT_NE(da10, nullptr);
  EXPECT_EQ(both->ProgID, "Veze6.Simulation.1");
  EXPECT_EQ(both->UserType, QString::fromStdU16String(std::u16string(sim::kSimulationUserType)));
  EXPECT_EQ(both->Categories, svr_DA10 | svr_DA20);
  EXPECT_EQ(da10->Categories, tqopcServerSet(svr_DA10));

  servers.SetServertype(svr_DA20);
  servers.Execute();
  EXPECT_NE(servers.GetServer(clsidText(sim::CLSID_Veze6Simulation)), nullptr);
  EXPECT_EQ(servers.GetServer(clsidText(sim::CLSID_Veze6SimulationDA10)), nullptr);

  servers.SetServertype(svr_AE10);
  servers.Execute();
  EXPECT_EQ(servers.GetServer(clsidText(sim::CLSID_Veze6Simulation)), nullptr);
}

TEST_F(DiscoverySimTest, Servers_RegistryListingHasTheMarkedProgIds) {
  QStringList list;
  GetOPCServers(list);
  EXPECT_TRUE(list.contains("Veze6.Simulation.1"));
  EXPECT_TRUE(list.contains("Veze6.Simulation.DA10.1"));
}

}  // namespace
