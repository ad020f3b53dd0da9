// What a designed form keeps of its components: the server host's
// Configuration (groups, items, group defaults, connection settings) and the
// binding host's Bindings, read and written as Designer and uic do, in the
// designer and at run time, ending with a form compiled by uic whose
// bindings show the simulation server's values.
#include <QDateTimeEdit>
#include <QDesignerFormEditorInterface>
#include <QDesignerTaskMenuExtension>
#include <QExtensionManager>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMetaProperty>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QXmlStreamReader>
#include <chrono>
#include <memory>

#include "binding/qOPCGUI.h"
#include "common/dialogdriver.h"
#include "core/qOPC.h"
#include "core/tdatetime.h"
#include "design/plugin/opcdesignerplugin.h"
#include "design/qOPCGUIDlg.h"
#include "design/tqcomponenthost.h"
#include "dialogs/qGUIShowItems.h"
#include "simulator/simulator.h"
#include "ui_panel.h"
#include "ui_storedform.h"

using namespace dialogs_test;
using namespace std::chrono_literals;
namespace sim = veze6::sim;

namespace {

using Kind = TCaptureApplicationHandler::Kind;

class FormStoreTest : public veze6::test::LeakCheckedTest {
 protected:
  static void SetUpTestSuite() { sim::registerSimulationServer(); }
  void TearDown() override {
    forms.clear();
    QCoreApplication::processEvents();
    EXPECT_EQ(sim::liveServerCount(), 0u) << "every connection ends with its form";
  }

  QWidget* newForm() {
    forms.push_back(std::make_unique<QWidget>());
    return forms.back().get();
  }
  template <class Host>
  Host* host(QWidget* form, const char* name, bool designing = false) {
    auto* h = new Host(form);
    h->setObjectName(QLatin1String(name));
    if (designing) h->SetDesigning(form);
    return h;
  }
  template <class W>
  static W* named(QWidget* parent, const QString& name) {
    auto* w = new W(parent);
    w->setObjectName(name);
    return w;
  }
  QList<QString> reported() const { return app->Texts(Kind::Exception); }

  ScopedCaptureApplication app;
  std::vector<std::unique_ptr<QWidget>> forms;
};

// A server component with two groups, items and changed group defaults.
void fill(TqOPCServer& server) {
  server.SetServer("Veze6.Simulation.1");
  server.SetClientName("designed");
  server.SetConnectDelay(0);
  server.OPCGroupDefault()->UpdateRate = 250;
  server.OPCGroupDefault()->TimeBias = -60;
  TqOPCGroup* boiler = server.OPCGroups()->Add("Boiler");
  boiler->SetDeadBand(0.5f);
  boiler->OPCItems()->AddItem("Writable.Int4");
  boiler->OPCItems()->AddItem("Static.Real8")->SetIsActive(false);
  server.OPCGroups()->Add("Feed")->OPCItems()->AddItem("Writable.String");
}

QStringList itemsOf(const TqOPCServer& server) {
  QStringList ids;
  for (int g = 0; g < server.OPCGroups()->Count(); ++g) {
    TqOPCGroup* group = server.OPCGroups()->Items(g);
    for (int i = 0; i < group->OPCItems()->Count(); ++i)
      ids << group->Name() + "/" + group->OPCItems()->Items(i)->ItemID();
  }
  return ids;
}

// ---- the server host's Configuration ----

TEST_F(FormStoreTest, Configuration_RoundTripsGroupsItemsAndDefaultsBetweenHosts) {
  auto* source = host<TqOPCServerHost>(newForm(), "OPCServer1");
  fill(*source->Server());
  const QString text = source->Configuration();
  EXPECT_TRUE(text.startsWith("object OPCServer1: TqOPCServer")) << text.toStdString();

  // At run time, into another form's host of the same name.
  auto* copy = host<TqOPCServerHost>(newForm(), "OPCServer1");
  copy->setConfiguration(text);
  EXPECT_TRUE(reported().isEmpty());
  TqOPCServer* server = copy->Server();
  EXPECT_EQ(itemsOf(*server),
            (QStringList{"Boiler/Writable.Int4", "Boiler/Static.Real8", "Feed/Writable.String"}));
  EXPECT_EQ(server->OPCGroupDefault()->UpdateRate, 250);
  EXPECT_EQ(server->OPCGroupDefault()->TimeBias, -60);
  EXPECT_EQ(server->OPCGroups()->Items(0)->DeadBand(), 0.5f);
  EXPECT_FALSE(server->OPCGroups()->Items(0)->OPCItems()->Items(1)->IsActive());
  EXPECT_EQ(copy->ServerName(), "Veze6.Simulation.1") << "the forwarded properties agree";
  EXPECT_EQ(copy->ClientName(), "designed");
  EXPECT_EQ(copy->Configuration(), text);

  // Writing a text replaces the collections; the host keeps its own name
  // whatever the text's header says.
  auto* other = host<TqOPCServerHost>(newForm(), "Other");
  other->setConfiguration(text);
  EXPECT_EQ(other->Server()->Name(), "Other");
  EXPECT_TRUE(other->Configuration().startsWith("object Other: TqOPCServer"));
  source->Server()->OPCGroups()->Items(1)->Free();
  other->setConfiguration(source->Configuration());
  EXPECT_EQ(itemsOf(*other->Server()),
            (QStringList{"Boiler/Writable.Int4", "Boiler/Static.Real8"}));

  // Empty text is no configuration: nothing changes.
  other->setConfiguration(QString());
  EXPECT_EQ(other->Server()->OPCGroups()->Count(), 1);
  EXPECT_TRUE(reported().isEmpty());
}

TEST_F(FormStoreTest, Configuration_DeclaredFirstSoTheSimplePropertiesAppliedAfterItWin) {
  const QMetaObject& meta = TqOPCServerHost::staticMetaObject;
  const int configuration = meta.indexOfProperty("Configuration");
  ASSERT_GE(configuration, meta.propertyOffset());
  for (const char* name :
       {"ServerName", "ComputerName", "ClientName", "BatchMode", "ConnectDelay", "AutoReconnect"})
    EXPECT_GT(meta.indexOfProperty(name), configuration) << name;

  // Applied in declaration order, as uic's code does.
  auto* server = host<TqOPCServerHost>(newForm(), "OPCServer1");
  auto* source = host<TqOPCServerHost>(newForm(), "OPCServer1");
  fill(*source->Server());
  server->setConfiguration(source->Configuration());
  server->setClientName("from the form");
  server->setConnectDelay(20);
  EXPECT_EQ(server->Server()->ClientName(), "from the form");
  EXPECT_EQ(server->Server()->ConnectDelay(), 20);
  EXPECT_EQ(server->Server()->OPCGroups()->Count(), 2) << "the rest of the text stays";
}

TEST_F(FormStoreTest, Configuration_FailuresAreReportedAndLeaveTheHostUsable) {
  auto* serverHost = host<TqOPCServerHost>(newForm(), "OPCServer1");
  fill(*serverHost->Server());
  const QString good = serverHost->Configuration();

  // Malformed text changes nothing.
  EXPECT_NO_THROW(
      serverHost->setConfiguration("object OPCServer1: TqOPCServer\n  OPCGroups = <\n"));
  ASSERT_EQ(reported().size(), 1);
  EXPECT_EQ(serverHost->Server()->OPCGroups()->Count(), 2);
  EXPECT_EQ(serverHost->Configuration(), good);
  app->Reset();

  // A read error keeps what was read before it, unconnected.
  EXPECT_NO_THROW(serverHost->setConfiguration(
      "object OPCServer1: TqOPCServer\n  Active = True\n  ClientName = 'first'\n"
      "  NoSuchProperty = 1\nend\n"));
  ASSERT_EQ(reported().size(), 1);
  EXPECT_TRUE(reported()[0].contains("NoSuchProperty")) << reported()[0].toStdString();
  EXPECT_EQ(serverHost->ClientName(), "first");
  EXPECT_FALSE(serverHost->Server()->Active());
  app->Reset();

  // A connect that fails at run time is reported; the text is read.
  EXPECT_NO_THROW(serverHost->setConfiguration(
      "object OPCServer1: TqOPCServer\n  ServerName = 'No.Such.Server'\n  Active = True\nend\n"));
  EXPECT_EQ(reported().size(), 1);
  EXPECT_EQ(serverHost->ServerName(), "No.Such.Server");
  EXPECT_FALSE(serverHost->Server()->Active());
  app->Reset();

  // Still usable: a good text loads and connects.
  serverHost->setConfiguration(QString(good).replace("Active = False", "Active = True"));
  EXPECT_TRUE(reported().isEmpty()) << reported().value(0).toStdString();
  EXPECT_TRUE(serverHost->Server()->Active());
  EXPECT_EQ(sim::liveServerCount(), 1u);

  // Designer writes the value back after a verb: the connected component is
  // not reloaded (which would disconnect it), whatever the line ends.
  bool disconnected = false;
  serverHost->Server()->OnDisconnect = [&](QObject*) { disconnected = true; };
  const QString current = serverHost->Configuration();
  EXPECT_FALSE(current.contains('\r'));
  serverHost->setConfiguration(current);
  serverHost->setConfiguration(QString(current).replace("\n", "\r\n"));
  EXPECT_FALSE(disconnected);
  EXPECT_TRUE(serverHost->Server()->Active());
}

TEST_F(FormStoreTest, Configuration_InTheDesignerActiveIsKeptWithoutConnecting) {
  auto* source = host<TqOPCServerHost>(newForm(), "OPCServer1");
  fill(*source->Server());
  source->Server()->SetBatchMode(true);
  source->Server()->SetActive(true);
  ASSERT_TRUE(source->Server()->Active());
  const QString text = source->Configuration();
  ASSERT_TRUE(text.contains("Active = True"));
  source->Server()->SetActive(false);

  QWidget* form = newForm();
  auto* designed = host<TqOPCServerHost>(form, "OPCServer1", true);
  designed->setConfiguration(text);
  EXPECT_TRUE(reported().isEmpty());
  EXPECT_FALSE(designed->Server()->Active()) << "the designer never connects a loaded form";
  EXPECT_EQ(sim::liveServerCount(), 0u);
  EXPECT_EQ(itemsOf(*designed->Server()).size(), 3);
  EXPECT_FALSE(designed->BatchMode()) << "as a form loaded in the designer";
  designed->setBatchMode(true);  // the form's own BatchMode, applied after
  // Saved again as designed.
  EXPECT_EQ(designed->Configuration(), text);
  EXPECT_FALSE(designed->Server()->Active());

  // A text saying False is designed as False.
  designed->setConfiguration(QString(text).replace("Active = True", "Active = False"));
  EXPECT_TRUE(designed->Configuration().contains("Active = False"));
}

// ---- the binding host's Bindings ----

TEST_F(FormStoreTest, Bindings_EncodingKeepsEveryNameAndRefusesMalformedEntries) {
  const QStringList names{"a|b", "c\\d", "\\|", ""};
  const QString entry = TqOPCGUIHost::EncodeBinding(names[0], names[1], names[2], names[3]);
  EXPECT_EQ(entry, "a\\|b|c\\\\d|\\\\\\||");
  QStringList fields;
  ASSERT_TRUE(TqOPCGUIHost::DecodeBinding(entry, fields));
  EXPECT_EQ(fields, names);
  for (const char* bad : {"a|b|c", "a|b|c|d|e", "a\\x|b|c|d", "a|b|c|d\\", ""})
    EXPECT_FALSE(TqOPCGUIHost::DecodeBinding(QLatin1String(bad), fields)) << bad;

  // A malformed entry is reported and dropped, the others kept.
  QWidget* form = newForm();
  named<QLineEdit>(form, "Edit1");
  auto* guiHost = host<TqOPCGUIHost>(form, "OPCGUI1");
  guiHost->setBindings({"Edit1|text|g|i", "broken"});
  EXPECT_EQ(reported().size(), 1);
  EXPECT_EQ(guiHost->Bindings(), QStringList{"Edit1|text|g|i"});
}

TEST_F(FormStoreTest, Bindings_SetBeforeTheControlsExistResolveOnTheFirstTurn) {
  QWidget* form = newForm();
  auto* guiHost = host<TqOPCGUIHost>(form, "OPCGUI1");
  const QStringList entries{"Edit|1|text|Pl|ant|A.b|c", "Label1|text|Plant|Writable.Int4"};
  const QStringList stored{TqOPCGUIHost::EncodeBinding("Edit|1", "text", "Pl|ant", "A.b|c"),
                           entries[1]};
  guiHost->setBindings(stored);
  // Not yet created: the entries wait, and read back as they were set.
  EXPECT_EQ(guiHost->GUI()->Items()->Count(), 0);
  EXPECT_EQ(guiHost->Bindings(), stored);
  auto* edit = named<QLineEdit>(form, "Edit|1");
  auto* label = named<QLabel>(form, "Label1");

  ASSERT_TRUE(pumpUntil([&] { return !guiHost->HasPendingBindings(); }));
  TqGUIItems* items = guiHost->GUI()->Items();
  ASSERT_EQ(items->Count(), 2);
  EXPECT_EQ(items->Items(0)->Control(), edit);
  EXPECT_EQ(items->Items(0)->OPCGroup(), "Pl|ant");
  EXPECT_EQ(items->Items(0)->OPCItem(), "A.b|c");
  EXPECT_EQ(items->Items(1)->Control(), label);
  EXPECT_EQ(guiHost->Bindings(), stored) << "the same entries, now from the bindings";
  EXPECT_TRUE(reported().isEmpty());
}

TEST_F(FormStoreTest, Bindings_RoundTripReplaceAndWhatCannotBeNamed) {
  QWidget* form = newForm();
  auto* edit = named<QLineEdit>(form, "Edit1");
  auto* label = named<QLabel>(form, "Label1");
  auto* nameless = new QLineEdit(form);
  auto* guiHost = host<TqOPCGUIHost>(form, "OPCGUI1");
  TqOPCGUI* gui = guiHost->GUI();
  gui->AddItem("g", "A", edit, "text");
  gui->AddItem("g", "B", nameless, "text");
  gui->AddItem("g", "C", label, "");  // the class default property
  const QStringList stored = guiHost->Bindings();
  EXPECT_EQ(stored, (QStringList{"Edit1|text|g|A", "Label1|text|g|C"}))
      << "a control without a name cannot be named in a form";

  // Into another form's host.
  QWidget* other = newForm();
  named<QLineEdit>(other, "Edit1");
  named<QLabel>(other, "Label1");
  auto* copy = host<TqOPCGUIHost>(other, "OPCGUI1");
  copy->setBindings(stored);
  copy->ResolveBindings();
  EXPECT_EQ(copy->GUI()->Items()->Count(), 2);
  EXPECT_EQ(copy->Bindings(), stored);

  // Writing replaces; the same entries again change nothing.
  TqGUIItem* kept = copy->GUI()->Items()->Items(0);
  QPointer<TqGUIItem> watch(kept);
  copy->setBindings(stored);
  EXPECT_FALSE(watch.isNull()) << "equal entries leave the bindings alone";
  copy->setBindings({"Label1|text|h|D"});
  EXPECT_TRUE(watch.isNull());
  copy->ResolveBindings();
  EXPECT_EQ(copy->Bindings(), QStringList{"Label1|text|h|D"});

  // A control missing from the form is reported and its entry kept.
  copy->setBindings({"Gone|text|g|A"});
  copy->ResolveBindings();
  EXPECT_EQ(reported().size(), 1);
  EXPECT_TRUE(copy->HasPendingBindings());
  EXPECT_EQ(copy->Bindings(), QStringList{"Gone|text|g|A"});
}

// ---- the designer's verbs ----

struct DesignerCore : QDesignerFormEditorInterface {
  DesignerCore() { setExtensionManager(new QExtensionManager(this)); }
};

TEST_F(FormStoreTest, Plugin_TheHostsTextsAreNotForTranslation) {
  // Translatable texts are set by uic in retranslateUi, again at every
  // language change; the configuration must be set once, right after the
  // host is created.
  TqOPCDesignerWidgets collection;
  QMap<QString, QStringList> textProperties;  // host -> "name:type" of each text
  for (QDesignerCustomWidgetInterface* widget : collection.customWidgets()) {
    QXmlStreamReader xml(widget->domXml());
    while (!xml.atEnd()) {
      xml.readNext();
      if (xml.isStartElement() && xml.name() == QLatin1String("stringpropertyspecification")) {
        EXPECT_EQ(xml.attributes().value("notr"), QLatin1String("true"));
        textProperties[widget->name()] << xml.attributes().value("name").toString() + ":" +
                                              xml.attributes().value("type").toString();
      }
    }
    EXPECT_FALSE(xml.hasError()) << widget->name().toStdString() << ": "
                                 << xml.errorString().toStdString();
  }
  EXPECT_EQ(
      textProperties["TqOPCServerHost"],
      (QStringList{"Configuration:multiline", "ServerName:singleline", "ComputerName:singleline",
                   "ClientName:singleline", "Version:singleline"}));
  EXPECT_EQ(textProperties["TqopcServerBrowserHost"], QStringList{"ComputerName:singleline"});
}

TEST_F(FormStoreTest, Verbs_TheControlSelectionFormsChangesAppearInBindings) {
  DesignerCore core;
  TqOPCDesignerWidgets collection;
  for (QDesignerCustomWidgetInterface* widget : collection.customWidgets())
    widget->initialize(&core);
  QWidget* form = newForm();
  auto* edit = named<QLineEdit>(form, "Edit1");
  named<QLabel>(form, "Label1");
  auto* serverHost = host<TqOPCServerHost>(form, "OPCServer1", true);
  serverHost->Server()->OPCGroups()->Add("Plant")->OPCItems()->AddItem("Writable.Int4");
  auto* guiHost = host<TqOPCGUIHost>(form, "OPCGUI1", true);
  guiHost->GUI()->AddItem("Plant", "Writable.Int4", edit, "text");
  ASSERT_EQ(guiHost->Bindings(), QStringList{"Edit1|text|Plant|Writable.Int4"});

  auto* menu = qt_extension<QDesignerTaskMenuExtension*>(core.extensionManager(), guiHost);
  ASSERT_TRUE(menu);
  ModalDriver<TqGUISelectForm> driver([&](TqGUISelectForm& window) {
    auto* list = control<QTreeWidget>(window, "ListView");
    ASSERT_TRUE(list && list->topLevelItemCount() == 2);
    // Right click clears the edit's row; a double click assigns the label.
    QTest::mouseClick(list->viewport(), Qt::RightButton, Qt::NoModifier,
                      list->visualRect(list->model()->index(0, 0)).center());
    ModalDriver<TqGUIItemDlg> itemDriver([](TqGUIItemDlg& dialog) {
      auto* tree = control<QTreeWidget>(dialog, "TreeView1");
      auto* items = control<QTreeWidget>(dialog, "ItemView");
      ASSERT_TRUE(tree && items && tree->topLevelItem(0)->childCount() == 1);
      clickRow(tree, tree->model()->index(0, 0, tree->model()->index(0, 0)));
      ASSERT_EQ(items->topLevelItemCount(), 1);
      clickRow(items, items->model()->index(0, 0));
      QTest::mouseClick(control<QToolButton>(dialog, "bAssign"), Qt::LeftButton);
    });
    doubleClickRow(list, list->model()->index(1, 0));
    EXPECT_TRUE(itemDriver.ran());
    window.close();
  });
  menu->preferredEditAction()->trigger();
  ASSERT_TRUE(driver.ran());
  EXPECT_TRUE(reported().isEmpty()) << reported().value(0).toStdString();
  EXPECT_EQ(guiHost->Bindings(), QStringList{"Label1|text|Plant|Writable.Int4"});
  EXPECT_EQ(guiHost->property("Bindings").toStringList(), guiHost->Bindings());
}

// ---- a form compiled by uic ----

// A form class as Qt Creator makes one, with slots named for connectSlotsByName.
class StoredFormWindow : public QWidget {
  Q_OBJECT
 public:
  StoredFormWindow() { ui.setupUi(this); }
  Ui::StoredForm ui;
  std::vector<int> changes;  // the list sizes seen
  QStringList errors;

 public slots:
  void on_OPCServer1_dataChanged(TqOPCItemList* items) { changes.push_back(items->Count()); }
  void on_OPCServer1_error(const QString& message) { errors << message; }
};

TEST_F(FormStoreTest, UicForm_EndsWithLinkedBindingsShowingTheServersValues) {
  auto* window = new StoredFormWindow;  // the binding host first, its controls last
  forms.emplace_back(window);
  QWidget* form = window;
  Ui::StoredForm& ui = window->ui;
  EXPECT_TRUE(reported().isEmpty()) << reported().value(0).toStdString();
  TqOPCServer* server = ui.OPCServer1->Server();
  ASSERT_TRUE(server->Active()) << "the stored Active = True connects at run time";
  EXPECT_EQ(server->ClientName(), "stored form");
  EXPECT_EQ(itemsOf(*server), (QStringList{"Plant/Writable.String", "Plant/Writable.Int4"}));
  ComPtr<sim::SimulationControl> control = server->GetOPCServer().as<sim::SimulationControl>();
  ASSERT_TRUE(control);
  control->setManualScan(true);
  form->show();
  EXPECT_FALSE(ui.OPCGUI1->isVisible());
  EXPECT_FALSE(ui.OPCServer1->isVisible());

  TqOPCGUI* gui = ui.OPCGUI1->GUI();
  ASSERT_TRUE(pumpUntil([&] { return !ui.OPCGUI1->HasPendingBindings() && gui->Hooked(); }));
  // setupUi connected the slots, once each, though host and component share
  // the name OPCServer1.
  std::size_t deliveries = window->changes.size();
  QObject::connect(server, &TqOPCServer::dataChanged, [&] { ++deliveries; });
  EXPECT_THROW(server->Fault("boom"), EOPCException);
  EXPECT_EQ(window->errors, QStringList{"boom"}) << "a slot taking fewer arguments";
  EXPECT_EQ(gui->OPCServer(), server) << "the server created after the binding component";
  ASSERT_EQ(gui->Items()->Count(), 2);
  EXPECT_EQ(gui->Items()->Items(0)->Control(), ui.eValue);
  EXPECT_TRUE(gui->Items()->Items(0)->LinkedItem());

  ASSERT_EQ(control->setItemValue(u"Writable.String", OleVariant(u"from the form")), S_OK);
  ASSERT_EQ(control->setItemValue(u"Writable.Int4", OleVariant(LONG(42))), S_OK);
  control->advance(100ms);
  EXPECT_TRUE(pumpUntil([&] { return ui.eValue->text() == "from the form"; }))
      << ui.eValue->text().toStdString();
  EXPECT_TRUE(pumpUntil([&] { return ui.lCount->text() == "42"; }));
  EXPECT_EQ(window->changes.size(), deliveries);
  EXPECT_EQ(window->changes.back(), 2);
  EXPECT_EQ(ui.OPCGUI1->Bindings(),
            (QStringList{"eValue|text|Plant|Writable.String", "lCount|text|Plant|Writable.Int4"}));
  control.reset();
}

TEST_F(FormStoreTest, UicForm_ServerPlacedFirstIsHookedOnTheFirstTurn) {
  // The usual order: the server component, then the binding component (whose
  // constructor stores the server without hooking it), then the controls.
  auto* source = host<TqOPCServerHost>(newForm(), "OPCServer1");
  source->Server()->SetServer("Veze6.Simulation.1");
  source->Server()->SetConnectDelay(0);
  TqOPCGroup* plant = source->Server()->OPCGroups()->Add("Plant");
  plant->SetUpdateRate(100);
  plant->OPCItems()->AddItem("Writable.String");
  QString text = source->Configuration().replace("Active = False", "Active = True");

  QWidget* form = newForm();
  auto* serverHost = host<TqOPCServerHost>(form, "OPCServer1");
  serverHost->setConfiguration(text);
  auto* guiHost = host<TqOPCGUIHost>(form, "OPCGUI1");
  guiHost->setBindings({"eValue|text|Plant|Writable.String"});
  auto* edit = named<QLineEdit>(form, "eValue");
  TqOPCGUI* gui = guiHost->GUI();
  ASSERT_EQ(gui->OPCServer(), serverHost->Server());
  EXPECT_FALSE(gui->Hooked()) << "the constructor only stores the server";
  ComPtr<sim::SimulationControl> control =
      serverHost->Server()->GetOPCServer().as<sim::SimulationControl>();
  ASSERT_TRUE(control);
  control->setManualScan(true);
  form->show();

  ASSERT_TRUE(pumpUntil([&] { return gui->Hooked() && !guiHost->HasPendingBindings(); }));
  ASSERT_EQ(control->setItemValue(u"Writable.String", OleVariant(u"hooked")), S_OK);
  control->advance(100ms);
  EXPECT_TRUE(pumpUntil([&] { return edit->text() == "hooked"; }));
  EXPECT_TRUE(reported().isEmpty()) << reported().value(0).toStdString();
  control.reset();
}

// ---- designed panels inside a main window ----

// Qt Creator's standard form class around the designed panel.
class Panel : public QWidget {
 public:
  explicit Panel(QWidget* parent) : QWidget(parent) { ui.setupUi(this); }
  Ui::Panel ui;
};

TEST_F(FormStoreTest, EmbeddedPanels_EachBindsItsOwnWidgetsToItsOwnServer) {
  // The main window has a server, a binding component and a "lineEdit" of
  // its own, as uic would create them; two instances of one panel go into
  // its central widget.
  auto* window = new QMainWindow;
  forms.emplace_back(window);
  auto* central = named<QWidget>(window, "centralwidget");
  window->setCentralWidget(central);
  auto* mainServer = host<TqOPCServerHost>(central, "OPCServer1");
  auto* mainGui = host<TqOPCGUIHost>(central, "OPCGUI1");
  auto* mainEdit = named<QLineEdit>(central, "lineEdit");
  auto* layout = new QVBoxLayout(central);
  layout->addWidget(mainEdit);
  mainServer->setConfiguration(QStringLiteral(
      "object OPCServer1: TqOPCServer\n  ServerName = 'Veze6.Simulation.1'\n"
      "  OPCGroups = <\n    item\n      Name = 'Main'\n      UpdateRate = 100\n"
      "      OPCItems = <\n        item\n          ItemID = 'Writable.String'\n        end>\n"
      "    end>\n  Active = True\n  ConnectDelay = 0\nend\n"));
  mainGui->setBindings({"lineEdit|text|Main|Writable.String"});
  Panel* panels[] = {new Panel(central), new Panel(central)};
  for (Panel* panel : panels) layout->addWidget(panel);
  EXPECT_TRUE(reported().isEmpty()) << reported().value(0).toStdString();

  struct Side {
    TqOPCGUIHost* gui;
    TqOPCServer* server;
    QLineEdit* edit;
    QString text;
  };
  const Side sides[] = {{mainGui, mainServer->Server(), mainEdit, "main window"},
                        {panels[0]->ui.OPCGUI1, panels[0]->ui.OPCServer1->Server(),
                         panels[0]->ui.lineEdit, "first panel"},
                        {panels[1]->ui.OPCGUI1, panels[1]->ui.OPCServer1->Server(),
                         panels[1]->ui.lineEdit, "second panel"}};
  std::vector<ComPtr<sim::SimulationControl>> controls;
  for (const Side& side : sides) {
    ASSERT_TRUE(side.server->Active());
    ASSERT_TRUE(pumpUntil([&] {
      return !side.gui->HasPendingBindings() && side.gui->GUI()->Hooked();
    })) << side.text.toStdString();
    EXPECT_EQ(side.gui->GUI()->OPCServer(), side.server) << side.text.toStdString();
    EXPECT_EQ(side.gui->GUI()->Items()->Items(0)->Control(), side.edit) << side.text.toStdString();
    controls.push_back(side.server->GetOPCServer().as<sim::SimulationControl>());
    ASSERT_TRUE(controls.back());
    controls.back()->setManualScan(true);
  }
  EXPECT_EQ(panels[0]->ui.OPCGUI1->GUI()->parent(), panels[0]) << "the panel is the form";
  EXPECT_EQ(panels[0]->ui.qopcServerBrowser1->Browser()->Servertype(), svr_DA20 | svr_DA10);
  EXPECT_FALSE(TqGUISelectForm::FormControls(window).contains(panels[0]->ui.lineEdit))
      << "a panel keeps its controls";

  const QDateTime when(QDate(2026, 12, 7), QTime(18, 25));
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const QString text = sides[i].text;
    ASSERT_EQ(controls[i]->setItemValue(u"Writable.String", OleVariant(text.toStdU16String())),
              S_OK);
    ASSERT_EQ(controls[i]->setItemValue(u"Writable.Int4", OleVariant(LONG(i))), S_OK);
    ASSERT_EQ(
        controls[i]->setItemValue(
            u"Writable.Date", OleVariant::fromDate(QDateTimeToDateTime(when.addDays(qint64(i))))),
        S_OK);
    controls[i]->advance(100ms);
    EXPECT_TRUE(pumpUntil([&] { return sides[i].edit->text() == text; }))
        << text.toStdString() << " shows " << sides[i].edit->text().toStdString();
  }
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(sides[0].edit->text(), "main window") << "no other form's values";
    EXPECT_EQ(panels[i]->ui.label->text(), QString::number(i + 1));
    EXPECT_EQ(panels[i]->ui.dateTimeEdit->dateTime(), when.addDays(i + 1));
  }
  EXPECT_TRUE(reported().isEmpty()) << reported().value(0).toStdString();
  controls.clear();
}

}  // namespace

#include "formstore_test.moc"
