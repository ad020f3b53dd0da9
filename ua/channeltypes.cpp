#include "channeltypes.h"

namespace veze6::ua {

namespace {

void encodeStrings(BinaryEncoder& e, const std::vector<std::string>& v) {
  e.array(v, [](BinaryEncoder& e, const std::string& s) { e.string(s); });
}

std::vector<std::string> decodeStrings(BinaryDecoder& d) {
  return d.array<std::string>([](BinaryDecoder& d, std::string& s) { s = d.string(); }, 4);
}

void encode(BinaryEncoder& e, const SignatureData& v) {
  e.string(v.algorithm);
  e.byteString(v.signature);
}

void decode(BinaryDecoder& d, SignatureData& v) {
  v.algorithm = d.string();
  v.signature = d.byteString();
}

void decode(BinaryDecoder& d, UserTokenPolicy& v) {
  v.policyId = d.string();
  v.tokenType = UserTokenType(d.i32());
  v.issuedTokenType = d.string();
  v.issuerEndpointUrl = d.string();
  v.securityPolicyUri = d.string();
}

}  // namespace

void skipDiagnostics(BinaryDecoder& d) {
  const std::size_t n = d.arrayLength();
  for (std::size_t i = 0; i < n; ++i) d.diagnosticInfo();
}

void encode(BinaryEncoder& e, const RequestHeader& v) {
  e.nodeId(v.authenticationToken);
  e.dateTime(v.timestamp);
  e.u32(v.requestHandle);
  e.u32(v.returnDiagnostics);
  e.string(v.auditEntryId);
  e.u32(v.timeoutHint);
  e.extensionObject({});
}

void decode(BinaryDecoder& d, ResponseHeader& v) {
  v.timestamp = d.dateTime();
  v.requestHandle = d.u32();
  v.serviceResult = d.statusCode();
  d.diagnosticInfo();
  decodeStrings(d);
  d.extensionObject();
}

void decode(BinaryDecoder& d, ServiceFault& v) { decode(d, v.header); }

void encode(BinaryEncoder& e, const OpenSecureChannelRequest& v) {
  encode(e, v.header);
  e.u32(v.clientProtocolVersion);
  e.i32(v.requestType);
  e.i32(std::int32_t(v.securityMode));
  e.byteString(v.clientNonce);
  e.u32(v.requestedLifetime);
}

void decode(BinaryDecoder& d, OpenSecureChannelResponse& v) {
  decode(d, v.header);
  v.serverProtocolVersion = d.u32();
  v.securityToken.channelId = d.u32();
  v.securityToken.tokenId = d.u32();
  v.securityToken.createdAt = d.dateTime();
  v.securityToken.revisedLifetime = d.u32();
  v.serverNonce = d.byteString();
}

void encode(BinaryEncoder& e, const CloseSecureChannelRequest& v) { encode(e, v.header); }

void encode(BinaryEncoder& e, const ApplicationDescription& v) {
  e.string(v.applicationUri);
  e.string(v.productUri);
  e.localizedText(v.applicationName);
  e.i32(v.applicationType);
  e.string(v.gatewayServerUri);
  e.string(v.discoveryProfileUri);
  encodeStrings(e, v.discoveryUrls);
}

void decode(BinaryDecoder& d, ApplicationDescription& v) {
  v.applicationUri = d.string();
  v.productUri = d.string();
  v.applicationName = d.localizedText();
  v.applicationType = d.i32();
  v.gatewayServerUri = d.string();
  v.discoveryProfileUri = d.string();
  v.discoveryUrls = decodeStrings(d);
}

void decode(BinaryDecoder& d, EndpointDescription& v) {
  v.endpointUrl = d.string();
  decode(d, v.server);
  v.serverCertificate = d.byteString();
  v.securityMode = MessageSecurityMode(d.i32());
  v.securityPolicyUri = d.string();
  v.userIdentityTokens =
      d.array<UserTokenPolicy>([](BinaryDecoder& d, UserTokenPolicy& p) { decode(d, p); }, 20);
  v.transportProfileUri = d.string();
  v.securityLevel = d.u8();
}

void encode(BinaryEncoder& e, const GetEndpointsRequest& v) {
  encode(e, v.header);
  e.string(v.endpointUrl);
  e.arrayLength(0);  // locale ids
  e.arrayLength(0);  // profile uris
}

void decode(BinaryDecoder& d, GetEndpointsResponse& v) {
  decode(d, v.header);
  v.endpoints = d.array<EndpointDescription>(
      [](BinaryDecoder& d, EndpointDescription& x) { decode(d, x); }, 40);
}

void encode(BinaryEncoder& e, const CreateSessionRequest& v) {
  encode(e, v.header);
  encode(e, v.clientDescription);
  e.string(v.serverUri);
  e.string(v.endpointUrl);
  e.string(v.sessionName);
  e.byteString(v.clientNonce);
  e.byteString(v.clientCertificate);
  e.f64(v.requestedSessionTimeout);
  e.u32(v.maxResponseMessageSize);
}

void decode(BinaryDecoder& d, CreateSessionResponse& v) {
  decode(d, v.header);
  v.sessionId = d.nodeId();
  v.authenticationToken = d.nodeId();
  v.revisedSessionTimeout = d.f64();
  v.serverNonce = d.byteString();
  v.serverCertificate = d.byteString();
  v.serverEndpoints = d.array<EndpointDescription>(
      [](BinaryDecoder& d, EndpointDescription& x) { decode(d, x); }, 40);
  const std::size_t software = d.arrayLength(8);
  for (std::size_t i = 0; i < software; ++i) {
    d.byteString();
    d.byteString();
  }
  decode(d, v.serverSignature);
  v.maxRequestMessageSize = d.u32();
}

void encode(BinaryEncoder& e, const ActivateSessionRequest& v) {
  encode(e, v.header);
  encode(e, v.clientSignature);
  e.arrayLength(0);  // software certificates
  encodeStrings(e, v.localeIds);
  e.extensionObject(v.userIdentityToken);
  encode(e, v.userTokenSignature);
}

void decode(BinaryDecoder& d, ActivateSessionResponse& v) {
  decode(d, v.header);
  v.serverNonce = d.byteString();
  v.results = d.array<StatusCode>([](BinaryDecoder& d, StatusCode& s) { s = d.statusCode(); }, 4);
  skipDiagnostics(d);
}

void encode(BinaryEncoder& e, const CloseSessionRequest& v) {
  encode(e, v.header);
  e.boolean(v.deleteSubscriptions);
}

void decode(BinaryDecoder& d, CloseSessionResponse& v) { decode(d, v.header); }

void encode(BinaryEncoder& e, const AnonymousIdentityToken& v) { e.string(v.policyId); }

void encode(BinaryEncoder& e, const UserNameIdentityToken& v) {
  e.string(v.policyId);
  e.string(v.userName);
  e.byteString(v.password);
  e.string(v.encryptionAlgorithm);
}

}  // namespace veze6::ua
