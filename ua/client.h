// The OPC UA client: one session with one server over opc.tcp, synchronous
// service calls with time limits (from any thread but the I/O thread),
// subscriptions whose data changes arrive on the client's I/O thread, and
// one loss event when the connection ends without being asked to.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "attributetypes.h"
#include "batches.h"
#include "session.h"
#include "subscription.h"
#include "subscriptiontypes.h"

namespace veze6::ua {

class Client {
 public:
  Client();
  /// Disconnects, then stops the I/O thread.
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  /// Connects and activates a session; on failure `error` (when given) says
  /// what failed. Connecting again first disconnects.
  StatusCode connect(const ConnectOptions& options, std::string* error = nullptr);
  /// Deletes the subscriptions, closes session and channel. No loss event.
  void disconnect();
  bool isConnected() const;
  /// Called once on the I/O thread when an active connection is lost; the
  /// client is disconnected by then.
  void setLossHandler(std::function<void(const LossEvent&)> handler);

  const EndpointDescription& endpoint() const { return session_->endpoint(); }
  std::vector<std::string> namespaces() const { return session_->namespaces(); }
  OperationLimits operationLimits() const { return session_->operationLimits(); }

  // Services. Lists longer than the server's operation limits go out in as
  // many requests as needed; results come back in the order asked. A Bad
  // return means the service (or one of its requests) failed as a whole.

  StatusCode read(const std::vector<ReadValueId>& nodes, std::vector<DataValue>& results,
                  TimestampsToReturn timestamps = TimestampsToReturn::Both, double maxAge = 0);
  StatusCode write(const std::vector<WriteValue>& values, std::vector<StatusCode>& results);
  /// Browses and follows continuation points until every node's references
  /// are complete; continuation points left over by a failure are released.
  StatusCode browse(const std::vector<BrowseDescription>& nodes, std::vector<BrowseResult>& results,
                    std::uint32_t maxReferencesPerRequest = 0);
  StatusCode translateBrowsePaths(const std::vector<BrowsePath>& paths,
                                  std::vector<BrowsePathResult>& results);
  StatusCode readServerStatus(ServerStatus& status);

  StatusCode createSubscription(const SubscriptionSettings& settings, DataChangeHandler handler,
                                std::uint32_t& subscriptionId,
                                SubscriptionSettings* revised = nullptr);
  StatusCode modifySubscription(std::uint32_t subscriptionId, const SubscriptionSettings& settings,
                                SubscriptionSettings* revised = nullptr);
  StatusCode setPublishingMode(bool enabled, const std::vector<std::uint32_t>& subscriptionIds,
                               std::vector<StatusCode>& results);
  StatusCode deleteSubscriptions(const std::vector<std::uint32_t>& subscriptionIds,
                                 std::vector<StatusCode>& results);
  StatusCode createMonitoredItems(std::uint32_t subscriptionId,
                                  const std::vector<MonitoredItemCreateRequest>& items,
                                  std::vector<MonitoredItemCreateResult>& results,
                                  TimestampsToReturn timestamps = TimestampsToReturn::Both);
  StatusCode modifyMonitoredItems(std::uint32_t subscriptionId,
                                  const std::vector<MonitoredItemModifyRequest>& items,
                                  std::vector<MonitoredItemModifyResult>& results,
                                  TimestampsToReturn timestamps = TimestampsToReturn::Both);
  StatusCode setMonitoringMode(std::uint32_t subscriptionId, MonitoringMode mode,
                               const std::vector<std::uint32_t>& monitoredItemIds,
                               std::vector<StatusCode>& results);
  StatusCode deleteMonitoredItems(std::uint32_t subscriptionId,
                                  const std::vector<std::uint32_t>& monitoredItemIds,
                                  std::vector<StatusCode>& results);
  /// The filter for MonitoringParameters::filter: a data change filter with
  /// an absolute or percent dead band.
  static ExtensionObject deadbandFilter(DeadbandType type, double value);
  /// Requests the service calls above sent so far (a call in batches counts
  /// each batch; the publish loop's requests are not counted).
  std::uint64_t callCount() const { return session_->callCount(); }
  /// Counters of the publish loop.
  PublishStatistics publishStatistics();

  /// Runs a task on the I/O thread (where data change handlers run).
  void post(std::function<void()> task) { io_->post(std::move(task)); }

 private:
  template <class Req, class Resp>
  StatusCode call(Req request, Resp& response) {
    return session_->call(std::move(request), response);
  }
  /// One request per slice of `items` the server's `limit` allows; `fill`
  /// puts a slice into a request, and each response's results are appended
  /// to `results` in order. Up to `inFlight` requests await their responses
  /// at a time: a long list costs a few round trips rather than one each.
  template <class Req, class Resp, class Item, class Result, class Fill>
  StatusCode callInBatches(const std::vector<Item>& items, std::uint32_t limit,
                           std::vector<Result>& results, Fill fill,
                           std::size_t inFlight = kRequestsInFlight) {
    results.clear();
    if (items.empty()) return status::BadNothingToDo;
    const std::size_t step = limit ? limit : items.size();
    std::vector<Req> requests;
    requests.reserve((items.size() + step - 1) / step);
    for (std::size_t first = 0; first < items.size(); first += step) {
      fill(requests.emplace_back(), slice(items, first, std::min(step, items.size() - first)));
    }
    std::vector<Resp> responses;
    if (StatusCode s = session_->callPipelined(std::move(requests), responses, inFlight); isBad(s))
      return s;
    results.reserve(items.size());
    for (std::size_t k = 0; k < responses.size(); ++k) {
      const std::size_t count = std::min(step, items.size() - k * step);
      if (StatusCode s = appendResults(results, responses[k].results, count); isBad(s)) return s;
    }
    return status::Good;
  }
  /// Requests of one service call awaiting their responses at a time.
  static constexpr std::size_t kRequestsInFlight = 4;
  std::vector<std::uint32_t> subscriptionIds();

  std::unique_ptr<IoThread> io_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<SubscriptionManager> subscriptions_;
};

}  // namespace veze6::ua
