#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <random>

#include "test_utils.h"
#include "varianttext_entry.h"

namespace opc::test {
namespace {

/// Converts v to vt, expecting `expected`; returns the result (empty on failure).
OleVariant convert(const OleVariant& v, VARTYPE vt, HRESULT expected = S_OK, USHORT flags = 0) {
  HRESULT hr = E_FAIL;
  OleVariant r = v.changedTo(vt, &hr, flags);
  EXPECT_EQ(hr, expected) << "from vt " << v.vt() << " to vt " << vt;
  return r;
}

std::u16string text(const OleVariant& v, USHORT flags = 0) {
  const OleVariant r = convert(v, VT_BSTR, S_OK, flags);
  return r.vt() == VT_BSTR ? std::u16string(r.get().bstrVal, SysStringLen(r.get().bstrVal))
                           : u"<failed>";
}

OleVariant of(VARTYPE vt, LONGLONG bits) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  v.llVal = bits;
  return OleVariant::attach(v);
}

using Variants = LeakCheckedTest;

TEST_F(Variants, ClearReleasesWhatTheVariantOwns) {
  ComPtr<ShutdownSink> sink = makeCom<ShutdownSink>();
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UNKNOWN;
  v.punkVal = sink->unknown();
  sink->AddRef();
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(sink->refCount(), 1u);

  const auto bstrs = diag::snapshot().bstrs;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"x");
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(diag::snapshot().bstrs, bstrs);

  v.vt = 0x7F;  // not a type
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

TEST_F(Variants, CopyIsDeepAndClearsTheDestinationFirst) {
  OleVariant src(u"text");
  OleVariant dst(u"old");
  ASSERT_EQ(VariantCopy(dst.ptr(), &src.get()), S_OK);
  EXPECT_NE(dst.get().bstrVal, src.get().bstrVal);
  EXPECT_EQ(dst, src);
  EXPECT_EQ(VariantCopy(dst.ptr(), &dst.get()), S_OK);  // onto itself
  EXPECT_EQ(dst, src);

  ComPtr<ShutdownSink> sink = makeCom<ShutdownSink>();
  VARIANT u;
  VariantInit(&u);
  u.vt = VT_UNKNOWN;
  u.punkVal = sink->unknown();
  {
    OleVariant copy(u);  // u is borrowed, the copy has its own reference
    EXPECT_EQ(sink->refCount(), 2u);
  }
  EXPECT_EQ(sink->refCount(), 1u);

  const OleVariant arr = OleVariant::array(VT_BSTR, {OleVariant(u"a"), OleVariant(u"b")});
  OleVariant arrCopy = arr;
  EXPECT_NE(arrCopy.get().parray, arr.get().parray);
  EXPECT_EQ(arrCopy, arr);
}

TEST_F(Variants, CopyOfAnElementOfTheDestinationItself) {
  OleVariant arr = OleVariant::array(VT_VARIANT, {OleVariant(u"inner"), OleVariant(LONG(1))});
  auto* elements = static_cast<VARIANT*>(arr.get().parray->pvData);
  const VARIANT src = elements[0];  // lives inside arr, which the copy replaces
  ASSERT_EQ(VariantCopy(arr.ptr(), &elements[0]), S_OK);
  EXPECT_EQ(arr, OleVariant(u"inner"));
  (void)src;
}

TEST_F(Variants, OverflowIsReported) {
  convert(OleVariant(LONG(300)), VT_UI1, DISP_E_OVERFLOW);
  convert(OleVariant(LONG(-1)), VT_UI4, DISP_E_OVERFLOW);
  convert(OleVariant(LONG(-129)), VT_I1, DISP_E_OVERFLOW);
  convert(OleVariant(LONGLONG(1) << 31), VT_I4, DISP_E_OVERFLOW);
  convert(OleVariant(LONGLONG(1) << 31), VT_INT, DISP_E_OVERFLOW);
  convert(of(VT_UI8, -1), VT_I8, DISP_E_OVERFLOW);
  convert(OleVariant(1e20), VT_I8, DISP_E_OVERFLOW);
  convert(OleVariant(-1.0), VT_UI8, DISP_E_OVERFLOW);
  convert(OleVariant(1e39), VT_R4, DISP_E_OVERFLOW);
  convert(OleVariant(std::nan("")), VT_I4, DISP_E_OVERFLOW);
  convert(OleVariant(u"256"), VT_UI1, DISP_E_OVERFLOW);
  convert(OleVariant(u"99999999999999999999"), VT_I8, DISP_E_OVERFLOW);
  convert(OleVariant(u"1e400"), VT_R8, DISP_E_OVERFLOW);
  convert(OleVariant(LONGLONG(1) << 60), VT_CY, DISP_E_OVERFLOW);
  convert(OleVariant(u"922337203685477.5808"), VT_CY, DISP_E_OVERFLOW);
  // Just inside the ranges.
  EXPECT_EQ(convert(OleVariant(LONG(255)), VT_UI1).get().bVal, 255);
  EXPECT_EQ(convert(OleVariant(LONG(-128)), VT_I1).get().cVal, -128);
  EXPECT_EQ(convert(OleVariant(u"18446744073709551615"), VT_UI8).get().ullVal, UINT64_MAX);
  EXPECT_EQ(convert(OleVariant(u"-9223372036854775808"), VT_I8).get().llVal, INT64_MIN);
  EXPECT_EQ(convert(OleVariant(u"922337203685477.5807"), VT_CY).get().cyVal.int64, INT64_MAX);
  EXPECT_EQ(convert(OleVariant(u"1e-400"), VT_R8).get().dblVal, 0.0);
}

TEST_F(Variants, ExponentsBeyondAnyRangeAreHugeOrTiny) {
  // Exponents at and past the 64-bit limit: the magnitude is still decided
  // by the exponent's sign, not by a wrapped sum.
  for (const char16_t* s :
       {u"1e9223372036854775807", u"9e9223372036854775807\t", u"+18e+9223372036854775807",
        u"2568216276E9223372036854775807", u"04.9e009223372036854775807",
        u"\n6931348623157e9223372036854775807\r\n", u"-9e9223372036854775807",
        u"0.5e9223372036854775807", u"-.000001e9223372036854775807",
        u"1e99999999999999999999999"}) {
    for (VARTYPE vt : {VT_R8, VT_R4, VT_I4, VT_I8, VT_UI8, VT_CY, VT_BOOL}) {
      convert(OleVariant(s), vt, DISP_E_OVERFLOW);
    }
  }
  for (const char16_t* s :
       {u"0.001e-9223372036854775807", u"9e-9223372036854775807", u"-9e-9223372036854775807",
        u"1e-9223372036854775808", u"123456.7e-99999999999999999999999"}) {
    EXPECT_EQ(convert(OleVariant(s), VT_R8).get().dblVal, 0.0) << utf16ToUtf8(s);
    EXPECT_EQ(convert(OleVariant(s), VT_R4).get().fltVal, 0.0f) << utf16ToUtf8(s);
    EXPECT_EQ(convert(OleVariant(s), VT_I4).get().lVal, 0) << utf16ToUtf8(s);
    EXPECT_EQ(convert(OleVariant(s), VT_UI8).get().ullVal, 0u) << utf16ToUtf8(s);
    EXPECT_EQ(convert(OleVariant(s), VT_CY).get().cyVal.int64, 0) << utf16ToUtf8(s);
    EXPECT_EQ(convert(OleVariant(s), VT_BOOL).get().boolVal, VARIANT_FALSE) << utf16ToUtf8(s);
  }
  for (const char16_t* s : {u"9e9223372036854775807x", u"9e+-9223372036854775807",
                            u"e9223372036854775807", u"9e 9223372036854775807", u"9e"}) {
    for (VARTYPE vt : {VT_R8, VT_R4, VT_I4, VT_CY, VT_DATE}) {
      convert(OleVariant(s), vt, DISP_E_TYPEMISMATCH);
    }
  }
}

TEST_F(Variants, RealsRoundHalfToEven) {
  const std::pair<double, LONG> cases[] = {{0.5, 0},    {1.5, 2},   {2.5, 2},   {3.5, 4},
                                           {-0.5, 0},   {-2.5, -2}, {-3.5, -4}, {2.4999, 2},
                                           {2.5001, 3}, {-2.6, -3}};
  for (auto [in, out] : cases) {
    EXPECT_EQ(convert(OleVariant(in), VT_I4).get().lVal, out) << in;
  }
  EXPECT_EQ(convert(OleVariant(127.4), VT_I1).get().cVal, 127);
  convert(OleVariant(127.5), VT_I1, DISP_E_OVERFLOW);  // rounds to 128
  EXPECT_EQ(convert(OleVariant(-128.5), VT_I1).get().cVal, -128);
  EXPECT_EQ(convert(OleVariant(FLOAT(254.5f)), VT_UI1).get().bVal, 254);
  EXPECT_EQ(convert(OleVariant(u"2.5"), VT_I2).get().iVal, 2);
  // Currency rounds the same way, to whole numbers and to four decimals.
  EXPECT_EQ(convert(OleVariant::fromCurrency({25000}), VT_I4).get().lVal, 2);
  EXPECT_EQ(convert(OleVariant::fromCurrency({35000}), VT_I4).get().lVal, 4);
  EXPECT_EQ(convert(OleVariant::fromCurrency({-25000}), VT_I4).get().lVal, -2);
  EXPECT_EQ(convert(OleVariant(u"1.00015"), VT_CY).get().cyVal.int64, 10002);
  EXPECT_EQ(convert(OleVariant(u"1.000051"), VT_CY).get().cyVal.int64, 10001);
}

TEST_F(Variants, BooleansAreMinusOneAndZero) {
  const OleVariant t(true), f(false);
  EXPECT_EQ(convert(t, VT_I2).get().iVal, -1);
  EXPECT_EQ(convert(t, VT_I8).get().llVal, -1);
  EXPECT_EQ(convert(t, VT_R8).get().dblVal, -1.0);
  EXPECT_EQ(convert(t, VT_UI1).get().bVal, 0xFF);
  EXPECT_EQ(convert(t, VT_UI2).get().uiVal, 0xFFFF);
  EXPECT_EQ(convert(t, VT_CY).get().cyVal.int64, -10000);
  EXPECT_EQ(convert(f, VT_I4).get().lVal, 0);
  EXPECT_EQ(text(t), u"-1");
  EXPECT_EQ(text(f), u"0");
  EXPECT_EQ(text(t, VARIANT_ALPHABOOL), u"True");
  EXPECT_EQ(text(f, VARIANT_ALPHABOOL), u"False");

  for (const char16_t* s : {u"True", u"TRUE", u"true", u" tRuE ", u"1", u"-1", u"2.5"}) {
    EXPECT_EQ(convert(OleVariant(s), VT_BOOL).get().boolVal, VARIANT_TRUE) << utf16ToUtf8(s);
  }
  for (const char16_t* s : {u"False", u"FALSE", u"0", u"0.0", u"-0"}) {
    EXPECT_EQ(convert(OleVariant(s), VT_BOOL).get().boolVal, VARIANT_FALSE) << utf16ToUtf8(s);
  }
  convert(OleVariant(u"yes"), VT_BOOL, DISP_E_TYPEMISMATCH);
  convert(OleVariant(u""), VT_BOOL, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(convert(OleVariant(0.001), VT_BOOL).get().boolVal, VARIANT_TRUE);
  EXPECT_EQ(convert(OleVariant::fromCurrency({0}), VT_BOOL).get().boolVal, VARIANT_FALSE);
}

TEST_F(Variants, TextsParseLocaleIndependently) {
  EXPECT_EQ(convert(OleVariant(u" 42 "), VT_I4).get().lVal, 42);
  EXPECT_EQ(convert(OleVariant(u"+7"), VT_I4).get().lVal, 7);
  EXPECT_EQ(convert(OleVariant(u"-0"), VT_I4).get().lVal, 0);
  EXPECT_EQ(convert(OleVariant(u"1e3"), VT_I4).get().lVal, 1000);
  EXPECT_EQ(convert(OleVariant(u"0.25"), VT_R8).get().dblVal, 0.25);
  EXPECT_EQ(convert(OleVariant(u".5"), VT_R4).get().fltVal, 0.5f);
  EXPECT_EQ(convert(OleVariant(u"-12.5"), VT_CY).get().cyVal.int64, -125000);
  for (const char16_t* s : {u"", u"   ", u"abc", u"1,5", u"0x10", u"--1", u"+-1", u"1 2", u"1.2.3",
                            u"inf", u"nan", u"12abc", u"\u0661"}) {
    convert(OleVariant(s), VT_I4, DISP_E_TYPEMISMATCH);
    convert(OleVariant(s), VT_R8, DISP_E_TYPEMISMATCH);
  }
}

TEST_F(Variants, NumbersToText) {
  EXPECT_EQ(text(OleVariant(LONG(-42))), u"-42");
  EXPECT_EQ(text(of(VT_UI8, -1)), u"18446744073709551615");
  EXPECT_EQ(text(of(VT_I1, 0xFF)), u"-1");
  EXPECT_EQ(text(OleVariant(0.1)), u"0.1");
  EXPECT_EQ(text(OleVariant(FLOAT(0.1f))), u"0.1");
  EXPECT_EQ(text(OleVariant(1.0 / 3)), u"0.3333333333333333");
  EXPECT_EQ(text(OleVariant(-0.0)), u"0");
  EXPECT_EQ(text(OleVariant(2.0)), u"2");
  EXPECT_EQ(text(OleVariant(1e21)), u"1e+21");
  EXPECT_EQ(text(OleVariant::fromCurrency({12345678})), u"1234.5678");
  EXPECT_EQ(text(OleVariant::fromCurrency({10000})), u"1");
  EXPECT_EQ(text(OleVariant::fromCurrency({-5000})), u"-0.5");
  EXPECT_EQ(text(OleVariant::fromCurrency({INT64_MIN})), u"-922337203685477.5808");
  EXPECT_EQ(text(OleVariant::fromError(E_FAIL)), u"-2147467259");
}

TEST_F(Variants, RealsReadBackFromTheirText) {
  std::mt19937_64 rng(1234);
  std::uniform_real_distribution<double> mantissa(-1, 1);
  std::uniform_int_distribution<int> exponent(-300, 300);
  for (int i = 0; i < 2000; ++i) {
    const double d = std::ldexp(mantissa(rng), exponent(rng));
    const OleVariant back = convert(OleVariant(text(OleVariant(d))), VT_R8);
    EXPECT_EQ(back.get().dblVal, d);
    const float f = static_cast<float>(mantissa(rng) * 1e6);
    EXPECT_EQ(convert(OleVariant(text(OleVariant(f))), VT_R4).get().fltVal, f);
  }
}

TEST_F(Variants, EmptyAndNull) {
  const OleVariant empty;
  EXPECT_EQ(convert(empty, VT_I4).get().lVal, 0);
  EXPECT_EQ(convert(empty, VT_R8).get().dblVal, 0.0);
  EXPECT_EQ(convert(empty, VT_BOOL).get().boolVal, VARIANT_FALSE);
  EXPECT_EQ(text(empty), u"");
  EXPECT_EQ(convert(empty, VT_NULL).vt(), VT_NULL);

  const OleVariant null = OleVariant::null();
  for (VARTYPE vt : {VT_I4, VT_R8, VT_BSTR, VT_BOOL, VT_DATE, VT_CY}) {
    convert(null, vt, DISP_E_TYPEMISMATCH);
  }
  EXPECT_EQ(convert(null, VT_NULL).vt(), VT_NULL);
  EXPECT_EQ(convert(null, VT_EMPTY).vt(), VT_EMPTY);
  // No array comes from a value that is not one.
  convert(empty, VT_ARRAY | VT_I4, DISP_E_TYPEMISMATCH);
  convert(null, VT_ARRAY | VT_VARIANT, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(convert(OleVariant(LONG(5)), VT_EMPTY).vt(), VT_EMPTY);
}

TEST_F(Variants, DatesAsIsoText) {
  EXPECT_EQ(text(OleVariant::fromDate(0)), u"1899-12-30 00:00:00");
  EXPECT_EQ(text(OleVariant::fromDate(45000.5)), u"2023-03-15 12:00:00");
  EXPECT_EQ(text(OleVariant::fromDate(45000.5 + 0.123 / 86400)), u"2023-03-15 12:00:00.123");
  EXPECT_EQ(text(OleVariant::fromDate(-1.25)), u"1899-12-29 06:00:00");
  EXPECT_EQ(text(OleVariant::fromDate(2.0 - 0.0001 / 86400)), u"1900-01-01 00:00:00");
  EXPECT_EQ(text(OleVariant::fromDate(2958465.5)), u"9999-12-31 12:00:00");
  convert(OleVariant::fromDate(3e6), VT_BSTR, DISP_E_OVERFLOW);

  EXPECT_EQ(convert(OleVariant(u"2023-03-15 12:00:00"), VT_DATE).get().date, 45000.5);
  EXPECT_EQ(convert(OleVariant(u"2023-03-15"), VT_DATE).get().date, 45000.0);
  EXPECT_EQ(convert(OleVariant(u"1899-12-29 06:00:00"), VT_DATE).get().date, -1.25);
  EXPECT_NEAR(convert(OleVariant(u"2023-03-15T12:00:00.123"), VT_DATE).get().date,
              45000.5 + 0.123 / 86400, 1e-9);
  EXPECT_NEAR(convert(OleVariant(u"06:30"), VT_DATE).get().date, 6.5 / 24, 1e-12);
  // A time that rounds up to midnight is the next day's start, also before
  // the epoch; past the last day it is out of range, as text no less.
  EXPECT_EQ(convert(OleVariant(u"1899-12-29 23:59:59.9999"), VT_DATE).get().date, 0.0);
  EXPECT_EQ(convert(OleVariant(u"1899-12-28 23:59:59.9999"), VT_DATE).get().date, -1.0);
  EXPECT_EQ(convert(OleVariant(u"1900-01-01 23:59:59.9999"), VT_DATE).get().date, 3.0);
  convert(OleVariant(u"9999-12-31 23:59:59.9996"), VT_DATE, DISP_E_OVERFLOW);
  convert(OleVariant::fromDate(std::nextafter(2958466.0, 0.0)), VT_BSTR, DISP_E_OVERFLOW);
  for (const char16_t* s :
       {u"2023-02-29", u"2023-13-01", u"2023-03-15 24:00:00", u"2023-03-15 12:60:00", u"15.03.2023",
        u"2023-3-15", u"45000", u"2023-03-15 12:00:00Z", u""}) {
    convert(OleVariant(s), VT_DATE, DISP_E_TYPEMISMATCH);
  }
  // Text and back, milliseconds included.
  for (double d : {45000.75, 1.0 / 3, -700.5, 36526.0 + 0.999 / 86400}) {
    const OleVariant back = convert(OleVariant(text(OleVariant::fromDate(d))), VT_DATE);
    EXPECT_NEAR(back.get().date, d, 0.0005 / 86400) << d;
  }
}

TEST_F(Variants, DatesAsNumbers) {
  EXPECT_EQ(convert(OleVariant::fromDate(45000.5), VT_I4).get().lVal, 45000);
  EXPECT_EQ(convert(OleVariant::fromDate(45001.5), VT_I4).get().lVal, 45002);
  EXPECT_EQ(convert(OleVariant::fromDate(45000.25), VT_R8).get().dblVal, 45000.25);
  EXPECT_EQ(convert(OleVariant(LONG(45000)), VT_DATE).get().date, 45000.0);
  convert(OleVariant(LONG(10000000)), VT_DATE, DISP_E_OVERFLOW);
  convert(OleVariant(-700000.0), VT_DATE, DISP_E_OVERFLOW);
}

TEST_F(Variants, ErrorCodesConvertLikeIntegers) {
  EXPECT_EQ(convert(OleVariant::fromError(E_FAIL), VT_I4).get().lVal, E_FAIL);
  EXPECT_EQ(convert(OleVariant(LONG(E_NOTIMPL)), VT_ERROR).get().scode, E_NOTIMPL);
  convert(of(VT_UI4, 0x80004005), VT_ERROR, DISP_E_OVERFLOW);
}

TEST_F(Variants, UnsupportedTypes) {
  convert(OleVariant(LONG(1)), VT_DECIMAL, DISP_E_BADVARTYPE);
  convert(OleVariant(LONG(1)), VT_VARIANT, DISP_E_BADVARTYPE);
  convert(OleVariant(LONG(1)), VT_UNKNOWN, DISP_E_TYPEMISMATCH);
  convert(OleVariant(LONG(1)), VT_LPWSTR, DISP_E_BADVARTYPE);
  convert(OleVariant(LONG(1)), VT_I4 | VT_BYREF, DISP_E_BADVARTYPE);
  convert(of(0x7F, 0), VT_I4, DISP_E_BADVARTYPE);
  ComPtr<ShutdownSink> sink = makeCom<ShutdownSink>();
  VARIANT u;
  VariantInit(&u);
  u.vt = VT_UNKNOWN;
  u.punkVal = sink->unknown();
  convert(OleVariant(u), VT_I4, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(convert(OleVariant(u), VT_UNKNOWN).get().punkVal, sink->unknown());  // same type: copy
}

TEST_F(Variants, ConvertsInPlace) {
  OleVariant v(u"42");
  const auto bstrs = diag::snapshot().bstrs;
  ASSERT_EQ(VariantChangeType(v.ptr(), &v.get(), 0, VT_I4), S_OK);
  EXPECT_EQ(v.vt(), VT_I4);
  EXPECT_EQ(v.get().lVal, 42);
  EXPECT_EQ(diag::snapshot().bstrs, bstrs - 1);  // the text was freed

  ASSERT_EQ(VariantChangeType(v.ptr(), &v.get(), 0, VT_BSTR), S_OK);
  EXPECT_EQ(v, OleVariant(u"42"));

  // A failed conversion leaves the value as it was.
  OleVariant bad(u"forty-two");
  EXPECT_EQ(VariantChangeType(bad.ptr(), &bad.get(), 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(bad, OleVariant(u"forty-two"));

  OleVariant arr = OleVariant::array(VT_I4, {OleVariant(LONG(1)), OleVariant(LONG(2))});
  ASSERT_EQ(VariantChangeTypeEx(arr.ptr(), &arr.get(), 0x0407, 0, VT_ARRAY | VT_BSTR), S_OK);
  EXPECT_EQ(arr, OleVariant::array(VT_BSTR, {OleVariant(u"1"), OleVariant(u"2")}));
}

TEST_F(Variants, ArraysConvertElementByElement) {
  const OleVariant ints = OleVariant::array(
      VT_I4, {OleVariant(LONG(1)), OleVariant(LONG(2)), OleVariant(LONG(300))}, 1);
  const OleVariant texts = convert(ints, VT_ARRAY | VT_BSTR);
  EXPECT_EQ(texts, OleVariant::array(VT_BSTR,
                                     {OleVariant(u"1"), OleVariant(u"2"), OleVariant(u"300")}, 1));
  LONG lb = 0;
  ASSERT_EQ(SafeArrayGetLBound(texts.get().parray, 1, &lb), S_OK);
  EXPECT_EQ(lb, 1);
  // One element out of range fails the whole array, and nothing is left behind.
  convert(ints, VT_ARRAY | VT_UI1, DISP_E_OVERFLOW);
  convert(texts, VT_ARRAY | VT_UI1, DISP_E_OVERFLOW);
  EXPECT_EQ(convert(texts, VT_ARRAY | VT_R8),
            OleVariant::array(VT_R8, {OleVariant(1.0), OleVariant(2.0), OleVariant(300.0)}, 1));

  const OleVariant mixed =
      OleVariant::array(VT_VARIANT, {OleVariant(u"5"), OleVariant(2.5), OleVariant(true)});
  EXPECT_EQ(convert(mixed, VT_ARRAY | VT_I2),
            OleVariant::array(VT_I2,
                              {OleVariant(SHORT(5)), OleVariant(SHORT(2)), OleVariant(SHORT(-1))}));
  const OleVariant boxed = convert(ints, VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(boxed,
            OleVariant::array(
                VT_VARIANT, {OleVariant(LONG(1)), OleVariant(LONG(2)), OleVariant(LONG(300))}, 1));
  const OleVariant alpha = convert(OleVariant::array(VT_BOOL, {OleVariant(true)}),
                                   VT_ARRAY | VT_BSTR, S_OK, VARIANT_ALPHABOOL);
  EXPECT_EQ(alpha, OleVariant::array(VT_BSTR, {OleVariant(u"True")}));

  convert(ints, VT_I4, DISP_E_TYPEMISMATCH);
  convert(ints, VT_BSTR, DISP_E_TYPEMISMATCH);
  convert(OleVariant(LONG(1)), VT_ARRAY | VT_I4, DISP_E_TYPEMISMATCH);
  convert(ints, VT_ARRAY | VT_DECIMAL, DISP_E_BADVARTYPE);
  const OleVariant empty = OleVariant::array(VT_R4, {});
  EXPECT_EQ(convert(empty, VT_ARRAY | VT_BSTR).vt(), VT_ARRAY | VT_BSTR);
}

TEST_F(Variants, OleVariantConstructorsAndEquality) {
  EXPECT_EQ(OleVariant(true).vt(), VT_BOOL);
  EXPECT_EQ(OleVariant(SHORT(1)).vt(), VT_I2);
  EXPECT_EQ(OleVariant(LONG(1)).vt(), VT_I4);
  EXPECT_EQ(OleVariant(LONGLONG(1)).vt(), VT_I8);
  EXPECT_EQ(OleVariant(FLOAT(1)).vt(), VT_R4);
  EXPECT_EQ(OleVariant(1.0).vt(), VT_R8);
  EXPECT_EQ(OleVariant(u"").vt(), VT_BSTR);
  EXPECT_TRUE(OleVariant::null().isNull());
  EXPECT_TRUE(OleVariant().isEmpty());

  EXPECT_EQ(OleVariant(u"a"), OleVariant(u"a"));
  EXPECT_FALSE(OleVariant(u"a") == OleVariant(u"b"));
  EXPECT_FALSE(OleVariant(LONG(1)) == OleVariant(SHORT(1)));  // type matters
  EXPECT_FALSE(OleVariant(LONG(1)) == OleVariant(LONG(2)));
  EXPECT_EQ(OleVariant::null(), OleVariant::null());
  EXPECT_FALSE(OleVariant::array(VT_I4, {OleVariant(LONG(1))}) ==
               OleVariant::array(VT_I4, {OleVariant(LONG(1))}, 1));  // bounds matter
  EXPECT_FALSE(OleVariant::array(VT_I4, {OleVariant(LONG(1))}) ==
               OleVariant::array(VT_I4, {OleVariant(LONG(2))}));

  // An element that does not convert leaves the array empty.
  EXPECT_TRUE(OleVariant::array(VT_I4, {OleVariant(u"x")}).isEmpty());

  OleVariant moved(u"m");
  OleVariant target = std::move(moved);
  EXPECT_TRUE(moved.isEmpty());
  EXPECT_EQ(target, OleVariant(u"m"));
  VARIANT raw = target.detach();
  EXPECT_TRUE(target.isEmpty());
  OleVariant back = OleVariant::attach(raw);
  EXPECT_EQ(raw.vt, VT_EMPTY);
  EXPECT_EQ(back, OleVariant(u"m"));
}

TEST_F(Variants, ByReferenceSourcesAreRead) {
  LONG value = 17;
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BYREF | VT_I4;
  ref.byref = &value;
  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(VariantChangeType(&out, &ref, 0, VT_BSTR), S_OK);
  EXPECT_EQ(std::u16string(out.bstrVal), u"17");
  VariantClear(&out);
}

// The text conversion's fuzz corpus, one input a file, each byte one
// character: every input converts to every scalar type with a defined result,
// the results agree with one another, and what reads writes back as text
// that reads the same (varianttext_entry.h).
TEST_F(Variants, TextCorpusConvertsToEveryScalarType) {
  std::size_t inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VEZE6_VARIANTTEXT_CORPUS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(veze6fuzz::RunVariantText(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                        bytes.size()),
              "")
        << entry.path().filename();
    ++inputs;
  }
  ASSERT_GE(inputs, 10u) << "corpus missing at " << VEZE6_VARIANTTEXT_CORPUS;
}

}  // namespace
}  // namespace opc::test
