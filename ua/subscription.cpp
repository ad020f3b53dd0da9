#include "subscription.h"

#include <algorithm>

namespace veze6::ua {

namespace {

// More missing messages than this are not worth asking for one by one.
constexpr std::uint32_t kMaxRepublishGap = 64;

}  // namespace

void SubscriptionManager::add(std::uint32_t id, const SubscriptionSettings& revised,
                              DataChangeHandler handler) {
  entries_[id] = Entry{revised, std::move(handler)};
  fill();
}

void SubscriptionManager::update(std::uint32_t id, const SubscriptionSettings& revised) {
  if (auto it = entries_.find(id); it != entries_.end()) it->second.settings = revised;
}

void SubscriptionManager::remove(std::uint32_t id) {
  entries_.erase(id);
  std::erase_if(acknowledgements_, [id](const auto& a) { return a.subscriptionId == id; });
}

std::vector<std::uint32_t> SubscriptionManager::ids() const {
  std::vector<std::uint32_t> list;
  for (const auto& [id, e] : entries_) list.push_back(id);
  return list;
}

void SubscriptionManager::clear() {
  entries_.clear();
  acknowledgements_.clear();
  outstanding_ = 0;
  target_ = 10;
  ++generation_;
  session_.io().cancel(retryTimer_);
  retryTimer_ = 0;
}

std::chrono::milliseconds SubscriptionManager::publishTimeout() const {
  // A Publish waits at the server until a notification or a keep-alive is
  // due, and the outstanding ones are answered one after another.
  double longest = 0;
  for (const auto& [id, e] : entries_)
    longest = std::max(longest, e.settings.publishingInterval * (e.settings.maxKeepAliveCount + 1));
  return session_.options().requestTimeout +
         std::chrono::milliseconds(std::int64_t(longest * (target_ + 1)));
}

void SubscriptionManager::fill() {
  while (!entries_.empty() && outstanding_ < target_ && session_.isActive()) {
    PublishRequest request;
    request.acknowledgements.swap(acknowledgements_);
    ++outstanding_;
    const auto generation = generation_;
    session_.callAsync<PublishRequest, PublishResponse>(
        std::move(request), publishTimeout(), [this, generation](StatusCode s, PublishResponse& r) {
          if (generation != generation_) return;
          onPublish(s, r);
        });
  }
}

void SubscriptionManager::onPublish(StatusCode s, PublishResponse& response) {
  --outstanding_;
  if (s == status::BadTooManyPublishRequests) {
    target_ = std::max(1, outstanding_);
    return;
  }
  if (isBad(s)) {
    if (!session_.isActive() || entries_.empty()) return;
    if (s == status::BadTimeout) {
      fill();
      return;
    }
    // Anything else: try again a little later rather than spin.
    if (!retryTimer_)
      retryTimer_ = session_.io().schedule(std::chrono::milliseconds(500), [this] {
        retryTimer_ = 0;
        fill();
      });
    return;
  }
  handleMessage(response.subscriptionId, response.message);
  fill();
}

void SubscriptionManager::handleMessage(std::uint32_t id, const NotificationMessage& message) {
  const auto it = entries_.find(id);
  if (it == entries_.end()) return;
  Entry& e = it->second;
  const bool keepAlive = message.notificationData.empty();
  if (keepAlive && message.sequenceNumber == 0) return;  // no number to learn from
  // A keep-alive carries the next sequence number the server will use.
  // Data carry their own number, a keep-alive the next one the server will
  // use; either way the numbers between the last seen and it went missing.
  const std::uint32_t next = message.sequenceNumber;
  const std::uint32_t seen = keepAlive ? next - 1 : next;
  if (e.haveSequence && next > e.lastSequence + 1) {
    const std::uint32_t from =
        std::max(e.lastSequence + 1, next - std::min(next, kMaxRepublishGap));
    for (std::uint32_t missing = from; missing < next; ++missing) republish(id, missing);
  }
  if (keepAlive) {
    ++statistics_.keepAlives;
    if (!e.haveSequence || seen > e.lastSequence) {
      e.lastSequence = seen;
      e.haveSequence = true;
    }
    return;
  }
  if (e.haveSequence && message.sequenceNumber <= e.lastSequence) return;  // already had it
  e.lastSequence = message.sequenceNumber;
  e.haveSequence = true;
  acknowledgements_.push_back({id, message.sequenceNumber});
  deliver(id, message);
}

void SubscriptionManager::republish(std::uint32_t id, std::uint32_t sequence) {
  ++statistics_.republishRequests;
  RepublishRequest request;
  request.subscriptionId = id;
  request.retransmitSequenceNumber = sequence;
  const auto generation = generation_;
  session_.callAsync<RepublishRequest, RepublishResponse>(
      std::move(request), session_.options().requestTimeout,
      [this, id, generation](StatusCode s, RepublishResponse& r) {
        if (generation != generation_ || isBad(s) || !entries_.count(id)) return;
        acknowledgements_.push_back({id, r.message.sequenceNumber});
        deliver(id, r.message);
      });
}

void SubscriptionManager::deliver(std::uint32_t id, const NotificationMessage& message) {
  ++statistics_.messages;
  for (const auto& data : message.notificationData) {
    if (data.encoding != ExtensionObject::Encoding::Binary || data.typeId.namespaceIndex != 0)
      continue;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.body.data());
    BinaryDecoder d(bytes, data.body.size());
    if (data.typeId.numeric == typeids::DataChangeNotification) {
      scratch_.clear();
      decodeDataChange(d, scratch_);
      statistics_.notifications += scratch_.size();
      const auto it = entries_.find(id);
      if (it == entries_.end() || !it->second.handler) continue;
      try {
        it->second.handler(id, scratch_);
      } catch (...) {
        // A handler's failure is its own; the publish loop goes on.
      }
    } else if (data.typeId.numeric == typeids::StatusChangeNotification) {
      const StatusCode s = d.statusCode();
      if (s == status::BadShutdown || s == status::BadServerHalted) {
        session_.lose(s, "the server is shutting down");
        return;
      }
      // The server ended the subscription (its lifetime ran out).
      if (isBad(s)) remove(id);
    }
  }
}

}  // namespace veze6::ua
