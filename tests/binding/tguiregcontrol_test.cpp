#include "binding/tguiregcontrol.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include "binding/guisetprocs.h"
#include "common/leakcheck.h"
#include "testwidgets.h"

namespace {

using RegisteredControlsTest = veze6::test::LeakCheckedTest;
using GetDefaultPropNameTest = veze6::test::LeakCheckedTest;
using GetDefaultSetProcTest = veze6::test::LeakCheckedTest;
using RegisterGUIControlTest = veze6::test::LeakCheckedTest;

void firstSetter(QWidget*, const OleVariant&) {}
void secondSetter(QWidget*, const OleVariant&) {}

QString defaultName(const QWidget& w) {
  QString name = QStringLiteral("unchanged");
  return GetDefaultPropName(&w, name) ? name : QStringLiteral("<none>");
}

TEST_F(RegisteredControlsTest, BuiltInEntriesInTableOrder) {
  const TGUIRegControlList& list = RegisteredControls();
  ASSERT_GE(list.Count(), 7);
  struct Expected {
    const QMetaObject* cls;
    const char* name;
    TGUISetProc proc;
  };
  const Expected expected[] = {
      {&QLineEdit::staticMetaObject, "text", nullptr},
      {&QLabel::staticMetaObject, "text", nullptr},
      {&QPlainTextEdit::staticMetaObject, "lines", MemoLinesSetProc},
      {&QPushButton::staticMetaObject, "text", nullptr},
      {&QCheckBox::staticMetaObject, "checked", CheckBoxSetProc},
      {&QRadioButton::staticMetaObject, "checked", RadioButtonSetProc},
      {&QListWidget::staticMetaObject, "items", ListBoxSetProc},
  };
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(list[i].ControlClass, expected[i].cls);
    EXPECT_EQ(list[i].PropName, QLatin1String(expected[i].name));
    EXPECT_EQ(list[i].SetProc, expected[i].proc);
  }
  EXPECT_NE(&CheckBoxSetProc, &RadioButtonSetProc);
}

TEST_F(GetDefaultPropNameTest, BuiltInControlsAndUnknownOnes) {
  QLineEdit edit;
  QLabel label;
  QPlainTextEdit memo;
  QPushButton button;
  QCheckBox check;
  QRadioButton radio;
  QListWidget list;
  QFrame panel;
  EXPECT_EQ(defaultName(edit), "text");
  EXPECT_EQ(defaultName(label), "text");
  EXPECT_EQ(defaultName(memo), "lines");
  EXPECT_EQ(defaultName(button), "text");
  EXPECT_EQ(defaultName(check), "checked");
  EXPECT_EQ(defaultName(radio), "checked");
  EXPECT_EQ(defaultName(list), "items");
  EXPECT_EQ(defaultName(panel), "<none>");

  QString untouched = QStringLiteral("kept");
  EXPECT_FALSE(GetDefaultPropName(&panel, untouched));
  EXPECT_EQ(untouched, "kept");
  EXPECT_FALSE(GetDefaultPropName(nullptr, untouched));
  EXPECT_EQ(untouched, "kept");
}

TEST_F(GetDefaultSetProcTest, EntryWithoutSetterAndCaseInsensitiveMatch) {
  QLineEdit edit;
  QCheckBox check;
  QRadioButton radio;
  EXPECT_EQ(GetDefaultSetProc(&edit, QStringLiteral("Text")), nullptr);
  EXPECT_EQ(GetDefaultSetProc(&check, QStringLiteral("CHECKED")), &CheckBoxSetProc);
  EXPECT_EQ(GetDefaultSetProc(&radio, QStringLiteral("checked")), &RadioButtonSetProc);
  EXPECT_EQ(GetDefaultSetProc(&check, QStringLiteral("text")), nullptr);
  EXPECT_EQ(GetDefaultSetProc(nullptr, QStringLiteral("checked")), nullptr);
}

TEST_F(RegisterGUIControlTest, SameClassAndNameReplacesTheSetter) {
  const int count = RegisteredControls().Count();
  QLineEdit edit;

  RegisterGUIControl(&QLineEdit::staticMetaObject, QStringLiteral("Text"), firstSetter);
  EXPECT_EQ(RegisteredControls().Count(), count);
  EXPECT_EQ(RegisteredControls()[0].SetProc, &firstSetter);
  EXPECT_EQ(GetDefaultSetProc(&edit, QStringLiteral("text")), &firstSetter);

  // Back to none: the entry stays and the generic write is used again.
  RegisterGUIControl<QLineEdit>(QStringLiteral("TEXT"), nullptr);
  EXPECT_EQ(RegisteredControls().Count(), count);
  EXPECT_EQ(RegisteredControls()[0].SetProc, nullptr);
}

TEST_F(RegisterGUIControlTest, OtherNameAppendsWithoutChangingTheDefaultName) {
  const int count = RegisteredControls().Count();
  QLineEdit edit;
  RegisterGUIControl<QLineEdit>(QStringLiteral("PlaceholderText"), firstSetter);
  ASSERT_EQ(RegisteredControls().Count(), count + 1);
  EXPECT_EQ(RegisteredControls()[count].PropName, "placeholdertext");
  EXPECT_EQ(defaultName(edit), "text");
  EXPECT_EQ(GetDefaultSetProc(&edit, QStringLiteral("placeholderTEXT")), &firstSetter);

  RegisterGUIControl<QLineEdit>(QStringLiteral("placeholdertext"), secondSetter);
  EXPECT_EQ(RegisteredControls().Count(), count + 1);
  EXPECT_EQ(GetDefaultSetProc(&edit, QStringLiteral("placeholderText")), &secondSetter);

  RegisterGUIControl(nullptr, QStringLiteral("text"), firstSetter);
  EXPECT_EQ(RegisteredControls().Count(), count + 1);
}

TEST_F(RegisterGUIControlTest, DescendantOfARegisteredClassIsFoundAfterItsAncestor) {
  TTestEdit mine;
  TTestEditChild child;
  RegisterGUIControl<TTestEdit>(QStringLiteral("MaxLength"), firstSetter);
  // The edit entry comes first and matches by inheritance.
  EXPECT_EQ(defaultName(mine), "text");
  EXPECT_EQ(defaultName(child), "text");
  EXPECT_EQ(GetDefaultSetProc(&mine, QStringLiteral("maxLength")), &firstSetter);
  EXPECT_EQ(GetDefaultSetProc(&child, QStringLiteral("maxLength")), &firstSetter);

  // A class registered exactly is distinct from its ancestor's entry.
  QLineEdit plain;
  EXPECT_EQ(GetDefaultSetProc(&plain, QStringLiteral("maxLength")), nullptr);
  RegisterGUIControl<TTestEdit>(QStringLiteral("text"), secondSetter);
  EXPECT_EQ(GetDefaultSetProc(&mine, QStringLiteral("text")), nullptr);
  EXPECT_EQ(RegisteredControls()[0].SetProc, nullptr);
}

TEST_F(RegisterGUIControlTest, FirstMatchByInheritanceWins) {
  RegisterGUIControl<TDerivedFirst>(QStringLiteral("Alpha"), firstSetter);
  RegisterGUIControl<TDerivedFirstBase>(QStringLiteral("Beta"), secondSetter);
  TDerivedFirst derived;
  TDerivedFirstBase base;
  EXPECT_EQ(defaultName(derived), "alpha");
  EXPECT_EQ(defaultName(base), "beta");
  EXPECT_EQ(GetDefaultSetProc(&derived, QStringLiteral("beta")), &secondSetter);
  EXPECT_EQ(GetDefaultSetProc(&base, QStringLiteral("alpha")), nullptr);

  RegisterGUIControl<TBaseFirstBase>(QStringLiteral("Beta"), secondSetter);
  RegisterGUIControl<TBaseFirst>(QStringLiteral("Alpha"), firstSetter);
  TBaseFirst laterDerived;
  EXPECT_EQ(defaultName(laterDerived), "beta");
  EXPECT_EQ(GetDefaultSetProc(&laterDerived, QStringLiteral("alpha")), &firstSetter);
}

}  // namespace
