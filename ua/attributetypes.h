// Structures of the attribute, view and query-by-path services (Read, Write,
// Browse, BrowseNext, TranslateBrowsePathsToNodeIds) and of the server's
// status, with their binary encoders and decoders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "channeltypes.h"

namespace veze6::ua {

namespace attributes {
inline constexpr std::uint32_t NodeId = 1;
inline constexpr std::uint32_t NodeClass = 2;
inline constexpr std::uint32_t BrowseName = 3;
inline constexpr std::uint32_t DisplayName = 4;
inline constexpr std::uint32_t Description = 5;
inline constexpr std::uint32_t Value = 13;
inline constexpr std::uint32_t DataType = 14;
inline constexpr std::uint32_t ValueRank = 15;
inline constexpr std::uint32_t AccessLevel = 17;
}  // namespace attributes

/// Well-known nodes of namespace 0.
namespace nodes {
inline constexpr std::uint32_t RootFolder = 84;
inline constexpr std::uint32_t ObjectsFolder = 85;
inline constexpr std::uint32_t HierarchicalReferences = 33;
inline constexpr std::uint32_t Organizes = 35;
inline constexpr std::uint32_t HasComponent = 47;
inline constexpr std::uint32_t HasProperty = 46;
inline constexpr std::uint32_t Server_NamespaceArray = 2255;
inline constexpr std::uint32_t Server_ServerStatus = 2256;
inline constexpr std::uint32_t Server_ServerStatus_State = 2259;
inline constexpr std::uint32_t MaxNodesPerRead = 11705;
inline constexpr std::uint32_t MaxNodesPerWrite = 11707;
inline constexpr std::uint32_t MaxNodesPerBrowse = 11710;
inline constexpr std::uint32_t MaxNodesPerTranslateBrowsePathsToNodeIds = 11712;
inline constexpr std::uint32_t MaxMonitoredItemsPerCall = 11714;
}  // namespace nodes

enum class TimestampsToReturn : std::int32_t { Source = 0, Server = 1, Both = 2, Neither = 3 };
enum class BrowseDirection : std::int32_t { Forward = 0, Inverse = 1, Both = 2 };
enum class NodeClass : std::int32_t {
  Unspecified = 0,
  Object = 1,
  Variable = 2,
  Method = 4,
  ObjectType = 8,
  VariableType = 16,
  ReferenceType = 32,
  DataType = 64,
  View = 128
};
const char* nodeClassName(NodeClass c);

struct ReadValueId {
  ReadValueId() = default;
  ReadValueId(NodeId id, std::uint32_t attribute = attributes::Value)
      : nodeId(std::move(id)), attributeId(attribute) {}
  NodeId nodeId;
  std::uint32_t attributeId = attributes::Value;
  std::string indexRange;
};

struct ReadRequest {
  static constexpr std::uint32_t kTypeId = 631;
  RequestHeader header;
  double maxAge = 0;
  TimestampsToReturn timestampsToReturn = TimestampsToReturn::Both;
  std::vector<ReadValueId> nodesToRead;
};

struct ReadResponse {
  static constexpr std::uint32_t kTypeId = 634;
  ResponseHeader header;
  std::vector<DataValue> results;
};

struct WriteValue {
  NodeId nodeId;
  std::uint32_t attributeId = attributes::Value;
  std::string indexRange;
  DataValue value;
};

struct WriteRequest {
  static constexpr std::uint32_t kTypeId = 673;
  RequestHeader header;
  std::vector<WriteValue> nodesToWrite;
};

struct WriteResponse {
  static constexpr std::uint32_t kTypeId = 676;
  ResponseHeader header;
  std::vector<StatusCode> results;
};

struct BrowseDescription {
  NodeId nodeId;
  BrowseDirection browseDirection = BrowseDirection::Forward;
  NodeId referenceTypeId{0, nodes::HierarchicalReferences};
  bool includeSubtypes = true;
  std::uint32_t nodeClassMask = 0;
  std::uint32_t resultMask = 0x3F;
};

struct ReferenceDescription {
  NodeId referenceTypeId;
  bool isForward = true;
  ExpandedNodeId nodeId;
  QualifiedName browseName;
  LocalizedText displayName;
  NodeClass nodeClass = NodeClass::Unspecified;
  ExpandedNodeId typeDefinition;
};

struct BrowseResult {
  StatusCode status = status::Good;
  ByteString continuationPoint;
  std::vector<ReferenceDescription> references;
};

struct BrowseRequest {
  static constexpr std::uint32_t kTypeId = 527;
  RequestHeader header;
  std::uint32_t requestedMaxReferencesPerNode = 0;
  std::vector<BrowseDescription> nodesToBrowse;
};

struct BrowseResponse {
  static constexpr std::uint32_t kTypeId = 530;
  ResponseHeader header;
  std::vector<BrowseResult> results;
};

struct BrowseNextRequest {
  static constexpr std::uint32_t kTypeId = 533;
  RequestHeader header;
  bool releaseContinuationPoints = false;
  std::vector<ByteString> continuationPoints;
};

struct BrowseNextResponse {
  static constexpr std::uint32_t kTypeId = 536;
  ResponseHeader header;
  std::vector<BrowseResult> results;
};

struct RelativePathElement {
  NodeId referenceTypeId{0, nodes::HierarchicalReferences};
  bool isInverse = false;
  bool includeSubtypes = true;
  QualifiedName targetName;
};

struct BrowsePath {
  NodeId startingNode;
  std::vector<RelativePathElement> relativePath;
};

struct BrowsePathTarget {
  ExpandedNodeId targetId;
  std::uint32_t remainingPathIndex = 0xFFFFFFFF;
};

struct BrowsePathResult {
  StatusCode status = status::Good;
  std::vector<BrowsePathTarget> targets;
};

struct TranslateBrowsePathsRequest {
  static constexpr std::uint32_t kTypeId = 554;
  RequestHeader header;
  std::vector<BrowsePath> browsePaths;
};

struct TranslateBrowsePathsResponse {
  static constexpr std::uint32_t kTypeId = 557;
  ResponseHeader header;
  std::vector<BrowsePathResult> results;
};

enum class ServerState : std::int32_t {
  Running = 0,
  Failed = 1,
  NoConfiguration = 2,
  Suspended = 3,
  Shutdown = 4,
  Test = 5,
  CommunicationFault = 6,
  Unknown = 7
};
const char* serverStateName(ServerState s);

struct BuildInfo {
  std::string productUri;
  std::string manufacturerName;
  std::string productName;
  std::string softwareVersion;
  std::string buildNumber;
  DateTime buildDate = 0;
};

struct ServerStatus {
  DateTime startTime = 0;
  DateTime currentTime = 0;
  ServerState state = ServerState::Unknown;
  BuildInfo buildInfo;
  std::uint32_t secondsTillShutdown = 0;
  LocalizedText shutdownReason;
};

void encode(BinaryEncoder& e, const ReadValueId& v);
void encode(BinaryEncoder& e, const ReadRequest& v);
void decode(BinaryDecoder& d, ReadResponse& v);
void encode(BinaryEncoder& e, const WriteRequest& v);
void decode(BinaryDecoder& d, WriteResponse& v);
void encode(BinaryEncoder& e, const BrowseRequest& v);
void decode(BinaryDecoder& d, BrowseResponse& v);
void encode(BinaryEncoder& e, const BrowseNextRequest& v);
void decode(BinaryDecoder& d, BrowseNextResponse& v);
void encode(BinaryEncoder& e, const TranslateBrowsePathsRequest& v);
void decode(BinaryDecoder& d, TranslateBrowsePathsResponse& v);
void decode(BinaryDecoder& d, ServerStatus& v);

}  // namespace veze6::ua
