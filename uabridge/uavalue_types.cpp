// Item ids, data types and the structures with a mapping of their own, of uavalue.h.
#include "opc/taskmem.h"
#include "ua/binarydecoder.h"
#include "uavalue.h"

namespace veze6::uab {

namespace {

constexpr VARTYPE kByteArray = VT_ARRAY | VT_UI1;

// Namespace-0 data types with a mapping of their own.
constexpr std::uint32_t kRangeType = 884;
constexpr std::uint32_t kEuInformationType = 887;
// The binary encodings of those two structures.
constexpr std::uint32_t kRangeEncoding = 886;
constexpr std::uint32_t kEuInformationEncoding = 889;

bool isSurrogateFree(std::u16string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

// The identifier part "i=...", "s=...", "g=...", "b=..." after any prefix.
bool isIdentifierStart(std::string_view s) {
  return s.size() >= 2 && s[1] == '=' && (s[0] == 'i' || s[0] == 's' || s[0] == 'g' || s[0] == 'b');
}

}  // namespace

// --- item ids ----------------------------------------------------------------------

HRESULT parseItemId(std::u16string_view text, const std::vector<std::string>& namespaces,
                    ua::NodeId& out) {
  if (text.empty() || !isSurrogateFree(text)) return OPC_E_INVALIDITEMID;
  std::string s = opc::utf16ToUtf8(text);
  std::optional<std::uint16_t> index;
  if (s.rfind("nsu=", 0) == 0) {
    // The URI runs to the ';' that starts the identifier; a URI may hold ';'.
    std::size_t semi = 4;
    while ((semi = s.find(';', semi)) != std::string::npos &&
           !isIdentifierStart(std::string_view(s).substr(semi + 1))) {
      ++semi;
    }
    if (semi == std::string::npos || semi == 4) return OPC_E_INVALIDITEMID;
    const std::string uri = s.substr(4, semi - 4);
    s.erase(0, semi + 1);
    for (std::size_t i = 0; i < namespaces.size() && i <= 0xFFFF; ++i) {
      if (namespaces[i] == uri) {
        index = std::uint16_t(i);
        break;
      }
    }
    if (!index) {
      // Well-formed text naming a namespace the server lacks: no such node.
      if (!ua::NodeId::parse(s)) return OPC_E_INVALIDITEMID;
      return OPC_E_UNKNOWNITEMID;
    }
  }
  auto id = ua::NodeId::parse(s);
  if (!id) return OPC_E_INVALIDITEMID;
  // A null string or byte string identifier names no node.
  if ((id->kind == ua::NodeId::Kind::String || id->kind == ua::NodeId::Kind::Opaque) &&
      id->text.empty()) {
    return OPC_E_INVALIDITEMID;
  }
  if (index) {
    if (id->namespaceIndex != 0) return OPC_E_INVALIDITEMID;  // both nsu= and ns=
    id->namespaceIndex = *index;
  } else if (id->namespaceIndex >= namespaces.size() && !namespaces.empty()) {
    return OPC_E_UNKNOWNITEMID;
  }
  out = std::move(*id);
  return S_OK;
}

std::u16string itemIdText(const ua::NodeId& id) { return opc::utf8ToUtf16(id.toString()); }

std::optional<ua::NodeId> localNodeId(const ua::ExpandedNodeId& id,
                                      const std::vector<std::string>& namespaces) {
  if (id.serverIndex != 0) return std::nullopt;
  if (id.namespaceUri.empty()) return id.nodeId;
  for (std::size_t i = 0; i < namespaces.size() && i <= 0xFFFF; ++i) {
    if (namespaces[i] == id.namespaceUri) {
      ua::NodeId local = id.nodeId;
      local.namespaceIndex = std::uint16_t(i);
      return local;
    }
  }
  return std::nullopt;
}

// --- data types ------------------------------------------------------------------

std::optional<ua::BuiltinType> knownBuiltinType(const ua::NodeId& dataType) {
  using T = ua::BuiltinType;
  if (dataType.namespaceIndex != 0 || dataType.kind != ua::NodeId::Kind::Numeric) {
    return std::nullopt;
  }
  const std::uint32_t n = dataType.numeric;
  if (n >= 1 && n <= 25) return T(n);
  switch (n) {
    case 26:  // Number
    case 27:  // Integer
    case 28:  // UInteger
      return T::Variant;
    case 29:   // Enumeration: the values are Int32
    case 851:  // RedundancySupport
    case 852:  // ServerState
    case 307:  // ApplicationType
    case 256:  // IdType
    case 257:  // NodeClass
    case 302:  // MessageSecurityMode
    case 120:  // NamingRuleType
      return T::Int32;
    case 290:  // Duration
      return T::Double;
    case 294:  // UtcTime
      return T::DateTime;
    case 295:    // LocaleId
    case 12877:  // NormalizedString
    case 12878:  // DecimalString
    case 12879:  // DurationString
    case 12880:  // TimeString
    case 12881:  // DateString
    case 23751:  // UriString
      return T::String;
    case 288:    // IntegerId
    case 289:    // Counter
    case 20998:  // VersionTime
      return T::UInt32;
    case 311:    // ApplicationInstanceCertificate
    case 521:    // ContinuationPoint
    case 16307:  // AudioDataType
      return T::ByteString;
    case 11737:  // BitFieldMaskDataType
      return T::UInt64;
    default:
      return std::nullopt;
  }
}

VARTYPE canonicalType(ua::BuiltinType type, std::int32_t valueRank, const ua::NodeId& dataType) {
  using T = ua::BuiltinType;
  const bool array = valueRank >= 0;
  if (type == T::ExtensionObject && dataType.namespaceIndex == 0 &&
      dataType.kind == ua::NodeId::Kind::Numeric) {
    if (dataType.numeric == kRangeType) return array ? VT_ARRAY | VT_VARIANT : VT_ARRAY | VT_R8;
    if (dataType.numeric == kEuInformationType) return array ? VT_ARRAY | VT_VARIANT : VT_BSTR;
  }
  VARTYPE vt = VT_EMPTY;
  switch (type) {
    case T::Boolean:
      vt = VT_BOOL;
      break;
    case T::SByte:
      vt = VT_I1;
      break;
    case T::Byte:
      vt = VT_UI1;
      break;
    case T::Int16:
      vt = VT_I2;
      break;
    case T::UInt16:
      vt = VT_UI2;
      break;
    case T::Int32:
      vt = VT_I4;
      break;
    case T::UInt32:
    case T::StatusCode:
      vt = VT_UI4;
      break;
    case T::Int64:
      vt = VT_I8;
      break;
    case T::UInt64:
      vt = VT_UI8;
      break;
    case T::Float:
      vt = VT_R4;
      break;
    case T::Double:
      vt = VT_R8;
      break;
    case T::String:
    case T::XmlElement:
    case T::Guid:
    case T::NodeId:
    case T::ExpandedNodeId:
    case T::QualifiedName:
    case T::LocalizedText:
      vt = VT_BSTR;
      break;
    case T::DateTime:
      vt = VT_DATE;
      break;
    case T::ByteString:
    case T::ExtensionObject:
      return array ? VT_ARRAY | VT_VARIANT : kByteArray;
    case T::Variant:
      // Values of any type: a scalar of unknown type, or an array of them.
      return array ? VT_ARRAY | VT_VARIANT : VT_VARIANT;
    default:
      return VT_EMPTY;
  }
  return array ? VARTYPE(VT_ARRAY | vt) : vt;
}

std::optional<std::pair<double, double>> decodeRange(const ua::ExtensionObject& range) {
  if (range.encoding != ua::ExtensionObject::Encoding::Binary ||
      range.typeId != ua::NodeId(0, kRangeEncoding)) {
    return std::nullopt;
  }
  try {
    ua::BinaryDecoder d(reinterpret_cast<const std::uint8_t*>(range.body.data()),
                        range.body.size());
    const double low = d.f64();
    const double high = d.f64();
    return std::pair{low, high};
  } catch (const ua::DecodeError&) {
    return std::nullopt;
  }
}

std::optional<ua::LocalizedText> decodeEuDisplayName(const ua::ExtensionObject& info) {
  if (info.encoding != ua::ExtensionObject::Encoding::Binary ||
      info.typeId != ua::NodeId(0, kEuInformationEncoding)) {
    return std::nullopt;
  }
  try {
    ua::BinaryDecoder d(reinterpret_cast<const std::uint8_t*>(info.body.data()), info.body.size());
    d.string();  // namespaceUri
    d.i32();     // unitId
    return d.localizedText();
  } catch (const ua::DecodeError&) {
    return std::nullopt;
  }
}

}  // namespace veze6::uab
