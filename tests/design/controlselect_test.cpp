// The control selection form: which controls it lists and with what, the
// right click that clears a row, the double click that chooses through the
// item selection dialog (with the remembered class default), what closing
// the window (close box, OK, Escape, Cancel) does to the bindings, the two refusals of the entry
// routine, and rows whose control or binding went away while the window was open.
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QToolButton>
#include <QTreeWidget>
#include <memory>
#include <optional>

#include "binding/qOPCGUI.h"
#include "common/dialogdriver.h"
#include "core/exceptions.h"
#include "core/qOPC.h"
#include "design/qOPCGUIDlg.h"
#include "dialogs/qGUIShowItems.h"
#include "simulator/simulator.h"

using namespace dialogs_test;
namespace sim = veze6::sim;

namespace {

// The list of an open control selection form.
struct SelectList {
  explicit SelectList(const QDialog& dialog) : view(control<QTreeWidget>(dialog, "ListView")) {
    EXPECT_TRUE(view);
  }
  // "caption|property|group|item" per row, in list order.
  QStringList rows() const {
    QStringList texts;
    for (int i = 0; i < view->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* row = view->topLevelItem(i);
      texts << QStringList{row->text(0), row->text(1), row->text(2), row->text(3)}.join('|');
    }
    return texts;
  }
  QModelIndex row(int index) const { return view->model()->index(index, 0); }
  void rightClick(int index) const {
    QTest::mouseClick(view->viewport(), Qt::RightButton, Qt::NoModifier,
                      view->visualRect(row(index)).center());
  }
  QTreeWidget* view;
};

// Chooses in the item selection dialog: the group node, the item row (none
// for ""), the property name typed over the offered one (kept for a null
// string), the default box as given, then assigns.
void choose(TqGUIItemDlg& dialog, const QString& group, const QString& item,
            std::optional<QString> prop = {}, std::optional<bool> isDefault = {}) {
  auto* tree = control<QTreeWidget>(dialog, "TreeView1");
  auto* items = control<QTreeWidget>(dialog, "ItemView");
  auto* edit = control<QLineEdit>(dialog, "ePropName");
  auto* box = control<QCheckBox>(dialog, "cDefault");
  ASSERT_TRUE(tree && items && edit && box);
  const QModelIndex top = tree->model()->index(0, 0);
  for (int i = 0; i < tree->topLevelItem(0)->childCount(); ++i)
    if (tree->topLevelItem(0)->child(i)->text(0) == group)
      clickRow(tree, tree->model()->index(i, 0, top));
  items->clearSelection();
  for (int i = 0; i < items->topLevelItemCount(); ++i)
    if (items->topLevelItem(i)->text(0) == item) clickRow(items, items->model()->index(i, 0));
  if (prop) edit->setText(*prop);
  if (isDefault) box->setChecked(*isDefault);
  QTest::mouseClick(control<QToolButton>(dialog, "bAssign"), Qt::LeftButton);
}

// Double-clicks row index of the form and drives the item dialog it opens.
void assignRow(const SelectList& list, int index, std::function<void(TqGUIItemDlg&)> drive) {
  ModalDriver<TqGUIItemDlg> driver(std::move(drive));
  doubleClickRow(list.view, list.row(index));
  EXPECT_TRUE(driver.ran()) << "no item dialog for row " << index;
}

// Opens the form for gui through the entry routine; drive runs while it is
// open and then finish closes the form (by default with its close box).
void editControls(TqOPCGUI* gui, std::function<void(TqGUISelectForm&, SelectList&)> drive,
                  std::function<void(TqGUISelectForm&)> finish = {}) {
  ModalDriver<TqGUISelectForm> driver([&](TqGUISelectForm& form) {
    SelectList list(form);
    drive(form, list);
    if (finish)
      finish(form);
    else
      form.close();
  });
  qGUISelectControls(gui);
  EXPECT_TRUE(driver.ran());
}

// "property|group|item|control" per binding, in collection order.
QStringList bindings(const TqOPCGUI& gui) {
  QStringList texts;
  for (int i = 0; i < gui.Items()->Count(); ++i) {
    const TqGUIItem* b = gui.Items()->Items(i);
    texts << QStringList{b->CtrlPropName(), b->OPCGroup(), b->OPCItem(),
                         b->Control() ? b->Control()->objectName() : QStringLiteral("-")}
                 .join('|');
  }
  return texts;
}

class ControlSelectTest : public veze6::test::LeakCheckedTest {
 protected:
  // A form with an edit, a label and a frame, its server component (not
  // connected: the windows read only its collections) and a binding
  // component that links at run time.
  void SetUp() override {
    store().clear();
    form = std::make_unique<QWidget>();
    edit = named(new QLineEdit(form.get()), "Edit1");
    label = named(new QLabel(form.get()), "Label1");
    panel = named(new QFrame(form.get()), "Panel1");
    server = new TqOPCServer(form.get());
    server->SetName("OPCServer1");
    TqOPCItems* boiler = server->OPCGroups()->Add("Boiler")->OPCItems();
    boiler->AddItem("Temperature");
    boiler->AddItem("Pressure");
    server->OPCGroups()->Add("Feed")->OPCItems()->AddItem("Flow");
    gui = new TqOPCGUI(form.get());
    gui->SetOPCServer(server);
  }
  void TearDown() override { store().clear(); }

  template <class W>
  static W* named(W* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
  }
  static QSettings store() { return QSettings(QStringLiteral("Vorlax"), QStringLiteral("QOPC")); }
  TqOPCItem* item(const QString& group, const QString& id) const {
    return FindqOPCItem(server, group, id);
  }

  ScopedCaptureApplication app;
  std::unique_ptr<QWidget> form;
  QLineEdit* edit = nullptr;
  QLabel* label = nullptr;
  QFrame* panel = nullptr;
  TqOPCServer* server = nullptr;
  TqOPCGUI* gui = nullptr;
};

TEST_F(ControlSelectTest, Listing_OneRowPerNamedControlWithTableDefaultsAndNothingChangesOnClose) {
  ASSERT_TRUE(store().fileName().startsWith(QDir::tempPath()))
      << "the settings store must be the test's own: " << store().fileName().toStdString();
  // Inner parts of composite widgets, unnamed widgets and other windows are
  // not the form's controls; controls inside containers are, after their
  // container.
  auto* memo = named(new QPlainTextEdit(panel), "Memo1");
  new QLabel(form.get());  // no name
  auto* other = named(new QWidget(form.get(), Qt::Window), "OtherWindow");
  named(new QLineEdit(other), "Elsewhere");
  ASSERT_FALSE(memo->findChildren<QWidget*>().isEmpty());

  editControls(gui, [&](TqGUISelectForm& window, SelectList& list) {
    EXPECT_EQ(window.windowTitle(), "OPC to GUI");
    EXPECT_EQ(window.size(), QSize(573, 297));
    EXPECT_TRUE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(list.view->toolTip(), "Make doubleclick to assign\nMake right mouseclick to reset");
    const QTreeWidgetItem* header = list.view->headerItem();
    EXPECT_EQ((QStringList{header->text(0), header->text(1), header->text(2), header->text(3)}),
              (QStringList{"Control", "Propname", "OPC Group", "OPC Item"}));
    int width = 0;
    for (int c = 0; c < 4; ++c) {
      EXPECT_EQ(list.view->header()->sectionResizeMode(c), QHeaderView::Stretch);
      width += list.view->header()->sectionSize(c);
    }
    EXPECT_EQ(width, list.view->viewport()->width()) << "the columns share the list's width";

    EXPECT_EQ(list.rows(),
              (QStringList{"Edit1|text||", "Label1|text||", "Panel1|||", "Memo1|lines||"}));
    EXPECT_EQ(list.view->currentIndex(), list.row(0)) << "the first row has the focus mark";
    EXPECT_TRUE(list.view->selectedItems().isEmpty()) << "but is not selected";
    EXPECT_EQ(window.Server(), server);
    EXPECT_EQ(window.OwnerForm(), form.get());
  });
  EXPECT_EQ(gui->Items()->Count(), 0) << "unchanged rows add nothing";
  EXPECT_TRUE(app->Entries().isEmpty());
}

TEST_F(ControlSelectTest, Listing_ABoundControlShowsItsFirstBindingAndOnlyThatOneIsUpdated) {
  gui->AddItem("Boiler", "Temperature", edit, "text");
  gui->AddItem("Feed", "Flow", edit, "placeholderText");
  editControls(gui, [&](TqGUISelectForm&, SelectList& list) {
    EXPECT_EQ(list.rows(),
              (QStringList{"Edit1|text|Boiler|Temperature", "Label1|text||", "Panel1|||"}));
    assignRow(list, 0, [](TqGUIItemDlg& dialog) {
      EXPECT_EQ(control<QLineEdit>(dialog, "ePropName")->text(), "text");
      EXPECT_FALSE(control<QCheckBox>(dialog, "cDefault")->isChecked());
      choose(dialog, "Boiler", "Pressure", "Text");
    });
    EXPECT_EQ(list.rows()[0], "Edit1|Text|Boiler|Pressure");
    EXPECT_EQ(bindings(*gui)[0], "text|Boiler|Temperature|Edit1") << "nothing before closing";
  });
  EXPECT_EQ(bindings(*gui),
            (QStringList{"Text|Boiler|Pressure|Edit1", "placeholderText|Feed|Flow|Edit1"}));
  EXPECT_EQ(gui->Items()->Items(0)->LinkedItem(), item("Boiler", "Pressure")) << "linked again";
  EXPECT_EQ(gui->Items()->Items(1)->LinkedItem(), item("Feed", "Flow"));
  EXPECT_EQ(item("Boiler", "Temperature")->GUIList().size(), 0);
  EXPECT_TRUE(store().allKeys().isEmpty()) << "\"default\" was not ticked";
}

TEST_F(ControlSelectTest, RightClick_ClearsGroupAndItemOfTheRowAndClosingDeletesTheBinding) {
  gui->AddItem("Boiler", "Temperature", edit, "text");
  gui->AddItem("Feed", "Flow", label, "text");
  editControls(gui, [&](TqGUISelectForm&, SelectList& list) {
    QTest::mouseClick(list.view->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list.view->visualRect(list.row(0)).center());
    EXPECT_EQ(list.rows()[0], "Edit1|text|Boiler|Temperature") << "a left click changes nothing";
    list.rightClick(1);
    EXPECT_EQ(list.rows(),
              (QStringList{"Edit1|text|Boiler|Temperature", "Label1|text||", "Panel1|||"}))
        << "the row pointed at is cleared, its property name stays";
    EXPECT_EQ(gui->Items()->Count(), 2) << "the binding changes only when the window closes";
    QTest::mouseClick(list.view->viewport(), Qt::RightButton, Qt::NoModifier,
                      QPoint(5, list.view->viewport()->height() - 2));
    EXPECT_EQ(list.rows()[0], "Edit1|text|Boiler|Temperature");
  });
  EXPECT_EQ(bindings(*gui), QStringList{"text|Boiler|Temperature|Edit1"});
  EXPECT_TRUE(item("Feed", "Flow")->GUIList().isEmpty()) << "the deleted binding left its item";
}

TEST_F(ControlSelectTest, DoubleClick_ChoiceAddsABindingThatTheDesignerStoresWithoutLinking) {
  TqOPCGUI designing(form.get());
  designing.SetDesigning(true);
  designing.SetOPCServer(server);
  editControls(&designing, [&](TqGUISelectForm&, SelectList& list) {
    // Cancelling keeps the row as it was.
    assignRow(list, 1, [](TqGUIItemDlg& dialog) {
      QTest::mouseClick(control<QToolButton>(dialog, "SpeedButton2"), Qt::LeftButton);
    });
    EXPECT_EQ(list.rows()[1], "Label1|text||");
    assignRow(list, 1, [](TqGUIItemDlg& dialog) { choose(dialog, "Feed", "Flow"); });
    EXPECT_EQ(list.rows()[1], "Label1|text|Feed|Flow");
  });
  ASSERT_EQ(bindings(designing), QStringList{"text|Feed|Flow|Label1"});
  EXPECT_EQ(designing.Items()->Items(0)->LinkedItem(), nullptr) << "stored, not linked";
  EXPECT_TRUE(item("Feed", "Flow")->GUIList().isEmpty());
  EXPECT_TRUE(store().allKeys().isEmpty()) << "the label had a property: \"default\" unticked";

  // At run time the new binding links at once.
  editControls(gui, [&](TqGUISelectForm&, SelectList& list) {
    assignRow(list, 0, [](TqGUIItemDlg& dialog) { choose(dialog, "Boiler", "Pressure"); });
  });
  ASSERT_EQ(bindings(*gui), QStringList{"text|Boiler|Pressure|Edit1"});
  EXPECT_EQ(gui->Items()->Items(0)->LinkedItem(), item("Boiler", "Pressure"));
}

TEST_F(ControlSelectTest, DoubleClick_DefaultTickedIsRememberedForTheClassAndOfferedNextTime) {
  auto* edit2 = named(new QLineEdit(form.get()), "Edit2");
  gui->AddItem("Feed", "Flow", edit2, "text");
  editControls(gui, [&](TqGUISelectForm&, SelectList& list) {
    assignRow(list, 0, [](TqGUIItemDlg& dialog) {
      choose(dialog, "Boiler", "Temperature", "placeholderText", true);
    });
    // The frame has no table default, so the dialog ticks "default" itself.
    assignRow(list, 2, [](TqGUIItemDlg& dialog) {
      EXPECT_TRUE(control<QCheckBox>(dialog, "cDefault")->isChecked());
      choose(dialog, "Boiler", "Pressure", "toolTip");
    });
  });
  EXPECT_EQ(store().value("QLineEdit").toString(), "placeholderText");
  EXPECT_EQ(store().value("QFrame").toString(), "toolTip");

  named(new QLineEdit(form.get()), "Edit3");
  editControls(gui, [&](TqGUISelectForm&, SelectList& list) {
    EXPECT_EQ(list.rows(), (QStringList{"Edit1|placeholderText|Boiler|Temperature", "Label1|text||",
                                        "Panel1|toolTip|Boiler|Pressure", "Edit2|text|Feed|Flow",
                                        "Edit3|placeholderText||"}))
        << "unbound edits offer the remembered name, bound ones show their own";
    // "default" with an empty name forgets the class's memory.
    assignRow(list, 4, [](TqGUIItemDlg& dialog) { choose(dialog, "Feed", "", "", true); });
  });
  EXPECT_FALSE(store().contains("QLineEdit"));
  editControls(
      gui, [&](TqGUISelectForm&, SelectList& list) { EXPECT_EQ(list.rows()[4], "Edit3|text||"); });
  EXPECT_EQ(bindings(*gui).size(), 3) << "the group alone made no binding for Edit3";
}

TEST_F(ControlSelectTest, Closing_RewritesEveryBindingWithItsRowAndGivesEmptyNamesTheDefault) {
  TqGUIItem* nameless = gui->Items()->Add();
  nameless->SetComponent(edit);
  nameless->SetOPCGroup("Boiler");
  nameless->SetOPCItem("Temperature");
  gui->AddItem("Feed", "Flow", label, "TEXT");
  // Not on the form: no row, never touched.
  QLineEdit elsewhere;
  elsewhere.setObjectName("Edit1");
  gui->AddItem("Boiler", "Pressure", &elsewhere, "text");
  editControls(gui, [&](TqGUISelectForm&, SelectList& list) {
    EXPECT_EQ(list.rows(),
              (QStringList{"Edit1|text|Boiler|Temperature", "Label1|TEXT|Feed|Flow", "Panel1|||"}));
  });
  EXPECT_EQ(bindings(*gui), (QStringList{"text|Boiler|Temperature|Edit1", "TEXT|Feed|Flow|Label1",
                                         "text|Boiler|Pressure|Edit1"}));
  EXPECT_EQ(gui->Items()->Items(0)->Control(), edit);
  EXPECT_EQ(gui->Items()->Items(2)->Control(), &elsewhere);
  EXPECT_TRUE(gui->Items()->Items(0)->PropInfo().isValid()) << "the default name resolves";
}

TEST_F(ControlSelectTest, Closing_ABindingOrARowNamingOnlyAGroupIsNoBinding) {
  gui->AddItem("Boiler", "", edit, "text");
  editControls(gui, [&](TqGUISelectForm&, SelectList& list) {
    EXPECT_EQ(list.rows()[0], "Edit1|text|Boiler|");
    // Assigning without an item row: the group alone.
    assignRow(list, 1, [](TqGUIItemDlg& dialog) { choose(dialog, "Feed", ""); });
    EXPECT_EQ(list.rows()[1], "Label1|text|Feed|");
  });
  EXPECT_TRUE(bindings(*gui).isEmpty()) << "a binding needs both names to be kept, and to be made";
}

TEST_F(ControlSelectTest, Closing_ControlsWithTheSameNameKeepTheirOwnRows) {
  auto* twin = named(new QLineEdit(form.get()), "Edit1");
  gui->AddItem("Boiler", "Temperature", twin, "text");
  editControls(gui, [&](TqGUISelectForm&, SelectList& list) {
    EXPECT_EQ(list.rows(), (QStringList{"Edit1|text||", "Label1|text||", "Panel1|||",
                                        "Edit1|text|Boiler|Temperature"}));
    assignRow(list, 0, [](TqGUIItemDlg& dialog) { choose(dialog, "Feed", "Flow"); });
  });
  ASSERT_EQ(gui->Items()->Count(), 2);
  EXPECT_EQ(gui->Items()->Items(0)->Control(), twin) << "the bound twin stays bound";
  EXPECT_EQ(gui->Items()->Items(1)->Control(), edit) << "the row's own control is bound";
  EXPECT_EQ(gui->Items()->Items(1)->OPCItem(), "Flow");
}

TEST_F(ControlSelectTest, Closing_EscapeAndCancelDiscardTheRowsOKAppliesThem) {
  gui->AddItem("Boiler", "Temperature", edit, "text");
  const auto clearFirstRow = [](TqGUISelectForm&, SelectList& list) {
    list.view->setFocus();
    list.rightClick(0);
    EXPECT_EQ(list.rows()[0], "Edit1|text||");
  };
  const auto button = [](TqGUISelectForm& form, QDialogButtonBox::StandardButton which) {
    auto* box = control<QDialogButtonBox>(form, "ButtonBox");
    ASSERT_TRUE(box && box->button(which));
    QTest::mouseClick(box->button(which), Qt::LeftButton);
  };
  const QStringList bound{"text|Boiler|Temperature|Edit1"};

  editControls(gui, clearFirstRow, [](TqGUISelectForm& form) {
    QTest::keyClick(form.focusWidget() ? form.focusWidget() : &form, Qt::Key_Escape);
    EXPECT_FALSE(form.isVisible());
  });
  EXPECT_EQ(bindings(*gui), bound) << "Escape";
  editControls(gui, clearFirstRow,
               [&](TqGUISelectForm& form) { button(form, QDialogButtonBox::Cancel); });
  EXPECT_EQ(bindings(*gui), bound) << "Cancel";
  editControls(gui, clearFirstRow,
               [&](TqGUISelectForm& form) { button(form, QDialogButtonBox::Ok); });
  EXPECT_TRUE(bindings(*gui).isEmpty()) << "OK applies the cleared row";
}

TEST_F(ControlSelectTest, Refusals_NoServerOrNoFormOpensNothing) {
  const auto opened = [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<TqGUISelectForm*>(w) && w->isVisible()) return true;
    return false;
  };
  qGUISelectControls(nullptr);  // nothing for none

  TqOPCGUI serverless(form.get());
  serverless.SetOPCServer(nullptr);
  try {
    qGUISelectControls(&serverless);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "first assign property opcserver");
  }

  // Owned by a control inside the form, or by nothing: not a form. The
  // server is checked first.
  TqOPCGUI onPanel(panel);
  onPanel.SetOPCServer(server);
  TqOPCGUI ownerless;
  ownerless.SetOPCServer(server);
  for (TqOPCGUI* g : {&onPanel, &ownerless}) {
    try {
      qGUISelectControls(g);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "only possible on Forms");
    }
  }
  EXPECT_FALSE(opened());
  EXPECT_EQ(onPanel.Items()->Count(), 0);
}

TEST_F(ControlSelectTest, Vanishing_ControlsAndBindingsDestroyedWhileTheWindowIsOpen) {
  gui->AddItem("Boiler", "Temperature", edit, "text");
  gui->AddItem("Feed", "Flow", label, "text");
  auto* gone = named(new QLineEdit(form.get()), "Edit2");
  editControls(gui, [&](TqGUISelectForm&, SelectList& list) {
    // A row chosen for a control that is destroyed before closing.
    assignRow(list, 3, [](TqGUIItemDlg& dialog) { choose(dialog, "Boiler", "Pressure"); });
    delete gone;
    // With a server linked, the edit's binding goes with it.
    delete edit;
    edit = nullptr;
    EXPECT_EQ(gui->Items()->Count(), 1);
    // Without one, the label's binding forgets its control and stays.
    delete server;
    server = nullptr;
    delete label;
    label = nullptr;
    EXPECT_EQ(list.rows().size(), 4);
  });
  EXPECT_EQ(bindings(*gui), QStringList{"text|Feed|Flow|-"})
      << "the binding keeps its names and loses its control; nothing new is made";
  EXPECT_TRUE(app->Entries().isEmpty());
}

// A picture of the window filled from the simulation server (with
// VEZE6_DIALOG_SHOTS set).
TEST_F(ControlSelectTest, Simulation_TheWindowListsBindingsOfAConnectedServer) {
  sim::registerSimulationServer();
  TqOPCServer connected(form.get());
  connected.Connect("Veze6.Simulation.1");
  ASSERT_TRUE(connected.Active());
  TqOPCItems* boiler = connected.OPCGroups()->Add("Boiler")->OPCItems();
  boiler->AddItem("Ramp.Real8");
  boiler->AddItem("Sine.Real8");
  connected.OPCGroups()->Add("Feed Water")->OPCItems()->AddItem("Random.Int4");
  gui->SetOPCServer(&connected);
  auto* check = named(new QCheckBox(form.get()), "cRunning");
  gui->AddItem("Boiler", "Sine.Real8", edit, "");
  gui->AddItem("Feed Water", "Random.Int4", label, "");
  gui->AddItem("Boiler", "Ramp.Real8", check, "");
  editControls(gui, [&](TqGUISelectForm& window, SelectList& list) {
    EXPECT_EQ(list.rows(),
              (QStringList{"Edit1|text|Boiler|Sine.Real8", "Label1|text|Feed Water|Random.Int4",
                           "Panel1|||", "cRunning|checked|Boiler|Ramp.Real8"}));
    list.view->setCurrentItem(list.view->topLevelItem(0));
    saveShot(window, "control-selection");
  });
  EXPECT_EQ(gui->Items()->Count(), 3);
  EXPECT_TRUE(connected.Active());
  gui->SetOPCServer(nullptr);
}

}  // namespace
