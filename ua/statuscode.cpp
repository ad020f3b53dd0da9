#include "statuscode.h"

#include <cstdio>

namespace veze6::ua {

std::string statusName(StatusCode s) {
  struct Entry {
    StatusCode code;
    const char* name;
  };
  static constexpr Entry kNames[] = {
#define VEZE6_UA_NAME(n) {status::n, #n}
      VEZE6_UA_NAME(Good),
      VEZE6_UA_NAME(GoodMoreData),
      VEZE6_UA_NAME(UncertainInitialValue),
      VEZE6_UA_NAME(BadUnexpectedError),
      VEZE6_UA_NAME(BadInternalError),
      VEZE6_UA_NAME(BadOutOfMemory),
      VEZE6_UA_NAME(BadCommunicationError),
      VEZE6_UA_NAME(BadEncodingError),
      VEZE6_UA_NAME(BadDecodingError),
      VEZE6_UA_NAME(BadEncodingLimitsExceeded),
      VEZE6_UA_NAME(BadUnknownResponse),
      VEZE6_UA_NAME(BadTimeout),
      VEZE6_UA_NAME(BadServiceUnsupported),
      VEZE6_UA_NAME(BadShutdown),
      VEZE6_UA_NAME(BadServerNotConnected),
      VEZE6_UA_NAME(BadServerHalted),
      VEZE6_UA_NAME(BadNothingToDo),
      VEZE6_UA_NAME(BadTooManyOperations),
      VEZE6_UA_NAME(BadCertificateInvalid),
      VEZE6_UA_NAME(BadSecurityChecksFailed),
      VEZE6_UA_NAME(BadCertificateTimeInvalid),
      VEZE6_UA_NAME(BadCertificateUntrusted),
      VEZE6_UA_NAME(BadUserAccessDenied),
      VEZE6_UA_NAME(BadIdentityTokenInvalid),
      VEZE6_UA_NAME(BadIdentityTokenRejected),
      VEZE6_UA_NAME(BadSecureChannelIdInvalid),
      VEZE6_UA_NAME(BadNonceInvalid),
      VEZE6_UA_NAME(BadSessionIdInvalid),
      VEZE6_UA_NAME(BadSessionClosed),
      VEZE6_UA_NAME(BadSessionNotActivated),
      VEZE6_UA_NAME(BadSubscriptionIdInvalid),
      VEZE6_UA_NAME(BadNodeIdUnknown),
      VEZE6_UA_NAME(BadAttributeIdInvalid),
      VEZE6_UA_NAME(BadNotWritable),
      VEZE6_UA_NAME(BadContinuationPointInvalid),
      VEZE6_UA_NAME(BadSecurityModeRejected),
      VEZE6_UA_NAME(BadSecurityPolicyRejected),
      VEZE6_UA_NAME(BadTypeMismatch),
      VEZE6_UA_NAME(BadTooManySubscriptions),
      VEZE6_UA_NAME(BadTooManyPublishRequests),
      VEZE6_UA_NAME(BadNoSubscription),
      VEZE6_UA_NAME(BadSequenceNumberUnknown),
      VEZE6_UA_NAME(BadMessageNotAvailable),
      VEZE6_UA_NAME(BadTcpServerTooBusy),
      VEZE6_UA_NAME(BadTcpMessageTypeInvalid),
      VEZE6_UA_NAME(BadTcpSecureChannelUnknown),
      VEZE6_UA_NAME(BadTcpMessageTooLarge),
      VEZE6_UA_NAME(BadTcpNotEnoughResources),
      VEZE6_UA_NAME(BadTcpInternalError),
      VEZE6_UA_NAME(BadTcpEndpointUrlInvalid),
      VEZE6_UA_NAME(BadRequestInterrupted),
      VEZE6_UA_NAME(BadRequestTimeout),
      VEZE6_UA_NAME(BadSecureChannelClosed),
      VEZE6_UA_NAME(BadSecureChannelTokenUnknown),
      VEZE6_UA_NAME(BadSequenceNumberInvalid),
      VEZE6_UA_NAME(BadNotConnected),
      VEZE6_UA_NAME(BadInvalidArgument),
      VEZE6_UA_NAME(BadConnectionRejected),
      VEZE6_UA_NAME(BadDisconnect),
      VEZE6_UA_NAME(BadConnectionClosed),
      VEZE6_UA_NAME(BadInvalidState),
      VEZE6_UA_NAME(BadRequestTooLarge),
      VEZE6_UA_NAME(BadResponseTooLarge),
#undef VEZE6_UA_NAME
  };
  for (const auto& e : kNames)
    if (e.code == (s & 0xFFFF0000u)) return e.name;
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(s));
  return text;
}

}  // namespace veze6::ua
