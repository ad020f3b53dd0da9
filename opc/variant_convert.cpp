// The conversion engine: VariantChangeType between every pair of types.
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
#include "variant.h"
#include "variant_p.h"

using namespace opc::detail;

namespace {

// ---- Conversion ------------------------------------------------------------

/// A scalar source value in one of a few shapes.
struct Value {
  enum Kind { Empty, Signed, Unsigned, Real, Currency, Bool, Text, Date } kind = Empty;
  std::int64_t i = 0;  // Signed, Currency (scaled), Bool (-1/0)
  std::uint64_t u = 0;
  double d = 0;  // Real, Date
  std::u16string_view text;
};

Value signedValue(std::int64_t i) {
  Value v;
  v.kind = Value::Signed;
  v.i = i;
  return v;
}
Value unsignedValue(std::uint64_t u) {
  Value v;
  v.kind = Value::Unsigned;
  v.u = u;
  return v;
}
Value realValue(Value::Kind kind, double d) {
  Value v;
  v.kind = kind;
  v.d = d;
  return v;
}
Value scaledValue(Value::Kind kind, std::int64_t i) {
  Value v;
  v.kind = kind;
  v.i = i;
  return v;
}

HRESULT readValue(const VARIANT& v, Value& out) {
  switch (opc::scalarKind(v.vt)) {
    case opc::ScalarKind::Empty:
      out.kind = Value::Empty;
      return S_OK;
    case opc::ScalarKind::Signed:
    case opc::ScalarKind::Error:
      out = signedValue(opc::signedValue(v));
      return S_OK;
    case opc::ScalarKind::Unsigned:
      out = unsignedValue(opc::unsignedValue(v));
      return S_OK;
    case opc::ScalarKind::Real:
      out = realValue(Value::Real, *opc::numericValue(v, opc::TrueAs::MinusOne));
      return S_OK;
    case opc::ScalarKind::Date:
      out = realValue(Value::Date, v.date);
      return S_OK;
    case opc::ScalarKind::Currency:
      out = scaledValue(Value::Currency, v.cyVal.int64);
      return S_OK;
    case opc::ScalarKind::Bool:
      // A Boolean converts to a number as the platform's VARIANT_TRUE.
      out = scaledValue(Value::Bool, std::int64_t(*opc::numericValue(v, opc::TrueAs::MinusOne)));
      return S_OK;
    case opc::ScalarKind::Text:
      out.kind = Value::Text;
      out.text = v.bstrVal ? std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal)) : u"";
      return S_OK;
    case opc::ScalarKind::Null:
      return DISP_E_TYPEMISMATCH;
    case opc::ScalarKind::Other:
      break;
  }
  return v.vt == VT_UNKNOWN || v.vt == VT_DISPATCH ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
}

/// A numeric source reduced to one of: exact signed, exact unsigned, real.
HRESULT numericOf(const Value& v, ParsedNumber& n) {
  switch (v.kind) {
    case Value::Empty:
      n = {ParsedNumber::Signed, 0};
      return S_OK;
    case Value::Signed:
    case Value::Bool:
      n = {ParsedNumber::Signed, v.i};
      return S_OK;
    case Value::Unsigned:
      n = {ParsedNumber::Unsigned, 0, v.u};
      return S_OK;
    case Value::Real:
    case Value::Date:
      n = {ParsedNumber::Real, 0, 0, v.d};
      return S_OK;
    case Value::Currency:
      n = {ParsedNumber::Real, 0, 0, double(v.i) / 10000.0};
      return S_OK;
    case Value::Text: {
      const auto p = parseNumber(toAscii(v.text));
      if (!p) return DISP_E_TYPEMISMATCH;
      // Texts never spell infinity, so an infinite result is a number too large.
      if (p->kind == ParsedNumber::Real && std::isinf(p->d)) return DISP_E_OVERFLOW;
      n = *p;
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT toSigned(const Value& v, std::int64_t lo, std::int64_t hi, std::int64_t& out) {
  if (v.kind == Value::Currency) {
    out = roundCurrency(v.i);
  } else {
    ParsedNumber n;
    if (HRESULT hr = numericOf(v, n); FAILED(hr)) return hr;
    if (n.kind == ParsedNumber::Signed) {
      out = n.i;
    } else if (n.kind == ParsedNumber::Unsigned) {
      if (n.u > std::uint64_t(hi)) return DISP_E_OVERFLOW;
      out = std::int64_t(n.u);
    } else {
      const double r = roundHalfEven(n.d);
      if (!(r >= -kTwo63 && r < kTwo63)) return DISP_E_OVERFLOW;  // NaN too
      out = std::int64_t(r);
    }
  }
  return out < lo || out > hi ? DISP_E_OVERFLOW : S_OK;
}

HRESULT toUnsigned(const Value& v, std::uint64_t hi, std::uint64_t& out) {
  // A true boolean becomes all bits set of the target, as the platform has it.
  if (v.kind == Value::Bool) {
    out = v.i ? hi : 0;
    return S_OK;
  }
  if (v.kind == Value::Currency) {
    const std::int64_t w = roundCurrency(v.i);
    if (w < 0) return DISP_E_OVERFLOW;
    out = std::uint64_t(w);
  } else {
    ParsedNumber n;
    if (HRESULT hr = numericOf(v, n); FAILED(hr)) return hr;
    if (n.kind == ParsedNumber::Signed) {
      if (n.i < 0) return DISP_E_OVERFLOW;
      out = std::uint64_t(n.i);
    } else if (n.kind == ParsedNumber::Unsigned) {
      out = n.u;
    } else {
      const double r = roundHalfEven(n.d);
      if (!(r >= 0 && r < kTwo64)) return DISP_E_OVERFLOW;
      out = std::uint64_t(r);
    }
  }
  return out > hi ? DISP_E_OVERFLOW : S_OK;
}

HRESULT toReal(const Value& v, double& out) {
  ParsedNumber n;
  if (HRESULT hr = numericOf(v, n); FAILED(hr)) return hr;
  switch (n.kind) {
    case ParsedNumber::Signed:
      out = double(n.i);
      break;
    case ParsedNumber::Unsigned:
      out = double(n.u);
      break;
    case ParsedNumber::Real:
      out = n.d;
      break;
  }
  return S_OK;
}

HRESULT toCurrency(const Value& v, std::int64_t& out) {
  constexpr std::int64_t kMaxWhole = std::numeric_limits<std::int64_t>::max() / 10000;
  if (v.kind == Value::Currency) {
    out = v.i;
    return S_OK;
  }
  if (v.kind == Value::Text) {
    bool overflow = false;
    if (auto exact = parseCurrencyExact(toAscii(v.text), &overflow)) {
      out = *exact;
      return S_OK;
    }
    if (overflow) return DISP_E_OVERFLOW;
  }
  ParsedNumber n;
  if (HRESULT hr = numericOf(v, n); FAILED(hr)) return hr;
  if (n.kind == ParsedNumber::Signed) {
    if (n.i > kMaxWhole || n.i < -kMaxWhole) return DISP_E_OVERFLOW;
    out = n.i * 10000;
  } else if (n.kind == ParsedNumber::Unsigned) {
    if (n.u > std::uint64_t(kMaxWhole)) return DISP_E_OVERFLOW;
    out = std::int64_t(n.u) * 10000;
  } else {
    const double r = roundHalfEven(n.d * 10000.0);
    if (!(r >= -kTwo63 && r < kTwo63)) return DISP_E_OVERFLOW;
    out = std::int64_t(r);
  }
  return S_OK;
}

HRESULT toBool(const Value& v, bool& out) {
  if (v.kind == Value::Text) {
    const std::string t(trim(toAscii(v.text)));
    if (equalsNoCase(t, "true")) {
      out = true;
      return S_OK;
    }
    if (equalsNoCase(t, "false")) {
      out = false;
      return S_OK;
    }
  }
  if (v.kind == Value::Currency) {
    out = v.i != 0;
    return S_OK;
  }
  ParsedNumber n;
  if (HRESULT hr = numericOf(v, n); FAILED(hr)) return hr;
  out = n.kind == ParsedNumber::Signed     ? n.i != 0
        : n.kind == ParsedNumber::Unsigned ? n.u != 0
                                           : n.d != 0;
  return S_OK;
}

HRESULT toDate(const Value& v, double& out) {
  if (v.kind == Value::Text) {
    const auto d = parseDate(toAscii(v.text));
    if (!d) return DISP_E_TYPEMISMATCH;
    if (!dateInRange(*d)) return DISP_E_OVERFLOW;  // rounded past 9999-12-31
    out = *d;
    return S_OK;
  }
  if (HRESULT hr = toReal(v, out); FAILED(hr)) return hr;
  return std::isfinite(out) && dateInRange(out) ? S_OK : DISP_E_OVERFLOW;
}

HRESULT toText(const Value& v, USHORT flags, std::u16string& out) {
  switch (v.kind) {
    case Value::Empty:
      out.clear();
      return S_OK;
    case Value::Signed:
      out = integerText(v.i);
      return S_OK;
    case Value::Unsigned:
      out = integerText(v.u);
      return S_OK;
    case Value::Real:
      out = realText(v.d);
      return S_OK;
    case Value::Currency:
      out = currencyText(v.i);
      return S_OK;
    case Value::Bool:
      out = (flags & VARIANT_ALPHABOOL) ? (v.i ? u"True" : u"False") : (v.i ? u"-1" : u"0");
      return S_OK;
    case Value::Text:
      out = v.text;
      return S_OK;
    case Value::Date: {
      auto t = dateText(v.d);
      if (!t) return DISP_E_OVERFLOW;
      out = std::move(*t);
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

/// Converts a scalar into a fresh VARIANT `out` (VT_EMPTY on entry).
HRESULT convertScalar(const VARIANT& src, VARTYPE vt, USHORT flags, VARIANT& out) {
  if (vt == VT_EMPTY) return S_OK;
  if (src.vt == VT_NULL) {
    if (vt != VT_NULL) return DISP_E_TYPEMISMATCH;
    out.vt = VT_NULL;
    return S_OK;
  }
  if (vt == VT_NULL) {
    if (src.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
    out.vt = VT_NULL;
    return S_OK;
  }
  Value v;
  // Float single values keep their own shortest text.
  if (src.vt == VT_R4 && vt == VT_BSTR) {
    BSTR b = SysAllocString(realText(src.fltVal).c_str());
    if (!b) return E_OUTOFMEMORY;
    out.vt = VT_BSTR;
    out.bstrVal = b;
    return S_OK;
  }
  if (HRESULT hr = readValue(src, v); FAILED(hr)) return hr;

  HRESULT hr = S_OK;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double d = 0;
  switch (vt) {
    case VT_I1:
      if (SUCCEEDED(hr = toSigned(v, INT8_MIN, INT8_MAX, i))) out.cVal = static_cast<CHAR>(i);
      break;
    case VT_I2:
      if (SUCCEEDED(hr = toSigned(v, INT16_MIN, INT16_MAX, i))) out.iVal = static_cast<SHORT>(i);
      break;
    case VT_I4:
      if (SUCCEEDED(hr = toSigned(v, INT32_MIN, INT32_MAX, i))) out.lVal = static_cast<LONG>(i);
      break;
    case VT_INT:
      if (SUCCEEDED(hr = toSigned(v, INT32_MIN, INT32_MAX, i))) out.intVal = static_cast<INT>(i);
      break;
    case VT_ERROR:
      if (SUCCEEDED(hr = toSigned(v, INT32_MIN, INT32_MAX, i))) out.scode = static_cast<SCODE>(i);
      break;
    case VT_I8:
      if (SUCCEEDED(hr = toSigned(v, INT64_MIN, INT64_MAX, i))) out.llVal = i;
      break;
    case VT_UI1:
      if (SUCCEEDED(hr = toUnsigned(v, UINT8_MAX, u))) out.bVal = static_cast<BYTE>(u);
      break;
    case VT_UI2:
      if (SUCCEEDED(hr = toUnsigned(v, UINT16_MAX, u))) out.uiVal = static_cast<USHORT>(u);
      break;
    case VT_UI4:
      if (SUCCEEDED(hr = toUnsigned(v, UINT32_MAX, u))) out.ulVal = static_cast<ULONG>(u);
      break;
    case VT_UINT:
      if (SUCCEEDED(hr = toUnsigned(v, UINT32_MAX, u))) out.uintVal = static_cast<UINT>(u);
      break;
    case VT_UI8:
      if (SUCCEEDED(hr = toUnsigned(v, UINT64_MAX, u))) out.ullVal = u;
      break;
    case VT_R4:
      // Read straight as a float: going through a double could round twice.
      if (v.kind == Value::Text) {
        hr = parseFloatText(toAscii(v.text), out.fltVal);
        break;
      }
      if (SUCCEEDED(hr = toReal(v, d))) {
        const float f = static_cast<float>(d);
        if (std::isinf(f) && std::isfinite(d)) {
          hr = DISP_E_OVERFLOW;
        } else {
          out.fltVal = f;
        }
      }
      break;
    case VT_R8:
      if (SUCCEEDED(hr = toReal(v, d))) out.dblVal = d;
      break;
    case VT_CY:
      if (SUCCEEDED(hr = toCurrency(v, i))) out.cyVal.int64 = i;
      break;
    case VT_DATE:
      if (SUCCEEDED(hr = toDate(v, d))) out.date = d;
      break;
    case VT_BOOL: {
      bool b = false;
      if (SUCCEEDED(hr = toBool(v, b))) out.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    }
    case VT_BSTR: {
      std::u16string text;
      if (SUCCEEDED(hr = toText(v, flags, text))) {
        out.bstrVal = SysAllocStringLen(text.data(), UINT(text.size()));
        if (!out.bstrVal) hr = E_OUTOFMEMORY;
      }
      break;
    }
    default:
      return DISP_E_BADVARTYPE;
  }
  if (SUCCEEDED(hr)) {
    out.vt = vt;
    hr = S_OK;
  }
  return hr;
}

HRESULT convert(const VARIANT& src, VARTYPE vt, USHORT flags, VARIANT& out);

HRESULT convertArray(const SAFEARRAY* psa, VARTYPE elemVt, USHORT flags, VARIANT& out) {
  if (!psa) {
    out.vt = VT_ARRAY | elemVt;
    out.parray = nullptr;
    return S_OK;
  }
  std::size_t count = 0;
  if (HRESULT hr = opc::safeArrayElementCount(psa, &count); FAILED(hr)) return hr;
  SAFEARRAY* result = SafeArrayCreate(elemVt, psa->cDims, psa->rgsabound);
  if (!result) return E_OUTOFMEMORY;
  for (std::size_t k = 0; k < count; ++k) {
    const void* from = static_cast<const char*>(psa->pvData) + k * psa->cbElements;
    void* to = static_cast<char*>(result->pvData) + k * result->cbElements;
    const VARIANT view = psa->vt == VT_VARIANT ? *static_cast<const VARIANT*>(from)
                                               : elementView(psa->vt, from, psa->cbElements);
    VARIANT converted;
    VariantInit(&converted);
    HRESULT hr;
    if (elemVt == VT_VARIANT) {
      hr = VariantCopy(&converted, &view);
    } else {
      hr = convert(view, elemVt, flags, converted);
    }
    if (FAILED(hr)) {
      SafeArrayDestroy(result);
      return hr;
    }
    // The element takes over what the converted value owns.
    if (elemVt == VT_VARIANT) {
      std::memcpy(to, &converted, sizeof converted);
    } else {
      std::memcpy(to, &converted.llVal, result->cbElements);
    }
  }
  out.vt = VT_ARRAY | elemVt;
  out.parray = result;
  return S_OK;
}

HRESULT convert(const VARIANT& src, VARTYPE vt, USHORT flags, VARIANT& out) {
  if (src.vt & VT_BYREF) {
    if (!src.byref) return E_INVALIDARG;
    const VARTYPE base = src.vt & VT_TYPEMASK;
    if ((src.vt & VT_ARRAY) || !isElementType(base)) return DISP_E_BADVARTYPE;
    if (base == VT_VARIANT) return convert(*static_cast<const VARIANT*>(src.byref), vt, flags, out);
    return convert(elementView(base, src.byref, opc::valueSize(base)), vt, flags, out);
  }
  if (vt & VT_BYREF) return DISP_E_BADVARTYPE;
  if (vt & VT_ARRAY) {
    const VARTYPE elemVt = vt & VT_TYPEMASK;
    if ((vt & ~(VT_ARRAY | VT_TYPEMASK)) || !isElementType(elemVt) || elemVt == VT_UNKNOWN ||
        elemVt == VT_DISPATCH) {
      return DISP_E_BADVARTYPE;
    }
    // Nothing, an empty value included, becomes an array: a success would hand
    // the caller no array to read.
    if (!(src.vt & VT_ARRAY)) return DISP_E_TYPEMISMATCH;
    if (!isElementType(src.vt & VT_TYPEMASK)) return DISP_E_BADVARTYPE;
    return convertArray(src.parray, elemVt, flags, out);
  }
  if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
    // Only an interface becomes an interface; a dispatch object is also an IUnknown.
    if (src.vt != VT_UNKNOWN && src.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
    if (vt == VT_DISPATCH) return DISP_E_TYPEMISMATCH;  // no dispatch interface to ask for
    out.vt = VT_UNKNOWN;
    out.punkVal = src.punkVal;
    if (out.punkVal) out.punkVal->AddRef();
    return S_OK;
  }
  if (!isConvertibleType(vt)) return DISP_E_BADVARTYPE;
  if (src.vt & VT_ARRAY) {
    if (!isValidVariantType(src.vt)) return DISP_E_BADVARTYPE;
    return vt == VT_EMPTY ? S_OK : DISP_E_TYPEMISMATCH;
  }
  return convertScalar(src, vt, flags, out);
}

}  // namespace

HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT wFlags, VARTYPE vt) {
  if (!pvargDest || !pvarSrc) return E_INVALIDARG;
  if (!isValidVariantType(pvarSrc->vt)) return DISP_E_BADVARTYPE;
  if (pvarSrc->vt == vt) return VariantCopy(pvargDest, pvarSrc);
  // The result is built aside, so converting in place (dest == src) reads an
  // intact source, and a failure leaves the destination as it was.
  VARIANT result;
  VariantInit(&result);
  const HRESULT hr = convert(*pvarSrc, vt, wFlags, result);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  if (HRESULT cleared = VariantClear(pvargDest); FAILED(cleared)) {
    VariantClear(&result);
    return cleared;
  }
  *pvargDest = result;
  return S_OK;
}

HRESULT VariantChangeTypeEx(VARIANT* pvargDest, const VARIANT* pvarSrc, LCID /*lcid*/,
                            USHORT wFlags, VARTYPE vt) {
  // Texts are always read and written locale-independently.
  return VariantChangeType(pvargDest, pvarSrc, wFlags, vt);
}
