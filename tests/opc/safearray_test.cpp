#include "test_utils.h"

namespace opc::test {
namespace {

using SafeArrays = LeakCheckedTest;

TEST_F(SafeArrays, ElementSizesFollowTheType) {
  const std::pair<VARTYPE, UINT> sizes[] = {
      {VT_I1, 1},
      {VT_UI1, 1},
      {VT_I2, 2},
      {VT_BOOL, 2},
      {VT_I4, 4},
      {VT_R4, 4},
      {VT_ERROR, 4},
      {VT_INT, 4},
      {VT_R8, 8},
      {VT_CY, 8},
      {VT_DATE, 8},
      {VT_I8, 8},
      {VT_VARIANT, 16},
      {VT_BSTR, sizeof(void*)},
      {VT_UNKNOWN, sizeof(void*)},
  };
  for (auto [vt, size] : sizes) {
    SAFEARRAY* psa = SafeArrayCreateVector(vt, 0, 3);
    ASSERT_NE(psa, nullptr) << vt;
    EXPECT_EQ(SafeArrayGetElemsize(psa), size) << vt;
    VARTYPE got = 0;
    EXPECT_EQ(SafeArrayGetVartype(psa, &got), S_OK);
    EXPECT_EQ(got, vt);
    SafeArrayDestroy(psa);
  }
  EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_DECIMAL, 0, 1), nullptr);
  SAFEARRAYBOUND b{1, 0};
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &b), nullptr);
}

TEST_F(SafeArrays, BoundsAreChecked) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, -2, 5);  // -2 .. 2
  LONG lb = 0, ub = 0;
  EXPECT_EQ(SafeArrayGetLBound(psa, 1, &lb), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(psa, 1, &ub), S_OK);
  EXPECT_EQ(lb, -2);
  EXPECT_EQ(ub, 2);
  EXPECT_EQ(SafeArrayGetLBound(psa, 0, &lb), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(psa, 2, &ub), DISP_E_BADINDEX);
  for (LONG i = -2; i <= 2; ++i) {
    const LONG v = i * 10;
    EXPECT_EQ(SafeArrayPutElement(psa, &i, &v), S_OK);
  }
  for (LONG bad : {-3, 3, LONG(INT32_MIN), LONG(INT32_MAX)}) {
    LONG v = 0;
    EXPECT_EQ(SafeArrayPutElement(psa, &bad, &v), DISP_E_BADINDEX) << bad;
    EXPECT_EQ(SafeArrayGetElement(psa, &bad, &v), DISP_E_BADINDEX) << bad;
  }
  LONG idx = 1, got = 0;
  EXPECT_EQ(SafeArrayGetElement(psa, &idx, &got), S_OK);
  EXPECT_EQ(got, 10);
  EXPECT_EQ(SafeArrayGetElement(nullptr, &idx, &got), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetElement(psa, nullptr, &got), E_INVALIDARG);
  SafeArrayDestroy(psa);

  SAFEARRAY* empty = SafeArrayCreateVector(VT_I4, 0, 0);
  EXPECT_EQ(SafeArrayGetUBound(empty, 1, &ub), S_OK);
  EXPECT_EQ(ub, -1);
  idx = 0;
  EXPECT_EQ(SafeArrayGetElement(empty, &idx, &got), DISP_E_BADINDEX);
  SafeArrayDestroy(empty);
}

TEST_F(SafeArrays, BoundsAtTheEndsOfTheRange) {
  struct Case {
    LONG lower;
    ULONG count;
    bool made;  // false: the upper bound would not be a LONG
  };
  constexpr LONG kMin = INT32_MIN, kMax = INT32_MAX;
  for (const Case c :
       {Case{kMin, 2, true}, Case{kMax - 1, 2, true}, Case{kMin, 0, true}, Case{kMax, 0, true},
        Case{kMax, 1, true}, Case{kMax, 2, false}, Case{kMax - 1, 3, false}}) {
    SCOPED_TRACE(testing::Message() << c.lower << " x " << c.count);
    SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, c.lower, c.count);
    ASSERT_EQ(psa != nullptr, c.made);
    if (!psa) continue;
    for (ULONG k = 0; k < c.count; ++k) {
      const LONG i = LONG(std::int64_t(c.lower) + k);
      EXPECT_EQ(SafeArrayPutElement(psa, &i, Bstr(u"x").get()), S_OK);
    }
    for (const std::int64_t outside :
         {std::int64_t(c.lower) - 1, std::int64_t(c.lower) + c.count}) {
      if (outside < kMin || outside > kMax) continue;
      const LONG i = LONG(outside);
      BSTR b = nullptr;
      EXPECT_EQ(SafeArrayGetElement(psa, &i, &b), DISP_E_BADINDEX) << outside;
    }
    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
  }
}

TEST_F(SafeArrays, BoundsBeyondTheStorageAreRefused) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 2);
  const LONG one = 1;
  ASSERT_EQ(SafeArrayPutElement(psa, &one, Bstr(u"x").get()), S_OK);
  // A descriptor bent by hand to claim more than the array holds.
  for (const SAFEARRAYBOUND bent :
       {SAFEARRAYBOUND{0x80000000u, 0}, SAFEARRAYBOUND{3, 0}, SAFEARRAYBOUND{2, INT32_MAX}}) {
    psa->rgsabound[0] = bent;
    LONG bound = 0;
    const LONG i = 1;
    BSTR b = nullptr;
    SAFEARRAY* copy = nullptr;
    EXPECT_EQ(SafeArrayGetUBound(psa, 1, &bound), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetLBound(psa, 1, &bound), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetElement(psa, &i, &b), E_INVALIDARG);
    EXPECT_EQ(SafeArrayPutElement(psa, &i, b), E_INVALIDARG);
    EXPECT_EQ(SafeArrayCopy(psa, &copy), E_INVALIDARG);
    EXPECT_EQ(copy, nullptr);
  }
  // Destroying frees what the array really holds, whatever it claims.
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST_F(SafeArrays, SeveralDimensions) {
  const SAFEARRAYBOUND bounds[] = {{2, 1}, {3, 0}};  // 1..2 by 0..2
  SAFEARRAY* psa = SafeArrayCreate(VT_I2, 2, bounds);
  ASSERT_NE(psa, nullptr);
  EXPECT_EQ(SafeArrayGetDim(psa), 2u);
  LONG ub = 0;
  EXPECT_EQ(SafeArrayGetUBound(psa, 2, &ub), S_OK);
  EXPECT_EQ(ub, 2);
  for (LONG i = 1; i <= 2; ++i) {
    for (LONG j = 0; j <= 2; ++j) {
      const LONG idx[] = {i, j};
      const SHORT v = SHORT(i * 10 + j);
      ASSERT_EQ(SafeArrayPutElement(psa, idx, &v), S_OK);
    }
  }
  // The first dimension varies fastest.
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
  const auto* raw = static_cast<const SHORT*>(data);
  EXPECT_EQ(raw[0], 10);
  EXPECT_EQ(raw[1], 20);
  EXPECT_EQ(raw[2], 11);
  EXPECT_EQ(raw[5], 22);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(psa), E_UNEXPECTED);
  const LONG outside[] = {0, 0};
  SHORT v;
  EXPECT_EQ(SafeArrayGetElement(psa, outside, &v), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST_F(SafeArrays, StringElementsAreOwnedCopies) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 2);
  Bstr hello(u"hello");
  LONG i = 0;
  ASSERT_EQ(SafeArrayPutElement(psa, &i, hello.get()), S_OK);
  ASSERT_EQ(SafeArrayPutElement(psa, &i, hello.get()), S_OK);  // replaces, frees the old copy
  Bstr out;
  ASSERT_EQ(SafeArrayGetElement(psa, &i, out.put()), S_OK);
  EXPECT_EQ(out.view(), u"hello");
  EXPECT_NE(out.get(), hello.get());
  i = 1;
  ASSERT_EQ(SafeArrayGetElement(psa, &i, out.put()), S_OK);  // never set: a null string
  EXPECT_EQ(out.get(), nullptr);
  SafeArrayDestroy(psa);  // frees the element's string
}

TEST_F(SafeArrays, DestroyClearsVariantsAndInterfaces) {
  ComPtr<ShutdownSink> sink = makeCom<ShutdownSink>();
  SAFEARRAY* unknowns = SafeArrayCreateVector(VT_UNKNOWN, 0, 2);
  LONG i = 1;
  ASSERT_EQ(SafeArrayPutElement(unknowns, &i, sink->unknown()), S_OK);
  EXPECT_EQ(sink->refCount(), 2u);

  SAFEARRAY* variants = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  OleVariant text(u"inside");
  ASSERT_EQ(SafeArrayPutElement(variants, &i, &text.get()), S_OK);
  OleVariant out(u"previous");  // a variant destination is cleared, not leaked
  ASSERT_EQ(SafeArrayGetElement(variants, &i, out.ptr()), S_OK);
  EXPECT_EQ(out, text);

  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(unknowns, &copy), S_OK);
  EXPECT_EQ(sink->refCount(), 3u);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
  EXPECT_EQ(SafeArrayDestroy(unknowns), S_OK);
  EXPECT_EQ(sink->refCount(), 1u);
  EXPECT_EQ(SafeArrayDestroy(variants), S_OK);
}

TEST_F(SafeArrays, CopyIsDeepAndKeepsTheShape) {
  const SAFEARRAYBOUND bounds[] = {{2, 5}, {2, -1}};
  SAFEARRAY* psa = SafeArrayCreate(VT_VARIANT, 2, bounds);
  const LONG idx[] = {6, 0};
  OleVariant v(u"deep");
  ASSERT_EQ(SafeArrayPutElement(psa, idx, &v.get()), S_OK);
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->pvData, psa->pvData);
  EXPECT_NE(copy->rgsabound, psa->rgsabound);
  LONG lb = 0;
  EXPECT_EQ(SafeArrayGetLBound(copy, 2, &lb), S_OK);
  EXPECT_EQ(lb, -1);
  SafeArrayDestroy(psa);  // the copy stands on its own
  OleVariant out;
  ASSERT_EQ(SafeArrayGetElement(copy, idx, out.ptr()), S_OK);
  EXPECT_EQ(out, v);
  SafeArrayDestroy(copy);

  EXPECT_EQ(SafeArrayCopy(nullptr, &copy), S_OK);
  EXPECT_EQ(copy, nullptr);
  EXPECT_EQ(SafeArrayCopy(nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST_F(SafeArrays, CountedUntilDestroyed) {
  const auto before = diag::snapshot().safeArrays;
  SAFEARRAY* psa = SafeArrayCreateVector(VT_R8, 0, 4);
  EXPECT_EQ(diag::snapshot().safeArrays, before + 1);
  {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_R8;
    v.parray = psa;
    OleVariant owner = OleVariant::attach(v);
  }
  EXPECT_EQ(diag::snapshot().safeArrays, before);
}

}  // namespace
}  // namespace opc::test
