// Writes the OPC UA binary encoding of the built-in types into a byte buffer.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "types.h"

namespace veze6::ua {

class BinaryEncoder {
 public:
  explicit BinaryEncoder(std::vector<std::uint8_t>& out) : out_(out) {}

  std::vector<std::uint8_t>& buffer() { return out_; }
  std::size_t size() const { return out_.size(); }

  void boolean(bool v) { u8(v ? 1 : 0); }
  void u8(std::uint8_t v) { out_.push_back(v); }
  void u16(std::uint16_t v) { raw(&v, 2); }
  void u32(std::uint32_t v) { raw(&v, 4); }
  void u64(std::uint64_t v) { raw(&v, 8); }
  void i8(std::int8_t v) { u8(std::uint8_t(v)); }
  void i16(std::int16_t v) { raw(&v, 2); }
  void i32(std::int32_t v) { raw(&v, 4); }
  void i64(std::int64_t v) { raw(&v, 8); }
  void f32(float v) { raw(&v, 4); }
  void f64(double v) { raw(&v, 8); }
  void dateTime(DateTime v) { i64(v); }
  void statusCode(StatusCode v) { u32(v); }
  /// Empty strings go as null (length -1).
  void string(const std::string& v);
  void byteString(const std::string& v) { string(v); }
  void guid(const Guid& v);
  void nodeId(const NodeId& v);
  void expandedNodeId(const ExpandedNodeId& v);
  void qualifiedName(const QualifiedName& v);
  void localizedText(const LocalizedText& v);
  void extensionObject(const ExtensionObject& v);
  void variant(const Variant& v);
  void dataValue(const DataValue& v);
  void diagnosticInfo(const DiagnosticInfo& v);
  /// Array length prefix; -1 is a null array.
  void arrayLength(std::size_t n) { i32(std::int32_t(n)); }

  template <class T, class F>
  void array(const std::vector<T>& items, F&& encodeOne) {
    arrayLength(items.size());
    for (const auto& item : items) encodeOne(*this, item);
  }

  /// Writes a 32-bit value at an earlier position (sizes known afterwards).
  void patchU32(std::size_t at, std::uint32_t v) { std::memcpy(out_.data() + at, &v, 4); }

 private:
  // Little-endian hosts only; the build checks this.
  void raw(const void* p, std::size_t n) {
    if (n == 0) return;
    const std::size_t at = out_.size();
    out_.resize(at + n);
    std::memcpy(out_.data() + at, p, n);
  }
  void variantScalar(BuiltinType t, const Variant::Storage& v);

  std::vector<std::uint8_t>& out_;
};

}  // namespace veze6::ua
