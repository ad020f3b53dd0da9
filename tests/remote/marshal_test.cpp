// VARIANTs and strings through their wire form: what a well-formed value
// keeps, and what a malformed one becomes (a refusal, never a read past the
// data).
#include <capnp/message.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/leakcheck.h"
#include "opc/OPCDA.h"
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

TEST_F(MarshalTest, ItemStatesTravelSideBySideAndAMalformedFormIsRefused) {
  // Every kind of value, with two that cannot travel among the strings and
  // arrays: they arrive empty with the reason, and the rest stay in step.
  std::vector<OleVariant> kept = {
      OleVariant(),
      OleVariant::null(),
      OleVariant(SHORT(-7)),
      OleVariant(u"first"),
      OleVariant(LONGLONG(-1)),
      OleVariant(-2.25),
      OleVariant::array(VT_BSTR, {OleVariant(u"a"), OleVariant(u"")}, 2),
      OleVariant(true),
      OleVariant::fromCurrency(CY{-50000}),
      OleVariant(u""),
      OleVariant::array(VT_VARIANT, {OleVariant(LONG(1)), OleVariant(u"b")}),
      OleVariant::array(VT_UI1, {}),
  };
  std::vector<VARIANT> values;
  for (const OleVariant& v : kept) values.push_back(v.get());  // borrowed
  VARIANT noArray{};
  noArray.vt = VT_ARRAY | VT_I4;  // and no array
  VARIANT unknown{};
  unknown.vt = VT_UNKNOWN;
  values.insert(values.begin() + 4, noArray);
  values.insert(values.begin() + 8, unknown);
  const std::size_t n = values.size();
  std::vector<OPCHANDLE> handles(n);
  std::vector<WORD> qualities(n);
  std::vector<FILETIME> times(n);
  std::vector<HRESULT> errors(n, S_OK);
  for (std::size_t i = 0; i < n; ++i) {
    handles[i] = OPCHANDLE(100 + i);
    qualities[i] = WORD(0xC0 + i);
    times[i] = FILETIME{DWORD(i), 0x01DA0000};
  }
  errors[8] = E_FAIL;  // a failure stays the item's own

  capnp::MallocMessageBuilder message;
  auto w = message.initRoot<wire::ItemStates>();
  opc::remote::putItemStates(w, n, handles.data(), values.data(), qualities.data(), times.data(),
                             errors.data());
  ASSERT_EQ(opc::remote::itemCount(w.asReader()), n);
  std::vector<OPCHANDLE> h(n);
  std::vector<VARIANT> v(n);
  std::vector<WORD> q(n);
  std::vector<FILETIME> t(n);
  std::vector<HRESULT> e(n);
  const opc::remote::ItemArrays out{h.data(), v.data(), q.data(), t.data(), e.data()};
  ASSERT_EQ(opc::remote::readItemStates(w.asReader(), n, out), 0);
  std::size_t k = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const OleVariant back = OleVariant::attach(v[i]);
    EXPECT_EQ(h[i], handles[i]);
    EXPECT_EQ(q[i], qualities[i]);
    EXPECT_EQ(t[i].dwLowDateTime, times[i].dwLowDateTime);
    EXPECT_EQ(t[i].dwHighDateTime, times[i].dwHighDateTime);
    if (i == 4 || i == 8) {
      EXPECT_EQ(back.vt(), VT_EMPTY);
      EXPECT_EQ(e[i], i == 4 ? DISP_E_BADVARTYPE : E_FAIL);
      continue;
    }
    EXPECT_EQ(e[i], S_OK);
    EXPECT_TRUE(back == kept[k]) << "item " << i;
    ++k;
  }

  // Nothing at all.
  capnp::MallocMessageBuilder none;
  auto empty = none.initRoot<wire::ItemStates>();
  opc::remote::putItemStates(empty, 0, nullptr, static_cast<const VARIANT*>(nullptr), nullptr,
                             nullptr, nullptr);
  EXPECT_EQ(opc::remote::itemCount(empty.asReader()), 0u);

  // A scalar with bits beyond its size, and a string whose type says
  // otherwise: those items alone arrive bad.
  std::uint64_t wide = 0x10000;
  std::memcpy(w.getScalars().begin() + 2 * 8, &wide, 8);
  const VARTYPE i4 = VT_I4;
  std::memcpy(w.getTypes().begin() + 3 * 2, &i4, 2);
  EXPECT_EQ(opc::remote::readItemStates(w.asReader(), n, out), -1)
      << "a string's element left over with no item to take it";
  for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(v[i].vt, VT_EMPTY);
  const VARTYPE bstr = VT_BSTR;
  std::memcpy(w.getTypes().begin() + 3 * 2, &bstr, 2);
  w.getOthers()[0].setVt(VT_ARRAY | VT_BSTR);
  EXPECT_EQ(opc::remote::readItemStates(w.asReader(), n, out), 2);
  EXPECT_EQ(q[2], OPC_QUALITY_BAD);
  EXPECT_EQ(e[2], opc::remote::RPC_E_INVALID_DATA);
  EXPECT_EQ(v[3].vt, VT_EMPTY);
  EXPECT_EQ(e[3], opc::remote::RPC_E_INVALID_DATA);
  for (VARIANT& each : v) VariantClear(&each);

  // Arrays of other lengths.
  w.initQualities(2 * n - 2);
  EXPECT_EQ(opc::remote::readItemStates(w.asReader(), n, out), -1);
}

}  // namespace
}  // namespace veze6::test
