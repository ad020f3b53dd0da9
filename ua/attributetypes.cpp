#include "attributetypes.h"

namespace veze6::ua {

namespace {

void decode(BinaryDecoder& d, std::vector<BrowseResult>& results) {
  results = d.array<BrowseResult>(
      [](BinaryDecoder& d, BrowseResult& r) {
        r.status = d.statusCode();
        r.continuationPoint = d.byteString();
        r.references = d.array<ReferenceDescription>(
            [](BinaryDecoder& d, ReferenceDescription& x) {
              x.referenceTypeId = d.nodeId();
              x.isForward = d.boolean();
              x.nodeId = d.expandedNodeId();
              x.browseName = d.qualifiedName();
              x.displayName = d.localizedText();
              x.nodeClass = NodeClass(d.i32());
              x.typeDefinition = d.expandedNodeId();
            },
            20);
      },
      12);
  skipDiagnostics(d);
}

}  // namespace

const char* nodeClassName(NodeClass c) {
  switch (c) {
    case NodeClass::Object:
      return "Object";
    case NodeClass::Variable:
      return "Variable";
    case NodeClass::Method:
      return "Method";
    case NodeClass::ObjectType:
      return "ObjectType";
    case NodeClass::VariableType:
      return "VariableType";
    case NodeClass::ReferenceType:
      return "ReferenceType";
    case NodeClass::DataType:
      return "DataType";
    case NodeClass::View:
      return "View";
    default:
      return "Unspecified";
  }
}

const char* serverStateName(ServerState s) {
  static constexpr const char* kNames[] = {"Running",  "Failed", "NoConfiguration",    "Suspended",
                                           "Shutdown", "Test",   "CommunicationFault", "Unknown"};
  const auto i = std::size_t(s);
  return i < std::size(kNames) ? kNames[i] : "Unknown";
}

void encode(BinaryEncoder& e, const ReadValueId& v) {
  e.nodeId(v.nodeId);
  e.u32(v.attributeId);
  e.string(v.indexRange);
  e.qualifiedName({});
}

void encode(BinaryEncoder& e, const ReadRequest& v) {
  encode(e, v.header);
  e.f64(v.maxAge);
  e.i32(std::int32_t(v.timestampsToReturn));
  e.array(v.nodesToRead, [](BinaryEncoder& e, const ReadValueId& x) { encode(e, x); });
}

void decode(BinaryDecoder& d, ReadResponse& v) {
  decode(d, v.header);
  v.results = d.array<DataValue>([](BinaryDecoder& d, DataValue& x) { d.dataValue(x); });
  skipDiagnostics(d);
}

void encode(BinaryEncoder& e, const WriteRequest& v) {
  encode(e, v.header);
  e.array(v.nodesToWrite, [](BinaryEncoder& e, const WriteValue& x) {
    e.nodeId(x.nodeId);
    e.u32(x.attributeId);
    e.string(x.indexRange);
    e.dataValue(x.value);
  });
}

void decode(BinaryDecoder& d, WriteResponse& v) {
  decode(d, v.header);
  v.results = d.array<StatusCode>([](BinaryDecoder& d, StatusCode& s) { s = d.statusCode(); }, 4);
  skipDiagnostics(d);
}

void encode(BinaryEncoder& e, const BrowseRequest& v) {
  encode(e, v.header);
  e.nodeId({});  // the whole address space, no view
  e.dateTime(0);
  e.u32(0);
  e.u32(v.requestedMaxReferencesPerNode);
  e.array(v.nodesToBrowse, [](BinaryEncoder& e, const BrowseDescription& x) {
    e.nodeId(x.nodeId);
    e.i32(std::int32_t(x.browseDirection));
    e.nodeId(x.referenceTypeId);
    e.boolean(x.includeSubtypes);
    e.u32(x.nodeClassMask);
    e.u32(x.resultMask);
  });
}

void decode(BinaryDecoder& d, BrowseResponse& v) {
  decode(d, v.header);
  decode(d, v.results);
}

void encode(BinaryEncoder& e, const BrowseNextRequest& v) {
  encode(e, v.header);
  e.boolean(v.releaseContinuationPoints);
  e.array(v.continuationPoints, [](BinaryEncoder& e, const ByteString& x) { e.byteString(x); });
}

void decode(BinaryDecoder& d, BrowseNextResponse& v) {
  decode(d, v.header);
  decode(d, v.results);
}

void encode(BinaryEncoder& e, const TranslateBrowsePathsRequest& v) {
  encode(e, v.header);
  e.array(v.browsePaths, [](BinaryEncoder& e, const BrowsePath& p) {
    e.nodeId(p.startingNode);
    e.array(p.relativePath, [](BinaryEncoder& e, const RelativePathElement& x) {
      e.nodeId(x.referenceTypeId);
      e.boolean(x.isInverse);
      e.boolean(x.includeSubtypes);
      e.qualifiedName(x.targetName);
    });
  });
}

void decode(BinaryDecoder& d, TranslateBrowsePathsResponse& v) {
  decode(d, v.header);
  v.results = d.array<BrowsePathResult>(
      [](BinaryDecoder& d, BrowsePathResult& r) {
        r.status = d.statusCode();
        r.targets = d.array<BrowsePathTarget>(
            [](BinaryDecoder& d, BrowsePathTarget& t) {
              t.targetId = d.expandedNodeId();
              t.remainingPathIndex = d.u32();
            },
            6);
      },
      8);
  skipDiagnostics(d);
}

void decode(BinaryDecoder& d, ServerStatus& v) {
  v.startTime = d.dateTime();
  v.currentTime = d.dateTime();
  v.state = ServerState(d.i32());
  v.buildInfo.productUri = d.string();
  v.buildInfo.manufacturerName = d.string();
  v.buildInfo.productName = d.string();
  v.buildInfo.softwareVersion = d.string();
  v.buildInfo.buildNumber = d.string();
  v.buildInfo.buildDate = d.dateTime();
  v.secondsTillShutdown = d.u32();
  v.shutdownReason = d.localizedText();
}

}  // namespace veze6::ua
