// The subscription and monitored item services of the client.
#include <future>

#include "batches.h"
#include "client.h"

namespace veze6::ua {

ExtensionObject Client::deadbandFilter(DeadbandType type, double value) {
  DataChangeFilter filter;
  filter.deadbandType = type;
  filter.deadbandValue = value;
  return makeExtensionObject(filter);
}

StatusCode Client::createSubscription(const SubscriptionSettings& settings,
                                      DataChangeHandler handler, std::uint32_t& subscriptionId,
                                      SubscriptionSettings* revised) {
  CreateSubscriptionRequest request;
  request.requestedPublishingInterval = settings.publishingInterval;
  request.requestedLifetimeCount = settings.lifetimeCount;
  request.requestedMaxKeepAliveCount = settings.maxKeepAliveCount;
  request.maxNotificationsPerPublish = settings.maxNotificationsPerPublish;
  request.publishingEnabled = settings.publishingEnabled;
  request.priority = settings.priority;
  CreateSubscriptionResponse response;
  if (StatusCode s = call(std::move(request), response); isBad(s)) return s;
  SubscriptionSettings actual = settings;
  actual.publishingInterval = response.revisedPublishingInterval;
  actual.lifetimeCount = response.revisedLifetimeCount;
  actual.maxKeepAliveCount = response.revisedMaxKeepAliveCount;
  subscriptionId = response.subscriptionId;
  if (revised) *revised = actual;
  io_->post([this, id = response.subscriptionId, actual, handler = std::move(handler)]() mutable {
    subscriptions_->add(id, actual, std::move(handler));
  });
  return status::Good;
}

StatusCode Client::modifySubscription(std::uint32_t subscriptionId,
                                      const SubscriptionSettings& settings,
                                      SubscriptionSettings* revised) {
  ModifySubscriptionRequest request;
  request.subscriptionId = subscriptionId;
  request.requestedPublishingInterval = settings.publishingInterval;
  request.requestedLifetimeCount = settings.lifetimeCount;
  request.requestedMaxKeepAliveCount = settings.maxKeepAliveCount;
  request.maxNotificationsPerPublish = settings.maxNotificationsPerPublish;
  request.priority = settings.priority;
  ModifySubscriptionResponse response;
  if (StatusCode s = call(std::move(request), response); isBad(s)) return s;
  SubscriptionSettings actual = settings;
  actual.publishingInterval = response.revisedPublishingInterval;
  actual.lifetimeCount = response.revisedLifetimeCount;
  actual.maxKeepAliveCount = response.revisedMaxKeepAliveCount;
  if (revised) *revised = actual;
  io_->post([this, subscriptionId, actual] { subscriptions_->update(subscriptionId, actual); });
  return status::Good;
}

StatusCode Client::setPublishingMode(bool enabled, const std::vector<std::uint32_t>& ids,
                                     std::vector<StatusCode>& results) {
  SetPublishingModeRequest request;
  request.publishingEnabled = enabled;
  request.subscriptionIds = ids;
  SetPublishingModeResponse response;
  results.clear();
  if (StatusCode s = call(std::move(request), response); isBad(s)) return s;
  return appendResults(results, response.results, ids.size());
}

StatusCode Client::deleteSubscriptions(const std::vector<std::uint32_t>& ids,
                                       std::vector<StatusCode>& results) {
  // Forget them first, so no data change of a deleted subscription arrives.
  std::promise<void> forgotten;
  io_->post([this, &ids, &forgotten] {
    for (auto id : ids) subscriptions_->remove(id);
    forgotten.set_value();
  });
  forgotten.get_future().wait();
  DeleteSubscriptionsRequest request;
  request.subscriptionIds = ids;
  DeleteSubscriptionsResponse response;
  results.clear();
  if (StatusCode s = call(std::move(request), response); isBad(s)) return s;
  return appendResults(results, response.results, ids.size());
}

StatusCode Client::createMonitoredItems(std::uint32_t subscriptionId,
                                        const std::vector<MonitoredItemCreateRequest>& items,
                                        std::vector<MonitoredItemCreateResult>& results,
                                        TimestampsToReturn timestamps) {
  return callInBatches<CreateMonitoredItemsRequest, CreateMonitoredItemsResponse>(
      items, operationLimits().maxMonitoredItemsPerCall, results,
      [&](CreateMonitoredItemsRequest& request, auto part) {
        request.subscriptionId = subscriptionId;
        request.timestampsToReturn = timestamps;
        request.itemsToCreate = std::move(part);
      });
}

StatusCode Client::modifyMonitoredItems(std::uint32_t subscriptionId,
                                        const std::vector<MonitoredItemModifyRequest>& items,
                                        std::vector<MonitoredItemModifyResult>& results,
                                        TimestampsToReturn timestamps) {
  return callInBatches<ModifyMonitoredItemsRequest, ModifyMonitoredItemsResponse>(
      items, operationLimits().maxMonitoredItemsPerCall, results,
      [&](ModifyMonitoredItemsRequest& request, auto part) {
        request.subscriptionId = subscriptionId;
        request.timestampsToReturn = timestamps;
        request.itemsToModify = std::move(part);
      });
}

StatusCode Client::setMonitoringMode(std::uint32_t subscriptionId, MonitoringMode mode,
                                     const std::vector<std::uint32_t>& ids,
                                     std::vector<StatusCode>& results) {
  return callInBatches<SetMonitoringModeRequest, SetMonitoringModeResponse>(
      ids, operationLimits().maxMonitoredItemsPerCall, results,
      [&](SetMonitoringModeRequest& request, auto part) {
        request.subscriptionId = subscriptionId;
        request.monitoringMode = mode;
        request.monitoredItemIds = std::move(part);
      });
}

StatusCode Client::deleteMonitoredItems(std::uint32_t subscriptionId,
                                        const std::vector<std::uint32_t>& ids,
                                        std::vector<StatusCode>& results) {
  return callInBatches<DeleteMonitoredItemsRequest, DeleteMonitoredItemsResponse>(
      ids, operationLimits().maxMonitoredItemsPerCall, results,
      [&](DeleteMonitoredItemsRequest& request, auto part) {
        request.subscriptionId = subscriptionId;
        request.monitoredItemIds = std::move(part);
      });
}

}  // namespace veze6::ua
