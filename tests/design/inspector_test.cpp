// The OPC Inspector against the simulation server: opening on a component,
// connecting and the status poll, the server list and the server browse
// dialog, group and item editing through the menus, failures and shutdown,
// and what the entry routine leaves behind on the component.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <atomic>
#include <memory>

#include "common/dialogdriver.h"
#include "common/pump.h"
#include "common/simcomponent.h"
#include "design/qOPCPropEdit.h"
#include "opc/classregistry.h"
#include "opc/remote/host.h"
#include "qOPC.h"
#include "qOPCBrowseDlg.h"
#include "qOPCGroupDlg.h"
#include "qOPCServerDlg.h"
#include "simulator/simulator.h"

using namespace dialogs_test;
namespace sim = veze6::sim;

namespace {

const QString kSimProgId = "Veze6.Simulation.1";
const QString kSimClsId = "{6DC45BF5-BEA8-441B-A0C1-C0F82FF66FDE}";

// The controls of an Inspector window.
struct InspectorForm {
  explicit InspectorForm(const QWidget& form)
      : ServerCombo(control<QComboBox>(form, "ServerCombo")),
        bRemoteSelect(control<QToolButton>(form, "bRemoteSelect")),
        bConnect(control<QToolButton>(form, "bConnect")),
        BDisconnect(control<QToolButton>(form, "BDisconnect")),
        TreeView1(control<QTreeWidget>(form, "TreeView1")),
        ItemView(control<QTreeWidget>(form, "ItemView")),
        Timer1(form.findChild<QTimer*>(QStringLiteral("Timer1"))),
        lErrorinfo(control<QLabel>(form, "lErrorinfo")) {
    EXPECT_TRUE(ServerCombo && bRemoteSelect && bConnect && BDisconnect && TreeView1 && ItemView &&
                Timer1 && lErrorinfo);
  }

  QString label(const char* name) const {
    auto* found = control<QLabel>(*ServerCombo->window(), name);
    EXPECT_TRUE(found) << name;
    return found ? found->text() : QString();
  }
  QAction* action(const char* name) const {
    auto* found = ServerCombo->window()->findChild<QAction*>(QLatin1String(name));
    EXPECT_TRUE(found) << name;
    return found;
  }
  QStringList nodes() const {
    QStringList texts;
    for (int i = 0; i < TreeView1->topLevelItemCount(); ++i)
      texts << TreeView1->topLevelItem(i)->text(0);
    return texts;
  }
  // The Value, Quality and Timestamp texts of a row, as "value|quality|time".
  QString values(int index) const {
    const QTreeWidgetItem* row = ItemView->topLevelItem(index);
    return row ? row->text(3) + '|' + row->text(4) + '|' + row->text(5) : QString();
  }
  // Each row as "ItemId|Accesspath|Active".
  QStringList rows() const {
    QStringList texts;
    for (int i = 0; i < ItemView->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* row = ItemView->topLevelItem(i);
      texts << row->text(0) + '|' + row->text(1) + '|' + row->text(2);
    }
    return texts;
  }
  void selectNode(const QString& text) const {
    const auto found = TreeView1->findItems(text, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << text.toStdString();
    TreeView1->setCurrentItem(found[0]);
  }
  void selectRow(int index) const {
    ASSERT_LT(index, ItemView->topLevelItemCount());
    clickRow(ItemView, ItemView->model()->index(index, 0));
  }
  // The value labels: those that carry the tag.
  QStringList valueLabelNames() const {
    QStringList names;
    for (QLabel* label : ServerCombo->window()->findChildren<QLabel*>())
      if (label->property("tag").toInt() == 1) names << label->objectName();
    names.sort();
    return names;
  }

  QComboBox* ServerCombo;
  QToolButton* bRemoteSelect;
  QToolButton* bConnect;
  QToolButton* BDisconnect;
  QTreeWidget* TreeView1;
  QTreeWidget* ItemView;
  QTimer* Timer1;
  QLabel* lErrorinfo;
};

const QStringList kValueLabels{"LActive",    "LDeadBand", "LInfo",   "LName",      "LServer",
                               "LStartTime", "LState",    "LUpdate", "LUpdateTime"};

class InspectorTest : public veze6::test::SimComponentTest {
 protected:
  void TearDown() override {
    form.reset();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    SimComponentTest::TearDown();
  }

  // Opens the window on the component, not modally, so the test can drive
  // it between its steps.
  InspectorForm open() {
    form = std::make_unique<TqOPCDlgExplorer>();
    form->Server = server.get();
    form->show();
    return InspectorForm(*form);
  }
  QString deadBandText(double value) const {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', 2);
  }
  QStringList exceptions() const { return app->Texts(TCaptureApplicationHandler::Kind::Exception); }
  QStringList messages() const { return app->Texts(TCaptureApplicationHandler::Kind::Message); }

  ScopedCaptureApplication app;
  std::unique_ptr<TqOPCDlgExplorer> form;
};

// ---- the window and its state while not connected ----

TEST_F(InspectorTest, Opening_ShowsTheGroupsInOrderAndNotConnected) {
  server->SetServer(kSimProgId);
  server->OPCGroups()->Add("Beta");
  server->OPCGroups()->Add("Alpha");
  InspectorForm ui = open();

  EXPECT_EQ(form->windowTitle(), "OPC Inspector");
  EXPECT_EQ(form->size(), QSize(696, 446));
  EXPECT_NE(form->minimumSize(), form->maximumSize()) << "sizeable";
  EXPECT_TRUE(ui.ServerCombo->isEditable());
  EXPECT_EQ(ui.ServerCombo->currentText(), kSimProgId);
  EXPECT_EQ(ui.ServerCombo->toolTip(), "Select OPC Server");
  EXPECT_EQ(ui.bRemoteSelect->toolTip(), "select OPC Server with OPCENUM.EXE");
  EXPECT_EQ(ui.bConnect->toolTip(), "Connect to server");
  EXPECT_EQ(ui.BDisconnect->toolTip(), "Disconnect from server");
  for (QToolButton* button : {ui.bRemoteSelect, ui.bConnect, ui.BDisconnect}) {
    EXPECT_TRUE(button->autoRaise());
    EXPECT_FALSE(button->icon().isNull());
  }
  EXPECT_EQ(ui.TreeView1->toolTip(), "click right mousekey to edit groups");
  EXPECT_EQ(ui.ItemView->toolTip(), "click right mousekey to edit Items");
  EXPECT_EQ(ui.ItemView->headerItem()->text(0), "ItemId");
  EXPECT_EQ(ui.ItemView->headerItem()->text(1), "Accesspath");
  EXPECT_EQ(ui.ItemView->headerItem()->text(2), "Active");
  EXPECT_EQ(ui.ItemView->headerItem()->text(3), "Value");
  EXPECT_EQ(ui.ItemView->headerItem()->text(4), "Quality");
  EXPECT_EQ(ui.ItemView->headerItem()->text(5), "Timestamp");
  EXPECT_EQ(ui.nodes(), (QStringList{"Beta", "Alpha"})) << "in collection order";
  EXPECT_EQ(ui.ItemView->topLevelItemCount(), 0);

  // The menus and their entries, in order.
  auto* menuBar = control<QMenuBar>(*form, "MainMenu1");
  ASSERT_TRUE(menuBar);
  ASSERT_EQ(menuBar->actions().size(), 1);
  EXPECT_EQ(menuBar->actions()[0]->text(), "File");
  EXPECT_EQ(ui.action("Exit1")->text(), "Exit");
  EXPECT_EQ(ui.action("Exit1")->shortcut(), QKeySequence(Qt::ALT | Qt::Key_F4));
  const auto texts = [&](const char* menu) {
    QStringList entries;
    for (QAction* action : control<QMenu>(*form, menu)->actions()) entries << action->text();
    return entries;
  };
  EXPECT_EQ(texts("GroupPopup"),
            (QStringList{"Add Group...", "Remove Group", "Remove all Groups", "Properties..."}));
  EXPECT_EQ(texts("ItemPopup"), (QStringList{"Add Item..", "Remove Item", "Remove all Items",
                                             "Active", "Write value..."}));

  // The value labels carry the tag and are navy; lErrorinfo is red.
  EXPECT_EQ(ui.valueLabelNames(), kValueLabels);
  EXPECT_EQ(control<QLabel>(*form, "LState")->palette().color(QPalette::WindowText),
            QColor(0, 0, 0x80));
  EXPECT_EQ(ui.lErrorinfo->palette().color(QPalette::WindowText), QColor(Qt::red));
  EXPECT_EQ(ui.label("LServer"), "not connected");
  for (const char* name : {"LState", "LStartTime", "LUpdateTime", "LInfo", "LName"})
    EXPECT_EQ(ui.label(name), "") << name;

  // The handlers are the window's while it is shown.
  EXPECT_EQ(server->OnError, TOnOPCErrorEvent(form.get(), &TqOPCDlgExplorer::OPCServerError));
  EXPECT_EQ(server->OnServerShutdown,
            TOnOPCServerShutdownEvent(form.get(), &TqOPCDlgExplorer::OPCServerServerShutdown));

  // The timer runs from the start; its first tick while disconnected stops it.
  EXPECT_TRUE(ui.Timer1->isActive());
  EXPECT_EQ(ui.Timer1->interval(), 1000);
  form->Timer1Timer();
  EXPECT_FALSE(ui.Timer1->isActive());
  EXPECT_EQ(ui.label("LServer"), "not connected");
  EXPECT_FALSE(server->Active());
}

TEST_F(InspectorTest, ServerList_EnumeratesOnlyWhileEmptyAndKeepsTheTypedText) {
  InspectorForm ui = open();
  ui.ServerCombo->setEditText("typed");
  {
    // Nothing registered: the list stays empty, so it is asked again.
    sim::unregisterSimulationServer();
    ui.ServerCombo->showPopup();
    ui.ServerCombo->hidePopup();
    EXPECT_EQ(ui.ServerCombo->count(), 0);
    sim::registerSimulationServer();
  }
  ui.ServerCombo->showPopup();
  ui.ServerCombo->hidePopup();
  QStringList found;
  for (int i = 0; i < ui.ServerCombo->count(); ++i) found << ui.ServerCombo->itemText(i);
  EXPECT_TRUE(found.contains(kSimProgId)) << found.join(',').toStdString();
  EXPECT_EQ(ui.ServerCombo->currentText(), "typed");

  // A server registered later is not seen: the list is filled once.
  opc::ClassEntry entry;
  entry.clsid = CLSID{0x1b2c3d4e, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
  entry.progId = u"Later.Server.1";
  entry.userType = u"Later";
  entry.opcMarker = true;
  opc::ClassRegistry::instance().registerClass(opc::ClassEntry(entry));
  form->ServerComboDropDown();
  opc::ClassRegistry::instance().unregisterClass(entry.clsid);
  QStringList again;
  for (int i = 0; i < ui.ServerCombo->count(); ++i) again << ui.ServerCombo->itemText(i);
  EXPECT_EQ(again, found);
  EXPECT_EQ(ui.ServerCombo->currentText(), "typed");
}

TEST_F(InspectorTest, ServerList_OfAnotherComputerComesFromItsServerList) {
  std::atomic<int> created{0}, released{0};
  opc::remote::HostOptions options;
  options.port = 0;
  options.log = [&](const std::string& line) {
    created += line.find("created OPC.ServerList") != std::string::npos;
    released += line.find("released OPC.ServerList") != std::string::npos;
  };
  opc::remote::Host host(options);
  ASSERT_EQ(host.listen(), S_OK) << host.errorText();
  server->SetComputername(QStringLiteral("127.0.0.1:%1").arg(host.port()));
  InspectorForm ui = open();
  ui.ServerCombo->showPopup();
  ui.ServerCombo->hidePopup();
  QStringList found;
  for (int i = 0; i < ui.ServerCombo->count(); ++i) found << ui.ServerCombo->itemText(i);
  EXPECT_TRUE(found.contains(kSimProgId)) << found.join(',').toStdString();
  EXPECT_EQ(created.load(), 1);
  EXPECT_TRUE(veze6::test::pumpUntil([&] { return released.load() == 1; }));
}

// ---- connecting and the status poll ----

TEST_F(InspectorTest, Connect_BlankNameShowsTheMessageAndChangesNothing) {
  server->SetServer("Old.Name");
  InspectorForm ui = open();
  form->Timer1Timer();
  ui.ServerCombo->setEditText("   ");
  ui.lErrorinfo->setText("kept");
  QTest::mouseClick(ui.bConnect, Qt::LeftButton);
  EXPECT_EQ(messages(), QStringList{"first select OPC Server"});
  EXPECT_TRUE(exceptions().isEmpty());
  EXPECT_FALSE(server->Active());
  EXPECT_EQ(server->ServerName(), "Old.Name");
  EXPECT_FALSE(ui.Timer1->isActive());
  EXPECT_EQ(ui.lErrorinfo->text(), "kept");
}

TEST_F(InspectorTest, Connect_TheLabelsShowTheServerWithinATickAndDisconnectClearsThem) {
  InspectorForm ui = open();
  form->Timer1Timer();  // the first tick, disconnected: the timer rests
  ui.ServerCombo->setEditText(kSimProgId);
  QTest::mouseClick(ui.bConnect, Qt::LeftButton);
  ASSERT_TRUE(server->Active());
  EXPECT_EQ(server->ServerName(), kSimProgId);
  EXPECT_TRUE(ui.Timer1->isActive());
  auto ctl = simControl();
  ctl->setVendorInfo(u"Simulated plant");
  const FILETIME started{0x2A4C9E00, 0x01D9A2B3};
  ctl->setStartTime(started);

  // The running timer fills the labels by itself.
  ASSERT_TRUE(pumpUntil([&] { return !ui.label("LState").isEmpty(); }));
  EXPECT_EQ(ui.label("LServer"), kSimProgId);
  EXPECT_EQ(ui.label("LState"), "running");
  EXPECT_EQ(ui.label("LInfo"), "Simulated plant");
  EXPECT_EQ(ui.label("LStartTime"), VarToAStr(OleVariant::fromDate(FileTimeToDateTime(started))));
  EXPECT_FALSE(ui.label("LUpdateTime").isEmpty());
  EXPECT_TRUE(ui.Timer1->isActive()) << "ticking on while connected";
  EXPECT_EQ(ui.label("LName"), "") << "no group selected";

  ctl->setServerState(OPC_STATUS_SUSPENDED);
  form->Timer1Timer();
  EXPECT_EQ(ui.label("LState"), "suspended");

  QTest::mouseClick(ui.BDisconnect, Qt::LeftButton);
  EXPECT_FALSE(server->Active());
  EXPECT_EQ(ui.label("LState"), "suspended") << "cleared by the next tick";
  form->Timer1Timer();
  EXPECT_EQ(ui.label("LServer"), "not connected");
  for (const char* name : {"LState", "LStartTime", "LUpdateTime", "LInfo"})
    EXPECT_EQ(ui.label(name), "") << name;
  EXPECT_FALSE(ui.Timer1->isActive());
  EXPECT_TRUE(app->Entries().isEmpty());
}

TEST_F(InspectorTest, GroupState_SelectedGroupWithTwoDecimalsAndActiveText) {
  connect();
  server->OPCGroupDefault()->UpdateRate = 500;
  server->OPCGroupDefault()->DeadBand = 12.5f;
  server->OPCGroups()->Add("Line1");
  server->OPCGroupDefault()->IsActive = false;
  server->OPCGroups()->Add("Line2");
  InspectorForm ui = open();

  ui.selectNode("Line1");
  form->Timer1Timer();
  EXPECT_EQ(ui.label("LName"), "Line1");
  EXPECT_EQ(ui.label("LUpdate"), "500");
  EXPECT_EQ(ui.label("LDeadBand"), deadBandText(12.5));
  EXPECT_EQ(ui.label("LActive"), "active");
  EXPECT_EQ(ui.label("LServer"), kSimProgId);

  ui.selectNode("Line2");
  form->Timer1Timer();
  EXPECT_EQ(ui.label("LName"), "Line2");
  EXPECT_EQ(ui.label("LActive"), "not active");

  // The state is read from the server, not from the component.
  server->OPCGroups()->GetOPCGroup("Line2")->SetIsActive(true);
  server->OPCGroups()->GetOPCGroup("Line2")->SetDeadBand(0.5f);
  form->Timer1Timer();
  EXPECT_EQ(ui.label("LActive"), "active");
  EXPECT_EQ(ui.label("LDeadBand"), deadBandText(0.5)) << "two decimals";

  ui.TreeView1->clearSelection();
  form->Timer1Timer();
  EXPECT_EQ(ui.label("LName"), "");
  EXPECT_EQ(ui.label("LServer"), kSimProgId) << "filled again in the same tick";
}

TEST_F(InspectorTest, FailingTick_DisconnectsAndClearsWithoutAMessage) {
  connect();
  server->OPCGroups()->Add("Line1");
  InspectorForm ui = open();
  ui.selectNode("Line1");
  form->Timer1Timer();
  ASSERT_EQ(ui.label("LName"), "Line1");

  // The group's state cannot be read.
  simControl()->failCall(sim::SimCall::GetState, E_FAIL);
  ui.Timer1->start();
  form->Timer1Timer();
  EXPECT_FALSE(server->Active());
  EXPECT_FALSE(ui.Timer1->isActive());
  EXPECT_EQ(ui.label("LName"), "");
  EXPECT_EQ(ui.label("LServer"), "not connected");
  EXPECT_TRUE(app->Entries().isEmpty());

  // The server's status cannot be read.
  connect();
  ui.TreeView1->clearSelection();
  simControl()->failCall(sim::SimCall::GetStatus, E_OUTOFMEMORY);
  ui.Timer1->start();
  form->Timer1Timer();
  EXPECT_FALSE(server->Active());
  EXPECT_FALSE(ui.Timer1->isActive());
  EXPECT_EQ(ui.label("LState"), "");
  EXPECT_EQ(ui.label("LServer"), "not connected");
  EXPECT_TRUE(app->Entries().isEmpty());
}

TEST_F(InspectorTest, Faults_TextInErrorInfoAndTheComponentStillRaises) {
  InspectorForm ui = open();
  form->Timer1Timer();
  ui.ServerCombo->setEditText("No.Such.Server");
  QTest::mouseClick(ui.bConnect, Qt::LeftButton);
  EXPECT_FALSE(server->Active());
  ASSERT_EQ(exceptions().size(), 1);
  EXPECT_FALSE(ui.lErrorinfo->text().isEmpty());
  EXPECT_EQ(ui.lErrorinfo->text(), exceptions()[0]);
  EXPECT_EQ(exceptions()[0], "first define servername") << "a name that names no server";
  EXPECT_FALSE(ui.Timer1->isActive()) << "a failed connect leaves the timer off";

  // A new connect empties the error line.
  ui.ServerCombo->setEditText(kSimProgId);
  QTest::mouseClick(ui.bConnect, Qt::LeftButton);
  EXPECT_TRUE(server->Active());
  EXPECT_EQ(ui.lErrorinfo->text(), "");
}

TEST_F(InspectorTest, Shutdown_ShowsDisconnectFromServerAndStopsTheTimer) {
  int applicationHandlerCalls = 0;
  server->OnServerShutdown = [&](QObject*, const QString&) { ++applicationHandlerCalls; };
  connect();
  InspectorForm ui = open();
  form->Timer1Timer();
  ASSERT_EQ(ui.label("LState"), "running");
  ASSERT_TRUE(ui.Timer1->isActive());

  EXPECT_EQ(simControl()->requestShutdown(u"maintenance"), 1u);
  ASSERT_TRUE(pumpUntil([&] { return !server->Active(); }));
  EXPECT_EQ(ui.lErrorinfo->text(), "Disconnect from Server");
  EXPECT_FALSE(ui.Timer1->isActive());
  EXPECT_EQ(ui.label("LState"), "");
  EXPECT_EQ(ui.label("LServer"), "not connected");
  EXPECT_EQ(applicationHandlerCalls, 0) << "replaced while the window is shown";
}

// ---- the server browse dialog ----

TEST_F(InspectorTest, RemoteSelect_ChosenServerGivesItsClassIdAndCancelStillSetsTheComputer) {
  server->SetServer(kSimProgId);
  InspectorForm ui = open();
  {
    ModalDriver<TqopcServerBrowseDlg> driver([&](TqopcServerBrowseDlg& dialog) {
      QTest::mouseClick(control<QPushButton>(dialog, "bSearch"), Qt::LeftButton);
      auto* tree = control<QTreeWidget>(dialog, "TreeView1");
      QTreeWidgetItem* da20 = nullptr;
      for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (tree->topLevelItem(i)->text(0) == "DA Servers 2.0") da20 = tree->topLevelItem(i);
      ASSERT_TRUE(da20 && da20->childCount() > 0);
      da20->setExpanded(true);
      clickRow(tree, tree->indexFromItem(da20->child(0)));
      QTest::mouseClick(control<QPushButton>(dialog, "bOk"), Qt::LeftButton);
    });
    QTest::mouseClick(ui.bRemoteSelect, Qt::LeftButton);
    EXPECT_TRUE(driver.ran());
  }
  EXPECT_EQ(ui.ServerCombo->currentText(), kSimClsId) << "the class id, not the name";
  EXPECT_EQ(server->ComputerName(), "");

  // Cancelled with another computer typed: the computer name still applies
  // (and disconnects), the combo box keeps its text.
  connect();
  {
    ModalDriver<TqopcServerBrowseDlg> driver([&](TqopcServerBrowseDlg& dialog) {
      auto* computer = control<QLineEdit>(dialog, "eComputername");
      computer->setText("plant-pc");
      QTest::mouseClick(control<QPushButton>(dialog, "bCancel"), Qt::LeftButton);
    });
    QTest::mouseClick(ui.bRemoteSelect, Qt::LeftButton);
    EXPECT_TRUE(driver.ran());
  }
  EXPECT_EQ(server->ComputerName(), "plant-pc");
  EXPECT_FALSE(server->Active());
  EXPECT_EQ(ui.ServerCombo->currentText(), kSimClsId);
  EXPECT_TRUE(exceptions().isEmpty());
}

// ---- groups ----

TEST_F(InspectorTest, AddGroup_ChangesTheDefaultsAndCreatesTheGroupOnTheServer) {
  connect();
  InspectorForm ui = open();
  const auto addGroup = [&](const QString& name, const QString& rate, const QString& deadBand,
                            bool active) {
    ModalDriver<TqOPCDlgEditGroup> driver([&](TqOPCDlgEditGroup& dialog) {
      EXPECT_EQ(control<QLineEdit>(dialog, "eGroupName")->text(), "");
      control<QLineEdit>(dialog, "eGroupName")->setText(name);
      control<QLineEdit>(dialog, "eUpdateRate")->setText(rate);
      control<QLineEdit>(dialog, "eDeadBand")->setText(deadBand);
      control<QCheckBox>(dialog, "cActive")->setChecked(active);
      QTest::mouseClick(control<QPushButton>(dialog, "bOk"), Qt::LeftButton);
    });
    ui.action("AddGroup1")->trigger();
    EXPECT_TRUE(driver.ran());
  };

  // The dialog opens with the defaults.
  server->OPCGroupDefault()->UpdateRate = 750;
  {
    ModalDriver<TqOPCDlgEditGroup> driver([&](TqOPCDlgEditGroup& dialog) {
      EXPECT_EQ(control<QLineEdit>(dialog, "eUpdateRate")->text(), "750");
      EXPECT_TRUE(control<QCheckBox>(dialog, "cActive")->isChecked());
      QTest::mouseClick(control<QPushButton>(dialog, "BCancel"), Qt::LeftButton);
    });
    ui.action("AddGroup1")->trigger();
    EXPECT_TRUE(driver.ran());
  }
  EXPECT_EQ(server->OPCGroups()->Count(), 0) << "cancelled";
  EXPECT_EQ(server->OPCGroupDefault()->UpdateRate, 750);

  addGroup("Line1", "500", "5", false);
  TqDefaultGroup* defaults = server->OPCGroupDefault();
  EXPECT_EQ(defaults->UpdateRate, 500);
  EXPECT_EQ(defaults->DeadBand, 5.0f);
  EXPECT_FALSE(defaults->IsActive);
  TqOPCGroup* group = server->OPCGroups()->GetOPCGroup("Line1");
  ASSERT_TRUE(group);
  EXPECT_TRUE(group->IsOnServer());
  EXPECT_EQ(group->UpdateRate(), 500);
  EXPECT_FALSE(group->IsActive());
  EXPECT_EQ(simControl()->groupCount(), 1u);
  EXPECT_EQ(ui.nodes(), QStringList{"Line1"});
  EXPECT_EQ(form->GetSelectedGroup(), group) << "the new node is selected";

  // A name in use: the defaults change all the same, the collection refuses.
  addGroup("Line1", "900", "1", true);
  EXPECT_EQ(defaults->UpdateRate, 900);
  EXPECT_TRUE(defaults->IsActive);
  EXPECT_EQ(exceptions(), QStringList{"group Line1 already exists"});
  EXPECT_EQ(ui.nodes(), QStringList{"Line1"});
  EXPECT_EQ(server->OPCGroups()->Count(), 1);
}

TEST_F(InspectorTest, AddGroup_AGroupTheServerRefusedIsShownAsItStaysInTheComponent) {
  connect();
  InspectorForm ui = open();
  simControl()->failCall(sim::SimCall::AddGroup, E_OUTOFMEMORY, 1);
  ModalDriver<TqOPCDlgEditGroup> driver([&](TqOPCDlgEditGroup& dialog) {
    control<QLineEdit>(dialog, "eGroupName")->setText("Refused");
    QTest::mouseClick(control<QPushButton>(dialog, "bOk"), Qt::LeftButton);
  });
  ui.action("AddGroup1")->trigger();
  EXPECT_EQ(exceptions().size(), 1);
  TqOPCGroup* group = server->OPCGroups()->GetOPCGroup("Refused");
  ASSERT_TRUE(group);
  EXPECT_FALSE(group->IsOnServer());
  EXPECT_EQ(ui.nodes(), QStringList{"Refused"});
}

TEST_F(InspectorTest, Properties_EditsTheSelectedGroupAndRefusesWhatCannotBeEdited) {
  connect();
  server->OPCGroups()->Add("Line1");
  server->OPCGroups()->Add("Line2");
  InspectorForm ui = open();

  form->Properties1Click();
  EXPECT_EQ(messages(), QStringList{"First select Group"});

  ui.selectNode("Line1");
  {
    ModalDriver<TqOPCDlgEditGroup> driver([&](TqOPCDlgEditGroup& dialog) {
      EXPECT_EQ(control<QLineEdit>(dialog, "eGroupName")->text(), "Line1");
      control<QLineEdit>(dialog, "eGroupName")->setText("Renamed");
      control<QLineEdit>(dialog, "eUpdateRate")->setText("600");
      control<QCheckBox>(dialog, "cActive")->setChecked(false);
      QTest::mouseClick(control<QPushButton>(dialog, "bOk"), Qt::LeftButton);
    });
    ui.action("Properties1")->trigger();
    EXPECT_TRUE(driver.ran());
  }
  TqOPCGroup* group = server->OPCGroups()->Items(0);
  EXPECT_EQ(group->Name(), "Renamed");
  EXPECT_EQ(group->UpdateRate(), 600);
  EXPECT_FALSE(group->IsActive());
  EXPECT_EQ(ui.nodes(), (QStringList{"Renamed", "Line2"}));
  tGroupStateRec state;
  group->GetState(state);
  EXPECT_EQ(state.Name, "Renamed") << "renamed on the server too";
  EXPECT_EQ(form->GetSelectedGroup(), group);

  // Another group's name would make the two indistinguishable: refused.
  {
    ModalDriver<TqOPCDlgEditGroup> driver([&](TqOPCDlgEditGroup& dialog) {
      control<QLineEdit>(dialog, "eGroupName")->setText("Line2");
      control<QLineEdit>(dialog, "eUpdateRate")->setText("444");
      QTest::mouseClick(control<QPushButton>(dialog, "bOk"), Qt::LeftButton);
    });
    ui.action("Properties1")->trigger();
  }
  EXPECT_EQ(exceptions(), QStringList{"group Line2 already exists"});
  EXPECT_EQ(group->Name(), "Renamed");
  EXPECT_EQ(group->UpdateRate(), 600);
  EXPECT_EQ(ui.nodes(), (QStringList{"Renamed", "Line2"}));

  // A node whose group went away.
  server->OPCGroups()->Remove("Renamed");
  app->Reset();
  form->Properties1Click();
  EXPECT_EQ(messages(), QStringList{"ERROR"});
}

TEST_F(InspectorTest, RemoveGroups_OneAllAndANodeWhoseGroupIsGone) {
  connect();
  for (const char* name : {"A", "B", "C"}) server->OPCGroups()->Add(name);
  server->OPCGroups()->GetOPCGroup("B")->OPCItems()->AddItem("Static.Int4");
  InspectorForm ui = open();

  ui.selectNode("B");
  EXPECT_EQ(ui.rows().size(), 1);
  ui.action("RemoveGroup1")->trigger();
  EXPECT_EQ(ui.nodes(), (QStringList{"A", "C"}));
  EXPECT_EQ(server->OPCGroups()->Exists("B"), -1);
  EXPECT_EQ(simControl()->groupCount(), 2u);
  EXPECT_EQ(form->GetSelectedGroup() ? form->GetSelectedGroup()->OPCItems()->Count() : 0,
            ui.ItemView->topLevelItemCount());

  // Gone behind the window's back: the collection says so, the node stays.
  ui.selectNode("C");
  server->OPCGroups()->Remove("C");
  ui.action("RemoveGroup1")->trigger();
  EXPECT_EQ(exceptions(), QStringList{"group not found"});
  EXPECT_EQ(ui.nodes(), (QStringList{"A", "C"}));

  ui.action("RemoveallGroups1")->trigger();
  EXPECT_EQ(ui.nodes(), QStringList());
  EXPECT_EQ(ui.ItemView->topLevelItemCount(), 0);
  EXPECT_EQ(server->OPCGroups()->Count(), 0);
  EXPECT_EQ(simControl()->groupCount(), 0u);
}

// ---- items ----

TEST_F(InspectorTest, AddItem_BrowsedItemsMakeTheDefaultItemActiveAndShowX) {
  connect();
  TqOPCGroup* group = server->OPCGroups()->Add("Line1");
  group->DefaultItem()->IsActive = false;
  group->OPCItems()->AddItem("Static.Real8");
  InspectorForm ui = open();
  ui.selectNode("Line1");
  EXPECT_EQ(ui.rows(), QStringList{"Static.Real8|| "});

  ModalDriver<TqOPCDlgBrowse> driver([&](TqOPCDlgBrowse& dialog) {
    auto* list = control<QListWidget>(dialog, "ListView");
    const auto row = [&](const QString& caption) {
      const auto found = list->findItems(caption, Qt::MatchExactly);
      EXPECT_EQ(found.size(), 1) << caption.toStdString();
      return list->model()->index(list->row(found.value(0)), 0);
    };
    doubleClickRow(list, row("Static"));
    clickRow(list, row("Int4"));
    clickRow(list, row("String"), Qt::ControlModifier);
    QTest::mouseClick(control<QPushButton>(dialog, "bOk"), Qt::LeftButton);
  });
  ui.action("A1")->trigger();
  EXPECT_TRUE(driver.ran());
  EXPECT_TRUE(exceptions().isEmpty());
  EXPECT_TRUE(group->DefaultItem()->IsActive) << "a lasting change of the defaults";
  EXPECT_EQ(ui.rows(), (QStringList{"Static.Real8|| ", "Static.Int4||X", "Static.String||X"}));
  ASSERT_EQ(group->OPCItems()->Count(), 3);
  EXPECT_NE(group->OPCItems()->Items(1)->ServerHandle(), OPCHANDLE(-1));
  EXPECT_EQ(TqOPCDlgExplorer::RowItem(ui.ItemView->topLevelItem(2)), group->OPCItems()->Items(2));
  EXPECT_EQ(simControl()->liveItemCount(), 3u);

  // Items for a group that is not the selected one get no rows.
  TqOPCGroup* other = server->OPCGroups()->Add("Other");
  form->AddNewItems(other, {"Ramp.Int4"});
  EXPECT_EQ(other->OPCItems()->Count(), 1);
  EXPECT_EQ(ui.rows().size(), 3);
  form->AddNewItems(nullptr, {"Ramp.Int4"});
}

TEST_F(InspectorTest, AddItem_AnItemTheServerRefusedGetsItsRowAndTheFailurePassesOn) {
  connect();
  TqOPCGroup* group = server->OPCGroups()->Add("Line1");
  InspectorForm ui = open();
  ui.selectNode("Line1");
  EXPECT_ANY_THROW(form->AddNewItems(group, {"Static.Int4", "No.Such.Item", "Static.String"}));
  EXPECT_EQ(group->OPCItems()->Count(), 2) << "the loop ends at the refused item";
  EXPECT_EQ(ui.rows(), (QStringList{"Static.Int4||X", "No.Such.Item||X"}));
}

TEST_F(InspectorTest, ItemMenu_EnabledOnlyWithAGroupAndActiveTogglesTheRow) {
  connect();
  TqOPCGroup* group = server->OPCGroups()->Add("Line1");
  group->OPCItems()->AddItem("Static.Int4");
  group->OPCItems()->AddItem("Static.String");
  InspectorForm ui = open();
  auto* popup = control<QMenu>(*form, "ItemPopup");

  form->ItemPopupPopup();
  for (QAction* entry : popup->actions())
    EXPECT_FALSE(entry->isEnabled()) << entry->text().toStdString();
  ui.selectNode("Line1");
  form->ItemPopupPopup();
  for (QAction* entry : popup->actions())
    EXPECT_EQ(entry->isEnabled(), entry->objectName() != "WriteValue1")
        << entry->text().toStdString() << ": writing needs a row";

  ui.selectRow(1);
  form->ItemPopupPopup();
  EXPECT_TRUE(ui.action("WriteValue1")->isEnabled());
  EXPECT_TRUE(ui.action("Active1")->isChecked());
  ui.action("Active1")->trigger();
  TqOPCItem* item = group->OPCItems()->Items(1);
  EXPECT_FALSE(item->IsActive());
  EXPECT_EQ(ui.rows(), (QStringList{"Static.Int4||X", "Static.String|| "}));

  form->ItemPopupPopup();
  EXPECT_FALSE(ui.action("Active1")->isChecked());
  ui.action("Active1")->trigger();
  EXPECT_TRUE(item->IsActive());
  EXPECT_EQ(ui.rows(), (QStringList{"Static.Int4||X", "Static.String||X"}));
  EXPECT_TRUE(exceptions().isEmpty());
}

TEST_F(InspectorTest, RemoveItems_TheSelectedOneThenAll) {
  connect();
  TqOPCGroup* group = server->OPCGroups()->Add("Line1");
  for (const char* id : {"Static.Int4", "Static.String", "Static.Real8"})
    group->OPCItems()->AddItem(id);
  InspectorForm ui = open();
  ui.selectNode("Line1");
  ASSERT_EQ(simControl()->liveItemCount(), 3u);

  form->RemoveItem1Click();  // no row selected: nothing
  EXPECT_EQ(group->OPCItems()->Count(), 3);
  ui.selectRow(1);
  ui.action("RemoveItem1")->trigger();
  EXPECT_EQ(ui.rows(), (QStringList{"Static.Int4||X", "Static.Real8||X"}));
  EXPECT_EQ(group->OPCItems()->Count(), 2);
  EXPECT_EQ(group->OPCItems()->FindOPCItem("Static.String"), nullptr);
  EXPECT_EQ(simControl()->liveItemCount(), 2u) << "taken off the server";

  // An item destroyed elsewhere leaves a row that reaches nothing.
  group->OPCItems()->Items(0)->Free();
  EXPECT_EQ(TqOPCDlgExplorer::RowItem(ui.ItemView->topLevelItem(0)), nullptr);
  ui.selectRow(0);
  ui.action("RemoveItem1")->trigger();
  EXPECT_EQ(ui.rows(), QStringList{"Static.Real8||X"});

  ui.action("RemoveallItems1")->trigger();
  EXPECT_EQ(ui.rows(), QStringList());
  EXPECT_EQ(group->OPCItems()->Count(), 0);
  EXPECT_EQ(simControl()->liveItemCount(), 0u);
  EXPECT_TRUE(exceptions().isEmpty());
}

// ---- live values and writes ----

TEST_F(InspectorTest, DataChange_RowsShowValueQualityAndTimeAndTheApplicationStillGetsThem) {
  int appCalls = 0;
  const TOnOPCDataChangeEvent appHandler = [&](QObject*, TqOPCItemList*) { ++appCalls; };
  server->OnDatachange = appHandler;
  connect();
  TqOPCGroup* group = server->OPCGroups()->Add("Line1");
  group->OPCItems()->AddItem("Static.Nested Level.Int4");
  group->OPCItems()->AddItem("Static.Nested Level.String");
  InspectorForm ui = open();
  ui.selectNode("Line1");
  EXPECT_FALSE(server->OnDatachange == appHandler) << "the window's while shown";

  ASSERT_TRUE(pumpUntil([&] {
    return !ui.values(0).startsWith('|') && !ui.values(1).startsWith('|');
  })) << ui.values(0).toStdString();
  const QStringList first = ui.values(0).split('|');
  EXPECT_EQ(first.value(0), "42");
  EXPECT_EQ(first.value(1), "good (192)");
  EXPECT_TRUE(QDateTime::fromString(first.value(2), Qt::ISODate).isValid())
      << first.value(2).toStdString();
  EXPECT_TRUE(ui.values(1).startsWith("nested|good (192)|"));
  EXPECT_GT(appCalls, 0) << "the application's handler is chained";

  form.reset();
  EXPECT_TRUE(server->OnDatachange == appHandler) << "given back when the window goes";
  // A window shown twice does not chain to itself.
  open();
  form->hide();
  form->show();
  form.reset();
  EXPECT_TRUE(server->OnDatachange == appHandler);
}

TEST_F(InspectorTest, WriteValue_TheTextReachesTheItemAndARefusalIsRaised) {
  connect();
  TqOPCGroup* group = server->OPCGroups()->Add("Line1");
  TqOPCItem* item = group->OPCItems()->AddItem("Writable.Int4");
  InspectorForm ui = open();
  ui.selectNode("Line1");
  ui.selectRow(0);
  const auto writeRow = [&](const QString& text) {
    ModalDriver<QInputDialog> driver([&](QInputDialog& dialog) {
      dialog.setTextValue(text);
      dialog.accept();
    });
    ui.action("WriteValue1")->trigger();
    EXPECT_TRUE(driver.ran());
  };

  writeRow("1234");
  EXPECT_TRUE(exceptions().isEmpty()) << exceptions().join('\n').toStdString();
  EXPECT_TRUE(pumpUntil([&] { return ui.values(0).startsWith("1234|"); }))
      << ui.values(0).toStdString();
  EXPECT_EQ(item->ValueStr(), "1234");

  writeRow("not a number");
  ASSERT_EQ(exceptions().size(), 1);
  EXPECT_TRUE(exceptions()[0].startsWith("cannot write Items")) << exceptions()[0].toStdString();
  EXPECT_EQ(item->ValueStr(), "1234");
}

// ---- the entry routine ----

TEST_F(InspectorTest, OPCExplorer_GivesTheHandlersBackAndStoresTheName) {
  int calls = 0;
  const TOnOPCErrorEvent onError = [&](QObject*, const QString&, bool&) { ++calls; };
  const TOnOPCConnectEvent onConnect = [&](QObject*) { ++calls; };
  const TOnOPCConnectEvent onDisconnect = [&](QObject*) { ++calls; };
  const TOnOPCServerShutdownEvent onShutdown = [&](QObject*, const QString&) { ++calls; };
  const TOnOPCDataChangeEvent onData = [&](QObject*, TqOPCItemList*) {};
  server->OnDatachange = onData;
  server->OnError = onError;
  server->OnConnect = onConnect;
  server->OnDisconnect = onDisconnect;
  server->OnServerShutdown = onShutdown;
  connect();
  calls = 0;

  // Same name: stays connected.
  {
    ModalDriver<TqOPCDlgExplorer> driver([&](TqOPCDlgExplorer& dialog) {
      EXPECT_EQ(dialog.Server, server.get());
      EXPECT_FALSE(server->OnError == onError);
      EXPECT_FALSE(server->OnServerShutdown == onShutdown);
      EXPECT_FALSE(server->OnDatachange == onData);
      EXPECT_TRUE(server->OnConnect == onConnect) << "left in place while shown";
      EXPECT_TRUE(server->OnDisconnect == onDisconnect);
      EXPECT_EQ(control<QComboBox>(dialog, "ServerCombo")->currentText(), kSimProgId);
      dialog.findChild<QAction*>(QStringLiteral("Exit1"))->trigger();
    });
    OPCExplorer(server.get());
    EXPECT_TRUE(driver.ran());
  }
  EXPECT_TRUE(server->Active());
  EXPECT_EQ(calls, 0);
  EXPECT_TRUE(server->OnError == onError);
  EXPECT_TRUE(server->OnConnect == onConnect);
  EXPECT_TRUE(server->OnDisconnect == onDisconnect);
  EXPECT_TRUE(server->OnServerShutdown == onShutdown);
  EXPECT_TRUE(server->OnDatachange == onData);

  // Another name: disconnected, the name stored.
  {
    ModalDriver<TqOPCDlgExplorer> driver([&](TqOPCDlgExplorer& dialog) {
      control<QComboBox>(dialog, "ServerCombo")->setEditText(kSimClsId);
      dialog.close();
    });
    OPCExplorer(server.get());
    EXPECT_TRUE(driver.ran());
  }
  EXPECT_FALSE(server->Active());
  EXPECT_EQ(server->ServerName(), kSimClsId);
  EXPECT_EQ(calls, 1) << "the application's OnDisconnect";
  EXPECT_TRUE(server->OnError == onError);
  EXPECT_TRUE(server->OnServerShutdown == onShutdown);

  OPCExplorer(nullptr);  // nothing happens
}

}  // namespace
