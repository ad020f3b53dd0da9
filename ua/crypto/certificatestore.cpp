#include "ua/crypto/certificatestore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include "ua/crypto/ossl_p.h"

namespace veze6::ua::crypto {

using namespace detail;
namespace fs = std::filesystem;

struct CertificateStore::Impl {
  fs::path root;
  std::mutex mutex;
};

namespace {

void makeFolder(const fs::path& folder) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return;
  fs::create_directories(folder, ec);
  if (ec) throw CryptoError("cannot create " + folder.string() + ": " + ec.message());
  // Holds the client's private key or decides whom it trusts: the user's
  // alone.
  fs::permissions(folder, fs::perms::owner_all, ec);
}

// Writes through a temporary file and a rename, so a reader never sees half
// a certificate.
void writeFileAtomically(const fs::path& file, ByteView bytes) {
  std::string temp = file.string() + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) throw CryptoError("cannot create " + temp + ": " + std::strerror(errno));
  bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH) == 0;
  for (std::size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ::close(fd) == 0 && ok && ::rename(temp.c_str(), file.c_str()) == 0;
  if (!ok) {
    const std::string reason = std::strerror(errno);
    ::unlink(temp.c_str());
    throw CryptoError("cannot write " + file.string() + ": " + reason);
  }
}

std::string localHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

X509StorePtr loadTrusted(const fs::path& folder) {
  X509StorePtr store(X509_STORE_new());
  if (!store) fail("out of memory");
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    try {
      const Certificate certificate = Certificate::fromFile(it->path());
      X509_STORE_add_cert(store.get(), certificate.native());
    } catch (const CryptoError&) {
      // Not a certificate (a note, a backup): trusts nothing.
    }
  }
  clearErrors();
  return store;
}

bool isTimeError(int error) {
  switch (error) {
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return true;
    default:
      return false;
  }
}

bool isSignatureError(int error) {
  switch (error) {
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
    case X509_V_ERR_EE_KEY_TOO_SMALL:
    case X509_V_ERR_CA_MD_TOO_WEAK:
      return true;
    default:
      return false;
  }
}

// Runs the library's chain check; answers its error code (X509_V_OK when
// the chain ends at a trusted certificate).
int chainError(X509_STORE* store, const Certificate& leaf, bool checkTime) {
  X509StackPtr untrusted(sk_X509_new_null());
  if (!untrusted) fail("out of memory");
  for (const Certificate& issuer : leaf.chain()) {
    X509_up_ref(issuer.native());
    if (!sk_X509_push(untrusted.get(), issuer.native())) {
      X509_free(issuer.native());
      fail("out of memory");
    }
  }
  X509StoreCtxPtr ctx(X509_STORE_CTX_new());
  if (!ctx || X509_STORE_CTX_init(ctx.get(), store, leaf.native(), untrusted.get()) != 1)
    fail("cannot set up certificate check");
  // A trusted leaf needs no CA behind it: self-signed application
  // certificates are the common case.
  unsigned long flags = X509_V_FLAG_PARTIAL_CHAIN;
  if (!checkTime) flags |= X509_V_FLAG_NO_CHECK_TIME;
  X509_STORE_CTX_set_flags(ctx.get(), flags);
  const int result = X509_verify_cert(ctx.get());
  const int error = result == 1 ? X509_V_OK : X509_STORE_CTX_get_error(ctx.get());
  clearErrors();
  return error == X509_V_OK && result != 1 ? X509_V_ERR_UNSPECIFIED : error;
}

// A self-signed certificate names no one else who could vouch for its
// signature, so the chain check never looks at it unless it is trusted;
// checking it here tells a tampered certificate from a merely unknown one.
bool selfSignatureBroken(const Certificate& certificate) {
  X509* x = certificate.native();
  if (X509_check_issued(x, x) != X509_V_OK) {
    clearErrors();
    return false;
  }
  EVP_PKEY* key = X509_get0_pubkey(x);
  const bool broken = !key || X509_verify(x, key) != 1;
  clearErrors();
  return broken;
}

}  // namespace

fs::path CertificateStore::defaultRoot() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && *data && fs::path(data).is_absolute()) return fs::path(data) / "veze6" / "pki";
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : ".") / ".local" / "share" / "veze6" / "pki";
}

CertificateStore::CertificateStore(fs::path root) : d_(std::make_unique<Impl>()) {
  d_->root = root.empty() ? defaultRoot() : std::move(root);
}

CertificateStore::~CertificateStore() = default;

const fs::path& CertificateStore::root() const { return d_->root; }
fs::path CertificateStore::ownFolder() const { return d_->root / "own"; }
fs::path CertificateStore::trustedFolder() const { return d_->root / "trusted"; }
fs::path CertificateStore::rejectedFolder() const { return d_->root / "rejected"; }

CertificateAndKey CertificateStore::ownCertificate(const std::string& applicationUri,
                                                   const std::string& commonName,
                                                   const std::string& hostname, int days,
                                                   int bits) {
  std::lock_guard lock(d_->mutex);
  makeFolder(d_->root);
  makeFolder(ownFolder());
  const fs::path certFile = ownFolder() / "cert.der";
  const fs::path keyFile = ownFolder() / "private.pem";
  try {
    CertificateAndKey own{Certificate::fromFile(certFile), PrivateKey::fromFile(keyFile)};
    if (own.key.matches(own.certificate) && own.certificate.applicationUri() == applicationUri &&
        own.certificate.isTimeValid())
      return own;
  } catch (const CryptoError&) {
    // Missing or unreadable: made anew below.
  }
  CertificateAndKey own = createApplicationCertificate(
      applicationUri, commonName, hostname.empty() ? localHostName() : hostname, days, bits);
  // The key first: a certificate on disk without its key would be useless.
  own.key.saveToFile(keyFile);
  writeFileAtomically(certFile, own.certificate.toDer());
  return own;
}

std::uint32_t CertificateStore::verify(ByteView serverCertificate) {
  std::optional<Certificate> certificate;
  try {
    certificate = Certificate::fromDer(serverCertificate);
  } catch (const CryptoError&) {
    return status::BadCertificateInvalid;
  }
  return verify(*certificate);
}

std::uint32_t CertificateStore::verify(const Certificate& serverCertificate) {
  if (selfSignatureBroken(serverCertificate)) return status::BadCertificateInvalid;
  std::lock_guard lock(d_->mutex);
  const X509StorePtr store = loadTrusted(trustedFolder());
  const int trustError = chainError(store.get(), serverCertificate, false);
  if (isSignatureError(trustError)) return status::BadCertificateInvalid;
  if (trustError != X509_V_OK) {
    try {
      makeFolder(d_->root);
      makeFolder(rejectedFolder());
      const fs::path file = rejectedFolder() / (serverCertificate.thumbprintHex() + ".der");
      std::error_code ec;
      if (!fs::exists(file, ec)) writeFileAtomically(file, serverCertificate.toDer());
    } catch (const CryptoError&) {
      // The answer stays "untrusted"; the user just has no file to move.
    }
    return status::BadCertificateUntrusted;
  }
  const int timeError = chainError(store.get(), serverCertificate, true);
  if (timeError == X509_V_OK) return status::Good;
  return isTimeError(timeError) ? status::BadCertificateTimeInvalid : status::BadCertificateInvalid;
}

void CertificateStore::trust(const Certificate& certificate) {
  std::lock_guard lock(d_->mutex);
  makeFolder(d_->root);
  makeFolder(trustedFolder());
  writeFileAtomically(trustedFolder() / (certificate.thumbprintHex() + ".der"),
                      certificate.toDer());
}

}  // namespace veze6::ua::crypto
