#include "types.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace veze6::ua {

namespace {

// Ticks between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kUnixEpochTicks = 116444736000000000LL;

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(const std::string& in) {
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    const unsigned v =
        (std::uint8_t(in[i]) << 16) | (std::uint8_t(in[i + 1]) << 8) | std::uint8_t(in[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out += kBase64[(v >> s) & 63];
  }
  if (i < in.size()) {
    unsigned v = std::uint8_t(in[i]) << 16;
    if (i + 1 < in.size()) v |= std::uint8_t(in[i + 1]) << 8;
    out += kBase64[(v >> 18) & 63];
    out += kBase64[(v >> 12) & 63];
    out += i + 1 < in.size() ? kBase64[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::optional<std::string> unbase64(const std::string& in) {
  std::string out;
  unsigned acc = 0;
  int bits = 0;
  for (char c : in) {
    if (c == '=') break;
    const char* p = std::char_traits<char>::find(kBase64, 64, c);
    if (!p) return std::nullopt;
    acc = (acc << 6) | unsigned(p - kBase64);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += char((acc >> bits) & 0xFF);
    }
  }
  return out;
}

template <class T>
bool parseNumber(const std::string& s, T& v) {
  if (s.empty()) return false;
  const char* first = s.data();
  if constexpr (std::is_unsigned_v<T>) {
    if (*first == '-') return false;
  }
  if (*first == '+') ++first;
  auto [p, ec] = std::from_chars(first, s.data() + s.size(), v);
  return ec == std::errc() && p == s.data() + s.size();
}

bool parseGuid(const std::string& s, Guid& g) {
  unsigned d[11];
  if (s.size() != 36 ||
      std::sscanf(s.c_str(), "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &d[0], &d[1], &d[2], &d[3],
                  &d[4], &d[5], &d[6], &d[7], &d[8], &d[9], &d[10]) != 11)
    return false;
  g.data1 = d[0];
  g.data2 = std::uint16_t(d[1]);
  g.data3 = std::uint16_t(d[2]);
  for (int i = 0; i < 8; ++i) g.data4[i] = std::uint8_t(d[3 + i]);
  return true;
}

std::string guidText(const Guid& g) {
  char t[40];
  std::snprintf(t, sizeof t, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", unsigned(g.data1),
                unsigned(g.data2), unsigned(g.data3), g.data4[0], g.data4[1], g.data4[2],
                g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return t;
}

std::string numberText(double d) {
  char t[32];
  auto [p, ec] = std::to_chars(t, t + sizeof t, d);
  return std::string(t, ec == std::errc() ? p : t);
}

}  // namespace

DateTime now() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  return kUnixEpochTicks +
         std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
}

std::int64_t toUnixMilliseconds(DateTime t) { return (t - kUnixEpochTicks) / 10000; }

std::string dateTimeText(DateTime t) {
  if (t == 0) return "-";
  const std::int64_t ms = toUnixMilliseconds(t);
  std::time_t secs = std::time_t(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
  const int milli = int(((ms % 1000) + 1000) % 1000);
  std::tm tm{};
  gmtime_r(&secs, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, milli);
  return text;
}

std::string NodeId::toString() const {
  std::string s = namespaceIndex ? "ns=" + std::to_string(namespaceIndex) + ";" : std::string();
  switch (kind) {
    case Kind::Numeric:
      return s + "i=" + std::to_string(numeric);
    case Kind::String:
      return s + "s=" + text;
    case Kind::Guid:
      return s + "g=" + guidText(guid);
    case Kind::Opaque:
      return s + "b=" + base64(text);
  }
  return s;
}

std::optional<NodeId> NodeId::parse(const std::string& text) {
  NodeId id;
  std::string rest = text;
  if (rest.rfind("ns=", 0) == 0) {
    const auto semi = rest.find(';');
    if (semi == std::string::npos || !parseNumber(rest.substr(3, semi - 3), id.namespaceIndex))
      return std::nullopt;
    rest = rest.substr(semi + 1);
  }
  if (rest.size() < 2 || rest[1] != '=') return std::nullopt;
  const std::string value = rest.substr(2);
  switch (rest[0]) {
    case 'i':
      if (!parseNumber(value, id.numeric)) return std::nullopt;
      return id;
    case 's':
      id.kind = Kind::String;
      id.text = value;
      return id;
    case 'g':
      id.kind = Kind::Guid;
      if (!parseGuid(value, id.guid)) return std::nullopt;
      return id;
    case 'b': {
      id.kind = Kind::Opaque;
      auto bytes = unbase64(value);
      if (!bytes) return std::nullopt;
      id.text = *bytes;
      return id;
    }
  }
  return std::nullopt;
}

const char* builtinTypeName(BuiltinType t) {
  static constexpr const char* kNames[] = {
      "Null",          "Boolean",       "SByte",           "Byte",           "Int16",
      "UInt16",        "Int32",         "UInt32",          "Int64",          "UInt64",
      "Float",         "Double",        "String",          "DateTime",       "Guid",
      "ByteString",    "XmlElement",    "NodeId",          "ExpandedNodeId", "StatusCode",
      "QualifiedName", "LocalizedText", "ExtensionObject", "DataValue",      "Variant",
      "DiagnosticInfo"};
  const auto i = std::size_t(t);
  return i < std::size(kNames) ? kNames[i] : "?";
}

std::optional<double> Variant::toDouble() const {
  if (const auto* b = std::get_if<bool>(&value)) return *b ? 1.0 : 0.0;
  if (const auto* i = std::get_if<std::int64_t>(&value)) return double(*i);
  if (const auto* u = std::get_if<std::uint64_t>(&value)) return double(*u);
  if (const auto* d = std::get_if<double>(&value)) return *d;
  return std::nullopt;
}

std::string Variant::toString() const {
  if (const auto* a = elements()) {
    std::string s = "[";
    for (std::size_t i = 0; i < a->size(); ++i) s += (i ? ", " : "") + (*a)[i].toString();
    return s + "]";
  }
  switch (type) {
    case BuiltinType::Null:
      return "null";
    case BuiltinType::Boolean:
      return std::get<bool>(value) ? "true" : "false";
    case BuiltinType::DateTime:
      return dateTimeText(std::get<std::int64_t>(value));
    case BuiltinType::StatusCode:
      return statusName(StatusCode(std::get<std::uint64_t>(value)));
    case BuiltinType::ByteString:
      return "b=" + base64(std::get<std::string>(value));
    default:
      break;
  }
  return std::visit(
      [this](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::uint64_t>)
          return std::to_string(v);
        else if constexpr (std::is_same_v<T, double>)
          return type == BuiltinType::Float ? numberText(double(float(v))) : numberText(v);
        else if constexpr (std::is_same_v<T, std::string>)
          return v;
        else if constexpr (std::is_same_v<T, Guid>)
          return guidText(v);
        else if constexpr (std::is_same_v<T, NodeId>)
          return v.toString();
        else if constexpr (std::is_same_v<T, ExpandedNodeId>)
          return v.nodeId.toString();
        else if constexpr (std::is_same_v<T, QualifiedName>)
          return (v.namespaceIndex ? std::to_string(v.namespaceIndex) + ":" : "") + v.name;
        else if constexpr (std::is_same_v<T, LocalizedText>)
          return v.text;
        else if constexpr (std::is_same_v<T, ExtensionObject>)
          return "<structure " + v.typeId.toString() + ", " + std::to_string(v.body.size()) +
                 " bytes>";
        else if constexpr (std::is_same_v<T, std::shared_ptr<DataValue>>)
          return v ? v->value.toString() : "null";
        else
          return "?";
      },
      value);
}

std::optional<Variant> variantFromText(BuiltinType type, const std::string& text) {
  auto signedValue = [&](std::int64_t lo, std::int64_t hi) -> std::optional<Variant> {
    std::int64_t v;
    if (!parseNumber(text, v) || v < lo || v > hi) return std::nullopt;
    return Variant(type, v);
  };
  auto unsignedValue = [&](std::uint64_t hi) -> std::optional<Variant> {
    std::uint64_t v;
    if (!parseNumber(text, v) || v > hi) return std::nullopt;
    return Variant(type, v);
  };
  switch (type) {
    case BuiltinType::Boolean:
      if (text == "true" || text == "1") return Variant::boolean(true);
      if (text == "false" || text == "0") return Variant::boolean(false);
      return std::nullopt;
    case BuiltinType::SByte:
      return signedValue(-128, 127);
    case BuiltinType::Int16:
      return signedValue(-32768, 32767);
    case BuiltinType::Int32:
      return signedValue(INT32_MIN, INT32_MAX);
    case BuiltinType::Int64:
      return signedValue(INT64_MIN, INT64_MAX);
    case BuiltinType::Byte:
      return unsignedValue(255);
    case BuiltinType::UInt16:
      return unsignedValue(65535);
    case BuiltinType::UInt32:
      return unsignedValue(UINT32_MAX);
    case BuiltinType::UInt64:
      return unsignedValue(UINT64_MAX);
    case BuiltinType::Float:
    case BuiltinType::Double: {
      double d;
      if (!parseNumber(text, d)) return std::nullopt;
      if (type == BuiltinType::Float && std::isfinite(d) && std::fabs(d) > 3.4028234663852886e38)
        return std::nullopt;
      return Variant(type, type == BuiltinType::Float ? double(float(d)) : d);
    }
    case BuiltinType::String:
      return Variant::string(text);
    case BuiltinType::LocalizedText:
      return Variant(type, LocalizedText{{}, text});
    case BuiltinType::NodeId: {
      auto id = NodeId::parse(text);
      if (!id) return std::nullopt;
      return Variant(type, *id);
    }
    default:
      return std::nullopt;
  }
}

}  // namespace veze6::ua
