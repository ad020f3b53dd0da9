#include "varianttext_entry.h"

#include <cmath>
#include <map>

#include "opc/diag.h"
#include "opc/taskmem.h"
#include "opc/variant.h"

namespace veze6fuzz {

namespace {

constexpr VARTYPE kTargets[] = {VT_EMPTY, VT_NULL, VT_I1,   VT_I2,    VT_I4,  VT_INT, VT_I8,
                                VT_UI1,   VT_UI2,  VT_UI4,  VT_UINT,  VT_UI8, VT_R4,  VT_R8,
                                VT_CY,    VT_DATE, VT_BOOL, VT_ERROR, VT_BSTR};

std::string typeName(VARTYPE vt) { return "type " + std::to_string(vt); }

std::string text(const OleVariant& v) {
  return v.vt() == VT_BSTR ? opc::utf16ToUtf8(v.get().bstrVal ? v.get().bstrVal : u"") : "?";
}

// A value read from text writes back as text, and that text reads back as
// the same value. Dates keep milliseconds in their text, so for them the
// second text must equal the first.
std::string checkRoundTrip(const OleVariant& value, USHORT flags) {
  const VARTYPE vt = value.vt();
  HRESULT hr = E_FAIL;
  const OleVariant written = value.changedTo(VT_BSTR, &hr, flags);
  if (hr != S_OK) return typeName(vt) + " does not write as text";
  const OleVariant reread = written.changedTo(vt, &hr, flags);
  if (hr != S_OK) return typeName(vt) + ": its text '" + text(written) + "' does not read back";
  if (vt == VT_DATE) {
    const OleVariant again = reread.changedTo(VT_BSTR, &hr, flags);
    if (hr != S_OK || !(again == written))
      return "date text '" + text(written) + "' reads back as '" + text(again) + "'";
  } else if (!(reread == value)) {
    return typeName(vt) + ": its text '" + text(written) + "' reads back as another value";
  }
  return {};
}

std::string check(const std::u16string& input) {
  const OleVariant source(input);
  std::map<VARTYPE, HRESULT> result;
  std::map<VARTYPE, OleVariant> value;
  for (const VARTYPE vt : kTargets) {
    HRESULT hr = E_FAIL;
    value[vt] = source.changedTo(vt, &hr);
    result[vt] = hr;
    if (hr != S_OK && hr != DISP_E_OVERFLOW && hr != DISP_E_TYPEMISMATCH)
      return typeName(vt) + ": unexpected result " + std::to_string(hr);
    if (hr == S_OK && value[vt].vt() != vt) return typeName(vt) + ": value of another type";
    if (hr != S_OK && !value[vt].isEmpty()) return typeName(vt) + ": failure left a value";
    if (hr == S_OK && vt != VT_EMPTY && vt != VT_NULL && vt != VT_ERROR && vt != VT_BSTR) {
      if (std::string failure = checkRoundTrip(value[vt], 0); !failure.empty()) return failure;
    }
  }
  HRESULT hr = E_FAIL;
  if (const OleVariant b = source.changedTo(VT_BOOL, &hr, VARIANT_ALPHABOOL); hr == S_OK) {
    if (std::string failure = checkRoundTrip(b, VARIANT_ALPHABOOL); !failure.empty())
      return "with named booleans, " + failure;
  }

  // One number reading serves every numeric type: huge is huge for all of
  // them, and what reads as near zero is zero for integers and currency.
  if (result[VT_R8] != S_OK) {
    for (const VARTYPE vt : {VT_I4, VT_I8, VT_UI8, VT_CY}) {
      if (result[vt] != result[VT_R8]) return typeName(vt) + " disagrees with the double reading";
    }
    return {};
  }
  const double d = value[VT_R8].get().dblVal;
  if (!std::isfinite(d)) return "a text read as a double that is not finite";
  if (std::fabs(d) < 0.5 && value[VT_I4].get().lVal != 0) return "near zero is not 0 as integer";
  if (std::fabs(d) < 0.00005 && value[VT_CY].get().cyVal.int64 != 0)
    return "near zero is not 0 as currency";
  if (std::fabs(d) < 9e14 && result[VT_CY] != S_OK) return "a currency amount did not convert";
  if (std::fabs(d) > 1e15 && result[VT_CY] != DISP_E_OVERFLOW)
    return "a huge amount did not overflow currency";
  return {};
}

}  // namespace

std::string RunVariantText(const std::uint8_t* data, std::size_t size) {
  std::u16string input;
  input.reserve(size);
  for (std::size_t i = 0; i < size; ++i) input.push_back(data[i]);
  const opc::diag::Counters before = opc::diag::snapshot();
  std::string failure = check(input);
  if (failure.empty() && opc::diag::snapshot() != before) failure = "strings left allocated";
  return failure;
}

}  // namespace veze6fuzz
