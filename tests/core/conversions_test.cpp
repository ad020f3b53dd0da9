// Conversions of variants, time stamps, state codes and texts.
#include <QTimeZone>
#include <ctime>

#include "opc/filetime.h"
#include "test_utils.h"

using namespace core_test;

namespace {

using VarToStrTest = veze6::test::LeakCheckedTest;
using VarToAStrTest = veze6::test::LeakCheckedTest;
using ArrayConversionsTest = veze6::test::LeakCheckedTest;
using FileTimeToDateTimeTest = veze6::test::LeakCheckedTest;
using ServerStateToStrTest = veze6::test::LeakCheckedTest;
using TextToWideTest = veze6::test::LeakCheckedTest;
using VariantToQVariantTest = veze6::test::LeakCheckedTest;
using TDateTimeTest = veze6::test::LeakCheckedTest;

OleVariant withType(VARTYPE vt, auto assign) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  assign(v);
  return OleVariant::attach(v);
}

TEST_F(VarToStrTest, ScalarTexts) {
  EXPECT_EQ(VarToStr(OleVariant()), "");
  EXPECT_EQ(VarToStr(OleVariant::null()), "");
  EXPECT_EQ(VarToStr(OleVariant(SHORT(-12))), "-12");
  EXPECT_EQ(VarToStr(OleVariant(LONG(2147483647))), "2147483647");
  EXPECT_EQ(VarToStr(OleVariant(LONGLONG(-9223372036854775807LL - 1))), "-9223372036854775808");
  EXPECT_EQ(VarToStr(withType(VT_UI4, [](VARIANT& v) { v.ulVal = 4294967295u; })), "4294967295");
  EXPECT_EQ(VarToStr(withType(VT_I1, [](VARIANT& v) { v.cVal = -5; })), "-5");
  EXPECT_EQ(VarToStr(withType(VT_UI1, [](VARIANT& v) { v.bVal = 200; })), "200");
  EXPECT_EQ(VarToStr(OleVariant(true)), "True");
  EXPECT_EQ(VarToStr(OleVariant(false)), "False");
  EXPECT_EQ(VarToStr(OleVariant(u"Kessel 3 – Ä")), "Kessel 3 – Ä");
  EXPECT_EQ(VarToStr(OleVariant::fromError(OPC_E_BADRIGHTS)), "-1073479674");
}

TEST_F(VarToStrTest, FloatsAreShortestRoundTrip) {
  EXPECT_EQ(VarToStr(OleVariant(0.1f)), "0.1");
  EXPECT_EQ(VarToStr(OleVariant(0.1)), "0.1");
  EXPECT_EQ(VarToStr(OleVariant(1.0 / 3.0)), "0.3333333333333333");
  EXPECT_EQ(VarToStr(OleVariant(100.0)), "100");
  EXPECT_EQ(VarToStr(OleVariant(-2.5e-10)), "-2.5e-10");
  EXPECT_EQ(VarToStr(OleVariant(1e300)), "1e+300");
  EXPECT_EQ(VarToStr(OleVariant(std::numeric_limits<double>::infinity())), "inf");
  EXPECT_EQ(VarToStr(OleVariant(std::numeric_limits<double>::quiet_NaN())), "nan");
  for (double d : {0.1 + 0.2, 123456.789, 5e-324, 1.7976931348623157e308})
    EXPECT_EQ(VarToStr(OleVariant(d)).toDouble(), d);
}

TEST_F(VarToStrTest, CurrencyHasUpToFourPlaces) {
  EXPECT_EQ(VarToStr(OleVariant::fromCurrency(CY{125000})), "12.5");
  EXPECT_EQ(VarToStr(OleVariant::fromCurrency(CY{10000})), "1");
  EXPECT_EQ(VarToStr(OleVariant::fromCurrency(CY{-5})), "-0.0005");
  EXPECT_EQ(VarToStr(OleVariant::fromCurrency(CY{-9223372036854775807LL - 1})),
            "-922337203685477.5808");
}

TEST_F(VarToStrTest, DatesAreIsoLocal) {
  EXPECT_EQ(VarToStr(OleVariant::fromDate(EncodeDateTime(2024, 2, 29, 23, 59, 58))),
            "2024-02-29T23:59:58");
  EXPECT_EQ(VarToStr(OleVariant::fromDate(EncodeDateTime(1999, 12, 31, 8, 5, 0, 7))),
            "1999-12-31T08:05:00.007");
  EXPECT_EQ(VarToStr(OleVariant::fromDate(0)), "1899-12-30T00:00:00");
  EXPECT_THROW(VarToStr(OleVariant::fromDate(1e9)), EConvertError);
}

TEST_F(VarToStrTest, ArraysAndInterfacesRaise) {
  EXPECT_THROW(VarToStr(OleVariant::array(VT_I4, {OleVariant(LONG(1))})), EConvertError);
  EXPECT_THROW(VarToStr(withType(VT_UNKNOWN, [](VARIANT& v) { v.punkVal = nullptr; })),
               EConvertError);
}

TEST_F(VarToAStrTest, ArraysListEveryElementWithSemicolons) {
  EXPECT_EQ(VarToAStr(OleVariant()), "");
  EXPECT_EQ(VarToAStr(OleVariant::null()), "");
  EXPECT_EQ(VarToAStr(OleVariant(LONG(7))), "7");
  EXPECT_EQ(VarToAStr(OleVariant::array(
                VT_I4, {OleVariant(LONG(1)), OleVariant(LONG(2)), OleVariant(LONG(3))})),
            "1;2;3;");
  EXPECT_EQ(VarToAStr(OleVariant::array(VT_BSTR, {OleVariant(u"a"), OleVariant(u"b")})), "a;b;");
  EXPECT_EQ(VarToAStr(OleVariant::array(VT_VARIANT,
                                        {OleVariant(true), OleVariant::null(), OleVariant(2.5)})),
            "True;;2.5;");
  EXPECT_EQ(VarToAStr(OleVariant::array(VT_I4, {})), "");
}

TEST_F(VarToAStrTest, UnreadableArraysGiveEmptyText) {
  EXPECT_EQ(VarToAStr(OleVariant::array(VT_I4, {OleVariant(LONG(1)), OleVariant(LONG(2))}, 1)), "")
      << "a 1-based array";
  const SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_I4;
  v.parray = SafeArrayCreate(VT_I4, 2, bounds);
  EXPECT_EQ(VarToAStr(OleVariant::attach(v)), "") << "two dimensions";
  // An element that cannot be shown drops the partly built text.
  EXPECT_EQ(
      VarToAStr(OleVariant::array(VT_VARIANT, {OleVariant(LONG(1)), OleVariant::fromDate(1e9)})),
      "");
}

TEST_F(ArrayConversionsTest, BoundsAtTheEndsOfTheRange) {
  for (const LONG lower : {LONG(INT32_MIN), LONG(INT32_MAX - 1)}) {
    const auto a = OleVariant::array(VT_I4, {OleVariant(LONG(1)), OleVariant(LONG(2))}, lower);
    EXPECT_EQ(VariantToQVariant(a.get()), QVariant(QVariantList{1, 2})) << lower;
    EXPECT_EQ(VarToAStr(a), "") << lower;  // not 0-based
  }
  // Empty, the upper bound one below the lower one.
  for (const LONG lower : {LONG(INT32_MIN), LONG(INT32_MAX)}) {
    const auto empty = OleVariant::array(VT_I4, {}, lower);
    EXPECT_EQ(VariantToQVariant(empty.get()), QVariant(QVariantList{})) << lower;
    EXPECT_EQ(VarToAStr(empty), "") << lower;
  }
  // A descriptor claiming far more elements than its storage holds.
  auto bent = OleVariant::array(VT_I4, {OleVariant(LONG(1)), OleVariant(LONG(2))});
  bent.ptr()->parray->rgsabound[0].cElements = 0x80000000u;
  EXPECT_EQ(VarToAStr(bent), "");
  EXPECT_FALSE(VariantToQVariant(bent.get()).isValid());
}

TEST_F(FileTimeToDateTimeTest, ConvertsUtcToLocalKeepingMilliseconds) {
  const QDateTime utc(QDate(2023, 7, 1), QTime(12, 0, 0, 123), Qt::UTC);
  const FILETIME ft = opc::fileTimeFromTicks(std::uint64_t(utc.toMSecsSinceEpoch()) * 10000 +
                                             opc::kFileTimeUnixEpoch + 9999);  // sub-ms dropped
  EXPECT_EQ(DateTimeToQDateTime(FileTimeToDateTime(ft)), utc.toLocalTime());
  const QDateTime winter(QDate(2023, 1, 15), QTime(6, 30), Qt::UTC);
  EXPECT_EQ(DateTimeToQDateTime(FileTimeToDateTime(opc::fileTimeFromTicks(
                std::uint64_t(winter.toMSecsSinceEpoch()) * 10000 + opc::kFileTimeUnixEpoch))),
            winter.toLocalTime());
}

TEST_F(FileTimeToDateTimeTest, AgreesWithTheCalendarAcrossDaylightSavingChanges) {
  // The conversion keeps the zone offset per minute; stamps on both sides of
  // a change, and in the hour that repeats, must still read as the calendar
  // says.
  const QByteArray oldTz = qgetenv("TZ");
  qputenv("TZ", "Europe/Berlin");
  tzset();
  for (const QDateTime& change : {QDateTime(QDate(2024, 3, 31), QTime(0, 55), Qt::UTC),
                                  QDateTime(QDate(2024, 10, 27), QTime(0, 55), Qt::UTC)}) {
    for (int second = 0; second < 20 * 60; second += 7) {
      const QDateTime utc = change.addSecs(second).addMSecs(second % 1000);
      const FILETIME ft = opc::fileTimeFromTicks(std::uint64_t(utc.toMSecsSinceEpoch()) * 10000 +
                                                 opc::kFileTimeUnixEpoch);
      ASSERT_EQ(DateTimeToQDateTime(FileTimeToDateTime(ft)), utc.toLocalTime())
          << utc.toString(Qt::ISODateWithMs).toStdString();
    }
  }
  if (oldTz.isNull())
    qunsetenv("TZ");
  else
    qputenv("TZ", oldTz);
  tzset();
}

TEST_F(FileTimeToDateTimeTest, OnlyTheAllZeroStampAndOutOfRangeGiveZero) {
  EXPECT_EQ(FileTimeToDateTime(FILETIME{0, 0}), 0.0);
  // A zero half alone is a valid stamp: 2023-07-26 14:46:45.824 UTC, then
  // 30 seconds into 1601.
  const FILETIME lowZero{0, 0x01D9BFD0};
  const QDateTime utc = QDateTime::fromMSecsSinceEpoch(
      qint64((opc::fileTimeTicks(lowZero) - opc::kFileTimeUnixEpoch) / 10000), Qt::UTC);
  EXPECT_EQ(DateTimeToQDateTime(FileTimeToDateTime(lowZero)), utc.toLocalTime());
  EXPECT_NE(FileTimeToDateTime(FILETIME{0x12345678, 0}), 0.0);
  EXPECT_EQ(FileTimeToDateTime(FILETIME{0xFFFFFFFF, 0xFFFFFFFF}), 0.0);
  EXPECT_EQ(FileTimeToDateTime(FILETIME{1, 0x7FFFFFFF}), 0.0) << "beyond year 9999";
}

TEST_F(ServerStateToStrTest, OnlyStatesOneToFive) {
  EXPECT_EQ(ServerStateToStr(1), "running");
  EXPECT_EQ(ServerStateToStr(3), "no config");
  EXPECT_EQ(ServerStateToStr(5), "test");
  EXPECT_EQ(ServerStateToStr(0), "");
  EXPECT_EQ(ServerStateToStr(6), "");
  EXPECT_EQ(ServerStateToStr(-1), "");
  for (const char* text : OPCStateStr) EXPECT_LE(std::strlen(text), 10u);
}

TEST_F(TextToWideTest, KeepsWholeTextAndReleasesIt) {
  const auto before = opc::diag::snapshot();
  {
    const QString long1500(1500, u'x');
    const opc::Bstr wide = TextToWide(long1500);
    EXPECT_EQ(wide.size(), 1500u);
    const opc::Bstr empty = TextToWide(QString());
    ASSERT_NE(empty.get(), nullptr) << "an allocated, zero-length string";
    EXPECT_EQ(empty.size(), 0u);
    const QString wider = QString::fromUtf8("Füllstand Ω € 𝄞 水位");
    EXPECT_EQ(WideToText(TextToWide(wider).get()), wider);
    EXPECT_EQ(opc::diag::snapshot().bstrs, before.bstrs + 2);
  }
  EXPECT_EQ(opc::diag::snapshot().bstrs, before.bstrs) << "results are released";
}

TEST_F(TextToWideTest, UnpairedSurrogatesBecomeReplacementCharacters) {
  QString broken = "a";
  broken += QChar(0xD800);
  broken += "b";
  broken += QChar(0xDC00);
  const opc::Bstr wide = TextToWide(broken);
  EXPECT_EQ(std::u16string(wide.view()), u"a\uFFFDb\uFFFD");
}

TEST_F(VariantToQVariantTest, MapsTypes) {
  EXPECT_FALSE(VariantToQVariant(OleVariant()).isValid());
  EXPECT_TRUE(VariantToQVariant(OleVariant::null()).isNull());
  EXPECT_EQ(VariantToQVariant(OleVariant(LONG(-3))), QVariant(-3));
  EXPECT_EQ(VariantToQVariant(OleVariant(2.5)), QVariant(2.5));
  EXPECT_EQ(VariantToQVariant(OleVariant(u"t")), QVariant(QString("t")));
  EXPECT_EQ(VariantToQVariant(OleVariant(true)), QVariant(true));
  EXPECT_EQ(VariantToQVariant(OleVariant::fromCurrency(CY{12345})).toDouble(), 1.2345);
  EXPECT_EQ(
      VariantToQVariant(OleVariant::array(VT_I2, {OleVariant(SHORT(1)), OleVariant(SHORT(2))}, 5)),
      QVariant(QVariantList{1, 2}));
}

TEST_F(TDateTimeTest, RoundTripsAndNegativeDays) {
  EXPECT_EQ(DateTimeToQDateTime(0), QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
  EXPECT_EQ(DateTimeToQDateTime(-1.25), QDateTime(QDate(1899, 12, 29), QTime(6, 0)));
  // A time of day that rounds to midnight moves to the next day, before the
  // epoch too.
  EXPECT_EQ(DateTimeToQDateTime(-1.9999999999), QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
  EXPECT_EQ(DateTimeToQDateTime(1.9999999999), QDateTime(QDate(1900, 1, 1), QTime(0, 0)));
  EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6), -1.25);
  EXPECT_EQ(EncodeDateTime(1900, 1, 1, 12), 2.5);
  const QDateTime t(QDate(2031, 5, 6), QTime(7, 8, 9, 999));
  EXPECT_EQ(DateTimeToQDateTime(QDateTimeToDateTime(t)), t);
  EXPECT_FALSE(DateTimeToQDateTime(std::numeric_limits<double>::quiet_NaN()).isValid());
  EXPECT_THROW(EncodeDateTime(2023, 2, 29), EConvertError);
}

}  // namespace
