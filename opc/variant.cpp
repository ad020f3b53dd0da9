// The VARIANT lifecycle (init, clear, copy), OleVariant and value equality.
#include "variant.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "scalar.h"
#include "taskmem.h"
#include "unknown.h"
#include "variant_p.h"

using opc::detail::elementView;
using opc::detail::isValidVariantType;

void VariantInit(VARIANT* pvarg) {
  if (!pvarg) return;
  std::memset(pvarg, 0, sizeof *pvarg);
  pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  if (!isValidVariantType(pvarg->vt)) return DISP_E_BADVARTYPE;
  if (pvarg->vt & VT_ARRAY) {
    if (HRESULT hr = SafeArrayDestroy(pvarg->parray); FAILED(hr)) return hr;
  } else if (pvarg->vt == VT_BSTR) {
    SysFreeString(pvarg->bstrVal);
  } else if (pvarg->vt == VT_UNKNOWN || pvarg->vt == VT_DISPATCH) {
    if (pvarg->punkVal) pvarg->punkVal->Release();
  }
  VariantInit(pvarg);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc) {
  if (!pvargDest || !pvargSrc) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  if (!isValidVariantType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  // Copied before the destination is cleared: the source may live inside it.
  VARIANT copy = *pvargSrc;
  HRESULT hr = S_OK;
  if (copy.vt & VT_ARRAY) {
    hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
  } else if (copy.vt == VT_BSTR) {
    if (pvargSrc->bstrVal) {
      copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
      if (!copy.bstrVal) hr = E_OUTOFMEMORY;
    }
  } else if (copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) {
    if (copy.punkVal) copy.punkVal->AddRef();
  }
  if (FAILED(hr)) VariantInit(&copy);
  if (HRESULT cleared = VariantClear(pvargDest); FAILED(cleared)) {
    VariantClear(&copy);
    return cleared;
  }
  *pvargDest = copy;
  return hr;
}

// ---- OleVariant ---------------------------------------------------------------

OleVariant::OleVariant(const VARIANT& v) {
  VariantInit(&v_);
  VariantCopy(&v_, &v);
}

OleVariant::OleVariant(bool b) : OleVariant() {
  v_.vt = VT_BOOL;
  v_.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
}

OleVariant::OleVariant(SHORT i) : OleVariant() {
  v_.vt = VT_I2;
  v_.iVal = i;
}

OleVariant::OleVariant(LONG i) : OleVariant() {
  v_.vt = VT_I4;
  v_.lVal = i;
}

OleVariant::OleVariant(LONGLONG i) : OleVariant() {
  v_.vt = VT_I8;
  v_.llVal = i;
}

OleVariant::OleVariant(FLOAT f) : OleVariant() {
  v_.vt = VT_R4;
  v_.fltVal = f;
}

OleVariant::OleVariant(DOUBLE d) : OleVariant() {
  v_.vt = VT_R8;
  v_.dblVal = d;
}

OleVariant::OleVariant(std::u16string_view s) : OleVariant() {
  v_.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  if (v_.bstrVal) v_.vt = VT_BSTR;
}

OleVariant OleVariant::null() {
  OleVariant r;
  r.v_.vt = VT_NULL;
  return r;
}

OleVariant OleVariant::fromDate(DATE d) {
  OleVariant r;
  r.v_.vt = VT_DATE;
  r.v_.date = d;
  return r;
}

OleVariant OleVariant::fromCurrency(CY c) {
  OleVariant r;
  r.v_.vt = VT_CY;
  r.v_.cyVal = c;
  return r;
}

OleVariant OleVariant::fromError(SCODE s) {
  OleVariant r;
  r.v_.vt = VT_ERROR;
  r.v_.scode = s;
  return r;
}

OleVariant OleVariant::attach(VARIANT& v) noexcept {
  OleVariant r;
  r.v_ = v;
  VariantInit(&v);
  return r;
}

OleVariant OleVariant::array(VARTYPE vt, const std::vector<OleVariant>& elements, LONG lbound) {
  SAFEARRAY* psa = SafeArrayCreateVector(vt, lbound, ULONG(elements.size()));
  if (!psa) return OleVariant();
  OleVariant r;
  r.v_.vt = VT_ARRAY | vt;
  r.v_.parray = psa;  // owned by r from here on
  for (std::size_t k = 0; k < elements.size(); ++k) {
    void* slot = static_cast<char*>(psa->pvData) + k * psa->cbElements;
    if (vt == VT_VARIANT) {
      if (FAILED(VariantCopy(static_cast<VARIANT*>(slot), &elements[k].v_))) return OleVariant();
      continue;
    }
    OleVariant converted = elements[k].changedTo(vt);
    if (converted.vt() != vt) return OleVariant();
    VARIANT owned = converted.detach();
    std::memcpy(slot, &owned.llVal, psa->cbElements);
  }
  return r;
}

OleVariant OleVariant::changedTo(VARTYPE vt, HRESULT* hr, USHORT flags) const {
  OleVariant r;
  const HRESULT result = VariantChangeType(&r.v_, &v_, flags, vt);
  if (hr) *hr = result;
  if (FAILED(result)) r.clear();
  return r;
}

namespace {

bool sameValue(const VARIANT& a, const VARIANT& b);

bool sameArray(const SAFEARRAY* a, const SAFEARRAY* b) {
  if (!a || !b) return a == b;
  if (a->vt != b->vt || a->cDims != b->cDims) return false;
  std::size_t count = 0;
  if (FAILED(opc::safeArrayElementCount(a, &count)) ||
      FAILED(opc::safeArrayElementCount(b, &count)))
    return false;
  for (USHORT d = 0; d < a->cDims; ++d) {
    if (a->rgsabound[d].cElements != b->rgsabound[d].cElements ||
        a->rgsabound[d].lLbound != b->rgsabound[d].lLbound) {
      return false;
    }
  }
  for (std::size_t k = 0; k < count; ++k) {
    const void* pa = static_cast<const char*>(a->pvData) + k * a->cbElements;
    const void* pb = static_cast<const char*>(b->pvData) + k * b->cbElements;
    const bool equal = a->vt == VT_VARIANT ? sameValue(*static_cast<const VARIANT*>(pa),
                                                       *static_cast<const VARIANT*>(pb))
                                           : sameValue(elementView(a->vt, pa, a->cbElements),
                                                       elementView(b->vt, pb, b->cbElements));
    if (!equal) return false;
  }
  return true;
}

bool sameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  if (a.vt & VT_ARRAY) return sameArray(a.parray, b.parray);
  if (a.vt & VT_BYREF) return a.byref == b.byref;
  switch (a.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I1:
    case VT_UI1:
      return a.bVal == b.bVal;
    case VT_I2:
    case VT_UI2:
      return a.uiVal == b.uiVal;
    case VT_BOOL:
      return (a.boolVal != 0) == (b.boolVal != 0);
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      return a.ulVal == b.ulVal;
    case VT_R4:
      return a.fltVal == b.fltVal;
    case VT_R8:
      return a.dblVal == b.dblVal;
    case VT_DATE:
      return a.date == b.date;
    case VT_I8:
    case VT_UI8:
    case VT_CY:
      return a.ullVal == b.ullVal;
    case VT_BSTR: {
      const auto view = [](BSTR s) {
        return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view();
      };
      return view(a.bstrVal) == view(b.bstrVal);
    }
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return a.punkVal == b.punkVal;
    default:
      return false;
  }
}

}  // namespace

bool operator==(const OleVariant& a, const OleVariant& b) { return sameValue(a.v_, b.v_); }
