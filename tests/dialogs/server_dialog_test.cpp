// The server browse dialog: searching this computer's class registry, the
// category tree, the read-only fields, confirming and cancelling, failures.
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "common/dialogdriver.h"
#include "opc/OPCDA.h"
#include "opc/classregistry.h"
#include "qOPC.h"
#include "qOPCServerDlg.h"
#include "simulator/simulator.h"

using namespace dialogs_test;
namespace sim = veze6::sim;

namespace {

const QString kSimProgId = "Veze6.Simulation.1";
const QString kSimClsId = "{6DC45BF5-BEA8-441B-A0C1-C0F82FF66FDE}";
const QString kSimUserType = "Veze6 OPC DA Simulation Server";
const QString kSimDA10UserType = "Veze6 OPC DA Simulation Server (DA 1.0)";

struct ServerForm {
  explicit ServerForm(const QDialog& dialog)
      : eComputername(control<QLineEdit>(dialog, "eComputername")),
        bSearch(control<QPushButton>(dialog, "bSearch")),
        eServerName(control<QLineEdit>(dialog, "eServerName")),
        bOk(control<QPushButton>(dialog, "bOk")),
        eServerClsId(control<QLineEdit>(dialog, "eServerClsId")),
        bCancel(control<QPushButton>(dialog, "bCancel")),
        TreeView1(control<QTreeWidget>(dialog, "TreeView1")) {
    EXPECT_TRUE(eComputername && bSearch && eServerName && bOk && eServerClsId && bCancel &&
                TreeView1);
  }

  QStringList categories() const {
    QStringList captions;
    for (int i = 0; i < TreeView1->topLevelItemCount(); ++i)
      captions << TreeView1->topLevelItem(i)->text(0);
    return captions;
  }
  QTreeWidgetItem* category(const QString& caption) const {
    for (int i = 0; i < TreeView1->topLevelItemCount(); ++i)
      if (TreeView1->topLevelItem(i)->text(0) == caption) return TreeView1->topLevelItem(i);
    ADD_FAILURE() << "no category " << caption.toStdString();
    return nullptr;
  }
  QStringList servers(const QString& caption) const {
    QStringList captions;
    if (QTreeWidgetItem* node = category(caption))
      for (int i = 0; i < node->childCount(); ++i) captions << node->child(i)->text(0);
    return captions;
  }
  // Clicks a node the way a user does: its category is expanded first.
  void click(QTreeWidgetItem* node) const {
    ASSERT_TRUE(node);
    if (node->parent()) node->parent()->setExpanded(true);
    TreeView1->scrollToItem(node);
    const QModelIndex index = TreeView1->indexFromItem(node);
    clickRow(TreeView1, index);
  }
  void clickServer(const QString& caption, int row) const {
    QTreeWidgetItem* node = category(caption);
    ASSERT_TRUE(node && row < node->childCount());
    click(node->child(row));
  }
  void search() const { QTest::mouseClick(bSearch, Qt::LeftButton); }

  QLineEdit* eComputername;
  QPushButton* bSearch;
  QLineEdit* eServerName;
  QPushButton* bOk;
  QLineEdit* eServerClsId;
  QPushButton* bCancel;
  QTreeWidget* TreeView1;
};

// Takes the simulation servers out of the class registry for a test, and
// puts them back.
class WithoutSimulationServers {
 public:
  WithoutSimulationServers() { sim::unregisterSimulationServer(); }
  ~WithoutSimulationServers() { sim::registerSimulationServer(); }
};

// A registered class that is never created: enough to be found.
class ListedClass {
 public:
  ListedClass(const CLSID& clsid, const char16_t* progId, const char16_t* userType,
              std::vector<CATID> categories)
      : clsid_(clsid) {
    opc::ClassEntry entry;
    entry.clsid = clsid;
    entry.progId = progId;
    entry.userType = userType;
    entry.categories = std::move(categories);
    entry.opcMarker = true;
    opc::ClassRegistry::instance().registerClass(std::move(entry));
  }
  ~ListedClass() { opc::ClassRegistry::instance().unregisterClass(clsid_); }

 private:
  CLSID clsid_;
};

class ServerDialogTest : public veze6::test::LeakCheckedTest {
 protected:
  static void SetUpTestSuite() { sim::registerSimulationServer(); }
  void TearDown() override { EXPECT_EQ(QApplication::overrideCursor(), nullptr); }

  ScopedCaptureApplication app;
};

TEST_F(ServerDialogTest, Layout_CaptionsAndThePassedComputerName) {
  QString computer = "plant-pc", serverName = "Passed.Server", clsId = "{passed}";
  ModalDriver<TqopcServerBrowseDlg> driver([&](TqopcServerBrowseDlg& dialog) {
    ServerForm form(dialog);
    EXPECT_EQ(dialog.windowTitle(), "Select OPC Server");
    EXPECT_EQ(dialog.size(), QSize(511, 362));
    EXPECT_NE(dialog.minimumSize(), dialog.maximumSize()) << "sizeable";
    EXPECT_EQ(control<QWidget>(dialog, "Panel1")->height(), 92);
    EXPECT_TRUE(form.bSearch->isDefault());
    EXPECT_FALSE(form.bOk->isDefault());
    EXPECT_TRUE(form.eServerName->isReadOnly());
    EXPECT_TRUE(form.eServerClsId->isReadOnly());
    EXPECT_EQ(form.TreeView1->indentation(), 19);
    EXPECT_EQ(form.TreeView1->topLevelItemCount(), 0);
    EXPECT_EQ(form.TreeView1->y() + form.TreeView1->height(), dialog.height())
        << "the tree fills the rest";
    // Only the computer name is shown.
    EXPECT_EQ(form.eComputername->text(), "plant-pc");
    EXPECT_EQ(form.eServerName->text(), "");
    EXPECT_EQ(form.eServerClsId->text(), "");
    QTest::keyClick(form.eComputername, Qt::Key_Escape);
  });
  EXPECT_FALSE(qopcBrowseServer(computer, serverName, clsId));
  EXPECT_TRUE(driver.ran());
  EXPECT_EQ(computer, "plant-pc");
  EXPECT_EQ(serverName, "");
  EXPECT_EQ(clsId, "");
}

TEST_F(ServerDialogTest, Search_MergedServersUnderEachCategoryAndSelectionFillsTheFields) {
  QString computer, serverName, clsId;
  ModalDriver<TqopcServerBrowseDlg> driver([&](TqopcServerBrowseDlg& dialog) {
    ServerForm form(dialog);
    form.search();
    EXPECT_EQ(form.categories(), (QStringList{"DA Servers 1.0", "DA Servers 2.0"}));
    EXPECT_EQ(form.servers("DA Servers 1.0"), (QStringList{kSimUserType, kSimDA10UserType}));
    EXPECT_EQ(form.servers("DA Servers 2.0"), QStringList{kSimUserType});
    EXPECT_TRUE(app->Entries().isEmpty());

    // The server found in both categories is the same item under each node.
    form.clickServer("DA Servers 2.0", 0);
    EXPECT_EQ(form.eServerName->text(), kSimProgId);
    EXPECT_EQ(form.eServerClsId->text(), kSimClsId);
    form.clickServer("DA Servers 1.0", 1);
    EXPECT_EQ(form.eServerName->text(), "Veze6.Simulation.DA10.1");
    form.clickServer("DA Servers 1.0", 0);
    EXPECT_EQ(form.eServerName->text(), kSimProgId);
    EXPECT_EQ(form.eServerClsId->text(), kSimClsId);
    saveShot(dialog, "server-browse-dialog");

    // A category node empties the fields, and Ok then cancels.
    form.click(form.category("DA Servers 2.0"));
    EXPECT_EQ(form.eServerName->text(), "");
    EXPECT_EQ(form.eServerClsId->text(), "");
    QTest::mouseClick(form.bOk, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
  });
  EXPECT_FALSE(qopcBrowseServer(computer, serverName, clsId));
  EXPECT_TRUE(driver.ran());
  EXPECT_EQ(computer, "");

  ModalDriver<TqopcServerBrowseDlg> confirm([&](TqopcServerBrowseDlg& dialog) {
    ServerForm form(dialog);
    form.search();
    form.clickServer("DA Servers 2.0", 0);
    QTest::mouseClick(form.bOk, Qt::LeftButton);
  });
  EXPECT_TRUE(qopcBrowseServer(computer, serverName, clsId));
  EXPECT_EQ(serverName, kSimProgId);
  EXPECT_EQ(clsId, kSimClsId);
  EXPECT_EQ(computer, "");
}

TEST_F(ServerDialogTest, Search_EnterInTheComputerNameSearchesAndANewSearchKeepsTheFields) {
  QString computer, serverName, clsId;
  ModalDriver<TqopcServerBrowseDlg> driver([&](TqopcServerBrowseDlg& dialog) {
    ServerForm form(dialog);
    QTest::mouseClick(form.eComputername, Qt::LeftButton);
    QTest::keyClick(form.eComputername, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(form.categories(), (QStringList{"DA Servers 1.0", "DA Servers 2.0"}));

    // With a server chosen, Enter in the computer name still searches.
    form.clickServer("DA Servers 2.0", 0);
    QTest::mouseClick(form.eComputername, Qt::LeftButton);
    QTest::keyClick(form.eComputername, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(form.TreeView1->selectedItems().size(), 0) << "a new tree";
    EXPECT_EQ(form.eServerName->text(), kSimProgId) << "kept until another node is chosen";
    EXPECT_EQ(form.eServerClsId->text(), kSimClsId);
    EXPECT_EQ(dialog.ServerBrowser()->GetCount(), 2);
    QTest::mouseClick(form.bCancel, Qt::LeftButton);
  });
  EXPECT_FALSE(qopcBrowseServer(computer, serverName, clsId));
  EXPECT_TRUE(driver.ran());
  EXPECT_EQ(serverName, kSimProgId) << "handed back whatever the result";
}

TEST_F(ServerDialogTest, Search_OnlyDA20AndAEServersAndNoServersAtAll) {
  WithoutSimulationServers noSimulation;
  ModalDriver<TqopcServerBrowseDlg> driver([&](TqopcServerBrowseDlg& dialog) {
    ServerForm form(dialog);
    form.search();
    EXPECT_EQ(form.TreeView1->topLevelItemCount(), 0);
    EXPECT_EQ(app->Texts(TCaptureApplicationHandler::Kind::Message),
              QStringList{"no OPC Server found on selected Computer"});

    {
      const ListedClass events({0x1A2B3C4D, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}},
                               u"Test.Events.1", u"Test Events Server", {CATID_OPCAEServer10});
      const ListedClass data({0x1A2B3C4E, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}}, u"Test.Data.1",
                             u"Test Data Server", {CATID_OPCDAServer20, CATID_OPCAEServer10});
      form.search();
    }
    EXPECT_EQ(form.categories(), (QStringList{"DA Servers 2.0", "AE Servers 1.0"}));
    EXPECT_EQ(form.servers("DA Servers 2.0"), QStringList{"Test Data Server"});
    // Under each category in the order the search found them: the data
    // server first, as the DA 2.0 query found it before the AE query ran.
    EXPECT_EQ(form.servers("AE Servers 1.0"),
              (QStringList{"Test Data Server", "Test Events Server"}));
    form.clickServer("AE Servers 1.0", 0);
    EXPECT_EQ(form.eServerName->text(), "Test.Data.1");
    EXPECT_EQ(form.eServerClsId->text(), "{1A2B3C4E-1111-2222-0102-030405060708}");
    EXPECT_EQ(app->Texts(TCaptureApplicationHandler::Kind::Message).size(), 1);
    QTest::mouseClick(form.bCancel, Qt::LeftButton);
  });
  QString computer, serverName, clsId;
  EXPECT_FALSE(qopcBrowseServer(computer, serverName, clsId));
  EXPECT_TRUE(driver.ran());
}

TEST_F(ServerDialogTest, Failure_IsReportedWithTheCursorRestoredAndCancelHandsBackTheComputer) {
  QString computer = "", serverName, clsId;
  ModalDriver<TqopcServerBrowseDlg> driver([&](TqopcServerBrowseDlg& dialog) {
    ServerForm form(dialog);
    form.search();
    ASSERT_EQ(form.TreeView1->topLevelItemCount(), 2);
    QTest::mouseClick(form.eComputername, Qt::LeftButton);
    QTest::keyClicks(form.eComputername, "no-such-plant");
    QTest::keyClick(form.eComputername, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(form.TreeView1->topLevelItemCount(), 0) << "emptied before the search";
    const auto reported = app->Entries();
    ASSERT_EQ(reported.size(), 1);
    EXPECT_EQ(reported[0].kind, TCaptureApplicationHandler::Kind::Exception);
    EXPECT_EQ(reported[0].className, "EOleSysError");
    EXPECT_EQ(reported[0].text, "The RPC server is unavailable.");
    QTest::mouseClick(form.bCancel, Qt::LeftButton);
  });
  EXPECT_FALSE(qopcBrowseServer(computer, serverName, clsId));
  EXPECT_TRUE(driver.ran());
  EXPECT_EQ(computer, "no-such-plant");
}

}  // namespace
