// The demo window offscreen: its bound widgets show the simulation server's
// values, with no code in the window beyond setting up the bindings.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextBlock>

#include "binding/qOPCGUI.h"
#include "common/leakcheck.h"
#include "common/pump.h"
#include "core/qOPC.h"
#include "demoform.h"
#include "simulator/simulator.h"

namespace {

using DemoFormTest = veze6::test::LeakCheckedTest;

using veze6::test::pumpUntil;

TEST_F(DemoFormTest, BoundWidgetsShowTheSimulatorsValues) {
  veze6::sim::registerSimulationServer();
  TDemoForm form;
  ASSERT_TRUE(form.Server()->Active());
  EXPECT_EQ(form.GUI()->OPCServer(), form.Server());
  EXPECT_EQ(form.GUI()->Items()->Count(), 11);
  ASSERT_TRUE(pumpUntil([&] { return form.ValuesArrived(); }, std::chrono::seconds(20)));

  // Stop the flow and hand over what is still queued, so that the widgets
  // and the items can be compared.
  form.Server()->SetActive(false);
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  const TqOPCItems* items = form.Server()->OPCGroups()->GetOPCGroup("Signals")->OPCItems();
  auto text = [&](const char* id) { return VarToStr(items->FindOPCItem(id)->Value()); };

  EXPECT_EQ(form.eRandom->text(), text("Random.Real8"));
  EXPECT_EQ(form.eRamp->text(), text("Ramp.Int4"));
  EXPECT_EQ(form.pbRamp->value(), text("Ramp.Int4").toInt());
  EXPECT_EQ(form.eSine->text(), text("Sine.Real8"));
  EXPECT_EQ(form.lTriangle->text(), text("Triangle.Real4"));
  EXPECT_EQ(form.lGreeting->text(), "Hello, OPC");
  EXPECT_EQ(form.lDate->text(), text("Random.Date"));
  EXPECT_EQ(form.cbSquare->isChecked(), text("Square.Boolean") == "True");
  EXPECT_EQ(form.cbRandom->isChecked(), text("Random.Boolean") == "True");
  EXPECT_GE(form.mLog->blockCount(), 3);
  EXPECT_EQ(form.mLog->document()->lastBlock().text(), text("Ramp.Int4"));
  ASSERT_GE(form.lbTexts->count(), 3);
  EXPECT_EQ(form.lbTexts->item(form.lbTexts->count() - 1)->text(), text("Random.String"));
}

}  // namespace
