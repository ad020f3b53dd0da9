#include <openssl/rand.h>

#include <algorithm>

#include "ua/crypto/certificate.h"
#include "ua/crypto/ossl_p.h"

namespace veze6::ua::crypto {

using namespace detail;

namespace {

// URI and DNS entries are IA5 strings: printable ASCII only.
bool isIa5Printable(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

void addGeneralName(GENERAL_NAMES* names, int type, const std::string& text) {
  GENERAL_NAME* name = GENERAL_NAME_new();
  ASN1_IA5STRING* value = ASN1_IA5STRING_new();
  if (!name || !value || ASN1_STRING_set(value, text.data(), static_cast<int>(text.size())) != 1) {
    GENERAL_NAME_free(name);
    ASN1_IA5STRING_free(value);
    fail("out of memory");
  }
  GENERAL_NAME_set0_value(name, type, value);
  if (!sk_GENERAL_NAME_push(names, name)) {
    GENERAL_NAME_free(name);
    fail("out of memory");
  }
}

void addExtension(X509* x, X509V3_CTX* ctx, int nid, const char* value) {
  X509ExtPtr ext(X509V3_EXT_conf_nid(nullptr, ctx, nid, value));
  if (!ext || X509_add_ext(x, ext.get(), -1) != 1) fail("cannot add certificate extension");
}

void setRandomSerial(X509* x) {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) fail("no random serial number");
  bytes[0] &= 0x7F;  // a positive number
  bytes[0] |= 0x40;  // of full length
  BignumPtr serial(BN_bin2bn(bytes, sizeof bytes, nullptr));
  if (!serial || !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(x)))
    fail("cannot set serial number");
}

}  // namespace

CertificateAndKey createApplicationCertificate(const std::string& applicationUri,
                                               const std::string& commonName,
                                               const std::string& hostname, int days, int bits) {
  if (applicationUri.empty() || !isIa5Printable(applicationUri))
    throw CryptoError("application URI must be non-empty printable ASCII");
  if (!hostname.empty() && !isIa5Printable(hostname))
    throw CryptoError("host name must be printable ASCII");
  if (days < 1) throw CryptoError("certificate lifetime must be at least a day");
  if (commonName.empty()) throw CryptoError("common name must not be empty");

  PrivateKey key = PrivateKey::generateRsa(bits);
  X509Ptr x(X509_new());
  if (!x || X509_set_version(x.get(), X509_VERSION_3) != 1) fail("out of memory");
  setRandomSerial(x.get());
  if (!X509_gmtime_adj(X509_getm_notBefore(x.get()), -3600) ||
      !X509_time_adj_ex(X509_getm_notAfter(x.get()), days, 0, nullptr))
    fail("cannot set validity");

  X509_NAME* name = X509_get_subject_name(x.get());
  if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(commonName.data()),
                                 static_cast<int>(commonName.size()), -1, 0) != 1 ||
      X509_set_issuer_name(x.get(), name) != 1)
    fail("cannot set common name");
  if (X509_set_pubkey(x.get(), key.native()) != 1) fail("cannot set public key");

  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, x.get(), x.get(), nullptr, nullptr, 0);
  addExtension(x.get(), &ctx, NID_basic_constraints, "critical,CA:FALSE");
  addExtension(x.get(), &ctx, NID_key_usage,
               "critical,digitalSignature,nonRepudiation,keyEncipherment,dataEncipherment,"
               "keyCertSign");
  addExtension(x.get(), &ctx, NID_ext_key_usage, "serverAuth,clientAuth");
  addExtension(x.get(), &ctx, NID_subject_key_identifier, "hash");
  addExtension(x.get(), &ctx, NID_authority_key_identifier, "keyid:always");

  // Built by hand rather than from configuration text, where a comma in the
  // URI would split it.
  GeneralNamesPtr names(sk_GENERAL_NAME_new_null());
  if (!names) fail("out of memory");
  addGeneralName(names.get(), GEN_URI, applicationUri);
  if (!hostname.empty()) {
    if (ASN1_OCTET_STRING* ip = a2i_IPADDRESS(hostname.c_str())) {
      GENERAL_NAME* entry = GENERAL_NAME_new();
      if (!entry) {
        ASN1_OCTET_STRING_free(ip);
        fail("out of memory");
      }
      GENERAL_NAME_set0_value(entry, GEN_IPADD, ip);
      if (!sk_GENERAL_NAME_push(names.get(), entry)) {
        GENERAL_NAME_free(entry);
        fail("out of memory");
      }
    } else {
      clearErrors();
      addGeneralName(names.get(), GEN_DNS, hostname);
    }
  }
  if (X509_add1_ext_i2d(x.get(), NID_subject_alt_name, names.get(), 0, X509V3_ADD_DEFAULT) != 1)
    fail("cannot add subject alternative name");

  if (X509_sign(x.get(), key.native(), EVP_sha256()) <= 0) fail("cannot sign certificate");

  unsigned char* der = nullptr;
  const int length = i2d_X509(x.get(), &der);
  if (length <= 0) fail("cannot encode certificate");
  Bytes bytes(der, der + length);
  OPENSSL_free(der);
  return {Certificate::fromDer(bytes), std::move(key)};
}

}  // namespace veze6::ua::crypto
