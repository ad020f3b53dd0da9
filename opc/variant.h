// The VARIANT and one-dimensional SAFEARRAY functions and the OleVariant
// guard. The layouts themselves are basic types (comtypes.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "comtypes.h"
#include "opcexport.h"

/// VariantChangeType flag: convert booleans to and from the texts
/// "True"/"False" rather than "-1"/"0".
inline constexpr USHORT VARIANT_ALPHABOOL = 0x2;

VEZE6_OPC_EXPORT void VariantInit(VARIANT* pvarg);
VEZE6_OPC_EXPORT HRESULT VariantClear(VARIANT* pvarg);
VEZE6_OPC_EXPORT HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc);
/// Converts among the scalar types OPC uses (integers, reals, currency,
/// date, BSTR, boolean, error) and arrays of them element by element.
/// Texts are parsed locale-independently ('.' as decimal separator).
/// Results: DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW, DISP_E_BADVARTYPE.
VEZE6_OPC_EXPORT HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc,
                                           USHORT wFlags, VARTYPE vt);
VEZE6_OPC_EXPORT HRESULT VariantChangeTypeEx(VARIANT* pvargDest, const VARIANT* pvarSrc, LCID lcid,
                                             USHORT wFlags, VARTYPE vt);

VEZE6_OPC_EXPORT SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims,
                                            const SAFEARRAYBOUND* rgsabound);
VEZE6_OPC_EXPORT SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
VEZE6_OPC_EXPORT HRESULT SafeArrayDestroy(SAFEARRAY* psa);
VEZE6_OPC_EXPORT HRESULT SafeArrayCopy(const SAFEARRAY* psa, SAFEARRAY** ppsaOut);
VEZE6_OPC_EXPORT UINT SafeArrayGetDim(const SAFEARRAY* psa);
VEZE6_OPC_EXPORT UINT SafeArrayGetElemsize(const SAFEARRAY* psa);
VEZE6_OPC_EXPORT HRESULT SafeArrayGetVartype(const SAFEARRAY* psa, VARTYPE* pvt);
VEZE6_OPC_EXPORT HRESULT SafeArrayGetLBound(const SAFEARRAY* psa, UINT nDim, LONG* plLbound);
VEZE6_OPC_EXPORT HRESULT SafeArrayGetUBound(const SAFEARRAY* psa, UINT nDim, LONG* plUbound);
/// Copies element rgIndices (one index per dimension) into pv: a VARIANT is
/// copied with VariantCopy, a BSTR is duplicated, others are copied bytewise.
VEZE6_OPC_EXPORT HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* rgIndices, void* pv);
VEZE6_OPC_EXPORT HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* rgIndices, const void* pv);
VEZE6_OPC_EXPORT HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
VEZE6_OPC_EXPORT HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);

namespace opc {
/// True for the types whose value lives in the variant itself and owns no
/// memory (Empty, Null, numbers, currency, dates, Booleans, error codes):
/// replacing such a value needs no clearing. Inline: it runs per item of a
/// data change.
constexpr bool isPlainVariantType(VARTYPE vt) noexcept {
  constexpr unsigned kPlain = (1u << VT_EMPTY) | (1u << VT_NULL) | (1u << VT_I2) | (1u << VT_I4) |
                              (1u << VT_R4) | (1u << VT_R8) | (1u << VT_CY) | (1u << VT_DATE) |
                              (1u << VT_ERROR) | (1u << VT_BOOL) | (1u << VT_I1) | (1u << VT_UI1) |
                              (1u << VT_UI2) | (1u << VT_UI4) | (1u << VT_I8) | (1u << VT_UI8) |
                              (1u << VT_INT) | (1u << VT_UINT);
  return vt < 32 && ((kPlain >> vt) & 1u);
}

/// `to` takes a copy of `from` (VariantCopy), empty when that fails. A
/// plain value over a plain one is copied inline, without a call: it runs
/// per item where updates are queued.
inline HRESULT copyVariantValue(VARIANT& to, const VARIANT& from) {
  if (isPlainVariantType(to.vt) && isPlainVariantType(from.vt)) {
    to = from;
    return S_OK;
  }
  const HRESULT hr = VariantCopy(&to, &from);
  if (FAILED(hr)) VariantClear(&to);
  return hr;
}

/// True for the types a safe array may hold (and so follow VT_ARRAY).
VEZE6_OPC_EXPORT bool isSafeArrayElementType(VARTYPE vt);

/// The number of elements the bounds of psa describe. E_INVALIDARG when
/// they describe more than its storage holds or an upper bound beyond the
/// LONG range (a descriptor bent by whoever handed it over). Walk arrays by
/// this count, never from the lower to the upper bound of a LONG index.
VEZE6_OPC_EXPORT HRESULT safeArrayElementCount(const SAFEARRAY* psa, std::size_t* count);
}  // namespace opc

/// Owns a VARIANT and clears it on destruction.
class VEZE6_OPC_EXPORT OleVariant {
 public:
  OleVariant() noexcept { VariantInit(&v_); }
  OleVariant(const VARIANT& v);  // copies with VariantCopy
  OleVariant(const OleVariant& o) : OleVariant(o.v_) {}
  OleVariant(OleVariant&& o) noexcept : v_(o.v_) { VariantInit(&o.v_); }
  ~OleVariant() { VariantClear(&v_); }
  OleVariant& operator=(OleVariant o) noexcept {
    std::swap(v_, o.v_);
    return *this;
  }

  explicit OleVariant(bool b);
  explicit OleVariant(SHORT i);
  explicit OleVariant(LONG i);
  explicit OleVariant(LONGLONG i);
  explicit OleVariant(FLOAT f);
  explicit OleVariant(DOUBLE d);
  explicit OleVariant(std::u16string_view s);  // VT_BSTR
  explicit OleVariant(const char16_t* s) : OleVariant(std::u16string_view(s)) {}

  static OleVariant null();
  static OleVariant fromDate(DATE d);
  static OleVariant fromCurrency(CY c);
  static OleVariant fromError(SCODE s);
  /// Takes ownership of a VARIANT (the source is left VT_EMPTY).
  static OleVariant attach(VARIANT& v) noexcept;
  /// A 0-based (or lbound-based) one-dimensional array of `vt` elements,
  /// each converted from the given values; empty when one does not convert.
  static OleVariant array(VARTYPE vt, const std::vector<OleVariant>& elements, LONG lbound = 0);

  VARTYPE vt() const noexcept { return v_.vt; }
  bool isEmpty() const noexcept { return v_.vt == VT_EMPTY; }
  bool isNull() const noexcept { return v_.vt == VT_NULL; }
  bool isArray() const noexcept { return (v_.vt & VT_ARRAY) != 0; }

  const VARIANT& get() const noexcept { return v_; }
  VARIANT* ptr() noexcept { return &v_; }
  /// Clears the value and returns the address for an out-parameter.
  VARIANT* put() noexcept {
    VariantClear(&v_);
    return &v_;
  }
  /// Hands the VARIANT over to the caller, who then owns its contents.
  [[nodiscard]] VARIANT detach() noexcept {
    VARIANT r = v_;
    VariantInit(&v_);
    return r;
  }
  void clear() noexcept { VariantClear(&v_); }

  /// Converted copy; result code in *hr (when given), empty on failure.
  OleVariant changedTo(VARTYPE vt, HRESULT* hr = nullptr, USHORT flags = 0) const;

  /// True when both hold the same type and an equal value (arrays element-wise).
  friend bool operator==(const OleVariant& a, const OleVariant& b);

 private:
  VARIANT v_;
};

VEZE6_OPC_EXPORT bool operator==(const OleVariant& a, const OleVariant& b);
