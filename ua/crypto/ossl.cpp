#include <openssl/err.h>

#include "ua/crypto/ossl_p.h"

namespace veze6::ua::crypto::detail {

std::string takeErrors() {
  std::string text;
  while (const unsigned long code = ERR_get_error()) {
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    if (!text.empty()) text += "; ";
    text += buffer;
  }
  return text;
}

void fail(const std::string& what) {
  const std::string errors = takeErrors();
  throw CryptoError(errors.empty() ? what : what + " (" + errors + ")");
}

void clearErrors() { ERR_clear_error(); }

}  // namespace veze6::ua::crypto::detail
