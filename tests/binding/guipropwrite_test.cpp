#include "binding/guipropwrite.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QMetaProperty>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTextEdit>
#include <cmath>
#include <limits>

#include "binding/tguiregcontrol.h"
#include "common/leakcheck.h"
#include "core/exceptions.h"
#include "core/tdatetime.h"
#include "testwidgets.h"

namespace {

using FindGUIPropertyTest = veze6::test::LeakCheckedTest;
using GenericWriteOnQtWidgets = veze6::test::LeakCheckedTest;

class GenericWrite : public veze6::test::LeakCheckedTest {
 protected:
  QMetaProperty prop(const char* name) {
    const QMetaObject* meta = w.metaObject();
    return meta->property(meta->indexOfProperty(name));
  }
  void write(const char* name, const OleVariant& value) { SetGUIPropValue(&w, prop(name), value); }

  TKindWidget w;
};

OleVariant i4(LONG v) { return OleVariant(v); }
OleVariant r8(double v) { return OleVariant(v); }
OleVariant str(const char16_t* s) { return OleVariant(s); }

TEST_F(GenericWrite, IntegerTruncatesTowardZero) {
  write("intProp", r8(3.9));
  EXPECT_EQ(w.intProp, 3);
  write("intProp", r8(-3.9));
  EXPECT_EQ(w.intProp, -3);
  write("intProp", str(u"12.7"));
  EXPECT_EQ(w.intProp, 12);
  write("intProp", OleVariant(true));  // a boolean true is 1, not -1
  EXPECT_EQ(w.intProp, 1);
  write("intProp", OleVariant::fromCurrency(CY{-25000}));
  EXPECT_EQ(w.intProp, -2);
}

TEST_F(GenericWrite, IntegersAreHeldToTheirOwnTypesRange) {
  write("int8Prop", i4(1000));
  EXPECT_EQ(w.int8Prop, 127);
  write("int8Prop", i4(-1000));
  EXPECT_EQ(w.int8Prop, -128);
  write("uint8Prop", i4(300));
  EXPECT_EQ(w.uint8Prop, 255);
  write("uint8Prop", r8(-0.5));
  EXPECT_EQ(w.uint8Prop, 0);
  write("int16Prop", i4(70000));
  EXPECT_EQ(w.int16Prop, 32767);
  write("uint16Prop", i4(-1));
  EXPECT_EQ(w.uint16Prop, 0);
  write("uintProp", i4(-1));
  EXPECT_EQ(w.uintProp, 0u);
  write("uintProp", OleVariant(LONGLONG(5000000000)));
  EXPECT_EQ(w.uintProp, std::numeric_limits<uint>::max());
  write("intProp", r8(1e12));
  EXPECT_EQ(w.intProp, std::numeric_limits<int>::max());
  write("intProp", r8(-1e300));  // beyond even 64 bits: saturates too
  EXPECT_EQ(w.intProp, std::numeric_limits<int>::min());
}

TEST_F(GenericWrite, CharactersAreOrdinals) {
  write("charProp", i4(65));
  EXPECT_EQ(w.charProp, 'A');
  write("charProp", i4(1000));
  EXPECT_EQ(w.charProp, std::numeric_limits<char>::max());
  write("qcharProp", i4(0x263A));
  EXPECT_EQ(w.qcharProp, QChar(0x263A));
  write("qcharProp", i4(-5));
  EXPECT_EQ(w.qcharProp, QChar(0));
  write("char16Prop", i4(70000));
  EXPECT_EQ(w.char16Prop, u'\xFFFF');
}

TEST_F(GenericWrite, SixtyFourBitIntegersKeepEveryBit) {
  const LONGLONG big = (LONGLONG(1) << 53) + 1;  // not representable as a double
  write("int64Prop", OleVariant(big));
  EXPECT_EQ(w.int64Prop, big);
  write("int64Prop", r8(-2.5));
  EXPECT_EQ(w.int64Prop, -2);
  write("int64Prop", r8(1e30));
  EXPECT_EQ(w.int64Prop, std::numeric_limits<qint64>::max());

  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UI8;
  v.ullVal = std::numeric_limits<ULONGLONG>::max();
  const OleVariant maxU(v);
  write("int64Prop", maxU);
  EXPECT_EQ(w.int64Prop, std::numeric_limits<qint64>::max());
  write("uint64Prop", maxU);
  EXPECT_EQ(w.uint64Prop, std::numeric_limits<quint64>::max());
  write("uint64Prop", i4(-1));
  EXPECT_EQ(w.uint64Prop, 0u);
  write("uint64Prop", r8(1e30));
  EXPECT_EQ(w.uint64Prop, std::numeric_limits<quint64>::max());
}

TEST_F(GenericWrite, NumbersThatAreNoNumbersRaise) {
  w.intProp = 5;
  EXPECT_THROW(write("intProp", str(u"five")), EConvertError);
  EXPECT_THROW(write("intProp", r8(std::nan(""))), EConvertError);
  EXPECT_THROW(write("doubleProp", str(u"x")), EConvertError);
  EXPECT_EQ(w.intProp, 5);
}

TEST_F(GenericWrite, EnumerationByNameOrClampedOrdinal) {
  write("modeProp", str(u"High"));
  EXPECT_EQ(w.modeProp, TKindWidget::High);
  write("modeProp", str(u"low"));  // no exact key: case is ignored
  EXPECT_EQ(w.modeProp, TKindWidget::Low);
  write("modeProp", i4(0));
  EXPECT_EQ(w.modeProp, TKindWidget::Off);
  write("modeProp", r8(1.7));
  EXPECT_EQ(w.modeProp, TKindWidget::Low);
  write("modeProp", i4(99));
  EXPECT_EQ(w.modeProp, TKindWidget::High);
  write("modeProp", i4(-3));
  EXPECT_EQ(w.modeProp, TKindWidget::Off);

  EXPECT_THROW(write("modeProp", str(u"Medium")), EConvertError);
  EXPECT_THROW(write("modeProp", str(u"1")), EConvertError);  // a text is always a name
  EXPECT_EQ(w.modeProp, TKindWidget::Off);
}

TEST_F(GenericWrite, EnumerationWithGapsAndOneByteStorage) {
  write("sizeProp", str(u"Huge"));
  EXPECT_EQ(w.sizeProp, TKindWidget::Size::Huge);
  write("sizeProp", i4(0));
  EXPECT_EQ(w.sizeProp, TKindWidget::Size::Tiny);
  write("sizeProp", i4(5000));
  EXPECT_EQ(w.sizeProp, TKindWidget::Size::Huge);
  write("sizeProp", i4(50));
  EXPECT_EQ(w.sizeProp, TKindWidget::Size::Medium);
}

TEST_F(GenericWrite, BoolIsTheBooleanEnumeration) {
  struct Case {
    OleVariant value;
    bool result;
  };
  const Case cases[] = {
      {OleVariant(true), true},
      {OleVariant(false), false},
      {i4(1), true},
      {r8(2.5), true},
      {i4(0), false},
      {r8(0.9), false},
      {i4(-1), false},  // an integer below
                        // the range is held
                        // to False
      {str(u"True"), true},
      {str(u"false"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.vt());
    w.boolProp = !c.result;
    write("boolProp", c.value);
    EXPECT_EQ(w.boolProp, c.result);
  }
  EXPECT_THROW(write("boolProp", str(u"yes")), EConvertError);
}

TEST_F(GenericWrite, FloatingPoint) {
  write("doubleProp", str(u"2.5"));
  EXPECT_EQ(w.doubleProp, 2.5);
  write("doubleProp", OleVariant(true));
  EXPECT_EQ(w.doubleProp, 1.0);
  write("doubleProp", OleVariant::fromCurrency(CY{12345}));
  EXPECT_DOUBLE_EQ(w.doubleProp, 1.2345);
  write("floatProp", r8(0.25));
  EXPECT_EQ(w.floatProp, 0.25f);
}

TEST_F(GenericWrite, StringsTakeTheText) {
  write("stringProp", i4(42));
  EXPECT_EQ(w.stringProp, "42");
  write("stringProp", str(u"\u00e4\u20ac"));
  EXPECT_EQ(w.stringProp, QString::fromUtf8("\xc3\xa4\xe2\x82\xac"));
  write("stringProp", OleVariant(true));
  EXPECT_EQ(w.stringProp, "True");
  write("stringProp", OleVariant());
  EXPECT_EQ(w.stringProp, "");
}

TEST_F(GenericWrite, FlagsFromBitPatternOrText) {
  using O = TKindWidget;
  write("optionsProp", i4(5));
  EXPECT_EQ(w.optionsProp, O::Options(O::OptA | O::OptC));
  write("optionsProp", str(u"[OptA,OptB]"));
  EXPECT_EQ(w.optionsProp, O::Options(O::OptA | O::OptB));
  write("optionsProp", str(u" [ optb , OptC ] "));
  EXPECT_EQ(w.optionsProp, O::Options(O::OptB | O::OptC));
  write("optionsProp", str(u"OptC"));
  EXPECT_EQ(w.optionsProp, O::Options(O::OptC));
  write("optionsProp", str(u"[]"));
  EXPECT_EQ(w.optionsProp, O::Options());

  w.optionsProp = O::OptB;
  EXPECT_THROW(write("optionsProp", str(u"[OptA,Bogus]")), EConvertError);
  // Only a 32-bit integer is a bit pattern; other numbers are read as names.
  EXPECT_THROW(write("optionsProp", OleVariant(SHORT(5))), EConvertError);
  EXPECT_EQ(w.optionsProp, O::Options(O::OptB));
}

TEST_F(GenericWrite, VariantPropertyGetsTheValueItself) {
  write("variantProp", OleVariant(SHORT(7)));
  EXPECT_EQ(w.variantProp, QVariant(7));
  write("variantProp", str(u"abc"));
  EXPECT_EQ(w.variantProp, QVariant(QStringLiteral("abc")));
  write("variantProp", OleVariant(true));
  EXPECT_EQ(w.variantProp, QVariant(true));
  write("variantProp", OleVariant::array(VT_R8, {r8(1.5), r8(2.5)}));
  EXPECT_EQ(w.variantProp, QVariant(QVariantList{1.5, 2.5}));
  write("variantProp", OleVariant::fromDate(EncodeDateTime(2024, 2, 29, 13, 45, 10)));
  EXPECT_EQ(w.variantProp.toDateTime(), QDateTime(QDate(2024, 2, 29), QTime(13, 45, 10)));
  write("variantProp", OleVariant());
  EXPECT_FALSE(w.variantProp.isValid());
}

TEST_F(GenericWrite, OtherKindsAreNeverWritten) {
  QFont font(QStringLiteral("Serif"), 17);
  w.fontProp = font;
  QObject owner;
  w.objectProp = &owner;
  write("fontProp", str(u"Sans,8"));
  write("objectProp", i4(0));
  EXPECT_EQ(w.fontProp, font);
  EXPECT_EQ(w.objectProp, &owner);

  // No property, no control: nothing at all.
  SetGUIPropValue(&w, QMetaProperty(), i4(1));
  SetGUIPropValue(nullptr, prop("intProp"), i4(1));
}

TEST_F(GenericWrite, PropertyWithoutWriteAccessRaises) {
  EXPECT_THROW(write("readOnlyProp", i4(3)), EConvertError);
}

TEST_F(FindGUIPropertyTest, ExactSpellingFirstThenIgnoringCase) {
  QLineEdit edit;
  EXPECT_STREQ(FindGUIProperty(&edit, QStringLiteral("placeholdertext")).name(), "placeholderText");
  EXPECT_STREQ(FindGUIProperty(&edit, QStringLiteral("TEXT")).name(), "text");
  EXPECT_FALSE(FindGUIProperty(&edit, QStringLiteral("lines")).isValid());
  EXPECT_FALSE(FindGUIProperty(&edit, QString()).isValid());
  EXPECT_FALSE(FindGUIProperty(nullptr, QStringLiteral("text")).isValid());
}

// The built-in classes without a setter, and Qt's own enumerations and flags.
TEST_F(GenericWriteOnQtWidgets, DefaultPropertiesAndQtEnumerations) {
  QLineEdit edit;
  QLabel label;
  QPushButton button;
  for (QWidget* w : std::initializer_list<QWidget*>{&edit, &label, &button}) {
    QString name;
    ASSERT_TRUE(GetDefaultPropName(w, name));
    ASSERT_EQ(GetDefaultSetProc(w, name), nullptr);
    SetGUIPropValue(w, FindGUIProperty(w, name), OleVariant(21.5));
    EXPECT_EQ(w->property("text").toString(), "21.5");
  }

  SetGUIPropValue(&edit, FindGUIProperty(&edit, QStringLiteral("echomode")),
                  OleVariant(u"Password"));
  EXPECT_EQ(edit.echoMode(), QLineEdit::Password);
  SetGUIPropValue(&label, FindGUIProperty(&label, QStringLiteral("alignment")),
                  OleVariant(u"[AlignRight, AlignBottom]"));
  EXPECT_EQ(label.alignment(), Qt::AlignRight | Qt::AlignBottom);
  SetGUIPropValue(&label, FindGUIProperty(&label, QStringLiteral("alignment")),
                  OleVariant(LONG(Qt::AlignCenter)));
  EXPECT_EQ(label.alignment(), Qt::AlignCenter);
  SetGUIPropValue(&button, FindGUIProperty(&button, QStringLiteral("enabled")), OleVariant(false));
  EXPECT_FALSE(button.isEnabled());
  SetGUIPropValue(&button, FindGUIProperty(&button, QStringLiteral("enabled")), OleVariant(true));
  EXPECT_TRUE(button.isEnabled());
}

// The value widgets registered by their default property, and dates into
// date and time properties.
TEST_F(GenericWriteOnQtWidgets, ValueWidgetsAndDates) {
  QSpinBox spin;
  QDoubleSpinBox doubleSpin;
  QSlider slider;
  QProgressBar progress;
  QLCDNumber lcd;
  QComboBox combo;
  QTextEdit text;
  combo.addItems({"Off", "Auto", "Manual"});
  const OleVariant number(LONG(42));
  for (QWidget* w : std::initializer_list<QWidget*>{&spin, &doubleSpin, &slider, &progress, &lcd}) {
    QString name;
    ASSERT_TRUE(GetDefaultPropName(w, name)) << w->metaObject()->className();
    EXPECT_EQ(name, "value");
    SetGUIPropValue(w, FindGUIProperty(w, name), number);
    EXPECT_EQ(w->property("value").toDouble(), 42) << w->metaObject()->className();
  }
  QString name;
  ASSERT_TRUE(GetDefaultPropName(&combo, name));
  SetGUIPropValue(&combo, FindGUIProperty(&combo, name), OleVariant(u"Manual"));
  EXPECT_EQ(combo.currentIndex(), 2);
  ASSERT_TRUE(GetDefaultPropName(&text, name));
  SetGUIPropValue(&text, FindGUIProperty(&text, name), OleVariant(u"<b>kept as typed</b>"));
  EXPECT_EQ(text.toPlainText(), "<b>kept as typed</b>");

  const QDateTime when(QDate(2026, 12, 7), QTime(16, 30, 15, 250));
  const OleVariant date = OleVariant::fromDate(QDateTimeToDateTime(when));
  QDateTimeEdit dateTimeEdit;
  ASSERT_TRUE(GetDefaultPropName(&dateTimeEdit, name));
  SetGUIPropValue(&dateTimeEdit, FindGUIProperty(&dateTimeEdit, name), date);
  EXPECT_EQ(dateTimeEdit.dateTime(), when);
  QDateEdit dateEdit;
  SetGUIPropValue(&dateEdit, FindGUIProperty(&dateEdit, "date"), OleVariant(u"2027-01-02"));
  EXPECT_EQ(dateEdit.date(), QDate(2027, 1, 2));
  QTimeEdit timeEdit;
  SetGUIPropValue(&timeEdit, FindGUIProperty(&timeEdit, "time"), date);
  EXPECT_EQ(timeEdit.time(), when.time());
  EXPECT_THROW(SetGUIPropValue(&dateEdit, FindGUIProperty(&dateEdit, "date"), OleVariant(u"soon")),
               EConvertError);
  EXPECT_EQ(dateEdit.date(), QDate(2027, 1, 2));
}

}  // namespace
