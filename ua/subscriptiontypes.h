// Structures of the subscription and monitored item services and of the
// notifications a Publish response carries, with their binary encoders and
// decoders.
#pragma once

#include <cstdint>
#include <vector>

#include "attributetypes.h"

namespace veze6::ua {

enum class MonitoringMode : std::int32_t { Disabled = 0, Sampling = 1, Reporting = 2 };
enum class DeadbandType : std::uint32_t { None = 0, Absolute = 1, Percent = 2 };

struct DataChangeFilter {
  static constexpr std::uint32_t kTypeId = typeids::DataChangeFilter;
  std::int32_t trigger = 1;  ///< 0 status, 1 status and value, 2 also the time stamp
  DeadbandType deadbandType = DeadbandType::None;
  double deadbandValue = 0;
};

struct MonitoringParameters {
  std::uint32_t clientHandle = 0;
  double samplingInterval = -1;  ///< -1: the subscription's publishing interval
  ExtensionObject filter;
  std::uint32_t queueSize = 1;
  bool discardOldest = true;
};

struct MonitoredItemCreateRequest {
  ReadValueId itemToMonitor;
  MonitoringMode monitoringMode = MonitoringMode::Reporting;
  MonitoringParameters requestedParameters;
};

struct MonitoredItemCreateResult {
  StatusCode status = status::Good;
  std::uint32_t monitoredItemId = 0;
  double revisedSamplingInterval = 0;
  std::uint32_t revisedQueueSize = 0;
};

struct MonitoredItemModifyRequest {
  std::uint32_t monitoredItemId = 0;
  MonitoringParameters requestedParameters;
};

struct MonitoredItemModifyResult {
  StatusCode status = status::Good;
  double revisedSamplingInterval = 0;
  std::uint32_t revisedQueueSize = 0;
};

struct CreateSubscriptionRequest {
  static constexpr std::uint32_t kTypeId = 787;
  RequestHeader header;
  double requestedPublishingInterval = 1000;
  std::uint32_t requestedLifetimeCount = 60;
  std::uint32_t requestedMaxKeepAliveCount = 10;
  std::uint32_t maxNotificationsPerPublish = 0;
  bool publishingEnabled = true;
  std::uint8_t priority = 0;
};

struct CreateSubscriptionResponse {
  static constexpr std::uint32_t kTypeId = 790;
  ResponseHeader header;
  std::uint32_t subscriptionId = 0;
  double revisedPublishingInterval = 0;
  std::uint32_t revisedLifetimeCount = 0;
  std::uint32_t revisedMaxKeepAliveCount = 0;
};

struct ModifySubscriptionRequest {
  static constexpr std::uint32_t kTypeId = 793;
  RequestHeader header;
  std::uint32_t subscriptionId = 0;
  double requestedPublishingInterval = 1000;
  std::uint32_t requestedLifetimeCount = 60;
  std::uint32_t requestedMaxKeepAliveCount = 10;
  std::uint32_t maxNotificationsPerPublish = 0;
  std::uint8_t priority = 0;
};

struct ModifySubscriptionResponse {
  static constexpr std::uint32_t kTypeId = 796;
  ResponseHeader header;
  double revisedPublishingInterval = 0;
  std::uint32_t revisedLifetimeCount = 0;
  std::uint32_t revisedMaxKeepAliveCount = 0;
};

struct SetPublishingModeRequest {
  static constexpr std::uint32_t kTypeId = 799;
  RequestHeader header;
  bool publishingEnabled = true;
  std::vector<std::uint32_t> subscriptionIds;
};

/// The answer of every service that returns one status per operation.
struct StatusResults {
  ResponseHeader header;
  std::vector<StatusCode> results;
};

struct SetPublishingModeResponse : StatusResults {
  static constexpr std::uint32_t kTypeId = 802;
};

struct DeleteSubscriptionsRequest {
  static constexpr std::uint32_t kTypeId = 847;
  RequestHeader header;
  std::vector<std::uint32_t> subscriptionIds;
};

struct DeleteSubscriptionsResponse : StatusResults {
  static constexpr std::uint32_t kTypeId = 850;
};

struct CreateMonitoredItemsRequest {
  static constexpr std::uint32_t kTypeId = 751;
  RequestHeader header;
  std::uint32_t subscriptionId = 0;
  TimestampsToReturn timestampsToReturn = TimestampsToReturn::Both;
  std::vector<MonitoredItemCreateRequest> itemsToCreate;
};

struct CreateMonitoredItemsResponse {
  static constexpr std::uint32_t kTypeId = 754;
  ResponseHeader header;
  std::vector<MonitoredItemCreateResult> results;
};

struct ModifyMonitoredItemsRequest {
  static constexpr std::uint32_t kTypeId = 763;
  RequestHeader header;
  std::uint32_t subscriptionId = 0;
  TimestampsToReturn timestampsToReturn = TimestampsToReturn::Both;
  std::vector<MonitoredItemModifyRequest> itemsToModify;
};

struct ModifyMonitoredItemsResponse {
  static constexpr std::uint32_t kTypeId = 766;
  ResponseHeader header;
  std::vector<MonitoredItemModifyResult> results;
};

struct SetMonitoringModeRequest {
  static constexpr std::uint32_t kTypeId = 769;
  RequestHeader header;
  std::uint32_t subscriptionId = 0;
  MonitoringMode monitoringMode = MonitoringMode::Reporting;
  std::vector<std::uint32_t> monitoredItemIds;
};

struct SetMonitoringModeResponse : StatusResults {
  static constexpr std::uint32_t kTypeId = 772;
};

struct DeleteMonitoredItemsRequest {
  static constexpr std::uint32_t kTypeId = 781;
  RequestHeader header;
  std::uint32_t subscriptionId = 0;
  std::vector<std::uint32_t> monitoredItemIds;
};

struct DeleteMonitoredItemsResponse : StatusResults {
  static constexpr std::uint32_t kTypeId = 784;
};

struct SubscriptionAcknowledgement {
  std::uint32_t subscriptionId = 0;
  std::uint32_t sequenceNumber = 0;
};

struct PublishRequest {
  static constexpr std::uint32_t kTypeId = 826;
  RequestHeader header;
  std::vector<SubscriptionAcknowledgement> acknowledgements;
};

struct NotificationMessage {
  std::uint32_t sequenceNumber = 0;
  DateTime publishTime = 0;
  std::vector<ExtensionObject> notificationData;
};

struct PublishResponse {
  static constexpr std::uint32_t kTypeId = 829;
  ResponseHeader header;
  std::uint32_t subscriptionId = 0;
  std::vector<std::uint32_t> availableSequenceNumbers;
  bool moreNotifications = false;
  NotificationMessage message;
  std::vector<StatusCode> results;  ///< one per acknowledgement
};

struct RepublishRequest {
  static constexpr std::uint32_t kTypeId = 832;
  RequestHeader header;
  std::uint32_t subscriptionId = 0;
  std::uint32_t retransmitSequenceNumber = 0;
};

struct RepublishResponse {
  static constexpr std::uint32_t kTypeId = 835;
  ResponseHeader header;
  NotificationMessage message;
};

struct MonitoredItemNotification {
  std::uint32_t clientHandle = 0;
  DataValue value;
};

void encode(BinaryEncoder& e, const DataChangeFilter& v);
void encode(BinaryEncoder& e, const CreateSubscriptionRequest& v);
void decode(BinaryDecoder& d, CreateSubscriptionResponse& v);
void encode(BinaryEncoder& e, const ModifySubscriptionRequest& v);
void decode(BinaryDecoder& d, ModifySubscriptionResponse& v);
void encode(BinaryEncoder& e, const SetPublishingModeRequest& v);
void encode(BinaryEncoder& e, const DeleteSubscriptionsRequest& v);
void decode(BinaryDecoder& d, StatusResults& v);
void encode(BinaryEncoder& e, const CreateMonitoredItemsRequest& v);
void decode(BinaryDecoder& d, CreateMonitoredItemsResponse& v);
void encode(BinaryEncoder& e, const ModifyMonitoredItemsRequest& v);
void decode(BinaryDecoder& d, ModifyMonitoredItemsResponse& v);
void encode(BinaryEncoder& e, const SetMonitoringModeRequest& v);
void encode(BinaryEncoder& e, const DeleteMonitoredItemsRequest& v);
void encode(BinaryEncoder& e, const PublishRequest& v);
void decode(BinaryDecoder& d, PublishResponse& v);
void encode(BinaryEncoder& e, const RepublishRequest& v);
void decode(BinaryDecoder& d, RepublishResponse& v);
void decode(BinaryDecoder& d, NotificationMessage& v);
/// Decodes the body of a DataChangeNotification, appending to `out`.
void decodeDataChange(BinaryDecoder& d, std::vector<MonitoredItemNotification>& out);

}  // namespace veze6::ua
