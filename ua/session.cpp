#include "session.h"

#include <unistd.h>

#include <random>

#include "ua/crypto/certificatestore.h"

namespace veze6::ua {

namespace {

constexpr const char* kBinaryTransport =
    "http://opcfoundation.org/UA-Profile/Transport/uatcp-uasc-uabinary";

std::string policyUri(const std::string& policy) {
  if (policy.find("://") != std::string::npos) return policy;
  return "http://opcfoundation.org/UA/SecurityPolicy#" + policy;
}

std::string text(const crypto::Bytes& b) { return std::string(b.begin(), b.end()); }

crypto::ByteView view(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

crypto::Bytes join(const std::string& a, const std::string& b) {
  crypto::Bytes out(a.begin(), a.end());
  out.insert(out.end(), b.begin(), b.end());
  return out;
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

void Session::malformed(const DecodeError& e) {
  lose(e.code(), std::string("malformed message from the server: ") + e.what());
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
  connection_->channel().setSecurity(security_);
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
  request.securityMode = security_.secure() ? security_.mode : MessageSecurityMode::None;
  request.requestedLifetime = std::uint32_t(options_.channelLifetime.count());
  crypto::Bytes nonce;
  if (security_.secure()) nonce = security_.policy.createNonce();
  request.clientNonce = text(nonce);
  auto body = encodeMessage(OpenSecureChannelRequest::kTypeId,
                            [&](BinaryEncoder& e) { encode(e, request); });
  connection_->request(
      "OPN", body, options_.requestTimeout,
      [this, nonce, done = std::move(done)](StatusCode s, ChannelMessage* m) {
        OpenSecureChannelResponse response;
        try {
          if (isGood(s)) {
            BinaryDecoder d(m->body.data(), m->body.size());
            s = checkResponse(m, OpenSecureChannelResponse::kTypeId, d);
            if (isGood(s)) {
              decode(d, response);
              s = response.header.serviceResult;
            }
          }
        } catch (const DecodeError& e) {
          malformed(e);
          s = e.code();
        }
        if (isBad(s)) {
          done(s, "opening the secure channel failed: " + statusName(s));
          return;
        }
        if (response.securityToken.revisedLifetime == 0) {
          done(status::BadDecodingError, "the server gave the channel no lifetime");
          return;
        }
        crypto::ChannelKeys keys;
        if (security_.secure()) {
          try {
            keys = security_.policy.deriveChannelKeys(nonce, view(response.serverNonce));
          } catch (const crypto::CryptoError&) {
            done(status::BadNonceInvalid, "the server's channel nonce is not usable");
            return;
          }
        }
        connection_->channel().setToken(response.securityToken, std::move(keys));
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
  const auto policy = crypto::SecurityPolicy::fromUri(wantedPolicy);
  if (!policy) {
    if (error) *error = "unknown security policy " + options_.securityPolicy;
    return status::BadSecurityPolicyRejected;
  }
  const MessageSecurityMode wantedMode =
      policy->isNone() ? MessageSecurityMode::None : options_.securityMode;
  if (!policy->isNone() && wantedMode != MessageSecurityMode::Sign &&
      wantedMode != MessageSecurityMode::SignAndEncrypt) {
    if (error) *error = options_.securityPolicy + " needs the mode Sign or SignAndEncrypt";
    return status::BadSecurityModeRejected;
  }
  // Discovery runs on a channel without security.
  security_ = ChannelSecurity{};

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

  if (!policy->isNone()) {
    if (StatusCode s = prepareSecurity(*policy, wantedMode, error); isBad(s))
      return fail(s, statusName(s));
    runStep(
        [this](StepDone done) {
          closeOnIo();
          done(status::Good, {});
        },
        nullptr);
    if (StatusCode s =
            runStep([this, url = *url](StepDone done) { openChannel(url, done); }, error);
        isBad(s))
      return fail(s, statusName(s));
  }
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
  create.clientNonce = text(crypto::randomBytes(32));
  if (security_.secure()) create.clientCertificate = text(security_.own->certificate.toDer());
  create.requestedSessionTimeout = double(options_.sessionTimeout.count());
  create.maxResponseMessageSize = options_.limits.maxMessageSize;
  CreateSessionResponse created;
  if (StatusCode s = call(create, created); isBad(s)) {
    if (error) *error = "CreateSession failed: " + statusName(s);
    return s;
  }
  io_.post([this, token = created.authenticationToken] { authenticationToken_ = token; });

  ActivateSessionRequest activate;
  if (security_.secure()) {
    // The server proves it holds its key by signing our certificate and
    // nonce; we prove ours by signing its certificate and nonce.
    const auto& policy = security_.policy;
    if (!policy.asymmetricVerify(*security_.server,
                                 join(create.clientCertificate, create.clientNonce),
                                 view(created.serverSignature.signature))) {
      if (error) *error = "the server's session signature does not verify";
      return status::BadSecurityChecksFailed;
    }
    activate.clientSignature.algorithm = std::string(policy.asymmetricSignatureAlgorithmUri());
    activate.clientSignature.signature = text(policy.asymmetricSign(
        security_.own->key, join(endpoint_.serverCertificate, created.serverNonce)));
  }
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
  if (StatusCode s = identityToken(*policy, created.serverNonce, activate.userIdentityToken, error);
      isBad(s))
    return s;
  ActivateSessionResponse activated;
  if (StatusCode s = call(activate, activated); isBad(s)) {
    if (error) *error = "ActivateSession failed: " + statusName(s);
    return s;
  }
  return status::Good;
}

StatusCode Session::identityToken(const UserTokenPolicy& policy, const ByteString& serverNonce,
                                  ExtensionObject& out, std::string* error) {
  if (!options_.user) {
    out = makeExtensionObject(AnonymousIdentityToken{policy.policyId});
    return status::Good;
  }
  UserNameIdentityToken token;
  token.policyId = policy.policyId;
  token.userName = options_.user->userName;
  // The token's own policy, else the endpoint's, says how the password goes.
  const std::string uri =
      policy.securityPolicyUri.empty() ? endpoint_.securityPolicyUri : policy.securityPolicyUri;
  const auto tokenPolicy = crypto::SecurityPolicy::fromUri(uri);
  if (!tokenPolicy) {
    if (error) *error = "the user token needs the unknown policy " + uri;
    return status::BadSecurityPolicyRejected;
  }
  if (tokenPolicy->isNone()) {
    token.password = options_.user->password;
  } else {
    try {
      const auto server = crypto::Certificate::fromDer(view(endpoint_.serverCertificate));
      token.password = text(
          tokenPolicy->encryptSecret(server, view(options_.user->password), view(serverNonce)));
      token.encryptionAlgorithm = std::string(tokenPolicy->secretEncryptionAlgorithmUri());
    } catch (const crypto::CryptoError& e) {
      if (error) *error = std::string("cannot encrypt the password: ") + e.what();
      return status::BadIdentityTokenInvalid;
    }
  }
  out = makeExtensionObject(token);
  return status::Good;
}

StatusCode Session::prepareSecurity(const crypto::SecurityPolicy& policy, MessageSecurityMode mode,
                                    std::string* error) {
  try {
    crypto::CertificateStore store(options_.certificateFolder);
    const auto server = crypto::Certificate::fromDer(view(endpoint_.serverCertificate));
    if (const StatusCode s = store.verify(server); isBad(s)) {
      // So the user has a folder to move the rejected certificate into.
      std::error_code ignored;
      if (std::filesystem::create_directories(store.trustedFolder(), ignored))
        std::filesystem::permissions(store.trustedFolder(), std::filesystem::perms::owner_all,
                                     ignored);
      if (error)
        *error = s == status::BadCertificateUntrusted
                     ? "the server's certificate is not trusted; it was copied to " +
                           store.rejectedFolder().string() + " (move it to " +
                           store.trustedFolder().string() + " to trust it)"
                     : "the server's certificate is not valid: " + statusName(s);
      return s;
    }
    if (!policy.acceptsKey(server)) {
      if (error) *error = "the server's key does not suit " + std::string(policy.uri());
      return status::BadCertificateInvalid;
    }
    ChannelSecurity security;
    security.policy = policy;
    security.mode = mode;
    security.own = store.ownCertificate(options_.applicationUri, options_.applicationName);
    security.server = server;
    security_ = std::move(security);
    return status::Good;
  } catch (const crypto::CryptoError& e) {
    if (error) *error = std::string("certificate trouble: ") + e.what();
    return status::BadCertificateInvalid;
  }
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
