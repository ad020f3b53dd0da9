// Byte containers and the error type shared by the OPC UA security code.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace veze6::ua::crypto {

/// Owned bytes: keys, nonces, signatures, cipher text, DER certificates.
using Bytes = std::vector<std::uint8_t>;
/// Borrowed, read-only bytes.
using ByteView = std::span<const std::uint8_t>;
/// Borrowed bytes transformed in place (symmetric encryption).
using MutableByteView = std::span<std::uint8_t>;

/// Thrown by every operation of this folder that cannot produce its result:
/// malformed input (a certificate, a key, cipher text of the wrong size),
/// an operation the security policy does not have, or a failure inside the
/// cryptographic library. what() carries the reason and, where the library
/// gave one, its own error text. Signature checks never throw for a wrong
/// signature: they answer false.
class CryptoError : public std::runtime_error {
 public:
  explicit CryptoError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace veze6::ua::crypto
