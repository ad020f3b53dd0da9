#include "uanodeinfo.h"

#include <array>

#include "uavalue.h"

namespace veze6::uab {

namespace {

constexpr std::uint32_t kUserAccessLevel = 18;
constexpr std::uint32_t kMinimumSamplingInterval = 19;
constexpr std::uint32_t kHasSubtype = 45;
// Deeper type hierarchies than this are taken for a loop in the server's graph.
constexpr int kMaxSupertypes = 32;

// Item detail first, so that both details share the positions.
constexpr std::array<std::uint32_t, 6> kAttributes = {
    ua::attributes::NodeClass, ua::attributes::DataType, ua::attributes::ValueRank,
    kUserAccessLevel,          kMinimumSamplingInterval, ua::attributes::Description};
constexpr std::size_t kItemAttributes = 4;

template <class T>
const T* good(const ua::DataValue& v) {
  return ua::isBad(v.status) ? nullptr : std::get_if<T>(&v.value.value);
}

std::optional<std::int64_t> integer(const ua::DataValue& v) {
  if (const auto* i = good<std::int64_t>(v)) return *i;
  if (const auto* u = good<std::uint64_t>(v); u && *u <= 0x7FFFFFFF) return std::int64_t(*u);
  return std::nullopt;
}

// The supertype of a data type node, when the server names one here.
std::optional<ua::NodeId> supertype(UaSession& session, const ua::NodeId& type) {
  ua::BrowseDescription d;
  d.nodeId = type;
  d.browseDirection = ua::BrowseDirection::Inverse;
  d.referenceTypeId = ua::NodeId(0, kHasSubtype);
  d.includeSubtypes = false;
  std::vector<ua::BrowseResult> results;
  if (ua::isBad(session.client.browse({d}, results)) || results.size() != 1 ||
      ua::isBad(results[0].status)) {
    return std::nullopt;
  }
  for (const auto& r : results[0].references) {
    if (auto local = localNodeId(r.nodeId, session.namespaces)) return local;
  }
  return std::nullopt;
}

}  // namespace

ua::BuiltinType resolveBuiltinType(UaSession& session, const ua::NodeId& dataType) {
  if (auto known = knownBuiltinType(dataType)) return *known;
  const std::string key = dataType.toString();
  {
    std::lock_guard lock(session.cacheMutex);
    if (auto it = session.builtinTypes.find(key); it != session.builtinTypes.end()) {
      return it->second;
    }
  }
  ua::BuiltinType resolved = ua::BuiltinType::Variant;
  ua::NodeId at = dataType;
  for (int depth = 0; depth < kMaxSupertypes; ++depth) {
    auto up = supertype(session, at);
    if (!up) break;
    if (auto known = knownBuiltinType(*up)) {
      resolved = *known;
      break;
    }
    at = std::move(*up);
  }
  std::lock_guard lock(session.cacheMutex);
  session.builtinTypes.emplace(key, resolved);
  return resolved;
}

ua::StatusCode readNodeInfo(UaSession& session, const std::vector<ua::NodeId>& nodes,
                            std::vector<NodeInfo>& infos, NodeDetail detail) {
  infos.assign(nodes.size(), NodeInfo{});
  const std::size_t per = detail == NodeDetail::Item ? kItemAttributes : kAttributes.size();
  std::vector<ua::ReadValueId> reads;
  reads.reserve(nodes.size() * per);
  for (const auto& node : nodes) {
    for (std::size_t a = 0; a < per; ++a) reads.emplace_back(node, kAttributes[a]);
  }
  std::vector<ua::DataValue> values;
  ua::StatusCode s = session.client.read(reads, values, ua::TimestampsToReturn::Neither, 0);
  if (!ua::isBad(s) && values.size() != reads.size()) s = ua::status::BadUnexpectedError;
  if (ua::isBad(s)) {
    for (auto& info : infos) info.error = E_FAIL;
    return s;
  }
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    NodeInfo& info = infos[i];
    const ua::DataValue* v = &values[i * per];
    if (ua::isBad(v[0].status)) {
      info.error = resultFromStatus(v[0].status);
      continue;
    }
    const auto nodeClass = integer(v[0]);
    info.nodeClass = nodeClass ? ua::NodeClass(*nodeClass) : ua::NodeClass::Unspecified;
    if (info.nodeClass != ua::NodeClass::Variable) {
      info.error = OPC_E_UNKNOWNITEMID;
      continue;
    }
    if (const auto* type = good<ua::NodeId>(v[1])) info.dataType = *type;
    // A rank below -3 means nothing: taken for a scalar.
    if (const auto rank = integer(v[2])) info.valueRank = *rank < -3 ? -1 : std::int32_t(*rank);
    if (const auto* a = good<std::uint64_t>(v[3]))
      info.accessRights = accessRightsFromUa(std::uint8_t(*a));
    if (per == kItemAttributes) continue;
    if (const auto* m = good<double>(v[4])) info.minimumSamplingInterval = *m;
    if (const auto* d = good<ua::LocalizedText>(v[5])) info.description = *d;
  }
  // Each data type resolved once, however many nodes share it.
  for (auto& info : infos) {
    if (FAILED(info.error)) continue;
    info.builtinType = info.dataType.isNull() ? ua::BuiltinType::Variant
                                              : resolveBuiltinType(session, info.dataType);
    info.canonicalType = canonicalType(info.builtinType, info.valueRank, info.dataType);
  }
  return s;
}

}  // namespace veze6::uab
