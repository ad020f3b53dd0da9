// The attribute and view services of the client, split by operation limits.
#include "batches.h"
#include "client.h"

namespace veze6::ua {

namespace {

// A server that keeps answering with continuation points is cut off here.
constexpr int kMaxBrowseRounds = 10000;

}  // namespace

StatusCode Client::read(const std::vector<ReadValueId>& nodes, std::vector<DataValue>& results,
                        TimestampsToReturn timestamps, double maxAge) {
  return callInBatches<ReadRequest, ReadResponse>(nodes, operationLimits().maxNodesPerRead, results,
                                                  [&](ReadRequest& request, auto part) {
                                                    request.maxAge = maxAge;
                                                    request.timestampsToReturn = timestamps;
                                                    request.nodesToRead = std::move(part);
                                                  });
}

StatusCode Client::write(const std::vector<WriteValue>& values, std::vector<StatusCode>& results) {
  // One request after the other: a node written twice ends with the later value.
  return callInBatches<WriteRequest, WriteResponse>(
      values, operationLimits().maxNodesPerWrite, results,
      [&](WriteRequest& request, auto part) { request.nodesToWrite = std::move(part); }, 1);
}

StatusCode Client::browse(const std::vector<BrowseDescription>& nodes,
                          std::vector<BrowseResult>& results, std::uint32_t maxReferences) {
  results.clear();
  const std::uint32_t limit = operationLimits().maxNodesPerBrowse;
  StatusCode s = forEachBatch(nodes.size(), limit, [&](std::size_t first, std::size_t count) {
    BrowseRequest request;
    request.requestedMaxReferencesPerNode = maxReferences;
    request.nodesToBrowse = slice(nodes, first, count);
    BrowseResponse response;
    if (StatusCode s = call(std::move(request), response); isBad(s)) return s;
    return appendResults(results, response.results, count);
  });
  if (isBad(s)) return s;

  auto pending = [&] {
    std::vector<std::size_t> open;
    for (std::size_t i = 0; i < results.size(); ++i)
      if (!results[i].continuationPoint.empty()) open.push_back(i);
    return open;
  };
  for (int round = 0; round < kMaxBrowseRounds; ++round) {
    const auto open = pending();
    if (open.empty()) return status::Good;
    s = forEachBatch(open.size(), limit, [&](std::size_t first, std::size_t count) {
      BrowseNextRequest request;
      for (std::size_t i = first; i < first + count; ++i)
        request.continuationPoints.push_back(results[open[i]].continuationPoint);
      BrowseNextResponse response;
      if (StatusCode s = call(std::move(request), response); isBad(s)) return s;
      if (response.results.size() != count) return status::BadUnknownResponse;
      for (std::size_t i = 0; i < count; ++i) {
        auto& target = results[open[first + i]];
        auto& next = response.results[i];
        target.continuationPoint = std::move(next.continuationPoint);
        if (isBad(next.status)) target.status = next.status;
        target.references.insert(target.references.end(),
                                 std::make_move_iterator(next.references.begin()),
                                 std::make_move_iterator(next.references.end()));
      }
      return status::Good;
    });
    if (isBad(s)) break;
  }
  if (isGood(s)) s = status::BadUnknownResponse;  // the rounds ran out
  // The server holds a continuation point per open browse; give them back.
  const auto open = pending();
  forEachBatch(open.size(), limit, [&](std::size_t first, std::size_t count) {
    BrowseNextRequest request;
    request.releaseContinuationPoints = true;
    for (std::size_t i = first; i < first + count; ++i)
      request.continuationPoints.push_back(results[open[i]].continuationPoint);
    BrowseNextResponse response;
    call(std::move(request), response);
    return status::Good;
  });
  for (std::size_t i : open) results[i].continuationPoint.clear();
  return s;
}

StatusCode Client::translateBrowsePaths(const std::vector<BrowsePath>& paths,
                                        std::vector<BrowsePathResult>& results) {
  return callInBatches<TranslateBrowsePathsRequest, TranslateBrowsePathsResponse>(
      paths, operationLimits().maxNodesPerTranslate, results,
      [&](TranslateBrowsePathsRequest& request, auto part) {
        request.browsePaths = std::move(part);
      });
}

StatusCode Client::readServerStatus(ServerStatus& status) {
  std::vector<DataValue> values;
  if (StatusCode s = read({{NodeId(0, nodes::Server_ServerStatus)}}, values); isBad(s)) return s;
  if (isBad(values[0].status)) return values[0].status;
  const auto* x = std::get_if<ExtensionObject>(&values[0].value.value);
  if (!x || x->typeId != NodeId(0, typeids::ServerStatusDataType) ||
      x->encoding != ExtensionObject::Encoding::Binary)
    return status::BadTypeMismatch;
  try {
    BinaryDecoder d(reinterpret_cast<const std::uint8_t*>(x->body.data()), x->body.size());
    decode(d, status);
  } catch (const DecodeError& e) {
    return e.code();
  }
  return status::Good;
}

}  // namespace veze6::ua
