// OPC UA status codes the security code answers with.
#pragma once

#include <cstdint>

namespace veze6::ua::crypto {

/// Status codes as the OPC UA standard numbers them. The client's own status
/// table holds the full list; these are the ones produced here.
namespace status {
inline constexpr std::uint32_t Good = 0x00000000;
inline constexpr std::uint32_t BadCertificateInvalid = 0x80120000;
inline constexpr std::uint32_t BadSecurityChecksFailed = 0x80130000;
inline constexpr std::uint32_t BadCertificateTimeInvalid = 0x80140000;
inline constexpr std::uint32_t BadCertificateUntrusted = 0x801A0000;
inline constexpr std::uint32_t BadNonceInvalid = 0x80240000;
inline constexpr std::uint32_t BadSecurityPolicyRejected = 0x80550000;
}  // namespace status

}  // namespace veze6::ua::crypto
