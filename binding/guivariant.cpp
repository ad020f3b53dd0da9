#include <cmath>
#include <limits>

#include "core/exceptions.h"
#include "core/qopcconversions.h"
#include "guivariant_p.h"
#include "opc/scalar.h"

namespace veze6::gui {

QString varTypeName(VARTYPE vt) {
  if (vt & VT_ARRAY) return QStringLiteral("Array of %1").arg(varTypeName(vt & VT_TYPEMASK));
  switch (vt) {
    case VT_EMPTY:
      return QStringLiteral("Empty");
    case VT_NULL:
      return QStringLiteral("Null");
    case VT_I1:
      return QStringLiteral("ShortInt");
    case VT_UI1:
      return QStringLiteral("Byte");
    case VT_I2:
      return QStringLiteral("SmallInt");
    case VT_UI2:
      return QStringLiteral("Word");
    case VT_I4:
    case VT_INT:
      return QStringLiteral("Integer");
    case VT_UI4:
    case VT_UINT:
      return QStringLiteral("LongWord");
    case VT_I8:
      return QStringLiteral("Int64");
    case VT_UI8:
      return QStringLiteral("UInt64");
    case VT_R4:
      return QStringLiteral("Single");
    case VT_R8:
      return QStringLiteral("Double");
    case VT_CY:
      return QStringLiteral("Currency");
    case VT_DATE:
      return QStringLiteral("Date");
    case VT_BSTR:
      return QStringLiteral("String");
    case VT_BOOL:
      return QStringLiteral("Boolean");
    case VT_ERROR:
      return QStringLiteral("Error");
    case VT_VARIANT:
      return QStringLiteral("Variant");
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return QStringLiteral("Unknown");
    default:
      return QStringLiteral("Type %1").arg(vt);
  }
}

void raiseCannotConvert(VARTYPE from, const QString& to) {
  throw EConvertError(QStringLiteral("Could not convert variant of type (%1) into type (%2)")
                          .arg(varTypeName(from), to));
}

double varToReal(const OleVariant& v) {
  if (v.vt() == VT_BOOL) return v.get().boolVal ? 1.0 : 0.0;
  HRESULT hr = S_OK;
  const OleVariant r = v.changedTo(VT_R8, &hr);
  if (FAILED(hr) || r.vt() != VT_R8) raiseCannotConvert(v.vt(), QStringLiteral("Double"));
  return r.get().dblVal;
}

QString varToText(const OleVariant& v) { return VarToStr(v); }

std::vector<OleVariant> arrayElements(const OleVariant& v) {
  std::vector<OleVariant> out;
  if (!v.isArray()) return out;
  const VARIANT& raw = v.get();
  SAFEARRAY* psa = raw.parray;
  if (raw.vt & VT_BYREF) psa = raw.byref ? *static_cast<SAFEARRAY* const*>(raw.byref) : nullptr;
  if (!psa) return out;
  if (SafeArrayGetDim(psa) != 1) raiseCannotConvert(v.vt(), QStringLiteral("String"));
  LONG lo = 0;
  std::size_t count = 0;
  HRESULT bounds = SafeArrayGetLBound(psa, 1, &lo);
  if (SUCCEEDED(bounds)) bounds = opc::safeArrayElementCount(psa, &count);
  if (FAILED(bounds)) OleError(bounds);
  const VARTYPE elementType = v.vt() & VT_TYPEMASK;
  // By count: a LONG index running to the upper bound could overflow.
  for (std::size_t k = 0; k < count; ++k) {
    LONG index = LONG(std::int64_t(lo) + std::int64_t(k));
    VARIANT element;
    VariantInit(&element);
    HRESULT hr;
    if (elementType == VT_VARIANT) {
      hr = SafeArrayGetElement(psa, &index, &element);
    } else {
      // Every member of the value union starts at the same address, so the
      // element's bytes (or its duplicated BSTR) land in the right member.
      hr = SafeArrayGetElement(psa, &index, &element.llVal);
      if (SUCCEEDED(hr)) element.vt = elementType;
    }
    if (FAILED(hr)) OleError(hr);
    out.push_back(OleVariant::attach(element));
  }
  return out;
}

Ordinal varToOrdinal(const OleVariant& v) {
  const VARIANT& r = v.get();
  Ordinal o;
  switch (opc::scalarKind(r.vt)) {
    case opc::ScalarKind::Signed:
      o.i = opc::signedValue(r);
      return o;
    case opc::ScalarKind::Unsigned:
      o.kind = Ordinal::Unsigned;
      o.u = opc::unsignedValue(r);
      return o;
    case opc::ScalarKind::Bool:
      // A check box or an index counts true as 1, not as VARIANT_TRUE.
      o.i = std::int64_t(*opc::numericValue(r, opc::TrueAs::One));
      return o;
    default:
      o.kind = Ordinal::Real;
      o.d = varToReal(v);
      return o;
  }
}

namespace {

// A real truncated toward zero, saturated to the 64-bit range (a double
// beyond it has no integer to truncate to).
std::int64_t truncSigned(double d) {
  if (std::isnan(d)) throw EConvertError(QStringLiteral("Invalid floating point operation"));
  const double t = std::trunc(d);
  if (t <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  if (t >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(t);
}

}  // namespace

std::int64_t clampOrdinal(const Ordinal& o, std::int64_t lo, std::int64_t hi) {
  std::int64_t value = 0;
  switch (o.kind) {
    case Ordinal::Signed:
      value = o.i;
      break;
    case Ordinal::Unsigned:
      if (o.u > std::uint64_t(std::numeric_limits<std::int64_t>::max())) return hi;
      value = std::int64_t(o.u);
      break;
    case Ordinal::Real:
      value = truncSigned(o.d);
      break;
  }
  return value < lo ? lo : value > hi ? hi : value;
}

std::uint64_t clampOrdinalUnsigned(const Ordinal& o, std::uint64_t hi) {
  std::uint64_t value = 0;
  switch (o.kind) {
    case Ordinal::Signed:
      if (o.i < 0) return 0;
      value = std::uint64_t(o.i);
      break;
    case Ordinal::Unsigned:
      value = o.u;
      break;
    case Ordinal::Real: {
      if (std::isnan(o.d)) throw EConvertError(QStringLiteral("Invalid floating point operation"));
      const double t = std::trunc(o.d);
      if (t <= 0) return 0;
      if (t >= 18446744073709551616.0) return hi;
      value = static_cast<std::uint64_t>(t);
      break;
    }
  }
  return value > hi ? hi : value;
}

}  // namespace veze6::gui
