#include "ua/crypto/certificate.h"

#include <openssl/pem.h>

#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

#include "ua/crypto/ossl_p.h"

namespace veze6::ua::crypto {

using namespace detail;

struct Certificate::Impl {
  X509Ptr x509;
  Bytes der;
  std::vector<Certificate> chain;
};

namespace {

// Files larger than this are not certificates; refusing them keeps a stray
// file in a certificate folder from being read into memory whole.
constexpr std::uintmax_t kMaxFileSize = 1 << 20;

Bytes derOf(X509* x) {
  unsigned char* out = nullptr;
  const int length = i2d_X509(x, &out);
  if (length <= 0) fail("cannot encode certificate");
  Bytes der(out, out + length);
  OPENSSL_free(out);
  return der;
}

std::string nameText(const X509_NAME* name) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0)
    fail("cannot print name");
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

std::chrono::system_clock::time_point timeOf(const ASN1_TIME* t) {
  std::tm tm{};
  if (!t || ASN1_TIME_to_tm(t, &tm) != 1) fail("certificate has an unreadable validity time");
  return std::chrono::system_clock::from_time_t(timegm(&tm));
}

std::vector<std::string> altNames(X509* x, int type) {
  std::vector<std::string> result;
  GeneralNamesPtr names(
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(x, NID_subject_alt_name, nullptr, nullptr)));
  if (!names) return result;
  for (int i = 0; i < sk_GENERAL_NAME_num(names.get()); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
    if (name->type != type) continue;
    const ASN1_IA5STRING* text =
        type == GEN_URI ? name->d.uniformResourceIdentifier : name->d.dNSName;
    result.emplace_back(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                        static_cast<std::size_t>(ASN1_STRING_length(text)));
  }
  return result;
}

}  // namespace

Certificate::Certificate(std::shared_ptr<const Impl> impl) : d_(std::move(impl)) {}

Certificate Certificate::fromDer(ByteView der) {
  const unsigned char* p = der.data();
  const unsigned char* const end = der.data() + der.size();
  auto impl = std::make_shared<Impl>();
  while (p < end) {
    const unsigned char* start = p;
    X509Ptr x(d2i_X509(nullptr, &p, static_cast<long>(end - p)));
    if (!x) fail("not a DER certificate");
    if (!impl->x509) {
      impl->x509 = std::move(x);
      impl->der.assign(start, p);
    } else {
      auto issuer = std::make_shared<Impl>();
      issuer->der.assign(start, p);
      issuer->x509 = std::move(x);
      impl->chain.push_back(Certificate(std::move(issuer)));
    }
  }
  if (!impl->x509) throw CryptoError("empty certificate");
  return Certificate(std::move(impl));
}

Certificate Certificate::fromPem(std::string_view pem) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) fail("out of memory");
  X509Ptr x(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  if (!x) fail("not a PEM certificate");
  auto impl = std::make_shared<Impl>();
  impl->der = derOf(x.get());
  impl->x509 = std::move(x);
  return Certificate(std::move(impl));
}

Certificate Certificate::fromBytes(ByteView bytes) {
  // DER starts with a SEQUENCE tag; PEM is text.
  if (!bytes.empty() && bytes.front() == 0x30) return fromDer(bytes);
  return fromPem(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

Certificate Certificate::fromFile(const std::filesystem::path& file) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec) throw CryptoError("cannot read " + file.string() + ": " + ec.message());
  if (size > kMaxFileSize) throw CryptoError(file.string() + " is too large for a certificate");
  std::ifstream in(file, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) throw CryptoError("cannot read " + file.string());
  try {
    return fromBytes(bytes);
  } catch (const CryptoError& e) {
    throw CryptoError(file.string() + ": " + e.what());
  }
}

Bytes Certificate::toDer() const { return d_->der; }

std::string Certificate::toPem() const {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), d_->x509.get()) != 1) fail("cannot write PEM");
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

const std::vector<Certificate>& Certificate::chain() const { return d_->chain; }

Bytes Certificate::thumbprint() const {
  Bytes digest(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (EVP_Digest(d_->der.data(), d_->der.size(), digest.data(), &length, EVP_sha1(), nullptr) != 1)
    fail("cannot hash certificate");
  digest.resize(length);
  return digest;
}

std::string Certificate::thumbprintHex() const {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (const std::uint8_t b : thumbprint()) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0xF];
  }
  return hex;
}

bool Certificate::isRsa() const {
  const EVP_PKEY* key = X509_get0_pubkey(d_->x509.get());
  return key && EVP_PKEY_is_a(key, "RSA");
}

int Certificate::publicKeyBits() const {
  if (!isRsa()) return 0;
  return EVP_PKEY_get_bits(X509_get0_pubkey(d_->x509.get()));
}

std::string Certificate::subject() const { return nameText(X509_get_subject_name(d_->x509.get())); }

std::string Certificate::issuer() const { return nameText(X509_get_issuer_name(d_->x509.get())); }

std::string Certificate::applicationUri() const {
  const auto uris = altNames(d_->x509.get(), GEN_URI);
  return uris.empty() ? std::string() : uris.front();
}

std::vector<std::string> Certificate::dnsNames() const { return altNames(d_->x509.get(), GEN_DNS); }

std::chrono::system_clock::time_point Certificate::notBefore() const {
  return timeOf(X509_get0_notBefore(d_->x509.get()));
}

std::chrono::system_clock::time_point Certificate::notAfter() const {
  return timeOf(X509_get0_notAfter(d_->x509.get()));
}

bool Certificate::isTimeValid(std::chrono::system_clock::time_point at) const {
  return notBefore() <= at && at <= notAfter();
}

bool Certificate::isSelfSigned() const {
  X509* x = d_->x509.get();
  if (X509_NAME_cmp(X509_get_subject_name(x), X509_get_issuer_name(x)) != 0) return false;
  EVP_PKEY* key = X509_get0_pubkey(x);
  const bool ok = key && X509_verify(x, key) == 1;
  clearErrors();
  return ok;
}

bool operator==(const Certificate& a, const Certificate& b) { return a.d_->der == b.d_->der; }

x509_st* Certificate::native() const noexcept { return d_->x509.get(); }

}  // namespace veze6::ua::crypto
