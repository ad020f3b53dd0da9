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

void BinaryDecoder::variantScalar(BuiltinType t, Variant::Storage& out) {
  switch (t) {
    case BuiltinType::Null:
      out.emplace<std::monostate>();
      return;
    case BuiltinType::Boolean:
      out.emplace<bool>(boolean());
      return;
    case BuiltinType::SByte:
      out.emplace<std::int64_t>(i8());
      return;
    case BuiltinType::Byte:
      out.emplace<std::uint64_t>(u8());
      return;
    case BuiltinType::Int16:
      out.emplace<std::int64_t>(i16());
      return;
    case BuiltinType::UInt16:
      out.emplace<std::uint64_t>(u16());
      return;
    case BuiltinType::Int32:
      out.emplace<std::int64_t>(i32());
      return;
    case BuiltinType::UInt32:
    case BuiltinType::StatusCode:
      out.emplace<std::uint64_t>(u32());
      return;
    case BuiltinType::Int64:
    case BuiltinType::DateTime:
      out.emplace<std::int64_t>(i64());
      return;
    case BuiltinType::UInt64:
      out.emplace<std::uint64_t>(u64());
      return;
    case BuiltinType::Float:
      out.emplace<double>(f32());
      return;
    case BuiltinType::Double:
      out.emplace<double>(f64());
      return;
    case BuiltinType::String:
    case BuiltinType::ByteString:
    case BuiltinType::XmlElement:
      out.emplace<std::string>(string());
      return;
    case BuiltinType::Guid:
      out.emplace<Guid>(guid());
      return;
    case BuiltinType::NodeId:
      out.emplace<NodeId>(nodeId());
      return;
    case BuiltinType::ExpandedNodeId:
      out.emplace<ExpandedNodeId>(expandedNodeId());
      return;
    case BuiltinType::QualifiedName:
      out.emplace<QualifiedName>(qualifiedName());
      return;
    case BuiltinType::LocalizedText:
      out.emplace<LocalizedText>(localizedText());
      return;
    case BuiltinType::ExtensionObject:
      out.emplace<ExtensionObject>(extensionObject());
      return;
    case BuiltinType::DataValue: {
      auto v = std::make_shared<DataValue>();
      dataValue(*v);
      out = std::move(v);
      return;
    }
    case BuiltinType::DiagnosticInfo:
      out = std::make_shared<DiagnosticInfo>(diagnosticInfo());
      return;
    case BuiltinType::Variant:
      break;
  }
  throw DecodeError("a variant holds a variant scalar");
}

Variant BinaryDecoder::variant() {
  Variant v;
  variant(v);
  return v;
}

void BinaryDecoder::variant(Variant& v) {
  Nest nest(*this);
  const std::uint8_t mask = u8();
  const std::uint8_t typeId = mask & 0x3F;
  if (typeId > std::uint8_t(BuiltinType::DiagnosticInfo)) throw DecodeError("unknown type");
  v.type = BuiltinType(typeId);
  if (!v.dimensions.empty()) v.dimensions.clear();
  if (!(mask & 0x80)) {
    if (mask & 0x40) throw DecodeError("dimensions on a scalar");
    variantScalar(v.type, v.value);
    return;
  }
  // Elements of every other type take a byte at least, so no array can
  // announce more elements than the message has bytes.
  if (v.type == BuiltinType::Null) throw DecodeError("an array of nothing");
  const std::size_t n = arrayLength();
  Variant::Array elements(n);
  for (auto& e : elements) {
    if (v.type == BuiltinType::Variant) {
      variant(e);
    } else {
      e.type = v.type;
      variantScalar(v.type, e.value);
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
}

DataValue BinaryDecoder::dataValue() {
  DataValue v;
  dataValue(v);
  return v;
}

void BinaryDecoder::dataValue(DataValue& v) {
  Nest nest(*this);
  const std::uint8_t mask = u8();
  if (mask & 0xC0) throw DecodeError("unknown data value fields");
  if (mask & 0x01) {
    variant(v.value);
  } else {
    v.value.type = BuiltinType::Null;
    v.value.value.emplace<std::monostate>();
    v.value.dimensions.clear();
  }
  v.status = mask & 0x02 ? statusCode() : status::Good;
  v.sourceTimestamp = mask & 0x04 ? dateTime() : 0;
  v.sourcePicoseconds = mask & 0x10 ? u16() : 0;
  v.serverTimestamp = mask & 0x08 ? dateTime() : 0;
  v.serverPicoseconds = mask & 0x20 ? u16() : 0;
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
