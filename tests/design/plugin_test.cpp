// The Qt Designer plugin in Qt Designer's own form editor: the three
// components of the group "OPC", the hosts on real form windows (loading,
// deleting and undoing, layouts, saving), the verbs with the windows they
// open and what they leave stored in the form, and the hosts outside form
// windows (Designer's preview, loaders without a designer).
#include <QDesignerFormWindowCursorInterface>
#include <QDesignerFormWindowManagerInterface>
#include <QDesignerTaskMenuExtension>
#include <QExtensionManager>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QUndoStack>
#include <memory>

#include "common/dialogdriver.h"
#include "common/leakcheck.h"
#include "core/application.h"
#include "design/plugin/opcdesignerplugin.h"
#include "design/qOPCGUIDlg.h"
#include "design/qOPCPropEdit.h"
#include "design/tqcomponenthost.h"
#include "dialogs/qOPCServerDlg.h"
#include "realdesigner.h"
#include "simulator/simulator.h"

using namespace dialogs_test;
using namespace design_test;

namespace {

using DesignerPluginLoader = veze6::test::LeakCheckedTest;

const QString kSimulated = QStringLiteral(
    "  <widget class=\"TqOPCServerHost\" name=\"OPCServer1\">\n"
    "   <property name=\"Configuration\"><string>object OPCServer1: TqOPCServer\n"
    "  ServerName = 'Veze6.Simulation.1'\n  Active = True\n  ConnectDelay = 0\nend\n"
    "</string></property>\n  </widget>\n");

class DesignerPluginTest : public veze6::test::LeakCheckedTest {
 protected:
  static void SetUpTestSuite() { veze6::sim::registerSimulationServer(); }
  void TearDown() override {
    window.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(veze6::sim::liveServerCount(), 0u) << "the designer keeps no connection";
  }

  void open(const QString& children) {
    window = OpenForm(FormText("QWidget", "Form", children));
    ASSERT_TRUE(window->mainContainer());
    // Stored bindings wait for the event loop.
    ASSERT_TRUE(pumpUntil([&] {
      for (auto* host : form()->findChildren<TqOPCGUIHost*>())
        if (host->HasPendingBindings()) return false;
      return true;
    }));
  }
  QWidget* form() const { return window->mainContainer(); }
  template <class W = QWidget>
  W* named(const char* name) const {
    auto* widget = form()->findChild<W*>(QLatin1String(name));
    EXPECT_TRUE(widget) << name;
    return widget;
  }
  static QDesignerTaskMenuExtension* taskMenu(QObject* host) {
    return qt_extension<QDesignerTaskMenuExtension*>(DesignerCore()->extensionManager(), host);
  }
  static QDesignerCustomWidgetInterface* component(const QString& name) {
    for (QDesignerCustomWidgetInterface* widget : collection().customWidgets())
      if (widget->name() == name) return widget;
    return nullptr;
  }
  static TqOPCDesignerWidgets& collection() {
    static TqOPCDesignerWidgets widgets;
    return widgets;
  }
  void setProperty(QWidget* widget, const char* name, const QVariant& value) {
    window->cursor()->setWidgetProperty(widget, QLatin1String(name), value);
  }
  // The form as Designer saves it, opened again in a new form window.
  void saveAndReopen() {
    const QString saved = window->contents();
    window.reset();
    window = OpenForm(saved);
    QCoreApplication::processEvents();
  }

  ScopedCaptureApplication app;
  std::unique_ptr<QDesignerFormWindowInterface> window;
};

TEST_F(DesignerPluginTest, Collection_ExactlyTheThreeComponentsInTheGroupOPC) {
  QStringList names;
  for (QDesignerCustomWidgetInterface* widget : collection().customWidgets()) {
    names << widget->name();
    EXPECT_EQ(widget->group(), "OPC");
    EXPECT_EQ(widget->includeFile(), "design/tqcomponenthost.h");
    EXPECT_FALSE(widget->isContainer());
    EXPECT_FALSE(widget->icon().isNull());
    EXPECT_TRUE(widget->domXml().contains(QStringLiteral("class=\"%1\"").arg(widget->name())));
  }
  EXPECT_EQ(names, (QStringList{"TqOPCServerHost", "TqopcServerBrowserHost", "TqOPCGUIHost"}));
}

TEST_F(DesignerPluginTest, Hosts_OnAFormWindowTheComponentsBelongToTheDesignedForm) {
  open("  <widget class=\"QGroupBox\" name=\"groupBox\">\n" + kSimulated +
       "  </widget>\n"
       "  <widget class=\"TqOPCGUIHost\" name=\"OPCGUI1\"/>\n");
  auto* serverHost = named<TqOPCServerHost>("OPCServer1");
  auto* guiHost = named<TqOPCGUIHost>("OPCGUI1");
  ASSERT_TRUE(serverHost && guiHost);
  TqOPCServer* server = serverHost->Server();
  EXPECT_EQ(server->parent(), form()) << "owned by the form, not by its group box";
  EXPECT_TRUE(server->IsDesigning());
  EXPECT_EQ(server->Name(), "OPCServer1");
  EXPECT_FALSE(server->Active()) << "the designer never connects a form it opens";
  EXPECT_TRUE(serverHost->Active()) << "but keeps the designed value";
  EXPECT_FALSE(serverHost->isHidden());
  EXPECT_EQ(serverHost->size(), QSize(32, 32));
  EXPECT_EQ(guiHost->GUI()->OPCServer(), server) << "the form's server, placed before it";
  EXPECT_TRUE(TqComponentHost::IsHostForm(form()));

  // Designer's preview builds the form outside form windows: run time.
  QWidget preview;
  std::unique_ptr<QWidget> previewed(component("TqOPCServerHost")->createWidget(&preview));
  auto* previewHost = qobject_cast<TqComponentHost*>(previewed.get());
  ASSERT_TRUE(previewHost);
  EXPECT_FALSE(previewHost->IsDesigning());
  EXPECT_FALSE(previewHost->Component()->IsDesigning());
  EXPECT_TRUE(previewHost->isHidden());
  EXPECT_TRUE(app->Entries().isEmpty());
}

// A loader without a designer core gets working components too.
TEST_F(DesignerPluginLoader, WithoutADesignerCoreHostsAreRunTimeHosts) {
  TqOPCDesignerWidgets fresh;
  QWidget form;
  for (QDesignerCustomWidgetInterface* widget : fresh.customWidgets()) {
    if (widget->name() != "TqOPCServerHost") continue;
    auto* host = qobject_cast<TqOPCServerHost*>(widget->createWidget(&form));
    ASSERT_TRUE(host);
    EXPECT_FALSE(host->IsDesigning());
    EXPECT_FALSE(host->Server()->IsDesigning());
    return;
  }
  ADD_FAILURE() << "no server component";
}

TEST_F(DesignerPluginTest, Delete_DeletedWidgetsLeaveTheBindingComponentUntilUndo) {
  open(
      "  <widget class=\"QLineEdit\" name=\"lineEdit\"/>\n"
      "  <widget class=\"QFrame\" name=\"frame\">\n"
      "   <widget class=\"QLineEdit\" name=\"inner\"/>\n"
      "   <widget class=\"TqOPCServerHost\" name=\"OPCServer2\"/>\n  </widget>\n" +
      kSimulated +
      "  <widget class=\"TqOPCGUIHost\" name=\"OPCGUI1\">\n"
      "   <property name=\"OPCServer\"><string>OPCServer1</string></property>\n"
      "   <property name=\"Bindings\"><stringlist>\n"
      "    <string>lineEdit|text|g|a</string><string>inner|text|g|b</string>\n"
      "   </stringlist></property>\n  </widget>\n");
  auto* guiHost = named<TqOPCGUIHost>("OPCGUI1");
  TqOPCServer* server1 = named<TqOPCServerHost>("OPCServer1")->Server();
  TqOPCServer* server2 = named<TqOPCServerHost>("OPCServer2")->Server();
  ASSERT_EQ(guiHost->Bindings(), (QStringList{"lineEdit|text|g|a", "inner|text|g|b"}));
  ASSERT_EQ(guiHost->GUI()->OPCServer(), server1);
  QUndoStack* history = window->commandHistory();

  // A bound control: its binding is neither stored nor reported any more.
  DeleteWidget(*window, named("lineEdit"));
  EXPECT_EQ(guiHost->Bindings(), QStringList{"inner|text|g|b"});
  EXPECT_FALSE(window->contents().contains("lineEdit|text"));
  history->undo();
  EXPECT_EQ(guiHost->Bindings(), (QStringList{"inner|text|g|b", "lineEdit|text|g|a"}));

  // The linked server's host: the link goes (its name is kept) and undo
  // brings it back. A container takes its controls along.
  DeleteWidget(*window, named("OPCServer1"));
  EXPECT_EQ(guiHost->GUI()->OPCServer(), nullptr);
  EXPECT_EQ(guiHost->OPCServer(), "OPCServer1");
  DeleteWidget(*window, named("frame"));
  EXPECT_EQ(guiHost->Bindings(), QStringList{"lineEdit|text|g|a"});
  history->undo();
  EXPECT_EQ(guiHost->Bindings().size(), 2);
  history->undo();
  EXPECT_EQ(guiHost->GUI()->OPCServer(), server1);
  // Without a name the binding component takes the form's last server,
  // which a deleted one no longer is.
  setProperty(guiHost, "OPCServer", QString());
  DeleteWidget(*window, named("OPCServer1"));
  EXPECT_EQ(guiHost->GUI()->OPCServer(), server2);
  EXPECT_TRUE(app->Entries().isEmpty()) << app->Entries().size();
}

TEST_F(DesignerPluginTest, Layouts_TheHostsStayOutOfThemAndVisible) {
  open(
      "  <widget class=\"QLineEdit\" name=\"lineEdit\"/>\n"
      "  <widget class=\"TqOPCGUIHost\" name=\"OPCGUI1\"/>\n"
      "  <widget class=\"QLabel\" name=\"label\"/>\n" +
      kSimulated);
  window->clearSelection();
  DesignerCore()
      ->formWindowManager()
      ->action(QDesignerFormWindowManagerInterface::VerticalLayoutAction)
      ->trigger();
  QLayout* layout = form()->layout();
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->count(), 2) << "the line edit and the label";
  for (const char* host : {"OPCGUI1", "OPCServer1"}) {
    EXPECT_LT(layout->indexOf(named(host)), 0) << host;
    EXPECT_FALSE(named(host)->isHidden()) << host;
  }
  // Saved and read again: still out of the layout, the form whole.
  saveAndReopen();
  ASSERT_TRUE(form()->layout());
  EXPECT_EQ(form()->layout()->count(), 2);
  EXPECT_EQ(named<TqOPCGUIHost>("OPCGUI1")->GUI()->OPCServer(),
            named<TqOPCServerHost>("OPCServer1")->Server());
  window->commandHistory()->undo();  // nothing to undo after a load
  EXPECT_TRUE(app->Entries().isEmpty());
}

TEST_F(DesignerPluginTest, Properties_EveryPublishedSettingIsEditedAndStoredInTheForm) {
  open(kSimulated +
       "  <widget class=\"TqOPCServerHost\" name=\"OPCServer2\"/>\n"
       "  <widget class=\"TqopcServerBrowserHost\" name=\"qopcServerBrowser1\"/>\n"
       "  <widget class=\"TqOPCGUIHost\" name=\"OPCGUI1\"/>\n");
  setProperty(named("qopcServerBrowser1"), "Servertype",
              QVariant::fromValue(tqopcServerSet(svr_DA10)));
  QWidget* server2 = named("OPCServer2");
  setProperty(server2, "Active", true);
  setProperty(server2, "ConnectDelay", 250);
  setProperty(server2, "ClientName", "panel");
  setProperty(server2, "OPCGroupDefaultUpdateRate", 500);
  setProperty(server2, "OPCGroupDefaultDeadBand", 1.5);
  setProperty(server2, "OPCGroupDefaultIsActive", false);
  setProperty(named("OPCGUI1"), "OPCServer", "OPCServer1");
  EXPECT_EQ(named<TqOPCGUIHost>("OPCGUI1")->GUI()->OPCServer(),
            named<TqOPCServerHost>("OPCServer1")->Server())
      << "not the form's last server";

  saveAndReopen();
  EXPECT_EQ(named<TqopcServerBrowserHost>("qopcServerBrowser1")->Browser()->Servertype(),
            tqopcServerSet(svr_DA10));
  auto* host2 = named<TqOPCServerHost>("OPCServer2");
  TqOPCServer* component2 = host2->Server();
  EXPECT_TRUE(host2->Active());
  EXPECT_FALSE(component2->Active());
  EXPECT_EQ(component2->ConnectDelay(), 250);
  EXPECT_EQ(component2->ClientName(), "panel");
  EXPECT_EQ(component2->OPCGroupDefault()->UpdateRate, 500);
  EXPECT_EQ(component2->OPCGroupDefault()->DeadBand, 1.5f);
  EXPECT_FALSE(component2->OPCGroupDefault()->IsActive);
  EXPECT_TRUE(host2->Configuration().contains("\n  Active = True"));
  EXPECT_EQ(named<TqOPCGUIHost>("OPCGUI1")->GUI()->OPCServer(),
            named<TqOPCServerHost>("OPCServer1")->Server());
  EXPECT_TRUE(app->Entries().isEmpty());
}

TEST_F(DesignerPluginTest, Verbs_EachHostsVerbsWithTheirTexts) {
  open(kSimulated +
       "  <widget class=\"TqOPCGUIHost\" name=\"OPCGUI1\"/>\n"
       "  <widget class=\"TqopcServerBrowserHost\" name=\"qopcServerBrowser1\"/>\n");
  QDesignerTaskMenuExtension* serverMenu = taskMenu(named("OPCServer1"));
  QDesignerTaskMenuExtension* guiMenu = taskMenu(named("OPCGUI1"));
  ASSERT_TRUE(serverMenu && guiMenu);
  ASSERT_EQ(serverMenu->taskActions().size(), 2);
  EXPECT_EQ(serverMenu->taskActions()[0]->text(), "OPC Inspector...");
  EXPECT_EQ(serverMenu->taskActions()[1]->text(), "Choose Server...");
  EXPECT_EQ(serverMenu->preferredEditAction(), serverMenu->taskActions()[0]) << "double click";
  ASSERT_EQ(guiMenu->taskActions().size(), 1);
  EXPECT_EQ(guiMenu->taskActions()[0]->text(), "OPC to GUI...");
  EXPECT_EQ(guiMenu->preferredEditAction(), guiMenu->taskActions()[0]);
  EXPECT_EQ(taskMenu(named("qopcServerBrowser1")), nullptr) << "the enumeration has none";
}

TEST_F(DesignerPluginTest, Verbs_TheirWindowsChangesAreStoredAndTheFormModified) {
  // The binding component first: the server placed later is still found.
  open(
      "  <widget class=\"QLineEdit\" name=\"Edit1\"/>\n"
      "  <widget class=\"TqOPCGUIHost\" name=\"OPCGUI1\"/>\n");
  QDesignerTaskMenuExtension* guiMenu = taskMenu(named("OPCGUI1"));
  ASSERT_TRUE(guiMenu);
  guiMenu->preferredEditAction()->trigger();
  EXPECT_EQ(app->Texts(TCaptureApplicationHandler::Kind::Exception),
            QList<QString>{"first assign property opcserver"})
      << "no server on the form: reported, no window";
  app->Reset();

  // Dropped later, as Designer pastes a widget.
  QDesignerFormWindowInterface* fw = window.get();
  fw->setContents(FormText("QWidget", "Form",
                           "  <widget class=\"QLineEdit\" name=\"Edit1\"/>\n"
                           "  <widget class=\"TqOPCGUIHost\" name=\"OPCGUI1\"/>\n" +
                               kSimulated));
  auto* guiHost = named<TqOPCGUIHost>("OPCGUI1");
  auto* serverHost = named<TqOPCServerHost>("OPCServer1");
  {
    ModalDriver<TqGUISelectForm> driver([&](TqGUISelectForm& selection) {
      auto* list = control<QTreeWidget>(selection, "ListView");
      ASSERT_TRUE(list);
      ASSERT_EQ(list->topLevelItemCount(), 1) << "the hosts are no controls";
      EXPECT_EQ(selection.Server(), serverHost->Server());
      guiHost->GUI()->AddItem("g", "i", named("Edit1"), "text");  // as the window would
      selection.close();
    });
    taskMenu(guiHost)->preferredEditAction()->trigger();
    EXPECT_TRUE(driver.ran());
  }
  EXPECT_TRUE(window->isDirty());
  EXPECT_TRUE(window->contents().contains("Edit1|text|g|i"));

  // Connecting and disconnecting in the OPC Inspector decides Active; a
  // visit that does neither leaves the designed value.
  ASSERT_TRUE(serverHost->Active());
  auto inspect = [&](bool connect) {
    ModalDriver<TqOPCDlgExplorer> driver([&](TqOPCDlgExplorer& inspector) {
      if (connect) {
        QTest::mouseClick(control<QToolButton>(inspector, "bConnect"), Qt::LeftButton);
        EXPECT_TRUE(serverHost->Server()->Active());
        QTest::mouseClick(control<QToolButton>(inspector, "BDisconnect"), Qt::LeftButton);
      }
      inspector.reject();
    });
    taskMenu(serverHost)->preferredEditAction()->trigger();
    EXPECT_TRUE(driver.ran());
  };
  inspect(false);
  EXPECT_TRUE(serverHost->Active());
  EXPECT_TRUE(window->contents().contains("\n  Active = True"));
  inspect(true);
  EXPECT_FALSE(serverHost->Active());
  const QString saved = window->contents();
  EXPECT_TRUE(saved.contains("\n  Active = False")) << saved.toStdString();
  EXPECT_FALSE(saved.contains("\n  Active = True"));

  // "Choose Server..." sets the name from the server browse dialog, undoably.
  ModalDriver<TqopcServerBrowseDlg> browse([](TqopcServerBrowseDlg& dialog) {
    control<QLineEdit>(dialog, "eServerName")->setText("Veze6.Simulation.DA10.1");
    QTest::mouseClick(control<QPushButton>(dialog, "bOk"), Qt::LeftButton);
  });
  taskMenu(serverHost)->taskActions()[1]->trigger();
  EXPECT_TRUE(browse.ran());
  EXPECT_EQ(serverHost->ServerName(), "Veze6.Simulation.DA10.1");
  EXPECT_TRUE(window->contents().contains("<string>Veze6.Simulation.DA10.1</string>"));
  window->commandHistory()->undo();
  EXPECT_EQ(serverHost->ServerName(), "Veze6.Simulation.1");
  EXPECT_TRUE(app->Entries().isEmpty()) << app->Entries().size();
}

}  // namespace
