// Reads the OPC UA binary encoding of the built-in types from untrusted
// bytes. Every length, count and nesting level is checked before use: a
// count is never larger than the bytes left could hold, so nothing is
// allocated beyond what the message carries. A fault throws DecodeError.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "types.h"

namespace veze6::ua {

class DecodeError : public std::runtime_error {
 public:
  explicit DecodeError(const char* what, StatusCode code = status::BadDecodingError)
      : std::runtime_error(what), code_(code) {}
  StatusCode code() const { return code_; }

 private:
  StatusCode code_;
};

struct DecodeLimits {
  std::uint32_t maxStringLength = 16u << 20;
  std::uint32_t maxArrayLength = 1u << 24;
  int maxDepth = 32;  ///< nesting of variants, data values, diagnostics
};

class BinaryDecoder {
 public:
  BinaryDecoder(const std::uint8_t* data, std::size_t size, DecodeLimits limits = {})
      : p_(data), end_(data + size), limits_(limits) {}

  std::size_t remaining() const { return std::size_t(end_ - p_); }
  const std::uint8_t* position() const { return p_; }
  void skip(std::size_t n) {
    need(n);
    p_ += n;
  }
  /// Throws unless every byte was read.
  void expectEnd() const {
    if (p_ != end_) throw DecodeError("trailing bytes");
  }

  bool boolean() { return u8() != 0; }
  std::uint8_t u8() {
    need(1);
    return *p_++;
  }
  std::uint16_t u16() { return raw<std::uint16_t>(); }
  std::uint32_t u32() { return raw<std::uint32_t>(); }
  std::uint64_t u64() { return raw<std::uint64_t>(); }
  std::int8_t i8() { return std::int8_t(u8()); }
  std::int16_t i16() { return raw<std::int16_t>(); }
  std::int32_t i32() { return raw<std::int32_t>(); }
  std::int64_t i64() { return raw<std::int64_t>(); }
  float f32() { return raw<float>(); }
  double f64() { return raw<double>(); }
  DateTime dateTime() { return i64(); }
  StatusCode statusCode() { return u32(); }
  std::string string();
  std::string byteString() { return string(); }
  Guid guid();
  NodeId nodeId();
  ExpandedNodeId expandedNodeId();
  QualifiedName qualifiedName();
  LocalizedText localizedText();
  ExtensionObject extensionObject();
  Variant variant();
  /// Decodes into an existing value (no temporaries: the hot path of data
  /// changes).
  void variant(Variant& v);
  DataValue dataValue();
  void dataValue(DataValue& v);
  DiagnosticInfo diagnosticInfo();

  /// An array's element count (0 for a null array), checked against the
  /// limit and against the bytes left at `minElementSize` bytes each.
  std::size_t arrayLength(std::size_t minElementSize = 1);

  template <class T, class F>
  std::vector<T> array(F&& decodeOne, std::size_t minElementSize = 1) {
    const std::size_t n = arrayLength(minElementSize);
    std::vector<T> items(n);
    for (auto& item : items) decodeOne(*this, item);
    return items;
  }

 private:
  void need(std::size_t n) const {
    if (std::size_t(end_ - p_) < n) throw DecodeError("message ends early");
  }
  template <class T>
  T raw() {
    need(sizeof(T));
    T v;
    std::memcpy(&v, p_, sizeof(T));
    p_ += sizeof(T);
    return v;
  }
  struct Nest {
    explicit Nest(BinaryDecoder& d) : d_(d) {
      if (++d_.depth_ > d_.limits_.maxDepth) throw DecodeError("nested too deep");
    }
    ~Nest() { --d_.depth_; }
    BinaryDecoder& d_;
  };
  void variantScalar(BuiltinType t, Variant::Storage& out);
  NodeId nodeIdBody(std::uint8_t form);

  const std::uint8_t* p_;
  const std::uint8_t* end_;
  DecodeLimits limits_;
  int depth_ = 0;
};

}  // namespace veze6::ua
