#include "binarydecoder.h"

namespace veze6::ua {

std::size_t BinaryDecoder::arrayLength(std::size_t minElementSize) {
  const std::int32_t n = i32();
  if (n < 0) {
    if (n != -1) throw DecodeError("negative array length");
    return 0;
  }
  if (std::uint32_t(n) > limits_.maxArrayLength) throw DecodeError("array too long");
  if (std::size_t(n) > remaining() / (minElementSize ? minElementSize : 1))
    throw DecodeError("array longer than the message");
  return std::size_t(n);
}

std::string BinaryDecoder::string() {
  const std::int32_t n = i32();
  if (n < 0) {
    if (n != -1) throw DecodeError("negative string length");
    return {};
  }
  if (std::uint32_t(n) > limits_.maxStringLength) throw DecodeError("string too long");
  need(std::size_t(n));
  std::string s(reinterpret_cast<const char*>(p_), std::size_t(n));
  p_ += n;
  return s;
}

Guid BinaryDecoder::guid() {
  Guid g;
  g.data1 = u32();
  g.data2 = u16();
  g.data3 = u16();
  need(8);
  std::memcpy(g.data4.data(), p_, 8);
  p_ += 8;
  return g;
}

NodeId BinaryDecoder::nodeIdBody(std::uint8_t form) {
  NodeId id;
  switch (form) {
    case 0:
      id.numeric = u8();
      break;
    case 1:
      id.namespaceIndex = u8();
      id.numeric = u16();
      break;
    case 2:
      id.namespaceIndex = u16();
      id.numeric = u32();
      break;
    case 3:
      id.namespaceIndex = u16();
      id.kind = NodeId::Kind::String;
      id.text = string();
      break;
    case 4:
      id.namespaceIndex = u16();
      id.kind = NodeId::Kind::Guid;
      id.guid = guid();
      break;
    case 5:
      id.namespaceIndex = u16();
      id.kind = NodeId::Kind::Opaque;
      id.text = byteString();
      break;
    default:
      throw DecodeError("unknown node id form");
  }
  return id;
}

NodeId BinaryDecoder::nodeId() {
  const std::uint8_t form = u8();
  // The namespace URI and server index flags belong to ExpandedNodeId only.
  if (form & 0xC0) throw DecodeError("expanded flags on a node id");
  return nodeIdBody(form);
}

ExpandedNodeId BinaryDecoder::expandedNodeId() {
  const std::uint8_t form = u8();
  ExpandedNodeId e;
  e.nodeId = nodeIdBody(form & 0x3F);
  if (form & 0x80) e.namespaceUri = string();
  if (form & 0x40) e.serverIndex = u32();
  return e;
}

QualifiedName BinaryDecoder::qualifiedName() {
  QualifiedName q;
  q.namespaceIndex = u16();
  q.name = string();
  return q;
}

LocalizedText BinaryDecoder::localizedText() {
  LocalizedText t;
  const std::uint8_t mask = u8();
  if (mask & ~0x03) throw DecodeError("unknown localized text fields");
  if (mask & 0x01) t.locale = string();
  if (mask & 0x02) t.text = string();
  return t;
}

ExtensionObject BinaryDecoder::extensionObject() {
  ExtensionObject x;
  x.typeId = nodeId();
  const std::uint8_t encoding = u8();
  if (encoding > 2) throw DecodeError("unknown structure encoding");
  x.encoding = ExtensionObject::Encoding(encoding);
  if (encoding != 0) x.body = byteString();
  return x;
}

Variant::Storage BinaryDecoder::variantScalar(BuiltinType t) {
  switch (t) {
    case BuiltinType::Null:
      return std::monostate{};
    case BuiltinType::Boolean:
      return boolean();
    case BuiltinType::SByte:
      return std::int64_t{i8()};
    case BuiltinType::Byte:
      return std::uint64_t{u8()};
    case BuiltinType::Int16:
      return std::int64_t{i16()};
    case BuiltinType::UInt16:
      return std::uint64_t{u16()};
    case BuiltinType::Int32:
      return std::int64_t{i32()};
    case BuiltinType::UInt32:
    case BuiltinType::StatusCode:
      return std::uint64_t{u32()};
    case BuiltinType::Int64:
    case BuiltinType::DateTime:
      return i64();
    case BuiltinType::UInt64:
      return u64();
    case BuiltinType::Float:
      return double{f32()};
    case BuiltinType::Double:
      return f64();
    case BuiltinType::String:
    case BuiltinType::ByteString:
    case BuiltinType::XmlElement:
      return string();
    case BuiltinType::Guid:
      return guid();
    case BuiltinType::NodeId:
      return nodeId();
    case BuiltinType::ExpandedNodeId:
      return expandedNodeId();
    case BuiltinType::QualifiedName:
      return qualifiedName();
    case BuiltinType::LocalizedText:
      return localizedText();
    case BuiltinType::ExtensionObject:
      return extensionObject();
    case BuiltinType::DataValue:
      return std::make_shared<DataValue>(dataValue());
    case BuiltinType::DiagnosticInfo:
      return std::make_shared<DiagnosticInfo>(diagnosticInfo());
    case BuiltinType::Variant:
      break;
  }
  throw DecodeError("a variant holds a variant scalar");
}

Variant BinaryDecoder::variant() {
  Nest nest(*this);
  const std::uint8_t mask = u8();
  const std::uint8_t typeId = mask & 0x3F;
  if (typeId > std::uint8_t(BuiltinType::DiagnosticInfo)) throw DecodeError("unknown type");
  Variant v;
  v.type = BuiltinType(typeId);
  if (!(mask & 0x80)) {
    if (mask & 0x40) throw DecodeError("dimensions on a scalar");
    v.value = variantScalar(v.type);
    return v;
  }
  const std::size_t n = arrayLength();
  Variant::Array elements(n);
  for (auto& e : elements) {
    if (v.type == BuiltinType::Variant) {
      e = variant();
    } else {
      e.type = v.type;
      e.value = variantScalar(v.type);
    }
  }
  v.value = std::move(elements);
  if (mask & 0x40) {
    v.dimensions = array<std::int32_t>([](BinaryDecoder& d, std::int32_t& x) { x = d.i32(); }, 4);
    std::uint64_t product = v.dimensions.empty() ? 0 : 1;
    for (auto d : v.dimensions) {
      if (d < 0) throw DecodeError("negative dimension");
      product *= std::uint64_t(d);
      if (product > n) break;
    }
    if (product != n) throw DecodeError("dimensions do not match the array");
  }
  return v;
}

DataValue BinaryDecoder::dataValue() {
  Nest nest(*this);
  DataValue v;
  const std::uint8_t mask = u8();
  if (mask & 0xC0) throw DecodeError("unknown data value fields");
  if (mask & 0x01) v.value = variant();
  if (mask & 0x02) v.status = statusCode();
  if (mask & 0x04) v.sourceTimestamp = dateTime();
  if (mask & 0x10) v.sourcePicoseconds = u16();
  if (mask & 0x08) v.serverTimestamp = dateTime();
  if (mask & 0x20) v.serverPicoseconds = u16();
  return v;
}

DiagnosticInfo BinaryDecoder::diagnosticInfo() {
  Nest nest(*this);
  DiagnosticInfo v;
  const std::uint8_t mask = u8();
  if (mask & 0x80) throw DecodeError("unknown diagnostic fields");
  if (mask & 0x01) v.symbolicId = i32();
  if (mask & 0x02) v.namespaceUri = i32();
  if (mask & 0x08) v.locale = i32();
  if (mask & 0x04) v.localizedText = i32();
  if (mask & 0x10) v.additionalInfo = string();
  if (mask & 0x20) v.innerStatusCode = statusCode();
  if (mask & 0x40) v.inner = std::make_shared<DiagnosticInfo>(diagnosticInfo());
  return v;
}

}  // namespace veze6::ua
