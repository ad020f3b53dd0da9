// The binding item selection dialog: the groups and items of a server
// component offered, the preselection, the choice handed back (group, item,
// trimmed property name, the default box), cancelling, and what is kept when
// the choice cannot be resolved or there is no server component.
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QTreeWidget>

#include "common/dialogdriver.h"
#include "qGUIShowItems.h"
#include "qOPC.h"
#include "simulator/simulator.h"

using namespace dialogs_test;
namespace sim = veze6::sim;

namespace {

// The controls of an open item selection dialog.
struct ItemForm {
  explicit ItemForm(const QDialog& dialog)
      : bAssign(control<QToolButton>(dialog, "bAssign")),
        SpeedButton2(control<QToolButton>(dialog, "SpeedButton2")),
        Label1(control<QLabel>(dialog, "Label1")),
        ePropName(control<QLineEdit>(dialog, "ePropName")),
        Label3(control<QLabel>(dialog, "Label3")),
        cDefault(control<QCheckBox>(dialog, "cDefault")),
        TreeView1(control<QTreeWidget>(dialog, "TreeView1")),
        ItemView(control<QTreeWidget>(dialog, "ItemView")) {
    EXPECT_TRUE(bAssign && SpeedButton2 && Label1 && ePropName && Label3 && cDefault && TreeView1 &&
                ItemView);
  }

  QTreeWidgetItem* top() const { return TreeView1->topLevelItem(0); }
  QStringList groupNodes() const {
    QStringList names;
    for (int i = 0; i < top()->childCount(); ++i) names << top()->child(i)->text(0);
    return names;
  }
  // The caption of the selected node, or "" without one.
  QString selectedNode() const {
    const auto selected = TreeView1->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text(0);
  }
  // "caption|active" per row, in list order.
  QStringList rows() const {
    QStringList texts;
    for (int i = 0; i < ItemView->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* row = ItemView->topLevelItem(i);
      texts << row->text(0) + '|' + row->text(1);
    }
    return texts;
  }
  QStringList selectedRows() const {
    QStringList captions;
    for (int i = 0; i < ItemView->topLevelItemCount(); ++i)
      if (ItemView->topLevelItem(i)->isSelected()) captions << ItemView->topLevelItem(i)->text(0);
    return captions;
  }
  // The index-th node named name under the top node (the top node for "").
  QModelIndex node(const QString& name, int index = 0) const {
    const QModelIndex topIndex = TreeView1->model()->index(0, 0);
    if (name.isEmpty()) return topIndex;
    for (int i = 0; i < top()->childCount(); ++i) {
      if (top()->child(i)->text(0) == name && index-- == 0)
        return TreeView1->model()->index(i, 0, topIndex);
    }
    ADD_FAILURE() << "no node " << name.toStdString();
    return {};
  }
  QModelIndex row(const QString& caption) const {
    for (int i = 0; i < ItemView->topLevelItemCount(); ++i)
      if (ItemView->topLevelItem(i)->text(0) == caption) return ItemView->model()->index(i, 0);
    ADD_FAILURE() << "no row " << caption.toStdString();
    return {};
  }
  void clickNode(const QString& name, int index = 0) const {
    clickRow(TreeView1, node(name, index));
  }
  void clickItem(const QString& caption) const { clickRow(ItemView, row(caption)); }
  // Replaces the property name the way a user does.
  void typePropName(const QString& text) const {
    QTest::mouseClick(ePropName, Qt::LeftButton);
    ePropName->selectAll();
    QTest::keyClick(ePropName, Qt::Key_Delete);
    QTest::keyClicks(ePropName, text);
  }

  QToolButton* bAssign;
  QToolButton* SpeedButton2;
  QLabel* Label1;
  QLineEdit* ePropName;
  QLabel* Label3;
  QCheckBox* cDefault;
  QTreeWidget* TreeView1;
  QTreeWidget* ItemView;
};

// What the entry routine is given and hands back.
struct Choice {
  QString group;
  QString item;
  QString prop;
  bool isDefault = true;  // the routine always sets it
};

// Runs the entry routine with choice, driving the dialog with drive.
bool selectItem(TqOPCServer* component, Choice& choice, std::function<void(TqGUIItemDlg&)> drive) {
  ModalDriver<TqGUIItemDlg> driver(std::move(drive));
  const bool result =
      qGUISelectOPCItem(component, choice.group, choice.item, choice.prop, choice.isDefault);
  EXPECT_TRUE(driver.ran());
  return result;
}

class ItemDialogTest : public veze6::test::LeakCheckedTest {
 protected:
  // A server component that is not connected: the dialog reads only its
  // collections.
  void SetUp() override {
    server = std::make_unique<TqOPCServer>();
    TqOPCItems* boiler = server->OPCGroups()->Add("Boiler")->OPCItems();
    boiler->AddItem("Temperature");
    boiler->AddItem("Pressure")->SetIsActive(false);
    boiler->AddItem("Level");
    TqOPCItems* feed = server->OPCGroups()->Add("Feed")->OPCItems();
    feed->AddItem("Flow");
    feed->AddItem("Temperature")->SetIsActive(false);
    server->OPCGroups()->Add("Spare");
  }

  bool select(Choice& choice, std::function<void(TqGUIItemDlg&)> drive) {
    return selectItem(server.get(), choice, std::move(drive));
  }

  ScopedCaptureApplication app;
  std::unique_ptr<TqOPCServer> server;
};

TEST_F(ItemDialogTest, Opening_TheSentenceRowTheGroupsAndAnEmptyPropertyTicksDefault) {
  Choice choice{"", "", "", true};
  EXPECT_FALSE(select(choice, [&](TqGUIItemDlg& dialog) {
    ItemForm form(dialog);
    EXPECT_EQ(dialog.windowTitle(), "OPC Items");
    EXPECT_EQ(dialog.size(), QSize(469, 400));
    EXPECT_FALSE(dialog.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint))
        << "only the close box";

    // One row that reads as a sentence, left to right.
    const QList<QWidget*> sentence{form.bAssign,   form.SpeedButton2, form.Label1,
                                   form.ePropName, form.Label3,       form.cDefault};
    for (qsizetype i = 1; i < sentence.size(); ++i) {
      EXPECT_LT(sentence[i - 1]->mapTo(&dialog, QPoint()).x(),
                sentence[i]->mapTo(&dialog, QPoint()).x())
          << sentence[i]->objectName().toStdString();
    }
    EXPECT_EQ(form.Label1->text(), "Set property ");
    // The speed buttons' glyphs have a greyed rendering of their own.
    for (const QToolButton* button : {form.bAssign, form.SpeedButton2}) {
      const QIcon glyph = button->icon();
      EXPECT_NE(glyph.pixmap(16, QIcon::Disabled).toImage(),
                glyph.pixmap(16, QIcon::Normal).toImage());
    }

    // The list fills the rest, its item column the list's width.
    EXPECT_GT(form.ItemView->width(), form.TreeView1->width());
    EXPECT_GT(form.ItemView->header()->sectionSize(0), 2 * form.ItemView->header()->sectionSize(1));

    // The fixed top node, a closed folder, with the groups in collection
    // order under it, expanded; no group chosen, so no list.
    ASSERT_EQ(form.TreeView1->topLevelItemCount(), 1);
    EXPECT_EQ(form.top()->text(0), "OPC Groups");
    EXPECT_EQ(form.top()->data(0, TqGUIItemDlg::ImageIndexRole), TqGUIItemDlg::ClosedFolderImage);
    EXPECT_TRUE(form.top()->isExpanded());
    EXPECT_EQ(form.groupNodes(), (QStringList{"Boiler", "Feed", "Spare"}));
    EXPECT_EQ(form.selectedNode(), "");
    EXPECT_EQ(form.ItemView->topLevelItemCount(), 0);

    EXPECT_TRUE(form.cDefault->isChecked()) << "no property yet: the class default";
    EXPECT_EQ(dialog.focusWidget(), form.ePropName);
    QTest::keyClicks(form.ePropName, "text");
    QTest::mouseClick(form.SpeedButton2, Qt::LeftButton);
  }));
  EXPECT_EQ(choice.group, "");
  EXPECT_EQ(choice.item, "");
  EXPECT_EQ(choice.prop, "") << "cancelling hands back nothing";
  EXPECT_FALSE(choice.isDefault) << "ticked, but cancelled";
}

TEST_F(ItemDialogTest, Opening_PreselectsTheGroupAndItemAndChangingGroupRefillsTheList) {
  Choice choice{"Feed", "Temperature", "checked", true};
  EXPECT_TRUE(select(choice, [&](TqGUIItemDlg& dialog) {
    ItemForm form(dialog);
    EXPECT_EQ(form.ePropName->text(), "checked");
    EXPECT_FALSE(form.cDefault->isChecked());
    EXPECT_EQ(dialog.focusWidget(), form.ePropName);
    EXPECT_EQ(form.selectedNode(), "Feed");
    EXPECT_EQ(form.node("Feed").data(TqGUIItemDlg::ImageIndexRole), TqGUIItemDlg::OpenFolderImage);
    EXPECT_EQ(form.node("Boiler").data(TqGUIItemDlg::ImageIndexRole),
              TqGUIItemDlg::ClosedFolderImage);
    EXPECT_EQ(form.rows(), (QStringList{"Flow|X", "Temperature| "}));
    EXPECT_EQ(form.selectedRows(), QStringList{"Temperature"});

    // Another group: its items, each active one with "X", an inactive one
    // with a single blank; the incoming item's caption selected again.
    form.clickNode("Boiler");
    EXPECT_EQ(form.rows(), (QStringList{"Temperature|X", "Pressure| ", "Level|X"}));
    EXPECT_EQ(form.selectedRows(), QStringList{"Temperature"});
    EXPECT_EQ(form.node("Boiler").data(TqGUIItemDlg::ImageIndexRole),
              TqGUIItemDlg::OpenFolderImage);
    EXPECT_EQ(form.node("Feed").data(TqGUIItemDlg::ImageIndexRole),
              TqGUIItemDlg::ClosedFolderImage);

    form.clickItem("Pressure");
    form.typePropName("  enabled \t");
    QTest::mouseClick(form.cDefault, Qt::LeftButton);
    QTest::mouseClick(form.bAssign, Qt::LeftButton);
  }));
  EXPECT_EQ(choice.group, "Boiler");
  EXPECT_EQ(choice.item, "Pressure");
  EXPECT_EQ(choice.prop, "enabled") << "blanks around the name removed";
  EXPECT_TRUE(choice.isDefault);
}

TEST_F(ItemDialogTest, Opening_WithEqualGroupNamesSelectsTheLastNodeAndListsTheGroupOfThatName) {
  TqOPCGroup* second = server->OPCGroups()->Add("Second");
  second->OPCItems()->AddItem("Other");
  second->SetName("Boiler");  // renamed locally: two groups answer to the name
  Choice choice{"Boiler", "Level", "text"};
  EXPECT_TRUE(select(choice, [&](TqGUIItemDlg& dialog) {
    ItemForm form(dialog);
    EXPECT_EQ(form.groupNodes(), (QStringList{"Boiler", "Feed", "Spare", "Boiler"}));
    EXPECT_TRUE(form.TreeView1->selectionModel()->isSelected(form.node("Boiler", 1)));
    // The name lookup finds the first group of that name, so the items shown
    // are the ones a binding by that name would reach.
    EXPECT_EQ(form.rows(), (QStringList{"Temperature|X", "Pressure| ", "Level|X"}));
    QTest::mouseClick(form.bAssign, Qt::LeftButton);
  }));
  EXPECT_EQ(choice.group, "Boiler");
  EXPECT_EQ(choice.item, "Level");
}

TEST_F(ItemDialogTest, Assign_WithoutARow_EmptiesTheItemAndTakesTheSelectedGroup) {
  Choice choice{"Boiler", "Level", "text"};
  EXPECT_TRUE(select(choice, [&](TqGUIItemDlg& dialog) {
    ItemForm form(dialog);
    ASSERT_EQ(form.selectedRows(), QStringList{"Level"});
    form.clickNode("Spare");
    EXPECT_TRUE(form.rows().isEmpty()) << "a group without items";
    QTest::mouseClick(form.bAssign, Qt::LeftButton);
  }));
  EXPECT_EQ(choice.group, "Spare");
  EXPECT_EQ(choice.item, "");
  EXPECT_EQ(choice.prop, "text");
  EXPECT_FALSE(choice.isDefault);
}

TEST_F(ItemDialogTest, Assign_TheTopNodeKeepsTheIncomingGroupEvenWhenAGroupBearsItsCaption) {
  // A group named like the top node: choosing the top node still chooses no
  // group, so its items never pass for the incoming group's.
  TqOPCItems* clash = server->OPCGroups()->Add("OPC Groups")->OPCItems();
  clash->AddItem("Level");
  Choice choice{"Boiler", "Pressure", "text"};
  EXPECT_TRUE(select(choice, [&](TqGUIItemDlg& dialog) {
    ItemForm form(dialog);
    form.clickNode("OPC Groups");
    EXPECT_EQ(form.rows(), QStringList{"Level|X"}) << "the group's own node lists it";
    form.clickNode("");
    EXPECT_EQ(form.selectedNode(), "OPC Groups");
    EXPECT_TRUE(form.rows().isEmpty()) << "the top node lists nothing";
    EXPECT_EQ(form.node("OPC Groups").data(TqGUIItemDlg::ImageIndexRole),
              TqGUIItemDlg::ClosedFolderImage);
    QTest::mouseClick(form.bAssign, Qt::LeftButton);
  }));
  EXPECT_EQ(choice.group, "Boiler");
  EXPECT_EQ(choice.item, "") << "no row selected";
}

TEST_F(ItemDialogTest, Assign_ARowNoLongerInTheGroupKeepsTheIncomingItem) {
  Choice choice{"Boiler", "Level", "text"};
  EXPECT_TRUE(select(choice, [&](TqGUIItemDlg& dialog) {
    ItemForm form(dialog);
    form.clickItem("Pressure");
    // The application renames the item while the dialog shows it.
    server->OPCGroups()
        ->GetOPCGroup("Boiler")
        ->OPCItems()
        ->FindOPCItem("Pressure")
        ->SetItemID("Pressure2");
    QTest::mouseClick(form.bAssign, Qt::LeftButton);
  }));
  EXPECT_EQ(choice.group, "Boiler");
  EXPECT_EQ(choice.item, "Level");

  // A row of the newly chosen group is looked up under that group's name.
  choice = Choice{"Boiler", "Level", "text"};
  EXPECT_TRUE(select(choice, [&](TqGUIItemDlg& dialog) {
    ItemForm form(dialog);
    form.clickNode("Feed");
    form.clickItem("Flow");
    server->OPCGroups()->GetOPCGroup("Feed")->OPCItems()->Delete(0);
    QTest::mouseClick(form.bAssign, Qt::LeftButton);
  }));
  EXPECT_EQ(choice.group, "Feed");
  EXPECT_EQ(choice.item, "Level");
}

TEST_F(ItemDialogTest, DoubleClick_OnARowAssignsAtOnce) {
  Choice choice{"Boiler", "Level", "value"};
  EXPECT_TRUE(select(choice, [&](TqGUIItemDlg& dialog) {
    ItemForm form(dialog);
    form.clickNode("Feed");
    doubleClickRow(form.ItemView, form.row("Flow"));
    EXPECT_FALSE(dialog.isVisible());
  }));
  EXPECT_EQ(choice.group, "Feed");
  EXPECT_EQ(choice.item, "Flow");
  EXPECT_EQ(choice.prop, "value");
}

TEST_F(ItemDialogTest, Cancel_TheButtonTheCloseBoxEscapeAndExitLeaveEverything) {
  const std::function<void(ItemForm&, TqGUIItemDlg&)> ways[] = {
      [](ItemForm& form, TqGUIItemDlg&) { QTest::mouseClick(form.SpeedButton2, Qt::LeftButton); },
      [](ItemForm&, TqGUIItemDlg& dialog) { dialog.close(); },
      [](ItemForm& form, TqGUIItemDlg&) { QTest::keyClick(form.ePropName, Qt::Key_Escape); },
      [](ItemForm&, TqGUIItemDlg& dialog) { dialog.Exit1Click(); },
  };
  for (const auto& cancel : ways) {
    Choice choice{"Boiler", "Level", "text", true};
    EXPECT_FALSE(select(choice, [&](TqGUIItemDlg& dialog) {
      ItemForm form(dialog);
      form.clickNode("Feed");
      form.clickItem("Flow");
      form.typePropName("other");
      QTest::mouseClick(form.cDefault, Qt::LeftButton);
      QTest::keyClick(form.ePropName, Qt::Key_Return);  // no default button: Enter stays
      ASSERT_TRUE(dialog.isVisible());
      cancel(form, dialog);
      EXPECT_FALSE(dialog.isVisible());
    }));
    EXPECT_EQ(choice.group, "Boiler");
    EXPECT_EQ(choice.item, "Level");
    EXPECT_EQ(choice.prop, "text");
    EXPECT_FALSE(choice.isDefault);
  }
}

TEST_F(ItemDialogTest, NoServer_OnlyTheTopNodeTheIncomingGroupKept) {
  Choice choice{"Boiler", "Level", " text "};
  EXPECT_TRUE(selectItem(nullptr, choice, [&](TqGUIItemDlg& dialog) {
    ItemForm form(dialog);
    ASSERT_EQ(form.TreeView1->topLevelItemCount(), 1);
    EXPECT_EQ(form.top()->childCount(), 0);
    form.clickNode("");
    EXPECT_EQ(form.ItemView->topLevelItemCount(), 0);
    QTest::mouseClick(form.bAssign, Qt::LeftButton);
  }));
  EXPECT_EQ(choice.group, "Boiler");
  EXPECT_EQ(choice.item, "");
  EXPECT_EQ(choice.prop, "text");

  // The component destroyed while the dialog shows it is no longer read.
  choice = Choice{"Boiler", "Level", "text"};
  EXPECT_TRUE(select(choice, [&](TqGUIItemDlg& dialog) {
    ItemForm form(dialog);
    form.clickItem("Pressure");
    server.reset();
    form.clickNode("Feed");
    EXPECT_EQ(form.ItemView->topLevelItemCount(), 0);
    QTest::mouseClick(form.bAssign, Qt::LeftButton);
  }));
  EXPECT_EQ(choice.group, "Feed");
  EXPECT_EQ(choice.item, "");
  EXPECT_TRUE(app->Entries().isEmpty());
}

class ItemDialogSimTest : public veze6::test::LeakCheckedTest {
 protected:
  static void SetUpTestSuite() { sim::registerSimulationServer(); }

  ScopedCaptureApplication app;
  TqOPCServer server;
};

TEST_F(ItemDialogSimTest, Connected_TheComponentsGroupsAndItemsAreOfferedAndChosen) {
  server.Connect("Veze6.Simulation.1");
  ASSERT_TRUE(server.Active());
  TqOPCItems* boiler = server.OPCGroups()->Add("Boiler")->OPCItems();
  boiler->AddItem("Ramp.Real8");
  boiler->AddItem("Sine.Real8");
  boiler->AddItem("Static.String")->SetIsActive(false);
  boiler->AddItem("Writable.Real8");
  TqOPCItems* feed = server.OPCGroups()->Add("Feed Water")->OPCItems();
  feed->AddItem("Random.Int4");
  feed->AddItem("Square.Int4");
  server.OPCGroups()->Add("Alarms")->OPCItems()->AddItem("Static.Int4");

  Choice choice{"Boiler", "Sine.Real8", "value"};
  EXPECT_TRUE(selectItem(&server, choice, [&](TqGUIItemDlg& dialog) {
    ItemForm form(dialog);
    EXPECT_EQ(form.groupNodes(), (QStringList{"Boiler", "Feed Water", "Alarms"}));
    EXPECT_EQ(form.rows(),
              (QStringList{"Ramp.Real8|X", "Sine.Real8|X", "Static.String| ", "Writable.Real8|X"}));
    EXPECT_EQ(form.selectedRows(), QStringList{"Sine.Real8"});
    saveShot(dialog, "binding-item-dialog");
    form.clickItem("Writable.Real8");
    QTest::mouseClick(form.bAssign, Qt::LeftButton);
  }));
  EXPECT_EQ(choice.group, "Boiler");
  EXPECT_EQ(choice.item, "Writable.Real8");
  EXPECT_TRUE(server.Active()) << "the dialog only reads the collections";
}

}  // namespace
