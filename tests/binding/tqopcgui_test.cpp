// The binding component against the simulation server with real widgets:
// delivery to bound controls, OnChangeData and its signal, bindings dropped
// by failing writes, hooking the server's signal beside the application's
// handler, linking and relinking, removal of controls, items and servers,
// the designer.
// Scans are manual, so each data change happens when a test asks for it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <chrono>
#include <memory>
#include <tuple>

#include "binding/qOPCGUI.h"
#include "common/leakcheck.h"
#include "core/qOPC.h"
#include "simulator/simulator.h"

namespace sim = veze6::sim;
using namespace std::chrono_literals;

namespace {

class TqOPCGUITest : public veze6::test::LeakCheckedTest {
 protected:
  static void SetUpTestSuite() { sim::registerSimulationServer(); }

  void SetUp() override {
    form = std::make_unique<QWidget>();
    form->setObjectName("Form1");
    server = new TqOPCServer(form.get());
    server->SetName("OPCServer1");
    server->Connect("Veze6.Simulation.1");
    ASSERT_TRUE(server->Active());
    control = server->GetOPCServer().as<sim::SimulationControl>();
    control->setManualScan(true);
    server->OPCGroupDefault()->UpdateRate = 100;
    group = server->OPCGroups()->Add("g");
    for (const char* id :
         {"Writable.Int4", "Writable.String", "Writable.Boolean", "Writable.Real8", "Static.Int4"})
      group->OPCItems()->AddItem(id);
    gui = new TqOPCGUI(form.get());
    gui->SetName("OPCGUI1");
  }

  void TearDown() override {
    control.reset();
    form.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(sim::liveServerCount(), 0u);
  }

  TqOPCItem* item(const QString& id) { return group->OPCItems()->FindOPCItem(id); }

  template <class W>
  W* widget(const QString& name) {
    auto* w = new W(form.get());
    w->setObjectName(name);
    return w;
  }

  /// Sets a value on the server and delivers the next scan: every posted
  /// data change has been handled when this returns.
  void change(const char16_t* id, const OleVariant& value) {
    ASSERT_EQ(control->setItemValue(id, value), S_OK);
    scan();
  }
  void scan() {
    const int before = deliveries;
    control->advance(100ms);
    QDeadlineTimer deadline(5s);
    // The scan posts its data changes before it returns; one pass of the
    // loop hands them all over. Poll anyway in case the server queued more.
    do {
      QCoreApplication::processEvents();
    } while (countDeliveries && deliveries == before && !deadline.hasExpired());
  }
  /// Counts deliveries with an application handler installed before hooking.
  void countWithAppHandler() {
    countDeliveries = true;
    server->OnDatachange = [this](QObject*, TqOPCItemList*) { ++deliveries; };
  }

  std::unique_ptr<QWidget> form;
  TqOPCServer* server = nullptr;
  ComPtr<sim::SimulationControl> control;
  TqOPCGroup* group = nullptr;
  TqOPCGUI* gui = nullptr;
  int deliveries = 0;
  bool countDeliveries = false;
};

// ---- delivery ----

TEST_F(TqOPCGUITest, Delivery_AppHandlerAssignedAfterHookingThenEveryBoundControl) {
  gui->SetOPCServer(server);
  // Assigned after the component hooked the server: the bindings go on.
  std::vector<QString> order;
  server->OnDatachange = [&](QObject* sender, TqOPCItemList* list) {
    EXPECT_EQ(sender, server);
    EXPECT_GE(list->Count(), 1);
    order.push_back("app");
    ++deliveries;
  };
  countDeliveries = true;
  EXPECT_TRUE(gui->Hooked());
  auto* label = widget<QLabel>("lText");
  auto* edit = widget<QLineEdit>("eText");
  TqGUIItem* b1 = gui->AddItem("g", "Writable.String", label, "");
  TqGUIItem* b2 = gui->AddItem(item("Writable.String"), edit, "");
  for (auto [b, name] : {std::pair{b1, "label"}, std::pair{b2, "edit"}}) {
    b->OnChangeData = [&order, name = QString(name)](QWidget*, OleVariant&, bool& handled) {
      order.push_back(name);
      handled = false;
    };
  }
  ASSERT_EQ(item("Writable.String")->GUIList(), (QList<TqGUIItem*>{b1, b2}));

  change(u"Writable.String", OleVariant(u"first"));
  EXPECT_EQ(label->text(), "first");
  EXPECT_EQ(edit->text(), "first");
  EXPECT_EQ(order, (std::vector<QString>{"app", "label", "edit"}));

  order.clear();
  server->OnDatachange = nullptr;
  change(u"Writable.String", OleVariant(u"second"));
  EXPECT_EQ(edit->text(), "second") << "no handler at all";
  EXPECT_EQ(order, (std::vector<QString>{"label", "edit"}));
}

TEST_F(TqOPCGUITest, Delivery_BuiltInSettersByKind) {
  gui->SetOPCServer(server);
  auto* memo = widget<QPlainTextEdit>("mLog");
  auto* list = widget<QListWidget>("lbLog");
  auto* check = widget<QCheckBox>("cbFlag");
  auto* spin = widget<QSpinBox>("seValue");
  spin->setRange(-1000, 1000);
  gui->AddItem("g", "Writable.Int4", memo, "");
  gui->AddItem("g", "Writable.Int4", list, "");
  gui->AddItem("g", "Writable.Boolean", check, "");
  gui->AddItem("g", "Writable.Real8", spin, "value");
  scan();  // first scan: every active item
  change(u"Writable.Int4", OleVariant(LONG(7)));
  change(u"Writable.Int4", OleVariant(LONG(8)));
  change(u"Writable.Boolean", OleVariant(true));
  change(u"Writable.Real8", OleVariant(-3.9));
  EXPECT_EQ(memo->toPlainText(), "0\n7\n8") << "one appended line per change";
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->item(2)->text(), "8");
  EXPECT_TRUE(check->isChecked()) << "a true boolean item checks the box";
  EXPECT_EQ(spin->value(), -3) << "truncated toward zero";
  change(u"Writable.Boolean", OleVariant(false));
  EXPECT_FALSE(check->isChecked());
}

TEST_F(TqOPCGUITest, OnChangeData_HandledDecidesAndTheItemKeepsItsValue) {
  gui->SetOPCServer(server);
  auto* untouched = widget<QLineEdit>("eUntouched");
  auto* changed = widget<QLineEdit>("eChanged");
  TqGUIItem* b1 = gui->AddItem("g", "Writable.String", untouched, "");
  TqGUIItem* b2 = gui->AddItem("g", "Writable.String", changed, "");
  QWidget* seen = nullptr;
  b1->OnChangeData = [&](QWidget* c, OleVariant& v, bool&) {
    seen = c;
    v = OleVariant(u"ignored");
  };
  std::vector<QString> order;
  b2->OnChangeData = [&](QWidget*, OleVariant& v, bool& handled) {
    EXPECT_TRUE(handled) << "Handled starts true";
    v = OleVariant(u"<" + std::u16string(VarToStr(v).toStdU16String()) + u">");
    handled = false;
    order.push_back("field");
  };
  // The signal follows the field and sees what it left; it cannot change it.
  std::vector<std::tuple<QWidget*, QVariant, bool>> signalled;
  for (TqGUIItem* b : {b1, b2})
    QObject::connect(b, &TqGUIItem::valueChanging, [&](QWidget* c, const QVariant& v, bool h) {
      signalled.emplace_back(c, v, h);
      order.push_back("signal");
    });
  auto* plain = widget<QLineEdit>("ePlain");
  TqGUIItem* b3 = gui->AddItem("g", "Writable.String", plain, "");
  QObject::connect(b3, &TqGUIItem::valueChanging, [&](QWidget* c, const QVariant& v, bool h) {
    signalled.emplace_back(c, v, h);
    if (c) c->setProperty("text", "overwritten");  // before the write
  });
  change(u"Writable.String", OleVariant(u"abc"));
  EXPECT_EQ(seen, untouched);
  EXPECT_EQ(untouched->text(), "") << "a handler that leaves Handled true writes nothing";
  EXPECT_EQ(changed->text(), "<abc>");
  EXPECT_EQ(plain->text(), "abc");
  EXPECT_EQ(VarToStr(item("Writable.String")->Value()), "abc");
  EXPECT_EQ(order, (std::vector<QString>{"signal", "field", "signal"}));
  using Seen = std::tuple<QWidget*, QVariant, bool>;
  EXPECT_EQ(signalled, (std::vector<Seen>{Seen{untouched, QVariant("ignored"), true},
                                          Seen{changed, QVariant("<abc>"), false},
                                          Seen{plain, QVariant("abc"), false}}));
}

TEST_F(TqOPCGUITest, FailingWrite_DropsOnlyThatBindingDuringTheDelivery) {
  gui->SetOPCServer(server);
  auto* before = widget<QLineEdit>("eBefore");
  auto* spin = widget<QSpinBox>("seNumber");
  auto* after = widget<QLabel>("lAfter");
  gui->AddItem("g", "Writable.String", before, "");
  TqGUIItem* failing = gui->AddItem("g", "Writable.String", spin, "value");
  gui->AddItem("g", "Writable.String", after, "");
  int visits = 0;
  failing->OnChangeData = [&](QWidget*, OleVariant&, bool& handled) {
    ++visits;
    handled = false;
  };
  change(u"Writable.String", OleVariant(u"not a number"));
  EXPECT_EQ(visits, 1);
  EXPECT_EQ(before->text(), "not a number");
  EXPECT_EQ(after->text(), "not a number") << "the walk goes on after the dropped binding";
  ASSERT_EQ(gui->Items()->Count(), 2);
  EXPECT_EQ(gui->Items()->Items(0)->Control(), before);
  EXPECT_EQ(gui->Items()->Items(1)->Control(), after);
  EXPECT_EQ(item("Writable.String")->GUIList().size(), 2);

  change(u"Writable.String", OleVariant(u"again"));
  EXPECT_EQ(visits, 1) << "never visited again";
  EXPECT_EQ(after->text(), "again");
}

TEST_F(TqOPCGUITest, Delivery_AControlDestroyedByAHandlerEndsOnlyItsBindings) {
  gui->SetOPCServer(server);
  auto* first = widget<QLineEdit>("eFirst");
  auto* doomed = widget<QLineEdit>("eDoomed");
  auto* last = widget<QLineEdit>("eLast");
  TqGUIItem* b = gui->AddItem("g", "Writable.String", first, "");
  gui->AddItem("g", "Writable.String", doomed, "");
  gui->AddItem("g", "Writable.String", doomed, "placeholderText");
  gui->AddItem("g", "Writable.String", last, "");
  b->OnChangeData = [&](QWidget*, OleVariant&, bool& handled) {
    delete doomed;
    handled = false;
  };
  auto* self = widget<QLineEdit>("eSelf");
  TqGUIItem* selfBinding = gui->AddItem("g", "Writable.String", self, "");
  selfBinding->OnChangeData = [&](QWidget* c, OleVariant&, bool& handled) {
    delete c;  // its own control: the binding goes with it
    handled = false;
  };
  change(u"Writable.String", OleVariant(u"x"));
  EXPECT_EQ(first->text(), "x");
  EXPECT_EQ(last->text(), "x");
  ASSERT_EQ(gui->Items()->Count(), 2);
  EXPECT_EQ(gui->Items()->Items(1)->Control(), last);
  EXPECT_EQ(item("Writable.String")->GUIList().size(), 2);
}

TEST_F(TqOPCGUITest, TwoComponents_EachServesOnlyItsOwnBindings) {
  auto* memo1 = widget<QPlainTextEdit>("m1");
  auto* memo2 = widget<QPlainTextEdit>("m2");
  auto* gui2 = new TqOPCGUI(form.get());
  gui->SetOPCServer(server);
  gui2->SetOPCServer(server);
  gui->AddItem("g", "Writable.Int4", memo1, "");
  gui2->AddItem("g", "Writable.Int4", memo2, "");
  change(u"Writable.Int4", OleVariant(LONG(5)));
  EXPECT_EQ(memo1->toPlainText(), "5") << "written once, not once per component";
  EXPECT_EQ(memo2->toPlainText(), "5");
}

TEST_F(TqOPCGUITest, TwoComponents_EachLetsGoOrGoesAlone) {
  countWithAppHandler();
  const TOnOPCDataChangeEvent app = server->OnDatachange;
  auto* memo1 = widget<QPlainTextEdit>("m1");
  auto* memo2 = widget<QPlainTextEdit>("m2");
  auto* gui2 = new TqOPCGUI(form.get());
  gui->SetOPCServer(server);
  gui2->SetOPCServer(server);
  gui->AddItem("g", "Writable.Int4", memo1, "");
  gui2->AddItem("g", "Writable.Int4", memo2, "");
  gui->SetOPCServer(nullptr);
  change(u"Writable.Int4", OleVariant(LONG(101)));
  EXPECT_EQ(memo1->toPlainText(), "");
  EXPECT_EQ(memo2->toPlainText(), "101");
  gui->SetOPCServer(server);  // relinking writes the current value
  delete gui2;
  change(u"Writable.Int4", OleVariant(LONG(102)));
  EXPECT_EQ(memo1->toPlainText(), "101\n102");
  EXPECT_EQ(deliveries, 2);
  EXPECT_TRUE(server->OnDatachange == app) << "the field is never touched";
}

// ---- adding, finding, deleting ----

TEST_F(TqOPCGUITest, AddItem_DefaultNamesAndImmediateValues) {
  gui->SetOPCServer(server);
  scan();  // the items hold values now
  auto* edit = widget<QLineEdit>("eValue");
  auto* plain = widget<QWidget>("pPanel");
  TqGUIItem* b = gui->AddItem("g", "Static.Int4", edit, "");
  EXPECT_EQ(b->CtrlPropName(), "text");
  EXPECT_EQ(b->OPCGroup(), "g");
  EXPECT_EQ(b->OPCItem(), "Static.Int4");
  EXPECT_EQ(b->LinkedItem(), item("Static.Int4"));
  EXPECT_EQ(edit->text(), "123456") << "a connected item with a value is written at once";
  TqGUIItem* unknown = gui->AddItem("g", "Static.Int4", plain, "");
  EXPECT_EQ(unknown->CtrlPropName(), "");
  EXPECT_EQ(unknown->LinkedItem(), item("Static.Int4"));
  EXPECT_EQ(b->GetDisplayName(), "eValue");
  EXPECT_EQ(b->GetNamePath(), "OPCGUI1.eValue");

  server->Disconnect();
  auto* later = widget<QLineEdit>("eLater");
  gui->AddItem("g", "Static.Int4", later, "");
  EXPECT_EQ(later->text(), "") << "disconnected: the value waits for the next change";
}

TEST_F(TqOPCGUITest, DeleteItemGetqOPCItemAndFind) {
  gui->SetOPCServer(server);
  auto* edit = widget<QLineEdit>("eValue");
  auto* other = widget<QLineEdit>("eOther");
  gui->AddItem("g", "Writable.Int4", edit, "placeholderText");
  gui->AddItem("g", "Writable.String", edit, "");
  EXPECT_EQ(gui->GetqOPCItem(edit, ""), item("Writable.Int4")) << "the control's first binding";
  EXPECT_EQ(gui->GetqOPCItem(edit, "TEXT"), item("Writable.String"));
  EXPECT_EQ(gui->GetqOPCItem(other, ""), nullptr);

  QString controlName = "kept", prop = "x", grp = "x", id = "x";
  EXPECT_EQ(gui->Find(other, controlName, prop, grp, id), nullptr);
  EXPECT_EQ(controlName, "kept");
  EXPECT_TRUE(prop.isEmpty() && grp.isEmpty() && id.isEmpty());
  EXPECT_EQ(gui->Find(edit, controlName, prop, grp, id), gui->Items()->Items(0));
  EXPECT_EQ(controlName, "eValue");
  EXPECT_EQ(prop, "placeholderText");
  EXPECT_EQ(grp, "g");
  EXPECT_EQ(id, "Writable.Int4");

  EXPECT_TRUE(gui->DeleteItem(edit, "TEXT"));
  EXPECT_FALSE(gui->DeleteItem(edit, "TEXT"));
  EXPECT_FALSE(gui->DeleteItem(edit, "")) << "an empty name matches only an empty name";
  EXPECT_TRUE(item("Writable.String")->GUIList().isEmpty());
  EXPECT_EQ(gui->Items()->Count(), 1);
}

// ---- linking ----

TEST_F(TqOPCGUITest, Linking_FollowsGroupAndItemNamesExactly) {
  gui->SetOPCServer(server);
  auto* edit = widget<QLineEdit>("eValue");
  TqGUIItem* b = gui->AddItem("g", "Writable.Int4", edit, "");
  b->SetOPCItem("Writable.String");
  EXPECT_EQ(b->LinkedItem(), item("Writable.String"));
  EXPECT_TRUE(item("Writable.Int4")->GUIList().isEmpty());
  EXPECT_EQ(item("Writable.String")->GUIList(), QList<TqGUIItem*>{b});

  b->SetOPCItem("writable.string");
  EXPECT_EQ(b->LinkedItem(), nullptr) << "item ids compare with case";
  EXPECT_TRUE(item("Writable.String")->GUIList().isEmpty());
  b->SetOPCItem("Writable.String");
  b->SetOPCGroup("G");
  EXPECT_EQ(b->LinkedItem(), nullptr) << "group names compare with case";
  b->SetOPCGroup("   ");
  EXPECT_EQ(b->LinkedItem(), nullptr);
  b->SetOPCGroup("g");
  EXPECT_EQ(b->LinkedItem(), item("Writable.String"));

  // An item added after the binding tried to link waits for a relink.
  b->SetOPCItem("Static.String");
  EXPECT_EQ(b->LinkedItem(), nullptr);
  TqOPCItem* added = group->OPCItems()->AddItem("Static.String");
  EXPECT_EQ(b->LinkedItem(), nullptr);
  b->Update();
  EXPECT_EQ(b->LinkedItem(), added);
}

TEST_F(TqOPCGUITest, DestroyedItem_LeavesNoBindingPointingAtIt) {
  gui->SetOPCServer(server);
  auto* edit = widget<QLineEdit>("eValue");
  TqGUIItem* b = gui->AddItem("g", "Writable.Int4", edit, "");
  ASSERT_EQ(b->LinkedItem(), item("Writable.Int4"));
  group->OPCItems()->Delete(item("Writable.Int4")->Index());
  EXPECT_EQ(b->LinkedItem(), nullptr);
  b->Update();  // unlinks from nothing, finds nothing
  EXPECT_EQ(b->LinkedItem(), nullptr);
  change(u"Writable.String", OleVariant(u"still delivering"));
  EXPECT_TRUE(gui->DeleteItem(edit, "text"));

  // The whole group going away as well.
  TqGUIItem* c = gui->AddItem("g", "Writable.String", edit, "");
  ASSERT_NE(c->LinkedItem(), nullptr);
  server->OPCGroups()->Delete(group->Index());
  EXPECT_EQ(c->LinkedItem(), nullptr);
}

// ---- hooking the server ----

TEST_F(TqOPCGUITest, Hook_LeavesTheFieldToTheApplication) {
  countWithAppHandler();
  const TOnOPCDataChangeEvent app = server->OnDatachange;
  auto* memo = widget<QPlainTextEdit>("mLog");
  gui->SetOPCServer(server);
  gui->SetOPCServer(server);  // the same server again: still one delivery
  gui->AddItem("g", "Writable.Int4", memo, "");
  EXPECT_TRUE(gui->Hooked());
  EXPECT_TRUE(server->OnDatachange == app);
  change(u"Writable.Int4", OleVariant(LONG(1)));
  EXPECT_EQ(memo->toPlainText(), "1");
  EXPECT_EQ(deliveries, 1);

  gui->SetOPCServer(nullptr);
  EXPECT_FALSE(gui->Hooked());
  EXPECT_TRUE(item("Writable.Int4")->GUIList().isEmpty());
  change(u"Writable.Int4", OleVariant(LONG(2)));
  EXPECT_EQ(memo->toPlainText(), "1") << "let go: nothing written";
  EXPECT_EQ(deliveries, 2);

  gui->SetOPCServer(server);
  delete gui;
  gui = nullptr;
  change(u"Writable.Int4", OleVariant(LONG(3)));
  EXPECT_EQ(deliveries, 3);
  EXPECT_TRUE(server->OnDatachange == app);
}

TEST_F(TqOPCGUITest, Pick_TheFormsLastServerWithoutHooking) {
  auto* second = new TqOPCServer(form.get());
  int app = 0;
  second->OnDatachange = [&](QObject*, TqOPCItemList*) { ++app; };
  const TOnOPCDataChangeEvent handler = second->OnDatachange;
  auto* picked = new TqOPCGUI(form.get());
  EXPECT_EQ(picked->OPCServer(), second);
  EXPECT_FALSE(picked->Hooked());
  EXPECT_EQ(gui->OPCServer(), server) << "created before the second server";

  picked->SetOPCServer(second);  // what reading a stored form does
  EXPECT_TRUE(picked->Hooked());
  picked->SetOPCServer(nullptr);
  EXPECT_TRUE(second->OnDatachange == handler);

  auto* picked2 = new TqOPCGUI(form.get());
  delete picked2;  // never hooked: the application's handler stays
  EXPECT_TRUE(second->OnDatachange == handler);

  auto* child = new QWidget(form.get());
  EXPECT_EQ((new TqOPCGUI(child))->OPCServer(), nullptr) << "only a form's own components";
  EXPECT_EQ(TqOPCGUI().OPCServer(), nullptr);
}

TEST_F(TqOPCGUITest, Designer_StoresTheLinkOnly) {
  auto* edit = widget<QLineEdit>("eValue");
  scan();
  gui->SetDesigning(true);
  TqGUIItem* b = gui->AddItem("g", "Static.Int4", edit, "");
  gui->SetOPCServer(server);
  EXPECT_EQ(gui->OPCServer(), server);
  EXPECT_FALSE(gui->Hooked());
  EXPECT_FALSE(server->OnDatachange.Assigned());
  EXPECT_EQ(b->LinkedItem(), nullptr);
  b->Update();
  EXPECT_EQ(b->LinkedItem(), nullptr);
  EXPECT_EQ(edit->text(), "");
}

// ---- removal ----

TEST_F(TqOPCGUITest, ControlRemoval_WithServerDeletesItsBindings) {
  gui->SetOPCServer(server);
  auto* edit = widget<QLineEdit>("eValue");
  auto* keep = widget<QLineEdit>("eKeep");
  gui->AddItem("g", "Writable.Int4", edit, "");
  gui->AddItem("g", "Writable.Int4", keep, "");
  gui->AddItem("g", "Writable.String", edit, "placeholderText");
  delete edit;
  ASSERT_EQ(gui->Items()->Count(), 1);
  EXPECT_EQ(gui->Items()->Items(0)->Control(), keep);
  EXPECT_EQ(item("Writable.Int4")->GUIList().size(), 1);
  EXPECT_TRUE(item("Writable.String")->GUIList().isEmpty());
  change(u"Writable.Int4", OleVariant(LONG(3)));
  EXPECT_EQ(keep->text(), "3");
}

TEST_F(TqOPCGUITest, ControlRemoval_WithoutServerForgetsTheControl) {
  gui->SetOPCServer(nullptr);  // it picked the form's server
  EXPECT_EQ(gui->OPCServer(), nullptr);
  auto* edit = widget<QLineEdit>("eValue");
  TqGUIItem* b = gui->AddItem("g", "Writable.Int4", edit, "");
  delete edit;
  ASSERT_EQ(gui->Items()->Count(), 1);
  EXPECT_EQ(b->Control(), nullptr);
  EXPECT_EQ(b->OPCItem(), "Writable.Int4");
  gui->SetOPCServer(server);
  scan();
  change(u"Writable.Int4", OleVariant(LONG(4)));  // nothing to write, nothing to crash
  EXPECT_EQ(b->LinkedItem(), item("Writable.Int4"));
}

TEST_F(TqOPCGUITest, ServerRemoval_ClearsTheLinkAndBindingsRelinkLater) {
  gui->SetOPCServer(server);
  auto* edit = widget<QLineEdit>("eValue");
  TqGUIItem* b = gui->AddItem("g", "Writable.Int4", edit, "");
  control.reset();
  delete server;
  server = nullptr;
  EXPECT_EQ(gui->OPCServer(), nullptr);
  EXPECT_EQ(b->LinkedItem(), nullptr);
  EXPECT_EQ(b->OPCGroup(), "g");
  EXPECT_EQ(gui->Items()->Count(), 1);

  auto* next = new TqOPCServer(form.get());
  next->Connect("Veze6.Simulation.1");
  next->OPCGroups()->Add("g")->OPCItems()->AddItem("Writable.Int4");
  gui->SetOPCServer(next);
  EXPECT_EQ(b->LinkedItem(), next->OPCGroups()->GetOPCGroup("g")->OPCItems()->Items(0));
  EXPECT_TRUE(gui->Hooked());
}

TEST_F(TqOPCGUITest, ServerRemoval_ByNotificationLetsGo) {
  countWithAppHandler();
  const TOnOPCDataChangeEvent app = server->OnDatachange;
  gui->SetOPCServer(server);
  gui->Notification(server, TqOPCGUI::opRemove);
  EXPECT_EQ(gui->OPCServer(), nullptr);
  EXPECT_FALSE(gui->Hooked());
  EXPECT_TRUE(server->OnDatachange == app);
}

TEST_F(TqOPCGUITest, Items_AssignCopiesTheBindings) {
  gui->SetOPCServer(server);
  auto* edit = widget<QLineEdit>("eValue");
  TqOPCGUI other;
  TqGUIItem* source = other.AddItem("g", "Writable.Int4", edit, "");
  source->OnChangeData = [](QWidget*, OleVariant&, bool& handled) { handled = false; };
  gui->SetItems(other.Items());
  ASSERT_EQ(gui->Items()->Count(), 1);
  TqGUIItem* copy = gui->Items()->Items(0);
  EXPECT_EQ(copy->Control(), edit);
  EXPECT_EQ(copy->CtrlPropName(), "text");
  EXPECT_EQ(copy->LinkedItem(), item("Writable.Int4")) << "linked through this component";
  EXPECT_TRUE(copy->OnChangeData == source->OnChangeData);
  change(u"Writable.Int4", OleVariant(LONG(9)));
  EXPECT_EQ(edit->text(), "9");
}

}  // namespace
