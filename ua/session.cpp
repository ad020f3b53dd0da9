#include "session.h"

#include <unistd.h>

#include <random>

namespace veze6::ua {

namespace {

constexpr const char* kBinaryTransport =
    "http://opcfoundation.org/UA-Profile/Transport/uatcp-uasc-uabinary";

std::string policyUri(const std::string& policy) {
  if (policy.find("://") != std::string::npos) return policy;
  return "http://opcfoundation.org/UA/SecurityPolicy#" + policy;
}

std::string randomBytes(std::size_t n) {
  std::random_device device;
  std::string bytes(n, '\0');
  for (auto& b : bytes) b = char(device() & 0xFF);
  return bytes;
}

std::string hostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

}  // namespace

Session::Session(IoThread& io) : io_(io) {}

Session::~Session() {
  // The owner stops the I/O thread first; nothing runs here any more.
}

void Session::setLossHandler(std::function<void(const LossEvent&)> handler) {
  io_.post([this, handler = std::move(handler)]() mutable { lossHandler_ = std::move(handler); });
}

std::vector<std::string> Session::namespaces() const {
  std::lock_guard lock(factsMutex_);
  return namespaces_;
}

OperationLimits Session::operationLimits() const {
  std::lock_guard lock(factsMutex_);
  return limits_;
}

RequestHeader Session::makeHeader(std::chrono::milliseconds timeout) {
  RequestHeader h;
  h.authenticationToken = authenticationToken_;
  h.timestamp = now();
  h.requestHandle = ++requestHandle_ ? requestHandle_ : ++requestHandle_;
  h.timeoutHint = std::uint32_t(timeout.count());
  return h;
}

std::vector<std::uint8_t> Session::encodeMessage(std::uint32_t typeId,
                                                 const std::function<void(BinaryEncoder&)>& body) {
  std::vector<std::uint8_t> bytes;
  BinaryEncoder e(bytes);
  e.nodeId(NodeId(0, typeId));
  body(e);
  return bytes;
}

StatusCode Session::checkResponse(ChannelMessage*, std::uint32_t typeId, BinaryDecoder& d) {
  const NodeId type = d.nodeId();
  if (type == NodeId(0, typeids::ServiceFault)) {
    ServiceFault fault;
    decode(d, fault);
    return isBad(fault.header.serviceResult) ? fault.header.serviceResult
                                             : status::BadUnknownResponse;
  }
  return type == NodeId(0, typeId) ? status::Good : status::BadUnknownResponse;
}

void Session::noteResult(StatusCode s) {
  if (s == status::BadSessionIdInvalid || s == status::BadSessionClosed)
    lose(s, "the server dropped the session");
}

void Session::lose(StatusCode reason, const std::string& text) {
  if (lossReported_) return;
  lossReported_ = true;
  const bool wasActive = active_.exchange(false);
  io_.cancel(renewTimer_);
  io_.cancel(keepAliveTimer_);
  renewTimer_ = keepAliveTimer_ = 0;
  if (connection_) connection_->close(reason);
  if (lossHook_) lossHook_();
  if (wasActive && lossHandler_) lossHandler_(LossEvent{reason, text});
}

StatusCode Session::runStep(std::function<void(StepDone)> step, std::string* error) {
  if (io_.inThread()) return status::BadInvalidState;
  struct Text {
    std::string text;
  };
  auto waiter = std::make_shared<Waiter<Text>>();
  io_.post([waiter, step = std::move(step)] {
    step([waiter](StatusCode s, const std::string& text) { waiter->complete(s, Text{text}); });
  });
  const StatusCode s = waiter->wait(options_.requestTimeout * 2);
  std::lock_guard lock(waiter->mutex);
  if (isBad(s) && error && error->empty()) *error = waiter->value.text;
  return s;
}

void Session::openChannel(const EndpointUrl& url, StepDone done) {
  lossReported_ = false;
  authenticationToken_ = NodeId();
  connection_ = std::make_unique<Connection>(io_, options_.limits);
  connection_->setClosedHandler([this](StatusCode s, const std::string& text) { lose(s, text); });
  connection_->open(url, options_.endpointUrl, options_.requestTimeout,
                    [this, done = std::move(done)](StatusCode s, const std::string& text) {
                      if (isBad(s)) {
                        done(s, text.empty() ? "cannot connect: " + statusName(s) : text);
                        return;
                      }
                      sendOpenSecureChannel(false, done);
                    });
}

void Session::sendOpenSecureChannel(bool renew, StepDone done) {
  OpenSecureChannelRequest request;
  request.header = makeHeader(options_.requestTimeout);
  request.requestType = renew ? 1 : 0;
  request.securityMode = MessageSecurityMode::None;
  request.requestedLifetime = std::uint32_t(options_.channelLifetime.count());
  auto body = encodeMessage(OpenSecureChannelRequest::kTypeId,
                            [&](BinaryEncoder& e) { encode(e, request); });
  connection_->request("OPN", body, options_.requestTimeout,
                       [this, done = std::move(done)](StatusCode s, ChannelMessage* m) {
                         OpenSecureChannelResponse response;
                         if (isGood(s)) {
                           BinaryDecoder d(m->body.data(), m->body.size());
                           s = checkResponse(m, OpenSecureChannelResponse::kTypeId, d);
                           if (isGood(s)) {
                             decode(d, response);
                             s = response.header.serviceResult;
                           }
                         }
                         if (isBad(s)) {
                           done(s, "opening the secure channel failed: " + statusName(s));
                           return;
                         }
                         if (response.securityToken.revisedLifetime == 0) {
                           done(status::BadDecodingError,
                                "the server gave the channel no lifetime");
                           return;
                         }
                         connection_->channel().setToken(response.securityToken);
                         scheduleRenewal(response.securityToken.revisedLifetime);
                         done(status::Good, {});
                       });
}

void Session::scheduleRenewal(std::uint32_t lifetimeMs) {
  io_.cancel(renewTimer_);
  // Renew at 75% of the lifetime, so the new token is in place in time.
  renewTimer_ = io_.schedule(std::chrono::milliseconds(std::uint64_t(lifetimeMs) * 3 / 4), [this] {
    renewTimer_ = 0;
    sendOpenSecureChannel(true, [this](StatusCode s, const std::string& text) {
      if (isBad(s)) lose(s, "renewing the secure channel failed: " + text);
    });
  });
}

void Session::scheduleKeepAlive() {
  io_.cancel(keepAliveTimer_);
  keepAliveTimer_ = io_.schedule(options_.keepAliveInterval, [this] {
    keepAliveTimer_ = 0;
    ReadRequest request;
    request.timestampsToReturn = TimestampsToReturn::Neither;
    request.nodesToRead.push_back({NodeId(0, nodes::Server_ServerStatus_State)});
    callAsync<ReadRequest, ReadResponse>(
        std::move(request), options_.requestTimeout, [this](StatusCode s, ReadResponse& r) {
          if (!active_) return;
          if (s == status::BadTimeout) {
            lose(s, "the server stopped answering");
            return;
          }
          if (isGood(s) && r.results.size() == 1) {
            const auto state = r.results[0].value.toDouble();
            if (state && ServerState(int(*state)) == ServerState::Shutdown) {
              lose(status::BadShutdown, "the server is shutting down");
              return;
            }
          }
          scheduleKeepAlive();
        });
  });
}

StatusCode Session::connect(const ConnectOptions& options, std::string* error) {
  if (io_.inThread()) return status::BadInvalidState;
  disconnect();
  options_ = options;
  if (options_.applicationUri.empty())
    options_.applicationUri = "urn:" + hostName() + ":veze6:client";
  const auto url = EndpointUrl::parse(options_.endpointUrl);
  if (!url) {
    if (error) *error = "not an opc.tcp URL: " + options_.endpointUrl;
    return status::BadTcpEndpointUrlInvalid;
  }
  const std::string wantedPolicy = policyUri(options_.securityPolicy);
  const MessageSecurityMode wantedMode =
      wantedPolicy == kSecurityPolicyNone ? MessageSecurityMode::None : options_.securityMode;
  if (wantedPolicy != kSecurityPolicyNone) {
    if (error) *error = "security policy " + options_.securityPolicy + " is not available yet";
    return status::BadSecurityPolicyRejected;
  }

  auto fail = [&](StatusCode s, const std::string& text) {
    if (error && error->empty()) *error = text;
    disconnect();
    return s;
  };
  if (StatusCode s = runStep([this, url = *url](StepDone done) { openChannel(url, done); }, error);
      isBad(s))
    return fail(s, statusName(s));

  GetEndpointsRequest endpointsRequest;
  endpointsRequest.endpointUrl = options_.endpointUrl;
  GetEndpointsResponse endpoints;
  if (StatusCode s = call(endpointsRequest, endpoints); isBad(s))
    return fail(s, "GetEndpoints failed: " + statusName(s));
  const EndpointDescription* chosen = nullptr;
  for (const auto& e : endpoints.endpoints) {
    const bool binary = e.transportProfileUri.empty() || e.transportProfileUri == kBinaryTransport;
    if (binary && e.securityPolicyUri == wantedPolicy && e.securityMode == wantedMode) {
      chosen = &e;
      break;
    }
  }
  if (!chosen)
    return fail(status::BadSecurityPolicyRejected,
                "the server offers no endpoint with " + options_.securityPolicy);
  endpoint_ = *chosen;

  if (StatusCode s = createAndActivate(error); isBad(s)) return fail(s, statusName(s));
  if (StatusCode s = readServerFacts(); isBad(s))
    return fail(s, "reading the namespace array failed: " + statusName(s));
  active_ = true;
  io_.post([this] { scheduleKeepAlive(); });
  return status::Good;
}

StatusCode Session::createAndActivate(std::string* error) {
  CreateSessionRequest create;
  create.clientDescription.applicationUri = options_.applicationUri;
  create.clientDescription.productUri = "urn:veze6:ua";
  create.clientDescription.applicationName = {"en", options_.applicationName};
  create.clientDescription.applicationType = 1;
  create.endpointUrl = options_.endpointUrl;
  create.sessionName = options_.applicationName + " session";
  create.clientNonce = randomBytes(32);
  create.requestedSessionTimeout = double(options_.sessionTimeout.count());
  create.maxResponseMessageSize = options_.limits.maxMessageSize;
  CreateSessionResponse created;
  if (StatusCode s = call(create, created); isBad(s)) {
    if (error) *error = "CreateSession failed: " + statusName(s);
    return s;
  }
  io_.post([this, token = created.authenticationToken] { authenticationToken_ = token; });

  ActivateSessionRequest activate;
  activate.localeIds = {"en"};
  const UserTokenType wanted = options_.user ? UserTokenType::UserName : UserTokenType::Anonymous;
  const UserTokenPolicy* policy = nullptr;
  for (const auto& p : endpoint_.userIdentityTokens)
    if (p.tokenType == wanted) {
      policy = &p;
      break;
    }
  if (!policy) {
    if (error)
      *error = options_.user ? "the endpoint takes no user name"
                             : "the endpoint takes no anonymous user";
    return status::BadIdentityTokenRejected;
  }
  if (options_.user) {
    const std::string tokenPolicy =
        policy->securityPolicyUri.empty() ? endpoint_.securityPolicyUri : policy->securityPolicyUri;
    if (tokenPolicy != kSecurityPolicyNone) {
      if (error) *error = "the user token needs encryption (" + tokenPolicy + ")";
      return status::BadSecurityPolicyRejected;
    }
    UserNameIdentityToken token;
    token.policyId = policy->policyId;
    token.userName = options_.user->userName;
    token.password = options_.user->password;
    activate.userIdentityToken = makeExtensionObject(token);
  } else {
    activate.userIdentityToken = makeExtensionObject(AnonymousIdentityToken{policy->policyId});
  }
  ActivateSessionResponse activated;
  if (StatusCode s = call(activate, activated); isBad(s)) {
    if (error) *error = "ActivateSession failed: " + statusName(s);
    return s;
  }
  return status::Good;
}

StatusCode Session::readServerFacts() {
  ReadRequest request;
  request.timestampsToReturn = TimestampsToReturn::Neither;
  for (std::uint32_t id :
       {nodes::Server_NamespaceArray, nodes::MaxNodesPerRead, nodes::MaxNodesPerWrite,
        nodes::MaxNodesPerBrowse, nodes::MaxNodesPerTranslateBrowsePathsToNodeIds,
        nodes::MaxMonitoredItemsPerCall})
    request.nodesToRead.push_back({NodeId(0, id)});
  ReadResponse response;
  if (StatusCode s = call(request, response); isBad(s)) return s;
  if (response.results.size() != request.nodesToRead.size()) return status::BadUnknownResponse;
  std::vector<std::string> namespaces;
  if (const auto* a = response.results[0].value.elements())
    for (const auto& e : *a)
      if (const auto* s = std::get_if<std::string>(&e.value)) namespaces.push_back(*s);
  auto limit = [&](std::size_t i) -> std::uint32_t {
    const auto& v = response.results[i];
    const auto d = isGood(v.status) ? v.value.toDouble() : std::nullopt;
    return d && *d > 0 && *d < 4294967296.0 ? std::uint32_t(*d) : 0;
  };
  std::lock_guard lock(factsMutex_);
  namespaces_ = std::move(namespaces);
  limits_ = {limit(1), limit(2), limit(3), limit(4), limit(5)};
  return status::Good;
}

void Session::closeOnIo() {
  active_ = false;
  io_.cancel(renewTimer_);
  io_.cancel(keepAliveTimer_);
  renewTimer_ = keepAliveTimer_ = 0;
  if (!connection_) return;
  if (connection_->isOpen()) {
    CloseSecureChannelRequest request;
    request.header = makeHeader(options_.requestTimeout);
    connection_->sendOnly("CLO", encodeMessage(CloseSecureChannelRequest::kTypeId,
                                               [&](BinaryEncoder& e) { encode(e, request); }));
  }
  connection_->close(status::BadConnectionClosed);
  authenticationToken_ = NodeId();
}

void Session::disconnect() {
  if (io_.inThread()) return;
  if (active_) {
    CloseSessionRequest request;
    CloseSessionResponse response;
    call(request, response);
  }
  runStep(
      [this](StepDone done) {
        closeOnIo();
        done(status::Good, {});
      },
      nullptr);
}

}  // namespace veze6::ua
