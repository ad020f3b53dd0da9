#include "uamessage_entry.h"

#include "ua/securechannel.h"
#include "ua/subscriptiontypes.h"

namespace veze6fuzz {

namespace {

using namespace veze6::ua;

template <class Response>
void decodeAs(BinaryDecoder& d) {
  Response r;
  decode(d, r);
}

// True when the whole message decoded.
bool decodeMessage(const ChannelMessage& m) {
  try {
    BinaryDecoder d(m.body.data(), m.body.size());
    const NodeId type = d.nodeId();
    if (type.namespaceIndex != 0 || type.kind != NodeId::Kind::Numeric) return false;
    switch (type.numeric) {
      case ServiceFault::kTypeId: decodeAs<ServiceFault>(d); break;
      case OpenSecureChannelResponse::kTypeId: decodeAs<OpenSecureChannelResponse>(d); break;
      case GetEndpointsResponse::kTypeId: decodeAs<GetEndpointsResponse>(d); break;
      case CreateSessionResponse::kTypeId: decodeAs<CreateSessionResponse>(d); break;
      case ActivateSessionResponse::kTypeId: decodeAs<ActivateSessionResponse>(d); break;
      case ReadResponse::kTypeId: decodeAs<ReadResponse>(d); break;
      case WriteResponse::kTypeId: decodeAs<WriteResponse>(d); break;
      case BrowseResponse::kTypeId: decodeAs<BrowseResponse>(d); break;
      case BrowseNextResponse::kTypeId: decodeAs<BrowseNextResponse>(d); break;
      case TranslateBrowsePathsResponse::kTypeId: decodeAs<TranslateBrowsePathsResponse>(d); break;
      case CreateSubscriptionResponse::kTypeId: decodeAs<CreateSubscriptionResponse>(d); break;
      case CreateMonitoredItemsResponse::kTypeId: decodeAs<CreateMonitoredItemsResponse>(d); break;
      case ModifyMonitoredItemsResponse::kTypeId: decodeAs<ModifyMonitoredItemsResponse>(d); break;
      case DeleteSubscriptionsResponse::kTypeId: decodeAs<StatusResults>(d); break;
      case RepublishResponse::kTypeId: decodeAs<RepublishResponse>(d); break;
      case PublishResponse::kTypeId: {
        PublishResponse r;
        decode(d, r);
        for (const auto& x : r.message.notificationData) {
          if (x.typeId != NodeId(0, typeids::DataChangeNotification)) continue;
          BinaryDecoder body(reinterpret_cast<const std::uint8_t*>(x.body.data()), x.body.size());
          std::vector<MonitoredItemNotification> items;
          decodeDataChange(body, items);
        }
        break;
      }
      default: return false;
    }
    return true;
  } catch (const DecodeError&) {
    return false;
  }
}

}  // namespace

int RunUaMessageDecoder(const std::uint8_t* data, std::size_t size) {
  TransportLimits ours;
  ours.maxMessageSize = 1 << 20;
  ours.maxChunkCount = 64;
  ChunkReader reader(65536);
  SecureChannel channel(ours);
  channel.setToken({1, 1, 0, 60000});
  reader.append(data, size);
  int decoded = 0;
  for (;;) {
    std::optional<Chunk> chunk;
    if (isBad(reader.take(chunk)) || !chunk) break;
    try {
      if (chunk->is("ACK")) {
        decodeAcknowledge(*chunk, ours);
        continue;
      }
      if (chunk->is("ERR")) {
        decodeError(chunk->body.data(), chunk->body.size(), nullptr);
        continue;
      }
    } catch (const DecodeError&) {
      break;
    }
    std::optional<ChannelMessage> message;
    if (isBad(channel.receive(*chunk, message))) break;
    if (message && isGood(message->abortStatus) && decodeMessage(*message)) ++decoded;
  }
  return decoded;
}

}  // namespace veze6fuzz
