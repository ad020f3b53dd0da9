#include "subscriptiontypes.h"

namespace veze6::ua {

namespace {

void encodeIds(BinaryEncoder& e, const std::vector<std::uint32_t>& ids) {
  e.array(ids, [](BinaryEncoder& e, std::uint32_t id) { e.u32(id); });
}

void encode(BinaryEncoder& e, const MonitoringParameters& v) {
  e.u32(v.clientHandle);
  e.f64(v.samplingInterval);
  e.extensionObject(v.filter);
  e.u32(v.queueSize);
  e.boolean(v.discardOldest);
}

}  // namespace

void encode(BinaryEncoder& e, const DataChangeFilter& v) {
  e.i32(v.trigger);
  e.u32(std::uint32_t(v.deadbandType));
  e.f64(v.deadbandValue);
}

void encode(BinaryEncoder& e, const CreateSubscriptionRequest& v) {
  encode(e, v.header);
  e.f64(v.requestedPublishingInterval);
  e.u32(v.requestedLifetimeCount);
  e.u32(v.requestedMaxKeepAliveCount);
  e.u32(v.maxNotificationsPerPublish);
  e.boolean(v.publishingEnabled);
  e.u8(v.priority);
}

void decode(BinaryDecoder& d, CreateSubscriptionResponse& v) {
  decode(d, v.header);
  v.subscriptionId = d.u32();
  v.revisedPublishingInterval = d.f64();
  v.revisedLifetimeCount = d.u32();
  v.revisedMaxKeepAliveCount = d.u32();
}

void encode(BinaryEncoder& e, const ModifySubscriptionRequest& v) {
  encode(e, v.header);
  e.u32(v.subscriptionId);
  e.f64(v.requestedPublishingInterval);
  e.u32(v.requestedLifetimeCount);
  e.u32(v.requestedMaxKeepAliveCount);
  e.u32(v.maxNotificationsPerPublish);
  e.u8(v.priority);
}

void decode(BinaryDecoder& d, ModifySubscriptionResponse& v) {
  decode(d, v.header);
  v.revisedPublishingInterval = d.f64();
  v.revisedLifetimeCount = d.u32();
  v.revisedMaxKeepAliveCount = d.u32();
}

void encode(BinaryEncoder& e, const SetPublishingModeRequest& v) {
  encode(e, v.header);
  e.boolean(v.publishingEnabled);
  encodeIds(e, v.subscriptionIds);
}

void encode(BinaryEncoder& e, const DeleteSubscriptionsRequest& v) {
  encode(e, v.header);
  encodeIds(e, v.subscriptionIds);
}

void decode(BinaryDecoder& d, StatusResults& v) {
  decode(d, v.header);
  v.results = d.array<StatusCode>([](BinaryDecoder& d, StatusCode& s) { s = d.statusCode(); }, 4);
  skipDiagnostics(d);
}

void encode(BinaryEncoder& e, const CreateMonitoredItemsRequest& v) {
  encode(e, v.header);
  e.u32(v.subscriptionId);
  e.i32(std::int32_t(v.timestampsToReturn));
  e.array(v.itemsToCreate, [](BinaryEncoder& e, const MonitoredItemCreateRequest& x) {
    encode(e, x.itemToMonitor);
    e.i32(std::int32_t(x.monitoringMode));
    encode(e, x.requestedParameters);
  });
}

void decode(BinaryDecoder& d, CreateMonitoredItemsResponse& v) {
  decode(d, v.header);
  v.results = d.array<MonitoredItemCreateResult>(
      [](BinaryDecoder& d, MonitoredItemCreateResult& r) {
        r.status = d.statusCode();
        r.monitoredItemId = d.u32();
        r.revisedSamplingInterval = d.f64();
        r.revisedQueueSize = d.u32();
        d.extensionObject();
      },
      23);
  skipDiagnostics(d);
}

void encode(BinaryEncoder& e, const ModifyMonitoredItemsRequest& v) {
  encode(e, v.header);
  e.u32(v.subscriptionId);
  e.i32(std::int32_t(v.timestampsToReturn));
  e.array(v.itemsToModify, [](BinaryEncoder& e, const MonitoredItemModifyRequest& x) {
    e.u32(x.monitoredItemId);
    encode(e, x.requestedParameters);
  });
}

void decode(BinaryDecoder& d, ModifyMonitoredItemsResponse& v) {
  decode(d, v.header);
  v.results = d.array<MonitoredItemModifyResult>(
      [](BinaryDecoder& d, MonitoredItemModifyResult& r) {
        r.status = d.statusCode();
        r.revisedSamplingInterval = d.f64();
        r.revisedQueueSize = d.u32();
        d.extensionObject();
      },
      19);
  skipDiagnostics(d);
}

void encode(BinaryEncoder& e, const SetMonitoringModeRequest& v) {
  encode(e, v.header);
  e.u32(v.subscriptionId);
  e.i32(std::int32_t(v.monitoringMode));
  encodeIds(e, v.monitoredItemIds);
}

void encode(BinaryEncoder& e, const DeleteMonitoredItemsRequest& v) {
  encode(e, v.header);
  e.u32(v.subscriptionId);
  encodeIds(e, v.monitoredItemIds);
}

void encode(BinaryEncoder& e, const PublishRequest& v) {
  encode(e, v.header);
  e.array(v.acknowledgements, [](BinaryEncoder& e, const SubscriptionAcknowledgement& a) {
    e.u32(a.subscriptionId);
    e.u32(a.sequenceNumber);
  });
}

void decode(BinaryDecoder& d, NotificationMessage& v) {
  v.sequenceNumber = d.u32();
  v.publishTime = d.dateTime();
  v.notificationData = d.array<ExtensionObject>(
      [](BinaryDecoder& d, ExtensionObject& x) { x = d.extensionObject(); }, 3);
}

void decode(BinaryDecoder& d, PublishResponse& v) {
  decode(d, v.header);
  v.subscriptionId = d.u32();
  v.availableSequenceNumbers =
      d.array<std::uint32_t>([](BinaryDecoder& d, std::uint32_t& n) { n = d.u32(); }, 4);
  v.moreNotifications = d.boolean();
  decode(d, v.message);
  v.results = d.array<StatusCode>([](BinaryDecoder& d, StatusCode& s) { s = d.statusCode(); }, 4);
  skipDiagnostics(d);
}

void encode(BinaryEncoder& e, const RepublishRequest& v) {
  encode(e, v.header);
  e.u32(v.subscriptionId);
  e.u32(v.retransmitSequenceNumber);
}

void decode(BinaryDecoder& d, RepublishResponse& v) {
  decode(d, v.header);
  decode(d, v.message);
}

void decodeDataChange(BinaryDecoder& d, std::vector<MonitoredItemNotification>& out) {
  const std::size_t n = d.arrayLength(5);
  const std::size_t first = out.size();
  out.resize(first + n);
  for (std::size_t i = first; i < first + n; ++i) {
    out[i].clientHandle = d.u32();
    d.dataValue(out[i].value);
  }
  skipDiagnostics(d);
}

}  // namespace veze6::ua
