#include "uavalue.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "opc/scalar.h"
#include "opc/taskmem.h"

namespace veze6::uab {

namespace {

constexpr VARTYPE kByteArray = VT_ARRAY | VT_UI1;

std::string guidText(const ua::Guid& g) {
  ua::NodeId id;
  id.kind = ua::NodeId::Kind::Guid;
  id.guid = g;
  return id.toString().substr(2);  // drop "g="
}

OleVariant bstr(const std::string& utf8) { return OleVariant(opc::utf8ToUtf16(utf8)); }

template <class T>
OleVariant plain(VARTYPE vt, T value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  std::memcpy(&v.llVal, &value, sizeof value);
  return OleVariant::attach(v);
}

OleVariant byteArray(const std::string& bytes) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, ULONG(bytes.size()));
  if (!psa) return OleVariant();
  if (!bytes.empty()) std::memcpy(psa->pvData, bytes.data(), bytes.size());
  VARIANT v;
  VariantInit(&v);
  v.vt = kByteArray;
  v.parray = psa;
  return OleVariant::attach(v);
}

std::string qualifiedNameText(const ua::QualifiedName& q) {
  return q.namespaceIndex ? std::to_string(q.namespaceIndex) + ":" + q.name : q.name;
}

std::string expandedNodeIdText(const ua::ExpandedNodeId& id) {
  std::string s;
  if (id.serverIndex) s = "svr=" + std::to_string(id.serverIndex) + ";";
  if (id.namespaceUri.empty()) return s + id.nodeId.toString();
  ua::NodeId local = id.nodeId;
  local.namespaceIndex = 0;
  return s + "nsu=" + id.namespaceUri + ";" + local.toString();
}

template <class T>
bool inRange(std::int64_t v) {
  return v >= std::int64_t(std::numeric_limits<T>::min()) &&
         v <= std::int64_t(std::numeric_limits<T>::max());
}

// A scalar of a built-in type as a VARIANT; DISP_E_BADVARTYPE when the type
// has no mapping or the storage does not hold what the type says.
HRESULT scalarToVariant(const ua::Variant& v, OleVariant& out) {
  using T = ua::BuiltinType;
  const auto* i = std::get_if<std::int64_t>(&v.value);
  const auto* u = std::get_if<std::uint64_t>(&v.value);
  const auto* d = std::get_if<double>(&v.value);
  const auto* s = std::get_if<std::string>(&v.value);
  switch (v.type) {
    case T::Null:
      out = OleVariant();
      return S_OK;
    case T::Boolean:
      if (const auto* b = std::get_if<bool>(&v.value)) {
        out = OleVariant(*b);
        return S_OK;
      }
      break;
    case T::SByte:
      if (i && inRange<std::int8_t>(*i)) return out = plain(VT_I1, CHAR(*i)), S_OK;
      break;
    case T::Byte:
      if (u && *u <= 0xFF) return out = plain(VT_UI1, BYTE(*u)), S_OK;
      break;
    case T::Int16:
      if (i && inRange<std::int16_t>(*i)) return out = plain(VT_I2, SHORT(*i)), S_OK;
      break;
    case T::UInt16:
      if (u && *u <= 0xFFFF) return out = plain(VT_UI2, USHORT(*u)), S_OK;
      break;
    case T::Int32:
      if (i && inRange<std::int32_t>(*i)) return out = plain(VT_I4, LONG(*i)), S_OK;
      break;
    case T::UInt32:
    case T::StatusCode:
      if (u && *u <= 0xFFFFFFFFu) return out = plain(VT_UI4, ULONG(*u)), S_OK;
      break;
    case T::Int64:
      if (i) return out = plain(VT_I8, LONGLONG(*i)), S_OK;
      break;
    case T::UInt64:
      if (u) return out = plain(VT_UI8, ULONGLONG(*u)), S_OK;
      break;
    case T::Float:
      if (d) return out = OleVariant(FLOAT(*d)), S_OK;
      break;
    case T::Double:
      if (d) return out = OleVariant(DOUBLE(*d)), S_OK;
      break;
    case T::String:
    case T::XmlElement:
      if (s) return out = bstr(*s), S_OK;
      break;
    case T::DateTime:
      if (i) return out = OleVariant::fromDate(dateFromUa(*i)), S_OK;
      break;
    case T::Guid:
      if (const auto* g = std::get_if<ua::Guid>(&v.value)) return out = bstr(guidText(*g)), S_OK;
      break;
    case T::ByteString:
      if (s) {
        out = byteArray(*s);
        return out.vt() == kByteArray ? S_OK : E_OUTOFMEMORY;
      }
      break;
    case T::NodeId:
      if (const auto* n = std::get_if<ua::NodeId>(&v.value)) {
        return out = OleVariant(itemIdText(*n)), S_OK;
      }
      break;
    case T::ExpandedNodeId:
      if (const auto* n = std::get_if<ua::ExpandedNodeId>(&v.value)) {
        return out = bstr(expandedNodeIdText(*n)), S_OK;
      }
      break;
    case T::QualifiedName:
      if (const auto* q = std::get_if<ua::QualifiedName>(&v.value)) {
        return out = bstr(qualifiedNameText(*q)), S_OK;
      }
      break;
    case T::LocalizedText:
      if (const auto* t = std::get_if<ua::LocalizedText>(&v.value))
        return out = bstr(t->text), S_OK;
      break;
    case T::ExtensionObject:
      if (const auto* x = std::get_if<ua::ExtensionObject>(&v.value)) {
        if (auto range = decodeRange(*x)) {
          out = OleVariant::array(VT_R8, {OleVariant(range->first), OleVariant(range->second)});
          return out.isArray() ? S_OK : E_OUTOFMEMORY;
        }
        if (auto name = decodeEuDisplayName(*x)) return out = bstr(name->text), S_OK;
        // Structures the bridge cannot decode travel as their encoded body.
        out = byteArray(x->body);
        return out.vt() == kByteArray ? S_OK : E_OUTOFMEMORY;
      }
      break;
    default:
      break;
  }
  out = OleVariant();
  return DISP_E_BADVARTYPE;
}

// The element type of the safe array an array of `type` becomes: arrays
// and values of mixed type go into VARIANT elements.
VARTYPE elementType(ua::BuiltinType type) {
  switch (type) {
    case ua::BuiltinType::ByteString:
    case ua::BuiltinType::ExtensionObject:
    case ua::BuiltinType::Variant:
      return VT_VARIANT;
    default:
      return canonicalType(type, -1);
  }
}

// --- VARIANT -> UA -------------------------------------------------------------

HRESULT conversionError(HRESULT hr) {
  if (hr == DISP_E_OVERFLOW) return OPC_E_RANGE;
  if (hr == E_OUTOFMEMORY) return hr;
  return OPC_E_BADTYPE;
}

std::string bstrUtf8(const VARIANT& v) {
  if (!v.bstrVal) return {};
  return opc::utf16ToUtf8(std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal)));
}

// The built-in type a VARIANT's own type stands for (writes to nodes whose
// data type is abstract).
std::optional<ua::BuiltinType> builtinOf(VARTYPE vt) {
  using T = ua::BuiltinType;
  switch (vt) {
    case VT_BOOL:
      return T::Boolean;
    case VT_I1:
      return T::SByte;
    case VT_UI1:
      return T::Byte;
    case VT_I2:
      return T::Int16;
    case VT_UI2:
      return T::UInt16;
    case VT_I4:
    case VT_INT:
      return T::Int32;
    case VT_UI4:
    case VT_UINT:
      return T::UInt32;
    case VT_I8:
      return T::Int64;
    case VT_UI8:
      return T::UInt64;
    case VT_R4:
      return T::Float;
    case VT_R8:
    case VT_CY:
      return T::Double;
    case VT_DATE:
      return T::DateTime;
    case VT_BSTR:
      return T::String;
    default:
      return std::nullopt;
  }
}

HRESULT scalarFromVariant(const VARIANT& in, ua::BuiltinType type, ua::Variant& out) {
  using T = ua::BuiltinType;
  if (type == T::Variant) {
    if (in.vt == kByteArray) return scalarFromVariant(in, T::ByteString, out);
    const auto own = builtinOf(in.vt);
    if (!own) return OPC_E_BADTYPE;
    type = *own;
  }
  const VARTYPE target = canonicalType(type, -1);
  if (target == VT_EMPTY) return OPC_E_BADTYPE;
  OleVariant converted;
  if (in.vt != target) {
    const HRESULT hr = VariantChangeType(converted.put(), &in, 0, target);
    if (FAILED(hr)) return conversionError(hr);
  } else if (const HRESULT hr = VariantCopy(converted.put(), &in); FAILED(hr)) {
    return hr;
  }
  const VARIANT& c = converted.get();
  switch (type) {
    case T::Boolean:
      out = ua::Variant::boolean(c.boolVal != VARIANT_FALSE);
      return S_OK;
    case T::SByte:
      out = {type, std::int64_t{c.cVal}};
      return S_OK;
    case T::Byte:
      out = {type, std::uint64_t{c.bVal}};
      return S_OK;
    case T::Int16:
      out = {type, std::int64_t{c.iVal}};
      return S_OK;
    case T::UInt16:
      out = {type, std::uint64_t{c.uiVal}};
      return S_OK;
    case T::Int32:
      out = {type, std::int64_t{c.lVal}};
      return S_OK;
    case T::UInt32:
    case T::StatusCode:
      out = {type, std::uint64_t{c.ulVal}};
      return S_OK;
    case T::Int64:
      out = {type, std::int64_t{c.llVal}};
      return S_OK;
    case T::UInt64:
      out = {type, std::uint64_t{c.ullVal}};
      return S_OK;
    case T::Float:
      out = ua::Variant::float32(c.fltVal);
      return S_OK;
    case T::Double:
      out = ua::Variant::float64(c.dblVal);
      return S_OK;
    case T::DateTime:
      out = {type, std::int64_t{uaFromDate(c.date)}};
      return S_OK;
    case T::String:
    case T::XmlElement:
      out = {type, bstrUtf8(c)};
      return S_OK;
    case T::LocalizedText:
      out = {type, ua::LocalizedText{"", bstrUtf8(c)}};
      return S_OK;
    case T::Guid: {
      auto id = ua::NodeId::parse("g=" + bstrUtf8(c));
      if (!id) return OPC_E_BADTYPE;
      out = {type, id->guid};
      return S_OK;
    }
    case T::NodeId:
    case T::ExpandedNodeId: {
      auto id = ua::NodeId::parse(bstrUtf8(c));
      if (!id) return OPC_E_BADTYPE;
      if (type == T::NodeId) {
        out = {type, *id};
      } else {
        out = {type, ua::ExpandedNodeId{*id, {}, 0}};
      }
      return S_OK;
    }
    case T::QualifiedName: {
      const std::string text = bstrUtf8(c);
      ua::QualifiedName q;
      q.name = text;
      if (const auto colon = text.find(':'); colon != std::string::npos) {
        std::uint16_t ns = 0;
        const auto [p, ec] = std::from_chars(text.data(), text.data() + colon, ns);
        if (ec == std::errc() && p == text.data() + colon) {
          q.namespaceIndex = ns;
          q.name = text.substr(colon + 1);
        }
      }
      out = {type, std::move(q)};
      return S_OK;
    }
    case T::ByteString: {
      std::size_t n = 0;
      if (c.vt != kByteArray || FAILED(opc::safeArrayElementCount(c.parray, &n))) {
        return OPC_E_BADTYPE;
      }
      out = {type, std::string(static_cast<const char*>(c.parray->pvData), n)};
      return S_OK;
    }
    default:
      return OPC_E_BADTYPE;
  }
}

// One element of a caller's safe array as a VARIANT of its own.
HRESULT arrayElement(const SAFEARRAY& psa, VARTYPE vt, std::size_t k, OleVariant& out) {
  const void* slot = static_cast<const char*>(psa.pvData) + k * psa.cbElements;
  if (vt == VT_VARIANT) return VariantCopy(out.put(), static_cast<const VARIANT*>(slot));
  if (vt == VT_BSTR) {
    BSTR b = *static_cast<const BSTR*>(slot);
    out = OleVariant(b ? std::u16string_view(b, SysStringLen(b)) : std::u16string_view());
    return S_OK;
  }
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  std::memcpy(&v.llVal, slot, psa.cbElements);
  out = OleVariant::attach(v);
  return S_OK;
}

}  // namespace

// --- values ---------------------------------------------------------------------

HRESULT variantFromUa(const ua::Variant& value, VARIANT* out) {
  if (!out) return E_INVALIDARG;
  VariantInit(out);
  OleVariant result;
  if (const auto* elements = value.elements()) {
    const VARTYPE vt = elementType(value.type);
    if (vt == VT_EMPTY) return DISP_E_BADVARTYPE;
    SAFEARRAY* psa = SafeArrayCreateVector(vt, 0, ULONG(elements->size()));
    if (!psa) return E_OUTOFMEMORY;
    result = [&] {
      VARIANT v;
      VariantInit(&v);
      v.vt = VT_ARRAY | vt;
      v.parray = psa;  // owned by result from here on
      return OleVariant::attach(v);
    }();
    for (std::size_t k = 0; k < elements->size(); ++k) {
      const ua::Variant& element = (*elements)[k];
      // Every element of a typed array has the array's type.
      if (value.type != ua::BuiltinType::Variant && element.type != value.type) {
        return DISP_E_BADVARTYPE;
      }
      if (element.isArray()) return DISP_E_BADVARTYPE;
      OleVariant scalar;
      if (const HRESULT hr = scalarToVariant(element, scalar); FAILED(hr)) return hr;
      void* slot = static_cast<char*>(psa->pvData) + k * psa->cbElements;
      if (vt == VT_VARIANT) {
        *static_cast<VARIANT*>(slot) = scalar.detach();
      } else {
        if (scalar.vt() != vt) return DISP_E_BADVARTYPE;
        VARIANT owned = scalar.detach();
        std::memcpy(slot, &owned.llVal, psa->cbElements);
      }
    }
  } else if (const HRESULT hr = scalarToVariant(value, result); FAILED(hr)) {
    return hr;
  }
  *out = result.detach();
  return S_OK;
}

HRESULT uaFromVariant(const VARIANT& value, ua::BuiltinType type, std::int32_t valueRank,
                      ua::Variant& out) {
  if (value.vt & VT_BYREF) return OPC_E_BADTYPE;
  // A byte string is one value although it travels as a byte array.
  const bool byteStringScalar =
      value.vt == kByteArray &&
      (type == ua::BuiltinType::ByteString || (type == ua::BuiltinType::Variant && valueRank < 0));
  const bool givenArray = (value.vt & VT_ARRAY) && !byteStringScalar;
  const bool wantArray = valueRank >= 0 || (givenArray && (valueRank == -2 || valueRank == -3));
  if (givenArray != wantArray) return OPC_E_BADTYPE;
  if (!givenArray) return scalarFromVariant(value, type, out);

  const SAFEARRAY* psa = value.parray;
  const VARTYPE vt = value.vt & VT_TYPEMASK;
  std::size_t n = 0;
  if (!psa || psa->vt != vt || FAILED(opc::safeArrayElementCount(psa, &n))) return OPC_E_BADTYPE;
  const auto size = opc::valueSize(vt);
  if (size == 0 || psa->cbElements != size || (n && !psa->pvData)) return OPC_E_BADTYPE;
  ua::Variant::Array elements;
  elements.reserve(n);
  ua::BuiltinType elementType = type;
  if (type == ua::BuiltinType::Variant && vt != VT_VARIANT) {
    const auto own = vt == VT_UI1 ? std::optional(ua::BuiltinType::Byte) : builtinOf(vt);
    if (!own) return OPC_E_BADTYPE;
    elementType = *own;
  }
  for (std::size_t k = 0; k < n; ++k) {
    OleVariant element;
    if (const HRESULT hr = arrayElement(*psa, vt, k, element); FAILED(hr)) return hr;
    if (element.isArray() && element.vt() != kByteArray) return OPC_E_BADTYPE;
    ua::Variant converted;
    if (const HRESULT hr = scalarFromVariant(element.get(), elementType, converted); FAILED(hr)) {
      return hr;
    }
    elements.push_back(std::move(converted));
  }
  out = ua::Variant::array(elementType, std::move(elements));
  return S_OK;
}

HRESULT changeToRequestedType(const VARIANT& value, VARTYPE requested, VARIANT* out) {
  if (!out) return E_INVALIDARG;
  VariantInit(out);
  if (requested == VT_EMPTY || requested == value.vt) return VariantCopy(out, &value);
  const HRESULT hr = VariantChangeType(out, &value, 0, requested);
  if (SUCCEEDED(hr)) return S_OK;
  VariantClear(out);
  return conversionError(hr);
}

bool convertibleType(VARTYPE canonical, VARTYPE requested) {
  if (requested == VT_EMPTY || requested == canonical) return true;
  if ((canonical & VT_ARRAY) != (requested & VT_ARRAY)) return false;
  const VARTYPE from = canonical & VT_TYPEMASK;
  const VARTYPE to = requested & VT_TYPEMASK;
  if (from == VT_VARIANT || to == VT_VARIANT) return true;  // decided by each value
  // Text may hold the text of any scalar: decided by each value.
  if (from == VT_BSTR) return opc::isPlainVariantType(to) || to == VT_BSTR;
  if (!opc::isPlainVariantType(from)) return false;
  // Others judged on a sample of the type: zero.
  VARIANT v;
  VariantInit(&v);
  v.vt = from;
  OleVariant sample = OleVariant::attach(v);
  OleVariant converted;
  return SUCCEEDED(VariantChangeType(converted.put(), &sample.get(), 0, to));
}

}  // namespace veze6::uab
