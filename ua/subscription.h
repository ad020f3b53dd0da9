// The publish loop on the I/O thread: keeps Publish requests outstanding
// for the session's subscriptions, acknowledges what arrived, asks for a
// Republish of any sequence number it missed, and hands each data change to
// its subscription's handler.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "session.h"
#include "subscriptiontypes.h"

namespace veze6::ua {

struct SubscriptionSettings {
  double publishingInterval = 1000;  ///< milliseconds
  std::uint32_t lifetimeCount = 60;
  std::uint32_t maxKeepAliveCount = 10;
  std::uint32_t maxNotificationsPerPublish = 0;
  bool publishingEnabled = true;
  std::uint8_t priority = 0;
};

/// Called on the I/O thread with the notifications of one Publish (or
/// Republish) response; the vector is reused after the call returns.
using DataChangeHandler = std::function<void(std::uint32_t subscriptionId,
                                             const std::vector<MonitoredItemNotification>&)>;

/// Counters of the publish loop (read them on the I/O thread, or after it
/// stopped).
struct PublishStatistics {
  std::uint64_t messages = 0;
  std::uint64_t notifications = 0;
  std::uint64_t keepAlives = 0;
  std::uint64_t republishRequests = 0;
};

class SubscriptionManager {
 public:
  explicit SubscriptionManager(Session& session) : session_(session) {}

  // I/O thread only:
  void add(std::uint32_t id, const SubscriptionSettings& revised, DataChangeHandler handler);
  void update(std::uint32_t id, const SubscriptionSettings& revised);
  void remove(std::uint32_t id);
  /// Forgets every subscription (the session is gone).
  void clear();
  const PublishStatistics& statistics() const { return statistics_; }
  std::vector<std::uint32_t> ids() const;

  /// Handles one notification message of a subscription: sequence check,
  /// Republish of gaps, delivery, acknowledgement. Public for tests that
  /// feed recorded messages.
  void handleMessage(std::uint32_t subscriptionId, const NotificationMessage& message);

 private:
  struct Entry {
    SubscriptionSettings settings;
    DataChangeHandler handler;
    std::uint32_t lastSequence = 0;
    bool haveSequence = false;
  };
  void fill();
  void onPublish(StatusCode s, PublishResponse& response);
  void deliver(std::uint32_t id, const NotificationMessage& message);
  void republish(std::uint32_t id, std::uint32_t sequence);
  std::chrono::milliseconds publishTimeout() const;

  Session& session_;
  std::map<std::uint32_t, Entry> entries_;
  std::vector<SubscriptionAcknowledgement> acknowledgements_;
  std::vector<MonitoredItemNotification> scratch_;
  int outstanding_ = 0;
  // A server answers one Publish per message it has ready; with few waiting
  // at the server, a busy subscription's messages queue up there. A server
  // that allows fewer says BadTooManyPublishRequests, and the target drops.
  int target_ = 10;
  IoThread::TimerId retryTimer_ = 0;
  std::uint64_t generation_ = 0;  ///< bumped by clear(): late answers of an old session are dropped
  PublishStatistics statistics_;
};

}  // namespace veze6::ua
