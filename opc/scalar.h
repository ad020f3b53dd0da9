// One table of what a scalar VARIANT type holds, and the views of its value
// that the conversions, the simulator and the control binding share.
// Inline: scans and deliveries ask it of every item.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "comtypes.h"

namespace opc {

/// What a scalar VARIANT type holds.
enum class ScalarKind {
  Other,     ///< no scalar value: arrays, references, interfaces, unknown types
  Empty,     ///< VT_EMPTY
  Null,      ///< VT_NULL
  Signed,    ///< VT_I1, VT_I2, VT_I4, VT_INT, VT_I8
  Unsigned,  ///< VT_UI1, VT_UI2, VT_UI4, VT_UINT, VT_UI8
  Real,      ///< VT_R4, VT_R8
  Currency,  ///< VT_CY: a 64-bit count of ten-thousandths
  Date,      ///< VT_DATE: days since 1899-12-30
  Bool,      ///< VT_BOOL
  Error,     ///< VT_ERROR: a result code
  Text,      ///< VT_BSTR
};

constexpr ScalarKind scalarKind(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
      return ScalarKind::Empty;
    case VT_NULL:
      return ScalarKind::Null;
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_INT:
    case VT_I8:
      return ScalarKind::Signed;
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UINT:
    case VT_UI8:
      return ScalarKind::Unsigned;
    case VT_R4:
    case VT_R8:
      return ScalarKind::Real;
    case VT_CY:
      return ScalarKind::Currency;
    case VT_DATE:
      return ScalarKind::Date;
    case VT_BOOL:
      return ScalarKind::Bool;
    case VT_ERROR:
      return ScalarKind::Error;
    case VT_BSTR:
      return ScalarKind::Text;
    default:
      return ScalarKind::Other;
  }
}

/// Integers, reals and currency: the types a quantity with an engineering
/// range has. Booleans and dates are not among them.
constexpr bool isNumeric(VARTYPE vt) {
  const ScalarKind k = scalarKind(vt);
  return k == ScalarKind::Signed || k == ScalarKind::Unsigned || k == ScalarKind::Real ||
         k == ScalarKind::Currency;
}

/// Bytes a value of the scalar type vt takes in memory (a safe array
/// element); 0 for a type that cannot be an element.
constexpr std::size_t valueSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(void*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

/// The integer of a Signed value (or the code of an Error value).
inline std::int64_t signedValue(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1:
      return static_cast<std::int8_t>(v.cVal);
    case VT_I2:
      return v.iVal;
    case VT_I4:
      return v.lVal;
    case VT_INT:
      return v.intVal;
    case VT_I8:
      return v.llVal;
    case VT_ERROR:
      return v.scode;
    default:
      return 0;
  }
}

/// The integer of an Unsigned value.
inline std::uint64_t unsignedValue(const VARIANT& v) {
  switch (v.vt) {
    case VT_UI1:
      return v.bVal;
    case VT_UI2:
      return v.uiVal;
    case VT_UI4:
      return v.ulVal;
    case VT_UINT:
      return v.uintVal;
    case VT_UI8:
      return v.ullVal;
    default:
      return 0;
  }
}

/// What number true stands for: the platform's own VARIANT_TRUE is -1 (as a
/// conversion to a number gives it); a quantity, a control's ordinal or a
/// simulated signal counts true as 1.
enum class TrueAs { MinusOne, One };

/// The number a numeric, Boolean or date value holds (currency in units);
/// nothing for the other kinds.
inline std::optional<double> numericValue(const VARIANT& v, TrueAs trueAs) {
  switch (scalarKind(v.vt)) {
    case ScalarKind::Signed:
      return double(signedValue(v));
    case ScalarKind::Unsigned:
      return double(unsignedValue(v));
    case ScalarKind::Real:
      return v.vt == VT_R4 ? double(v.fltVal) : v.dblVal;
    case ScalarKind::Currency:
      return double(v.cyVal.int64) / 10000.0;
    case ScalarKind::Date:
      return v.date;
    case ScalarKind::Bool:
      return v.boolVal ? (trueAs == TrueAs::One ? 1.0 : -1.0) : 0.0;
    default:
      return std::nullopt;
  }
}

}  // namespace opc
