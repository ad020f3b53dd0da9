#include "binding/guisetprocs.h"

#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QWidget>

#include "common/leakcheck.h"
#include "core/exceptions.h"

namespace {

using MemoLinesSetProcTest = veze6::test::LeakCheckedTest;
using ListBoxSetProcTest = veze6::test::LeakCheckedTest;
using CheckBoxSetProcTest = veze6::test::LeakCheckedTest;
using RadioButtonSetProcTest = veze6::test::LeakCheckedTest;

QStringList lines(const QPlainTextEdit& memo) {
  return memo.toPlainText().split(QLatin1Char('\n'));
}

QStringList items(const QListWidget& list) {
  QStringList out;
  for (int i = 0; i < list.count(); ++i) out << list.item(i)->text();
  return out;
}

TEST_F(MemoLinesSetProcTest, AppendsOneLinePerValueAndNeverClears) {
  QPlainTextEdit memo;
  memo.setPlainText(QStringLiteral("start"));
  MemoLinesSetProc(&memo, OleVariant(LONG(42)));
  MemoLinesSetProc(&memo, OleVariant(u"text"));
  MemoLinesSetProc(&memo, OleVariant());  // empty: nothing
  MemoLinesSetProc(&memo, OleVariant(2.5));
  EXPECT_EQ(lines(memo), (QStringList{"start", "42", "text", "2.5"}));
}

TEST_F(MemoLinesSetProcTest, StartsOnTheFirstLineOfAnEmptyMemo) {
  QPlainTextEdit memo;
  MemoLinesSetProc(&memo, OleVariant(LONG(1)));
  EXPECT_EQ(memo.toPlainText(), "1");
}

TEST_F(MemoLinesSetProcTest, ArrayAppendsEveryElement) {
  QPlainTextEdit memo;
  MemoLinesSetProc(&memo, OleVariant::array(VT_I4, {OleVariant(LONG(1)), OleVariant(LONG(2)),
                                                    OleVariant(LONG(3))}));
  EXPECT_EQ(lines(memo), (QStringList{"1", "2", "3"}));

  // Arrays that do not start at 0 lose no element.
  memo.clear();
  MemoLinesSetProc(&memo,
                   OleVariant::array(VT_BSTR, {OleVariant(u"a"), OleVariant(u"b")}, /*lbound=*/1));
  EXPECT_EQ(lines(memo), (QStringList{"a", "b"}));

  memo.clear();
  MemoLinesSetProc(&memo, OleVariant::array(VT_VARIANT, {OleVariant(u"x"), OleVariant(true)}, -1));
  EXPECT_EQ(lines(memo), (QStringList{"x", "True"}));

  // An empty array is a value without elements, not an empty value.
  memo.setPlainText(QStringLiteral("kept"));
  MemoLinesSetProc(&memo, OleVariant::array(VT_I4, {}));
  EXPECT_EQ(memo.toPlainText(), "kept");
}

TEST_F(MemoLinesSetProcTest, ArraysAtTheEndsOfTheRange) {
  QPlainTextEdit memo;
  for (const LONG lower : {LONG(INT32_MIN), LONG(INT32_MAX - 1)}) {
    memo.clear();
    MemoLinesSetProc(&memo,
                     OleVariant::array(VT_I4, {OleVariant(LONG(1)), OleVariant(LONG(2))}, lower));
    EXPECT_EQ(lines(memo), (QStringList{"1", "2"})) << lower;
  }
  for (const LONG lower : {LONG(INT32_MIN), LONG(INT32_MAX)}) {
    memo.setPlainText(QStringLiteral("kept"));
    MemoLinesSetProc(&memo, OleVariant::array(VT_I4, {}, lower));
    EXPECT_EQ(memo.toPlainText(), "kept") << lower;
  }
  // A descriptor claiming more elements than its storage holds is refused.
  auto bent = OleVariant::array(VT_I4, {OleVariant(LONG(1))});
  bent.ptr()->parray->rgsabound[0].cElements = 0x80000000u;
  memo.setPlainText(QStringLiteral("kept"));
  EXPECT_ANY_THROW(MemoLinesSetProc(&memo, bent));
  EXPECT_EQ(memo.toPlainText(), "kept");
}

TEST_F(ListBoxSetProcTest, AppendsTheTextOfEveryValue) {
  QListWidget list;
  list.addItem(QStringLiteral("start"));
  ListBoxSetProc(&list, OleVariant(LONG(7)));
  ListBoxSetProc(&list, OleVariant());  // no test for empty: an empty line
  ListBoxSetProc(&list, OleVariant(u"seven"));
  EXPECT_EQ(items(list), (QStringList{"start", "7", "", "seven"}));
}

TEST_F(ListBoxSetProcTest, ArrayRaisesAndAddsNothing) {
  QListWidget list;
  EXPECT_THROW(ListBoxSetProc(&list, OleVariant::array(VT_I4, {OleVariant(LONG(1))})),
               EConvertError);
  EXPECT_EQ(list.count(), 0);
}

TEST_F(CheckBoxSetProcTest, NonZeroChecks) {
  QCheckBox box;
  struct Case {
    OleVariant value;
    bool checked;
  };
  const Case cases[] = {
      {OleVariant(LONG(1)), true}, {OleVariant(LONG(0)), false}, {OleVariant(SHORT(-1)), true},
      {OleVariant(0.0), false},    {OleVariant(2.5), true},      {OleVariant(true), true},
      {OleVariant(false), false},  {OleVariant(u"3"), true},     {OleVariant(u"0"), false},
      {OleVariant(0.25), true},    {OleVariant(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.vt());
    box.setChecked(!c.checked);
    CheckBoxSetProc(&box, c.value);
    EXPECT_EQ(box.isChecked(), c.checked);
  }
}

TEST_F(CheckBoxSetProcTest, TextThatIsNoNumberRaises) {
  QCheckBox box;
  box.setChecked(true);
  EXPECT_THROW(CheckBoxSetProc(&box, OleVariant(u"on")), EConvertError);
  EXPECT_TRUE(box.isChecked());
}

TEST_F(RadioButtonSetProcTest, ZeroUnchecksEvenTheCheckedButtonOfAGroup) {
  QWidget parent;
  auto* first = new QRadioButton(&parent);
  auto* second = new QRadioButton(&parent);
  first->setChecked(true);

  RadioButtonSetProc(first, OleVariant(LONG(0)));
  EXPECT_FALSE(first->isChecked());
  EXPECT_TRUE(first->autoExclusive());

  // Checking one still unchecks its siblings.
  RadioButtonSetProc(first, OleVariant(LONG(1)));
  RadioButtonSetProc(second, OleVariant(LONG(1)));
  EXPECT_TRUE(second->isChecked());
  EXPECT_FALSE(first->isChecked());

  QButtonGroup group;
  group.addButton(first);
  group.addButton(second);
  RadioButtonSetProc(second, OleVariant(LONG(0)));
  EXPECT_FALSE(second->isChecked());
  EXPECT_TRUE(group.exclusive());
  RadioButtonSetProc(first, OleVariant(true));
  EXPECT_TRUE(first->isChecked());
}

}  // namespace
