#include "client.h"

#include <future>

namespace veze6::ua {

Client::Client()
    : io_(std::make_unique<IoThread>()),
      session_(std::make_unique<Session>(*io_)),
      subscriptions_(std::make_unique<SubscriptionManager>(*session_)) {
  io_->post([this] { session_->setLossHook([this] { subscriptions_->clear(); }); });
}

Client::~Client() {
  disconnect();
  io_.reset();  // joins the thread; nothing of the session runs after this
}

StatusCode Client::connect(const ConnectOptions& options, std::string* error) {
  disconnect();
  return session_->connect(options, error);
}

void Client::disconnect() {
  if (io_->inThread()) return;
  if (session_->isActive()) {
    std::vector<StatusCode> results;
    if (auto ids = subscriptionIds(); !ids.empty()) deleteSubscriptions(ids, results);
  }
  std::promise<void> cleared;
  io_->post([this, &cleared] {
    subscriptions_->clear();
    cleared.set_value();
  });
  cleared.get_future().wait();
  session_->disconnect();
}

bool Client::isConnected() const { return session_->isActive(); }

void Client::setLossHandler(std::function<void(const LossEvent&)> handler) {
  session_->setLossHandler(std::move(handler));
}

std::vector<std::uint32_t> Client::subscriptionIds() {
  std::promise<std::vector<std::uint32_t>> ids;
  io_->post([this, &ids] { ids.set_value(subscriptions_->ids()); });
  return ids.get_future().get();
}

PublishStatistics Client::publishStatistics() {
  if (io_->inThread()) return subscriptions_->statistics();
  std::promise<PublishStatistics> result;
  io_->post([this, &result] { result.set_value(subscriptions_->statistics()); });
  return result.get_future().get();
}

}  // namespace veze6::ua
