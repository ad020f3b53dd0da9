// OPC UA status codes: the values this client produces or acts on, and their
// symbolic names for messages.
#pragma once

#include <cstdint>
#include <string>

namespace veze6::ua {

using StatusCode = std::uint32_t;

namespace status {
inline constexpr StatusCode Good = 0;
inline constexpr StatusCode GoodMoreData = 0x00A60000;
inline constexpr StatusCode UncertainInitialValue = 0x40920000;
inline constexpr StatusCode BadUnexpectedError = 0x80010000;
inline constexpr StatusCode BadInternalError = 0x80020000;
inline constexpr StatusCode BadOutOfMemory = 0x80030000;
inline constexpr StatusCode BadCommunicationError = 0x80050000;
inline constexpr StatusCode BadEncodingError = 0x80060000;
inline constexpr StatusCode BadDecodingError = 0x80070000;
inline constexpr StatusCode BadEncodingLimitsExceeded = 0x80080000;
inline constexpr StatusCode BadUnknownResponse = 0x80090000;
inline constexpr StatusCode BadTimeout = 0x800A0000;
inline constexpr StatusCode BadServiceUnsupported = 0x800B0000;
inline constexpr StatusCode BadShutdown = 0x800C0000;
inline constexpr StatusCode BadServerNotConnected = 0x800D0000;
inline constexpr StatusCode BadServerHalted = 0x800E0000;
inline constexpr StatusCode BadNothingToDo = 0x800F0000;
inline constexpr StatusCode BadTooManyOperations = 0x80100000;
inline constexpr StatusCode BadCertificateInvalid = 0x80120000;
inline constexpr StatusCode BadSecurityChecksFailed = 0x80130000;
inline constexpr StatusCode BadCertificateTimeInvalid = 0x80140000;
inline constexpr StatusCode BadCertificateUntrusted = 0x801A0000;
inline constexpr StatusCode BadUserAccessDenied = 0x801F0000;
inline constexpr StatusCode BadIdentityTokenInvalid = 0x80200000;
inline constexpr StatusCode BadIdentityTokenRejected = 0x80210000;
inline constexpr StatusCode BadSecureChannelIdInvalid = 0x80220000;
inline constexpr StatusCode BadNonceInvalid = 0x80240000;
inline constexpr StatusCode BadSessionIdInvalid = 0x80250000;
inline constexpr StatusCode BadSessionClosed = 0x80260000;
inline constexpr StatusCode BadSessionNotActivated = 0x80270000;
inline constexpr StatusCode BadSubscriptionIdInvalid = 0x80280000;
inline constexpr StatusCode BadNodeIdUnknown = 0x80340000;
inline constexpr StatusCode BadAttributeIdInvalid = 0x80350000;
inline constexpr StatusCode BadNotWritable = 0x803B0000;
inline constexpr StatusCode BadContinuationPointInvalid = 0x804A0000;
inline constexpr StatusCode BadSecurityModeRejected = 0x80540000;
inline constexpr StatusCode BadSecurityPolicyRejected = 0x80550000;
inline constexpr StatusCode BadTypeMismatch = 0x80740000;
inline constexpr StatusCode BadTooManySubscriptions = 0x80770000;
inline constexpr StatusCode BadTooManyPublishRequests = 0x80780000;
inline constexpr StatusCode BadNoSubscription = 0x80790000;
inline constexpr StatusCode BadSequenceNumberUnknown = 0x807A0000;
inline constexpr StatusCode BadMessageNotAvailable = 0x807B0000;
inline constexpr StatusCode BadTcpServerTooBusy = 0x807D0000;
inline constexpr StatusCode BadTcpMessageTypeInvalid = 0x807E0000;
inline constexpr StatusCode BadTcpSecureChannelUnknown = 0x807F0000;
inline constexpr StatusCode BadTcpMessageTooLarge = 0x80800000;
inline constexpr StatusCode BadTcpNotEnoughResources = 0x80810000;
inline constexpr StatusCode BadTcpInternalError = 0x80820000;
inline constexpr StatusCode BadTcpEndpointUrlInvalid = 0x80830000;
inline constexpr StatusCode BadRequestInterrupted = 0x80840000;
inline constexpr StatusCode BadRequestTimeout = 0x80850000;
inline constexpr StatusCode BadSecureChannelClosed = 0x80860000;
inline constexpr StatusCode BadSecureChannelTokenUnknown = 0x80870000;
inline constexpr StatusCode BadSequenceNumberInvalid = 0x80880000;
inline constexpr StatusCode BadNotConnected = 0x808A0000;
inline constexpr StatusCode BadInvalidArgument = 0x80AB0000;
inline constexpr StatusCode BadConnectionRejected = 0x80AC0000;
inline constexpr StatusCode BadDisconnect = 0x80AD0000;
inline constexpr StatusCode BadConnectionClosed = 0x80AE0000;
inline constexpr StatusCode BadInvalidState = 0x80AF0000;
inline constexpr StatusCode BadRequestTooLarge = 0x80B80000;
inline constexpr StatusCode BadResponseTooLarge = 0x80B90000;
}  // namespace status

inline bool isGood(StatusCode s) { return (s & 0xC0000000u) == 0; }
inline bool isBad(StatusCode s) { return (s & 0x80000000u) != 0; }
inline bool isUncertain(StatusCode s) { return (s & 0xC0000000u) == 0x40000000u; }

/// "BadTimeout" for a known code, "0x80AB1234" otherwise (the low 16 bits,
/// info bits, are ignored when naming).
std::string statusName(StatusCode s);

}  // namespace veze6::ua
