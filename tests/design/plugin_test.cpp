// The Qt Designer plugin, used directly without a Designer process: the
// three components of the group "OPC", the hosts they are placed in (in the
// designer and at run time), and the one verb of each component with the
// window it opens.
#include <QDesignerFormEditorInterface>
#include <QDesignerTaskMenuExtension>
#include <QExtensionManager>
#include <QLineEdit>
#include <QTreeWidget>
#include <memory>

#include "core/application.h"
#include "design/plugin/opcdesignerplugin.h"
#include "design/qOPCGUIDlg.h"
#include "design/qOPCPropEdit.h"
#include "design/tqcomponenthost.h"
#include "tests/dialogs/dialog_test_utils.h"

using namespace dialogs_test;

namespace {

// The designer's core as far as the plugin uses it: an extension manager.
struct DesignerCore : QDesignerFormEditorInterface {
  DesignerCore() { setExtensionManager(new QExtensionManager(this)); }
};

class DesignerPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (QDesignerCustomWidgetInterface* widget : collection.customWidgets())
      widget->initialize(&core);
  }

  QDesignerCustomWidgetInterface* component(const QString& name) const {
    for (QDesignerCustomWidgetInterface* widget : collection.customWidgets())
      if (widget->name() == name) return widget;
    ADD_FAILURE() << "no component " << name.toStdString();
    return nullptr;
  }
  // A host placed on form as Designer places it, named name.
  TqComponentHost* place(const QString& cls, const QString& name) {
    auto* host = qobject_cast<TqComponentHost*>(component(cls)->createWidget(&form));
    EXPECT_TRUE(host);
    host->setObjectName(name);
    return host;
  }
  QDesignerTaskMenuExtension* taskMenu(QObject* host) {
    return qt_extension<QDesignerTaskMenuExtension*>(core.extensionManager(), host);
  }

  ScopedCaptureApplication app;
  DesignerCore core;
  TqOPCDesignerWidgets collection;
  QWidget form;  // stands for a designed form's main container
};

TEST_F(DesignerPluginTest, Collection_ExactlyTheThreeComponentsInTheGroupOPC) {
  QStringList names;
  for (QDesignerCustomWidgetInterface* widget : collection.customWidgets()) {
    names << widget->name();
    EXPECT_EQ(widget->group(), "OPC");
    EXPECT_EQ(widget->includeFile(), "design/tqcomponenthost.h");
    EXPECT_FALSE(widget->isContainer());
    EXPECT_TRUE(widget->isInitialized());
    EXPECT_FALSE(widget->icon().isNull());
    EXPECT_TRUE(widget->domXml().contains(QStringLiteral("class=\"%1\"").arg(widget->name())));
  }
  EXPECT_EQ(names, (QStringList{"TqOPCServerHost", "TqopcServerBrowserHost", "TqOPCGUIHost"}));
}

TEST_F(DesignerPluginTest, Hosts_InTheDesignerTheComponentBelongsToTheFormAndFollowsTheName) {
  auto* panel = new QWidget(&form);
  auto* serverHost = qobject_cast<TqOPCServerHost*>(
      component("TqOPCServerHost")->createWidget(panel));  // dropped into a container
  ASSERT_TRUE(serverHost);
  serverHost->setObjectName("OPCServer1");
  TqOPCServer* server = serverHost->Server();
  ASSERT_TRUE(server);
  EXPECT_EQ(server->parent(), &form) << "owned by the form, not by its container";
  EXPECT_TRUE(server->IsDesigning());
  EXPECT_EQ(server->Name(), "OPCServer1");
  EXPECT_TRUE(serverHost->IsDesigning());
  EXPECT_FALSE(serverHost->isHidden()) << "an icon in the designer";
  EXPECT_EQ(serverHost->size(), QSize(32, 32));
  EXPECT_TRUE(TqComponentHost::IsDesignerForm(&form));
  EXPECT_FALSE(TqComponentHost::IsDesignerForm(panel));

  // What the property editor stores is the component's.
  serverHost->setProperty("ServerName", "Veze6.Simulation.1");
  serverHost->setProperty("ClientName", "designer");
  EXPECT_EQ(server->ServerName(), "Veze6.Simulation.1");
  EXPECT_EQ(server->ClientName(), "designer");

  // The binding component takes the form's server.
  auto* guiHost = qobject_cast<TqOPCGUIHost*>(place("TqOPCGUIHost", "OPCGUI1"));
  ASSERT_TRUE(guiHost && guiHost->GUI());
  EXPECT_EQ(guiHost->GUI()->OPCServer(), server);
  EXPECT_TRUE(guiHost->GUI()->IsDesigning());

  QPointer<TqOPCServer> watched(server);
  delete serverHost;
  EXPECT_TRUE(watched.isNull()) << "the component goes with its host";
  EXPECT_EQ(guiHost->GUI()->OPCServer(), nullptr);
}

TEST_F(DesignerPluginTest, Hosts_AtRunTimeHiddenAndNoControlOfTheForm) {
  // What a form compiled from a designed one does.
  auto* edit = new QLineEdit(&form);
  edit->setObjectName("Edit1");
  auto* serverHost = new TqOPCServerHost(&form);
  serverHost->setObjectName("OPCServer1");
  auto* guiHost = new TqOPCGUIHost(&form);
  guiHost->setObjectName("OPCGUI1");
  form.show();
  EXPECT_FALSE(serverHost->isVisible());
  EXPECT_FALSE(guiHost->isVisible());
  EXPECT_FALSE(serverHost->Server()->IsDesigning());
  EXPECT_EQ(guiHost->GUI()->parent(), &form);
  EXPECT_EQ(guiHost->GUI()->OPCServer(), serverHost->Server())
      << "the constructor's pick of the form's server";
  EXPECT_EQ(TqGUISelectForm::FormControls(&form), QList<QWidget*>{edit});
}

// A form loaded at run time through the plugin (a loader without a designer
// core) gets working components, not designed ones.
TEST(DesignerPluginLoader, WithoutADesignerCoreHostsAreRunTimeHosts) {
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

TEST_F(DesignerPluginTest, Verbs_ExactlyOneEachWithItsText) {
  QDesignerTaskMenuExtension* serverMenu = taskMenu(place("TqOPCServerHost", "OPCServer1"));
  QDesignerTaskMenuExtension* guiMenu = taskMenu(place("TqOPCGUIHost", "OPCGUI1"));
  ASSERT_TRUE(serverMenu && guiMenu);
  ASSERT_EQ(serverMenu->taskActions().size(), 1);
  EXPECT_EQ(serverMenu->taskActions()[0]->text(), "OPC Inspector...");
  EXPECT_EQ(serverMenu->preferredEditAction(), serverMenu->taskActions()[0]) << "double click";
  ASSERT_EQ(guiMenu->taskActions().size(), 1);
  EXPECT_EQ(guiMenu->taskActions()[0]->text(), "OPC to GUI...");
  EXPECT_EQ(guiMenu->preferredEditAction(), guiMenu->taskActions()[0]);
  EXPECT_EQ(taskMenu(place("TqopcServerBrowserHost", "qopcServerBrowser1")), nullptr)
      << "the server enumeration component has no verb";
  EXPECT_EQ(taskMenu(&form), nullptr);
}

TEST_F(DesignerPluginTest, Verbs_OpenTheirWindowsForTheHeldComponents) {
  auto* edit = new QLineEdit(&form);
  edit->setObjectName("Edit1");
  // The binding component first: the server placed later is still found.
  TqComponentHost* guiHost = place("TqOPCGUIHost", "OPCGUI1");
  QDesignerTaskMenuExtension* guiMenu = taskMenu(guiHost);
  ASSERT_TRUE(guiMenu);

  guiMenu->preferredEditAction()->trigger();
  EXPECT_EQ(app->Texts(TCaptureApplicationHandler::Kind::Exception),
            QList<QString>{"first assign property opcserver"})
      << "no server on the form: reported, no window";
  app->Reset();

  auto* serverHost = qobject_cast<TqOPCServerHost*>(place("TqOPCServerHost", "OPCServer1"));
  {
    ModalDriver<TqGUISelectForm> driver([&](TqGUISelectForm& window) {
      auto* list = control<QTreeWidget>(window, "ListView");
      ASSERT_TRUE(list);
      ASSERT_EQ(list->topLevelItemCount(), 1) << "the hosts are no controls";
      EXPECT_EQ(list->topLevelItem(0)->text(0), "Edit1");
      EXPECT_EQ(window.Server(), serverHost->Server());
      window.close();
    });
    guiMenu->preferredEditAction()->trigger();
    EXPECT_TRUE(driver.ran());
  }
  {
    ModalDriver<TqOPCDlgExplorer> driver([](TqOPCDlgExplorer& window) { window.reject(); });
    taskMenu(serverHost)->preferredEditAction()->trigger();
    EXPECT_TRUE(driver.ran()) << "the OPC Inspector for the held server";
  }
  EXPECT_TRUE(app->Entries().isEmpty());
}

}  // namespace
