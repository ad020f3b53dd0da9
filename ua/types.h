// The built-in data types of OPC UA as plain C++ values.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "statuscode.h"

namespace veze6::ua {

/// 100-nanosecond ticks since 1601-01-01 UTC; 0 means "no time".
using DateTime = std::int64_t;

/// The current time as a DateTime.
DateTime now();
/// Milliseconds since 1970-01-01 UTC.
std::int64_t toUnixMilliseconds(DateTime t);
/// ISO 8601 UTC text with milliseconds, "-" for 0.
std::string dateTimeText(DateTime t);

/// Byte strings travel as std::string; an empty one is sent as null.
using ByteString = std::string;

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};
  friend bool operator==(const Guid&, const Guid&) = default;
};

struct NodeId {
  enum class Kind : std::uint8_t { Numeric, String, Guid, Opaque };
  std::uint16_t namespaceIndex = 0;
  Kind kind = Kind::Numeric;
  std::uint32_t numeric = 0;
  std::string text;  ///< the String identifier or the Opaque bytes
  Guid guid;

  NodeId() = default;
  NodeId(std::uint16_t ns, std::uint32_t id) : namespaceIndex(ns), numeric(id) {}
  NodeId(std::uint16_t ns, std::string id)
      : namespaceIndex(ns), kind(Kind::String), text(std::move(id)) {}

  bool isNull() const { return namespaceIndex == 0 && kind == Kind::Numeric && numeric == 0; }
  /// "ns=2;s=Demo.Value", "i=85", "ns=1;g=...", "ns=1;b=<base64>".
  std::string toString() const;
  /// Parses the text form; nullopt for malformed text.
  static std::optional<NodeId> parse(const std::string& text);
  friend bool operator==(const NodeId&, const NodeId&) = default;
};

struct ExpandedNodeId {
  NodeId nodeId;
  std::string namespaceUri;
  std::uint32_t serverIndex = 0;
  friend bool operator==(const ExpandedNodeId&, const ExpandedNodeId&) = default;
};

struct QualifiedName {
  std::uint16_t namespaceIndex = 0;
  std::string name;
  friend bool operator==(const QualifiedName&, const QualifiedName&) = default;
};

struct LocalizedText {
  std::string locale;
  std::string text;
  friend bool operator==(const LocalizedText&, const LocalizedText&) = default;
};

/// A structure whose body is kept encoded; the services decode the types
/// they know from the body.
struct ExtensionObject {
  enum class Encoding : std::uint8_t { None = 0, Binary = 1, Xml = 2 };
  NodeId typeId;
  Encoding encoding = Encoding::None;
  std::string body;
  friend bool operator==(const ExtensionObject&, const ExtensionObject&) = default;
};

struct DiagnosticInfo {
  std::int32_t symbolicId = -1;
  std::int32_t namespaceUri = -1;
  std::int32_t localizedText = -1;
  std::int32_t locale = -1;
  std::string additionalInfo;
  StatusCode innerStatusCode = 0;
  std::shared_ptr<DiagnosticInfo> inner;
};

enum class BuiltinType : std::uint8_t {
  Null = 0,
  Boolean = 1,
  SByte = 2,
  Byte = 3,
  Int16 = 4,
  UInt16 = 5,
  Int32 = 6,
  UInt32 = 7,
  Int64 = 8,
  UInt64 = 9,
  Float = 10,
  Double = 11,
  String = 12,
  DateTime = 13,
  Guid = 14,
  ByteString = 15,
  XmlElement = 16,
  NodeId = 17,
  ExpandedNodeId = 18,
  StatusCode = 19,
  QualifiedName = 20,
  LocalizedText = 21,
  ExtensionObject = 22,
  DataValue = 23,
  Variant = 24,
  DiagnosticInfo = 25,
};

const char* builtinTypeName(BuiltinType t);

struct DataValue;

/// A value of any built-in type, scalar or array. Integers are held widened
/// (signed types as int64, unsigned, StatusCode included, as uint64, Float
/// as double, DateTime as int64); `type` says what goes on the wire.
struct Variant {
  using Array = std::vector<Variant>;
  using Storage =
      std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string, Guid,
                   NodeId, ExpandedNodeId, QualifiedName, LocalizedText, ExtensionObject,
                   std::shared_ptr<DataValue>, std::shared_ptr<DiagnosticInfo>, Array>;

  BuiltinType type = BuiltinType::Null;
  Storage value;
  /// Set only for a multi-dimensional array (value then holds the elements).
  std::vector<std::int32_t> dimensions;

  Variant() = default;
  Variant(BuiltinType t, Storage v) : type(t), value(std::move(v)) {}
  static Variant boolean(bool v) { return {BuiltinType::Boolean, v}; }
  static Variant int32(std::int32_t v) { return {BuiltinType::Int32, std::int64_t{v}}; }
  static Variant uint32(std::uint32_t v) { return {BuiltinType::UInt32, std::uint64_t{v}}; }
  static Variant float32(float v) { return {BuiltinType::Float, double{v}}; }
  static Variant float64(double v) { return {BuiltinType::Double, v}; }
  static Variant string(std::string v) { return {BuiltinType::String, std::move(v)}; }
  /// An array of elements of `t`; every element must have that type.
  static Variant array(BuiltinType t, Array elements) { return {t, std::move(elements)}; }

  bool isNull() const { return type == BuiltinType::Null; }
  bool isArray() const { return std::holds_alternative<Array>(value); }
  const Array* elements() const { return std::get_if<Array>(&value); }
  /// The value as a number: numbers and booleans convert, nullopt otherwise.
  std::optional<double> toDouble() const;
  /// Readable text of the value (arrays as "[a, b]").
  std::string toString() const;
};

/// Parses text into a value of the given scalar type; nullopt when the text
/// does not fit the type.
std::optional<Variant> variantFromText(BuiltinType type, const std::string& text);

struct DataValue {
  Variant value;
  StatusCode status = status::Good;
  DateTime sourceTimestamp = 0;
  DateTime serverTimestamp = 0;
  std::uint16_t sourcePicoseconds = 0;
  std::uint16_t serverPicoseconds = 0;
};

}  // namespace veze6::ua
