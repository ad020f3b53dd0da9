// The item browse dialog against the simulation server: listing, walking the
// tree, choosing items, the filters, flat address spaces and faults.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>

#include "common/dialogdriver.h"
#include "common/simcomponent.h"
#include "qOPC.h"
#include "qOPCBrowseDlg.h"
#include "simulator/simulator.h"

using namespace dialogs_test;
namespace sim = veze6::sim;

namespace {

const QStringList kRootBranches{"Random",   "Ramp",   "Sine",    "Square",
                                "Triangle", "Static", "Writable"};

// The controls of an open browse dialog.
struct BrowseForm {
  explicit BrowseForm(const QDialog& dialog)
      : ePath(control<QLineEdit>(dialog, "ePath")),
        bBack(control<QToolButton>(dialog, "bBack")),
        ListView(control<QListWidget>(dialog, "ListView")),
        eFilter(control<QLineEdit>(dialog, "eFilter")),
        cWritable(control<QCheckBox>(dialog, "cWritable")),
        cReadable(control<QCheckBox>(dialog, "cReadable")),
        cDataType(control<QComboBox>(dialog, "cDataType")),
        bOk(control<QPushButton>(dialog, "bOk")),
        bCancel(control<QPushButton>(dialog, "bCancel")) {
    EXPECT_TRUE(ePath && bBack && ListView && eFilter && cWritable && cReadable && cDataType &&
                bOk && bCancel);
  }

  // Captions of the entries showing image (-1: all), in list order.
  QStringList entries(int image = -1) const {
    QStringList captions;
    for (int row = 0; row < ListView->count(); ++row) {
      const QListWidgetItem* entry = ListView->item(row);
      if (image < 0 || entry->data(TqOPCDlgBrowse::ImageIndexRole).toInt() == image)
        captions << entry->text();
    }
    return captions;
  }
  QStringList selected() const {
    QStringList captions;
    for (int row = 0; row < ListView->count(); ++row)
      if (ListView->item(row)->isSelected()) captions << ListView->item(row)->text();
    return captions;
  }
  QModelIndex row(const QString& caption) const {
    const auto found = ListView->findItems(caption, Qt::MatchExactly);
    EXPECT_EQ(found.size(), 1) << caption.toStdString();
    return found.isEmpty() ? QModelIndex() : ListView->model()->index(ListView->row(found[0]), 0);
  }
  void click(const QString& caption, Qt::KeyboardModifiers modifiers = Qt::NoModifier) const {
    clickRow(ListView, row(caption), modifiers);
  }
  void doubleClick(const QString& caption) const { doubleClickRow(ListView, row(caption)); }
  void key(Qt::Key key) const {
    ListView->setFocus();
    QTest::keyClick(ListView, key);
  }

  QLineEdit* ePath;
  QToolButton* bBack;
  QListWidget* ListView;
  QLineEdit* eFilter;
  QCheckBox* cWritable;
  QCheckBox* cReadable;
  QComboBox* cDataType;
  QPushButton* bOk;
  QPushButton* bCancel;
};

class BrowseDialogTest : public veze6::test::SimComponentTest {
 protected:
  TqOPCBrowser* browser() const { return server->Browser(); }

  ScopedCaptureApplication app;
};

TEST_F(BrowseDialogTest, EntryPoints_WithoutConnectedServer_ShowNothing) {
  ModalDriver<QDialog> noDialog([](QDialog& dialog) {
    ADD_FAILURE() << "a dialog was shown";
    dialog.reject();
  });
  QStringList list{"kept"};
  EXPECT_FALSE(OPCBrowseDialog(nullptr, list, true));
  EXPECT_EQ(OPCBrowseItemDialog(nullptr, true), "");
  TqOPCBrowser detached;
  EXPECT_FALSE(OPCBrowseDialog(&detached, list, true));
  detached.SetOPCServer(server.get());  // attached, but the server is not connected
  EXPECT_FALSE(OPCBrowseDialog(&detached, list, true));
  EXPECT_EQ(OPCBrowseItemDialog(&detached, false), "");
  EXPECT_EQ(list, QStringList{"kept"});
  EXPECT_FALSE(noDialog.ran());
}

TEST_F(BrowseDialogTest, Opening_ListsBranchesThenLeavesUnderTheControlsFilters) {
  connect();
  ASSERT_TRUE(browser()->MoveDown("Static"));
  browser()->SetFilter("Int*");
  browser()->SetDatatype(vtR8);
  browser()->SetAccessRights(opcWritable);
  QStringList list;
  ModalDriver<TqOPCDlgBrowse> driver([&](TqOPCDlgBrowse& dialog) {
    BrowseForm form(dialog);
    EXPECT_EQ(dialog.windowTitle(), "Open OPC Item");
    EXPECT_EQ(dialog.size(), QSize(561, 309));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "fixed size";
    EXPECT_TRUE(form.bOk->isDefault());
    EXPECT_TRUE(form.ePath->isReadOnly());
    ASSERT_EQ(form.cDataType->count(), 32);
    EXPECT_EQ(form.cDataType->itemText(vtundef), "undef");  // the entry's index is the type code
    EXPECT_EQ(form.cDataType->itemText(vtLPWSTR), "LPWSTR");
    EXPECT_EQ(form.cDataType->currentText(), "EMPTY");

    // Still inside Static (StartAtRoot false): the branch, then the leaves,
    // listed under the dialog's filters, which replaced the browser's.
    EXPECT_EQ(form.ePath->text(), "Static");
    EXPECT_EQ(form.entries(TqOPCDlgBrowse::BranchImage), QStringList{"Nested Level"});
    EXPECT_TRUE(form.entries(TqOPCDlgBrowse::LeafImage).contains("Int4"));
    EXPECT_TRUE(form.entries(TqOPCDlgBrowse::LeafImage).contains("String"));
    EXPECT_EQ(form.entries().first(), "Nested Level");
    EXPECT_EQ(form.selected(), QStringList{"Nested Level"});
    EXPECT_EQ(form.ListView->currentRow(), 0);
    EXPECT_EQ(dialog.focusWidget(), form.ListView);
    EXPECT_EQ(browser()->Filter(), "");
    EXPECT_EQ(browser()->Datatype(), vtEMPTY);
    EXPECT_EQ(browser()->AccessRights(), OPCAcesstype());
    QTest::mouseClick(form.bCancel, Qt::LeftButton);
  });
  EXPECT_FALSE(OPCBrowseDialog(browser(), list, false));
  EXPECT_TRUE(driver.ran());
}

TEST_F(BrowseDialogTest, Walking_DescendsAndGoesUpByMouseAndKeys) {
  connect();
  auto ctl = simControl();
  QStringList list;
  ModalDriver<TqOPCDlgBrowse> driver([&](TqOPCDlgBrowse& dialog) {
    BrowseForm form(dialog);
    EXPECT_EQ(form.ePath->text(), "root");
    EXPECT_EQ(form.entries(TqOPCDlgBrowse::BranchImage), kRootBranches);
    EXPECT_TRUE(form.entries(TqOPCDlgBrowse::LeafImage).isEmpty());

    form.doubleClick("Static");
    EXPECT_EQ(form.ePath->text(), "Static");
    EXPECT_EQ(browser()->Levels(), QStringList{"Static"});
    EXPECT_EQ(form.selected(), QStringList{"Nested Level"});

    form.key(Qt::Key_Space);  // down into the selected branch
    EXPECT_EQ(form.ePath->text(), "Nested Level") << "the current branch only, not the path";
    EXPECT_EQ(form.entries(TqOPCDlgBrowse::BranchImage), QStringList{"Deeper"});
    EXPECT_EQ(form.entries(TqOPCDlgBrowse::LeafImage), (QStringList{"Int4", "String"}));

    form.key(Qt::Key_Backspace);
    EXPECT_EQ(form.ePath->text(), "Static");
    QTest::mouseClick(form.bBack, Qt::LeftButton);
    EXPECT_EQ(form.ePath->text(), "root");
    EXPECT_TRUE(browser()->Levels().isEmpty());

    // At the root going up does nothing, not even a server call.
    const auto moves = ctl->callCount(sim::SimCall::ChangeBrowsePosition);
    form.key(Qt::Key_Backspace);
    QTest::mouseClick(form.bBack, Qt::LeftButton);
    EXPECT_EQ(form.ePath->text(), "root");
    EXPECT_EQ(ctl->callCount(sim::SimCall::ChangeBrowsePosition), moves);

    // Space on a leaf stays; double-clicking a leaf opens it.
    form.doubleClick("Static");
    form.click("Int4");
    form.key(Qt::Key_Space);
    EXPECT_EQ(form.ePath->text(), "Static");
    EXPECT_EQ(form.selected(), QStringList{"Int4"});
    form.doubleClick("String");
    EXPECT_FALSE(dialog.isVisible());
  });
  EXPECT_TRUE(OPCBrowseDialog(browser(), list, true));
  EXPECT_TRUE(driver.ran());
  EXPECT_EQ(list, QStringList{"Static.String"});
}

TEST_F(BrowseDialogTest, Open_SeveralLeavesInListOrderAndABranchAmongThem) {
  connect();
  ASSERT_TRUE(browser()->Moveto("Static"));
  QStringList list{"old"};
  QStringList leaves;
  ModalDriver<TqOPCDlgBrowse> driver([&](TqOPCDlgBrowse& dialog) {
    BrowseForm form(dialog);
    leaves = form.entries(TqOPCDlgBrowse::LeafImage);
    ASSERT_GE(leaves.size(), 4);
    // A branch selected together with leaves: Open descends into the branch
    // and hands back nothing yet.
    form.click(leaves[1]);
    form.click("Nested Level", Qt::ControlModifier);
    QTest::mouseClick(form.bOk, Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(form.ePath->text(), "Nested Level");
    EXPECT_TRUE(list.isEmpty()) << "Open empties the list first";

    // Three leaves chosen from the last upwards come back in list order.
    QTest::mouseClick(form.bBack, Qt::LeftButton);
    form.click(leaves[3]);
    form.click(leaves[2], Qt::ControlModifier);
    form.click(leaves[0], Qt::ControlModifier);
    saveShot(dialog, "item-browse-dialog");
    QTest::mouseClick(form.bOk, Qt::LeftButton);
  });
  EXPECT_TRUE(OPCBrowseDialog(browser(), list, false));
  ASSERT_TRUE(driver.ran());
  EXPECT_EQ(list,
            (QStringList{"Static." + leaves[0], "Static." + leaves[2], "Static." + leaves[3]}));
}

TEST_F(BrowseDialogTest, Open_WithoutAChoice_StaysOpenAndEmptiesTheCallersList) {
  connect();
  QStringList list{"old"};
  ModalDriver<TqOPCDlgBrowse> driver([&](TqOPCDlgBrowse& dialog) {
    BrowseForm form(dialog);
    form.click(form.entries().first(), Qt::ControlModifier);  // deselects it
    ASSERT_TRUE(form.selected().isEmpty());
    QTest::mouseClick(form.bOk, Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    QTest::keyClick(form.ListView, Qt::Key_Escape);
  });
  EXPECT_FALSE(OPCBrowseDialog(browser(), list, true));
  EXPECT_TRUE(driver.ran());
  EXPECT_TRUE(list.isEmpty());
}

TEST_F(BrowseDialogTest, Filters_EnterInTheFilterRelistsAndEveryControlRewritesTheBrowser) {
  connect();
  ASSERT_TRUE(browser()->Moveto("Static"));
  QStringList list;
  ModalDriver<TqOPCDlgBrowse> driver([&](TqOPCDlgBrowse& dialog) {
    BrowseForm form(dialog);
    const QStringList allLeaves = form.entries(TqOPCDlgBrowse::LeafImage);

    // Typed and left for the list: the level is listed under the filter.
    QTest::mouseClick(form.eFilter, Qt::LeftButton);
    QTest::keyClicks(form.eFilter, "Int*");
    form.ListView->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(browser()->Filter(), "Int*");
    const QStringList ints = form.entries(TqOPCDlgBrowse::LeafImage);
    ASSERT_FALSE(ints.isEmpty());
    EXPECT_LT(ints.size(), allLeaves.size());
    for (const QString& name : ints) EXPECT_TRUE(name.startsWith("Int")) << name.toStdString();

    // Enter while the filter has the focus lists again and does not close.
    QTest::mouseClick(form.eFilter, Qt::LeftButton);
    form.eFilter->clear();
    QTest::keyClicks(form.eFilter, "String");
    QTest::keyClick(form.eFilter, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(list.isEmpty());
    EXPECT_EQ(browser()->Filter(), "String");
    EXPECT_EQ(form.entries(TqOPCDlgBrowse::LeafImage), QStringList{"String"});
    form.eFilter->clear();

    // Access rights: Static's items are read-only.
    QTest::mouseClick(form.cWritable, Qt::LeftButton);
    EXPECT_EQ(browser()->Filter(), "") << "leaving the filter listed again";
    EXPECT_EQ(browser()->AccessRights(), OPCAcesstype(opcWritable));
    EXPECT_TRUE(form.entries(TqOPCDlgBrowse::LeafImage).isEmpty());
    QTest::mouseClick(form.cReadable, Qt::LeftButton);
    EXPECT_EQ(browser()->AccessRights(), opcWritable | opcReadable);
    QTest::mouseClick(form.cWritable, Qt::LeftButton);
    EXPECT_EQ(browser()->AccessRights(), OPCAcesstype(opcReadable));
    EXPECT_EQ(form.entries(TqOPCDlgBrowse::LeafImage), allLeaves);

    // The data type: the entry's index is the type code handed on.
    form.cDataType->setFocus();
    for (int i = 0; i < vtR8; ++i) QTest::keyClick(form.cDataType, Qt::Key_Down);
    EXPECT_EQ(form.cDataType->currentText(), "R8");
    EXPECT_EQ(browser()->Datatype(), vtR8);
    const QStringList reals = form.entries(TqOPCDlgBrowse::LeafImage);
    EXPECT_FALSE(reals.isEmpty());
    EXPECT_LE(reals.size(), allLeaves.size());
    QTest::mouseClick(form.bCancel, Qt::LeftButton);
  });
  EXPECT_FALSE(OPCBrowseDialog(browser(), list, false));
  EXPECT_TRUE(driver.ran());
  EXPECT_EQ(browser()->Datatype(), vtR8) << "the browser keeps the dialog's filters";
}

TEST_F(BrowseDialogTest, Reopening_StartsWhereTheUserLeftUnlessAtRoot) {
  connect();
  QStringList list;
  {
    ModalDriver<TqOPCDlgBrowse> driver([&](TqOPCDlgBrowse& dialog) {
      BrowseForm form(dialog);
      form.doubleClick("Static");
      form.doubleClick("Nested Level");
      QTest::mouseClick(form.bCancel, Qt::LeftButton);
    });
    EXPECT_FALSE(OPCBrowseDialog(browser(), list, true));
  }
  for (const bool atRoot : {false, true}) {
    QString path;
    ModalDriver<TqOPCDlgBrowse> driver([&](TqOPCDlgBrowse& dialog) {
      BrowseForm form(dialog);
      path = form.ePath->text();
      QTest::mouseClick(form.bCancel, Qt::LeftButton);
    });
    EXPECT_EQ(OPCBrowseItemDialog(browser(), atRoot), "");
    EXPECT_EQ(path, atRoot ? "root" : "Nested Level");
  }
}

TEST_F(BrowseDialogTest, ItemDialog_OneSelectionOnly) {
  connect();
  ASSERT_TRUE(browser()->Moveto("Static.Nested Level"));
  ModalDriver<TqOPCDlgBrowse> driver([&](TqOPCDlgBrowse& dialog) {
    BrowseForm form(dialog);
    EXPECT_EQ(form.ListView->selectionMode(), QAbstractItemView::SingleSelection);
    form.click("Int4");
    form.click("String", Qt::ControlModifier);
    EXPECT_EQ(form.selected(), QStringList{"String"});
    QTest::keyClick(form.ListView, Qt::Key_Return);  // Enter opens through the default button
  });
  EXPECT_EQ(OPCBrowseItemDialog(browser(), false), "Static.Nested Level.String");
  EXPECT_TRUE(driver.ran());
}

TEST_F(BrowseDialogTest, FlatAddressSpace_EveryEntryIsALeafAndNothingGoesDown) {
  sim::ScopedCreationHook flat([](sim::SimulationControl& c) { c.setFlatAddressSpace(true); });
  connect();
  ModalDriver<TqOPCDlgBrowse> driver([&](TqOPCDlgBrowse& dialog) {
    BrowseForm form(dialog);
    EXPECT_EQ(form.ePath->text(), "root");
    EXPECT_TRUE(form.entries(TqOPCDlgBrowse::BranchImage).isEmpty());
    const QStringList ids = form.entries(TqOPCDlgBrowse::LeafImage);
    EXPECT_TRUE(ids.contains("Static.Nested Level.Deeper.Real8"));
    EXPECT_TRUE(ids.contains("Random.Int4"));

    form.click("Static.Nested Level.Int4");
    form.key(Qt::Key_Space);
    form.key(Qt::Key_Backspace);
    EXPECT_EQ(form.ePath->text(), "root");
    EXPECT_EQ(form.entries(), ids);
    EXPECT_TRUE(browser()->Levels().isEmpty());
    form.doubleClick("Static.Nested Level.Int4");
  });
  EXPECT_EQ(OPCBrowseItemDialog(browser(), true), "Static.Nested Level.Int4");
  EXPECT_TRUE(driver.ran());
}

TEST_F(BrowseDialogTest, Faults_WhileOpeningLeaveTheEntryPointWhileActingAreReported) {
  connect();
  QStringList list;
  {
    ModalDriver<QDialog> noDialog([](QDialog& dialog) {
      ADD_FAILURE() << "a dialog was shown";
      dialog.reject();
    });
    simControl()->failCall(sim::SimCall::BrowseOPCItemIDs, E_FAIL, 1);
    EXPECT_THROW(OPCBrowseDialog(browser(), list, true), EOPCException);
    EXPECT_FALSE(noDialog.ran());
  }

  ModalDriver<TqOPCDlgBrowse> driver([&](TqOPCDlgBrowse& dialog) {
    BrowseForm form(dialog);
    simControl()->failCall(sim::SimCall::BrowseOPCItemIDs, E_FAIL, 1);
    QTest::mouseClick(form.cReadable, Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    const auto reported = app->Entries();
    ASSERT_EQ(reported.size(), 1);
    EXPECT_EQ(reported[0].kind, TCaptureApplicationHandler::Kind::Exception);
    EXPECT_EQ(reported[0].className, "EOPCException");
    EXPECT_TRUE(reported[0].text.startsWith("Browser: ")) << reported[0].text.toStdString();
    // The dialog goes on working.
    QTest::mouseClick(form.cReadable, Qt::LeftButton);
    EXPECT_EQ(form.entries(TqOPCDlgBrowse::BranchImage), kRootBranches);
    QTest::mouseClick(form.bCancel, Qt::LeftButton);
  });
  EXPECT_FALSE(OPCBrowseDialog(browser(), list, true));
  EXPECT_TRUE(driver.ran());
}

TEST_F(BrowseDialogTest, Faults_AnIdTheServerRefusedIsNoChoice) {
  connect();
  QStringList faults;
  server->OnError = [&](QObject*, const QString& text, bool& raise) {
    faults << text;
    raise = false;
  };
  ASSERT_TRUE(browser()->Moveto("Static.Nested Level"));
  QStringList list;
  ModalDriver<TqOPCDlgBrowse> driver([&](TqOPCDlgBrowse& dialog) {
    BrowseForm form(dialog);
    simControl()->failCall(sim::SimCall::GetItemID, E_FAIL, 1);
    form.doubleClick("Int4");
    EXPECT_TRUE(dialog.isVisible()) << "an empty id would have been handed on";
    EXPECT_EQ(faults.size(), 1);
    form.doubleClick("Int4");
  });
  EXPECT_TRUE(OPCBrowseDialog(browser(), list, false));
  EXPECT_TRUE(driver.ran());
  EXPECT_EQ(list, QStringList{"Static.Nested Level.Int4"});
}

}  // namespace
