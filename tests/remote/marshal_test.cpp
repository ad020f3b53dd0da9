// VARIANTs and strings through their wire form: what a well-formed value
// keeps, and what a malformed one becomes (a refusal, never a read past the
// data).
#include <capnp/message.h>
#include <gtest/gtest.h>

#include "common/leakcheck.h"
#include "opc/remote/marshal_p.h"

namespace veze6::test {
namespace {

using opc::remote::readVariant;
using opc::remote::setVariant;
namespace wire = opc::remote::wire;

class MarshalTest : public LeakCheckedTest {
 protected:
  /// Encodes v and decodes the result.
  OleVariant roundTrip(const OleVariant& v) {
    capnp::MallocMessageBuilder message;
    auto w = message.initRoot<wire::Variant>();
    EXPECT_EQ(setVariant(w, v.get()), S_OK);
    VARIANT out;
    EXPECT_TRUE(readVariant(w.asReader(), &out));
    return OleVariant::attach(out);
  }
  /// Decodes a hand-made wire value; the decoder must refuse it.
  template <class Fill>
  void expectRefused(Fill fill) {
    capnp::MallocMessageBuilder message;
    auto w = message.initRoot<wire::Variant>();
    fill(w);
    VARIANT out;
    out.vt = VT_I4;
    EXPECT_FALSE(readVariant(w.asReader(), &out));
    EXPECT_EQ(out.vt, VT_EMPTY);
  }
};

TEST_F(MarshalTest, ValuesKeepTypeAndValue) {
  for (const OleVariant& v :
       {OleVariant(), OleVariant::null(), OleVariant(SHORT(-7)), OleVariant(LONG(-123456)),
        OleVariant(LONGLONG(-1)), OleVariant(1.5f), OleVariant(-2.25), OleVariant(true),
        OleVariant::fromError(E_FAIL), OleVariant::fromCurrency(CY{-50000}), OleVariant(u""),
        OleVariant(u"text with \u00e9 and \U0001F600"),
        OleVariant::array(VT_R8, {OleVariant(1.0), OleVariant(-2.0)}, -3),
        OleVariant::array(VT_BSTR, {OleVariant(u"a"), OleVariant(u"")}),
        OleVariant::array(VT_VARIANT, {OleVariant(LONG(1)), OleVariant(u"b"),
                                       OleVariant::array(VT_I2, {OleVariant(SHORT(3))})}),
        OleVariant::array(VT_UI1, {})}) {
    const OleVariant back = roundTrip(v);
    EXPECT_EQ(back.vt(), v.vt());
    EXPECT_TRUE(back == v) << "vt " << v.vt();
    if (v.isArray()) {
      LONG lower = 0;
      SafeArrayGetLBound(back.get().parray, 1, &lower);
      EXPECT_EQ(lower, v.get().parray->rgsabound[0].lLbound);
    }
  }
}

TEST_F(MarshalTest, WhatTheWireCannotCarryIsRefused) {
  capnp::MallocMessageBuilder message;
  auto w = message.initRoot<wire::Variant>();
  VARIANT byRef{};
  byRef.vt = VT_I4 | VT_BYREF;
  EXPECT_EQ(setVariant(w, byRef), DISP_E_BADVARTYPE);
  VARIANT unknown{};
  unknown.vt = VT_UNKNOWN;
  EXPECT_EQ(setVariant(w, unknown), DISP_E_BADVARTYPE);
}

TEST_F(MarshalTest, MalformedValuesAreRefused) {
  const capnp::byte odd[3] = {1, 2, 3};
  // A string of an odd number of bytes.
  expectRefused([&](wire::Variant::Builder w) {
    w.setVt(VT_BSTR);
    w.setText(capnp::Data::Reader(odd, 3));
  });
  // A type whose value is in the wrong part of the union.
  expectRefused([](wire::Variant::Builder w) {
    w.setVt(VT_I4);
    w.setNone();
  });
  // Bits beyond the type's size.
  expectRefused([](wire::Variant::Builder w) {
    w.setVt(VT_I2);
    w.setBits(0x10000);
  });
  // Packed elements that do not fill whole elements.
  expectRefused([&](wire::Variant::Builder w) {
    w.setVt(VT_ARRAY | VT_I4);
    w.initArray().setRaw(capnp::Data::Reader(odd, 3));
  });
  // Elements of another form than the array's type.
  expectRefused([](wire::Variant::Builder w) {
    w.setVt(VT_ARRAY | VT_R8);
    w.initArray().initTexts(1);
  });
  // An upper bound past the LONG range.
  expectRefused([](wire::Variant::Builder w) {
    w.setVt(VT_ARRAY | VT_BSTR);
    auto a = w.initArray();
    a.setLowerBound(0x7FFFFFFF);
    a.initTexts(2);
  });
  // A bad string deep inside an array of variants: nothing of it is left.
  expectRefused([&](wire::Variant::Builder w) {
    w.setVt(VT_ARRAY | VT_VARIANT);
    auto items = w.initArray().initVariants(2);
    items[0].setVt(VT_BSTR);
    items[0].setText(capnp::Data::Reader(odd, 2));
    items[1].setVt(VT_BSTR);
    items[1].setText(capnp::Data::Reader(odd, 3));
  });
  // Unknown and reference types.
  expectRefused([](wire::Variant::Builder w) {
    w.setVt(VT_UNKNOWN);
    w.setBits(0x1234);
  });
  expectRefused([](wire::Variant::Builder w) {
    w.setVt(VT_I4 | VT_BYREF);
    w.setBits(1);
  });
}

}  // namespace
}  // namespace veze6::test
