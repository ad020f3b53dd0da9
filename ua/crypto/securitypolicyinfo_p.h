// Internal to ua/crypto: not API. What distinguishes one security policy
// from another.
#pragma once

#include <cstddef>
#include <string_view>

#include "ua/crypto/securitypolicy.h"

namespace veze6::ua::crypto {

struct SecurityPolicy::Info {
  std::string_view uri;
  std::string_view asymmetricSignatureUri;
  std::string_view asymmetricEncryptionUri;
  std::string_view symmetricSignatureUri;
  std::string_view symmetricEncryptionUri;
  const char* cipherName;  // the cryptographic library's name of the AES-CBC variant
  std::size_t signingKeyLength;
  std::size_t encryptingKeyLength;
  std::size_t blockSize;
  std::size_t symmetricSignatureSize;
  std::size_t nonceLength;
  int minKeyBits;
  int maxKeyBits;
};

}  // namespace veze6::ua::crypto
