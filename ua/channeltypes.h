// Structures of the secure channel, discovery and session services, with
// their binary encoders (requests) and decoders (responses).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binarydecoder.h"
#include "binaryencoder.h"
#include "types.h"

namespace veze6::ua {

/// Encoding ids of the structures this client reads from an ExtensionObject
/// or message body, in namespace 0.
namespace typeids {
inline constexpr std::uint32_t ServiceFault = 397;
inline constexpr std::uint32_t AnonymousIdentityToken = 321;
inline constexpr std::uint32_t UserNameIdentityToken = 324;
inline constexpr std::uint32_t ServerStatusDataType = 864;
inline constexpr std::uint32_t DataChangeFilter = 724;
inline constexpr std::uint32_t DataChangeNotification = 811;
inline constexpr std::uint32_t StatusChangeNotification = 820;
inline constexpr std::uint32_t EventNotificationList = 916;
}  // namespace typeids

enum class MessageSecurityMode : std::int32_t {
  Invalid = 0,
  None = 1,
  Sign = 2,
  SignAndEncrypt = 3
};
enum class UserTokenType : std::int32_t {
  Anonymous = 0,
  UserName = 1,
  Certificate = 2,
  Issued = 3
};

struct RequestHeader {
  NodeId authenticationToken;
  DateTime timestamp = 0;
  std::uint32_t requestHandle = 0;
  std::uint32_t returnDiagnostics = 0;
  std::string auditEntryId;
  std::uint32_t timeoutHint = 0;
};

struct ResponseHeader {
  DateTime timestamp = 0;
  std::uint32_t requestHandle = 0;
  StatusCode serviceResult = status::Good;
};

struct ServiceFault {
  static constexpr std::uint32_t kTypeId = typeids::ServiceFault;
  ResponseHeader header;
};

struct ChannelSecurityToken {
  std::uint32_t channelId = 0;
  std::uint32_t tokenId = 0;
  DateTime createdAt = 0;
  std::uint32_t revisedLifetime = 0;  ///< milliseconds
};

struct OpenSecureChannelRequest {
  static constexpr std::uint32_t kTypeId = 446;
  RequestHeader header;
  std::uint32_t clientProtocolVersion = 0;
  std::int32_t requestType = 0;  ///< 0 issue, 1 renew
  MessageSecurityMode securityMode = MessageSecurityMode::None;
  ByteString clientNonce;
  std::uint32_t requestedLifetime = 0;
};

struct OpenSecureChannelResponse {
  static constexpr std::uint32_t kTypeId = 449;
  ResponseHeader header;
  std::uint32_t serverProtocolVersion = 0;
  ChannelSecurityToken securityToken;
  ByteString serverNonce;
};

struct CloseSecureChannelRequest {
  static constexpr std::uint32_t kTypeId = 452;
  RequestHeader header;
};

struct ApplicationDescription {
  std::string applicationUri;
  std::string productUri;
  LocalizedText applicationName;
  std::int32_t applicationType = 1;  ///< 0 server, 1 client
  std::string gatewayServerUri;
  std::string discoveryProfileUri;
  std::vector<std::string> discoveryUrls;
};

struct UserTokenPolicy {
  std::string policyId;
  UserTokenType tokenType = UserTokenType::Anonymous;
  std::string issuedTokenType;
  std::string issuerEndpointUrl;
  std::string securityPolicyUri;
};

struct EndpointDescription {
  std::string endpointUrl;
  ApplicationDescription server;
  ByteString serverCertificate;
  MessageSecurityMode securityMode = MessageSecurityMode::None;
  std::string securityPolicyUri;
  std::vector<UserTokenPolicy> userIdentityTokens;
  std::string transportProfileUri;
  std::uint8_t securityLevel = 0;
};

struct GetEndpointsRequest {
  static constexpr std::uint32_t kTypeId = 428;
  RequestHeader header;
  std::string endpointUrl;
};

struct GetEndpointsResponse {
  static constexpr std::uint32_t kTypeId = 431;
  ResponseHeader header;
  std::vector<EndpointDescription> endpoints;
};

struct SignatureData {
  std::string algorithm;
  ByteString signature;
};

struct CreateSessionRequest {
  static constexpr std::uint32_t kTypeId = 461;
  RequestHeader header;
  ApplicationDescription clientDescription;
  std::string serverUri;
  std::string endpointUrl;
  std::string sessionName;
  ByteString clientNonce;
  ByteString clientCertificate;
  double requestedSessionTimeout = 0;
  std::uint32_t maxResponseMessageSize = 0;
};

struct CreateSessionResponse {
  static constexpr std::uint32_t kTypeId = 464;
  ResponseHeader header;
  NodeId sessionId;
  NodeId authenticationToken;
  double revisedSessionTimeout = 0;
  ByteString serverNonce;
  ByteString serverCertificate;
  std::vector<EndpointDescription> serverEndpoints;
  SignatureData serverSignature;
  std::uint32_t maxRequestMessageSize = 0;
};

struct ActivateSessionRequest {
  static constexpr std::uint32_t kTypeId = 467;
  RequestHeader header;
  SignatureData clientSignature;
  std::vector<std::string> localeIds;
  ExtensionObject userIdentityToken;
  SignatureData userTokenSignature;
};

struct ActivateSessionResponse {
  static constexpr std::uint32_t kTypeId = 470;
  ResponseHeader header;
  ByteString serverNonce;
  std::vector<StatusCode> results;
};

struct CloseSessionRequest {
  static constexpr std::uint32_t kTypeId = 473;
  RequestHeader header;
  bool deleteSubscriptions = true;
};

struct CloseSessionResponse {
  static constexpr std::uint32_t kTypeId = 476;
  ResponseHeader header;
};

struct AnonymousIdentityToken {
  static constexpr std::uint32_t kTypeId = typeids::AnonymousIdentityToken;
  std::string policyId;
};

struct UserNameIdentityToken {
  static constexpr std::uint32_t kTypeId = typeids::UserNameIdentityToken;
  std::string policyId;
  std::string userName;
  ByteString password;
  std::string encryptionAlgorithm;
};

void encode(BinaryEncoder& e, const RequestHeader& v);
void decode(BinaryDecoder& d, ResponseHeader& v);
void decode(BinaryDecoder& d, ServiceFault& v);
void encode(BinaryEncoder& e, const OpenSecureChannelRequest& v);
void decode(BinaryDecoder& d, OpenSecureChannelResponse& v);
void encode(BinaryEncoder& e, const CloseSecureChannelRequest& v);
void encode(BinaryEncoder& e, const ApplicationDescription& v);
void decode(BinaryDecoder& d, ApplicationDescription& v);
void decode(BinaryDecoder& d, EndpointDescription& v);
void encode(BinaryEncoder& e, const GetEndpointsRequest& v);
void decode(BinaryDecoder& d, GetEndpointsResponse& v);
void encode(BinaryEncoder& e, const CreateSessionRequest& v);
void decode(BinaryDecoder& d, CreateSessionResponse& v);
void encode(BinaryEncoder& e, const ActivateSessionRequest& v);
void decode(BinaryDecoder& d, ActivateSessionResponse& v);
void encode(BinaryEncoder& e, const CloseSessionRequest& v);
void decode(BinaryDecoder& d, CloseSessionResponse& v);
void encode(BinaryEncoder& e, const AnonymousIdentityToken& v);
void encode(BinaryEncoder& e, const UserNameIdentityToken& v);

/// Diagnostics are read and dropped: this client never asks for them.
void skipDiagnostics(BinaryDecoder& d);

/// Wraps a structure into a binary ExtensionObject.
template <class T>
ExtensionObject makeExtensionObject(const T& v) {
  std::vector<std::uint8_t> bytes;
  BinaryEncoder e(bytes);
  encode(e, v);
  return {NodeId(0, T::kTypeId), ExtensionObject::Encoding::Binary,
          std::string(bytes.begin(), bytes.end())};
}

}  // namespace veze6::ua
