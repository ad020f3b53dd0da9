#include "binaryencoder.h"

#include <bit>

namespace veze6::ua {

static_assert(std::endian::native == std::endian::little, "the wire format is little-endian");

void BinaryEncoder::string(const std::string& v) {
  if (v.empty()) {
    i32(-1);
    return;
  }
  i32(std::int32_t(v.size()));
  raw(v.data(), v.size());
}

void BinaryEncoder::guid(const Guid& v) {
  u32(v.data1);
  u16(v.data2);
  u16(v.data3);
  raw(v.data4.data(), 8);
}

void BinaryEncoder::nodeId(const NodeId& v) {
  switch (v.kind) {
    case NodeId::Kind::Numeric:
      if (v.namespaceIndex == 0 && v.numeric <= 0xFF) {
        u8(0);
        u8(std::uint8_t(v.numeric));
      } else if (v.namespaceIndex <= 0xFF && v.numeric <= 0xFFFF) {
        u8(1);
        u8(std::uint8_t(v.namespaceIndex));
        u16(std::uint16_t(v.numeric));
      } else {
        u8(2);
        u16(v.namespaceIndex);
        u32(v.numeric);
      }
      return;
    case NodeId::Kind::String:
      u8(3);
      u16(v.namespaceIndex);
      i32(std::int32_t(v.text.size()));
      raw(v.text.data(), v.text.size());
      return;
    case NodeId::Kind::Guid:
      u8(4);
      u16(v.namespaceIndex);
      guid(v.guid);
      return;
    case NodeId::Kind::Opaque:
      u8(5);
      u16(v.namespaceIndex);
      byteString(v.text);
      return;
  }
}

void BinaryEncoder::expandedNodeId(const ExpandedNodeId& v) {
  const std::size_t at = size();
  nodeId(v.nodeId);
  if (!v.namespaceUri.empty()) out_[at] |= 0x80;
  if (v.serverIndex) out_[at] |= 0x40;
  if (!v.namespaceUri.empty()) string(v.namespaceUri);
  if (v.serverIndex) u32(v.serverIndex);
}

void BinaryEncoder::qualifiedName(const QualifiedName& v) {
  u16(v.namespaceIndex);
  string(v.name);
}

void BinaryEncoder::localizedText(const LocalizedText& v) {
  u8((v.locale.empty() ? 0 : 1) | (v.text.empty() ? 0 : 2));
  if (!v.locale.empty()) string(v.locale);
  if (!v.text.empty()) string(v.text);
}

void BinaryEncoder::extensionObject(const ExtensionObject& v) {
  nodeId(v.typeId);
  u8(std::uint8_t(v.encoding));
  if (v.encoding != ExtensionObject::Encoding::None) {
    i32(std::int32_t(v.body.size()));
    raw(v.body.data(), v.body.size());
  }
}

void BinaryEncoder::variantScalar(BuiltinType t, const Variant::Storage& v) {
  switch (t) {
    case BuiltinType::Null:
      return;
    case BuiltinType::Boolean:
      boolean(std::get<bool>(v));
      return;
    case BuiltinType::SByte:
      i8(std::int8_t(std::get<std::int64_t>(v)));
      return;
    case BuiltinType::Byte:
      u8(std::uint8_t(std::get<std::uint64_t>(v)));
      return;
    case BuiltinType::Int16:
      i16(std::int16_t(std::get<std::int64_t>(v)));
      return;
    case BuiltinType::UInt16:
      u16(std::uint16_t(std::get<std::uint64_t>(v)));
      return;
    case BuiltinType::Int32:
      i32(std::int32_t(std::get<std::int64_t>(v)));
      return;
    case BuiltinType::UInt32:
    case BuiltinType::StatusCode:
      u32(std::uint32_t(std::get<std::uint64_t>(v)));
      return;
    case BuiltinType::Int64:
    case BuiltinType::DateTime:
      i64(std::get<std::int64_t>(v));
      return;
    case BuiltinType::UInt64:
      u64(std::get<std::uint64_t>(v));
      return;
    case BuiltinType::Float:
      f32(float(std::get<double>(v)));
      return;
    case BuiltinType::Double:
      f64(std::get<double>(v));
      return;
    case BuiltinType::String:
    case BuiltinType::ByteString:
    case BuiltinType::XmlElement:
      string(std::get<std::string>(v));
      return;
    case BuiltinType::Guid:
      guid(std::get<Guid>(v));
      return;
    case BuiltinType::NodeId:
      nodeId(std::get<NodeId>(v));
      return;
    case BuiltinType::ExpandedNodeId:
      expandedNodeId(std::get<ExpandedNodeId>(v));
      return;
    case BuiltinType::QualifiedName:
      qualifiedName(std::get<QualifiedName>(v));
      return;
    case BuiltinType::LocalizedText:
      localizedText(std::get<LocalizedText>(v));
      return;
    case BuiltinType::ExtensionObject:
      extensionObject(std::get<ExtensionObject>(v));
      return;
    case BuiltinType::DataValue: {
      const auto& p = std::get<std::shared_ptr<DataValue>>(v);
      dataValue(p ? *p : DataValue{});
      return;
    }
    case BuiltinType::DiagnosticInfo: {
      const auto& p = std::get<std::shared_ptr<DiagnosticInfo>>(v);
      diagnosticInfo(p ? *p : DiagnosticInfo{});
      return;
    }
    case BuiltinType::Variant:
      break;  // only as array elements, handled by the caller
  }
}

void BinaryEncoder::variant(const Variant& v) {
  const auto* elements = v.elements();
  std::uint8_t mask = std::uint8_t(v.type);
  if (elements) mask |= 0x80;
  if (elements && !v.dimensions.empty()) mask |= 0x40;
  u8(mask);
  if (!elements) {
    variantScalar(v.type, v.value);
    return;
  }
  arrayLength(elements->size());
  for (const auto& e : *elements) {
    if (v.type == BuiltinType::Variant)
      variant(e);
    else
      variantScalar(v.type, e.value);
  }
  if (mask & 0x40) array(v.dimensions, [](BinaryEncoder& e, std::int32_t d) { e.i32(d); });
}

void BinaryEncoder::dataValue(const DataValue& v) {
  const std::uint8_t mask = (v.value.isNull() ? 0 : 0x01) | (v.status ? 0x02 : 0) |
                            (v.sourceTimestamp ? 0x04 : 0) | (v.serverTimestamp ? 0x08 : 0) |
                            (v.sourcePicoseconds ? 0x10 : 0) | (v.serverPicoseconds ? 0x20 : 0);
  u8(mask);
  if (mask & 0x01) variant(v.value);
  if (mask & 0x02) statusCode(v.status);
  if (mask & 0x04) dateTime(v.sourceTimestamp);
  if (mask & 0x10) u16(v.sourcePicoseconds);
  if (mask & 0x08) dateTime(v.serverTimestamp);
  if (mask & 0x20) u16(v.serverPicoseconds);
}

void BinaryEncoder::diagnosticInfo(const DiagnosticInfo& v) {
  const std::uint8_t mask = (v.symbolicId >= 0 ? 0x01 : 0) | (v.namespaceUri >= 0 ? 0x02 : 0) |
                            (v.localizedText >= 0 ? 0x04 : 0) | (v.locale >= 0 ? 0x08 : 0) |
                            (v.additionalInfo.empty() ? 0 : 0x10) | (v.innerStatusCode ? 0x20 : 0) |
                            (v.inner ? 0x40 : 0);
  u8(mask);
  if (mask & 0x01) i32(v.symbolicId);
  if (mask & 0x02) i32(v.namespaceUri);
  if (mask & 0x08) i32(v.locale);
  if (mask & 0x04) i32(v.localizedText);
  if (mask & 0x10) string(v.additionalInfo);
  if (mask & 0x20) statusCode(v.innerStatusCode);
  if (mask & 0x40) diagnosticInfo(*v.inner);
}

}  // namespace veze6::ua
