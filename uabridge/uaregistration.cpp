#include "uaregistration.h"

#include <fstream>

#include "opc/registrationfiles.h"
#include "uaserver.h"

namespace veze6::uab {

namespace {

constexpr std::string_view kScheme = "opc.tcp";

std::string lower(std::string s) {
  for (auto& c : s) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return s;
}

std::optional<ua::MessageSecurityMode> parseMode(const std::string& text) {
  const std::string mode = lower(text);
  if (mode == "none") return ua::MessageSecurityMode::None;
  if (mode == "sign") return ua::MessageSecurityMode::Sign;
  if (mode == "signandencrypt") return ua::MessageSecurityMode::SignAndEncrypt;
  return std::nullopt;
}

HRESULT connectFailure(ua::StatusCode s) {
  switch (s & 0xFFFF0000u) {
    case ua::status::BadSecurityPolicyRejected:
    case ua::status::BadSecurityModeRejected:
    case ua::status::BadSecurityChecksFailed:
    case ua::status::BadUserAccessDenied:
    case ua::status::BadIdentityTokenInvalid:
    case ua::status::BadIdentityTokenRejected:
    case ua::status::BadCertificateInvalid:
    case ua::status::BadCertificateUntrusted:
    case ua::status::BadCertificateTimeInvalid:
      return E_ACCESSDENIED;
    case ua::status::BadInvalidArgument:
    case ua::status::BadTcpEndpointUrlInvalid:
      return E_INVALIDARG;
    case ua::status::BadNotConnected:
    case ua::status::BadCommunicationError:
    case ua::status::BadConnectionRejected:
    case ua::status::BadConnectionClosed:
    case ua::status::BadTimeout:
    case ua::status::BadRequestTimeout:
    case ua::status::BadSecureChannelClosed:
    case ua::status::BadTcpServerTooBusy:
    case ua::status::BadServerNotConnected:
    case ua::status::BadServerHalted:
      return HRESULT_RPC_S_SERVER_UNAVAILABLE;
    default:
      return E_FAIL;
  }
}

}  // namespace

HRESULT createUaServer(const opc::EndpointSettings& settings, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  const auto fail = [&](HRESULT hr, const std::string& why) {
    opc::warn("cannot connect to " + settings.url + ": " + why);
    return hr;
  };
  ua::ConnectOptions options;
  options.endpointUrl = settings.url;
  if (!settings.securityPolicy.empty()) options.securityPolicy = settings.securityPolicy;
  if (!settings.securityMode.empty()) {
    const auto mode = parseMode(settings.securityMode);
    if (!mode) {
      return fail(E_INVALIDARG, "SecurityMode '" + settings.securityMode +
                                    "' is not None, Sign or SignAndEncrypt");
    }
    options.securityMode = *mode;
  } else if (lower(options.securityPolicy) != "none") {
    options.securityMode = ua::MessageSecurityMode::SignAndEncrypt;
  }
  if (!settings.user.empty()) {
    ua::UserIdentity user;
    user.userName = settings.user;
    if (!settings.passwordFile.empty()) {
      std::ifstream in(settings.passwordFile);
      if (!in || !std::getline(in, user.password)) {
        return fail(E_ACCESSDENIED,
                    "the password file " + settings.passwordFile.string() + " cannot be read");
      }
      if (!user.password.empty() && user.password.back() == '\r') user.password.pop_back();
    }
    options.user = std::move(user);
  }

  auto session = std::make_shared<UaSession>();
  std::string error;
  const ua::StatusCode s = session->client.connect(options, &error);
  if (ua::isBad(s)) {
    const bool asked = !settings.securityPolicy.empty() || !settings.securityMode.empty();
    if (!asked && (s & 0xFFFF0000u) == ua::status::BadSecurityPolicyRejected) {
      return fail(E_ACCESSDENIED,
                  "the server offers only secured endpoints; name it in a registration file "
                  "with SecurityPolicy and SecurityMode");
    }
    return fail(connectFailure(s), error.empty() ? ua::statusName(s) : error);
  }
  session->captureServerFacts();
  const ComPtr<UaServer> server = opc::makeCom<UaServer>(std::move(session));
  return server->QueryInterface(riid, ppv);
}

void registerUaBridge() { opc::registerEndpointScheme(kScheme, createUaServer); }

void unregisterUaBridge() { opc::unregisterEndpointScheme(kScheme); }

}  // namespace veze6::uab
