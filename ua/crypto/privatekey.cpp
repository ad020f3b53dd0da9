#include <fcntl.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

#include "ua/crypto/certificate.h"
#include "ua/crypto/ossl_p.h"

namespace veze6::ua::crypto {

using namespace detail;

struct PrivateKey::Impl {
  PKeyPtr key;
};

namespace {

// Refuses to ask for a pass phrase: the library's default would prompt on
// the terminal, which a client library must never do.
int noPassphrase(char*, int, int, void*) { return -1; }

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

[[noreturn]] void failErrno(const std::string& what) {
  throw CryptoError(what + ": " + std::strerror(errno));
}

}  // namespace

PrivateKey::PrivateKey(std::shared_ptr<const Impl> impl) : d_(std::move(impl)) {}

PrivateKey PrivateKey::generateRsa(int bits) {
  if (bits < 1024 || bits > 16384) throw CryptoError("unsupported RSA key size");
  auto impl = std::make_shared<Impl>();
  impl->key.reset(EVP_RSA_gen(static_cast<unsigned int>(bits)));
  if (!impl->key) fail("cannot generate RSA key");
  return PrivateKey(std::move(impl));
}

PrivateKey PrivateKey::fromPem(std::string_view pem) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) fail("out of memory");
  auto impl = std::make_shared<Impl>();
  impl->key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr));
  if (!impl->key) fail("not an unencrypted PEM private key");
  if (!EVP_PKEY_is_a(impl->key.get(), "RSA")) throw CryptoError("private key is not RSA");
  return PrivateKey(std::move(impl));
}

PrivateKey PrivateKey::fromFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw CryptoError("cannot read " + file.string());
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  try {
    return fromPem(text);
  } catch (const CryptoError& e) {
    throw CryptoError(file.string() + ": " + e.what());
  }
}

std::string PrivateKey::toPem() const {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PrivateKey(bio.get(), d_->key.get(), nullptr, nullptr, 0, nullptr,
                                       nullptr) != 1)
    fail("cannot write private key");
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

void PrivateKey::saveToFile(const std::filesystem::path& file) const {
  const std::string pem = toPem();
  // mkstemp creates the file with mode 0600, so the key is private from the
  // first byte; rename then replaces the old file in one step.
  std::string temp = file.string() + ".XXXXXX";
  FileDescriptor fd(::mkstemp(temp.data()));
  if (fd.get() < 0) failErrno("cannot create " + temp);
  bool written = ::fchmod(fd.get(), S_IRUSR | S_IWUSR) == 0;
  for (std::size_t done = 0; written && done < pem.size();) {
    const ssize_t n = ::write(fd.get(), pem.data() + done, pem.size() - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += static_cast<std::size_t>(n);
  }
  written = written && ::fsync(fd.get()) == 0 && ::close(fd.release()) == 0 &&
            ::rename(temp.c_str(), file.c_str()) == 0;
  if (!written) {
    const int error = errno;
    ::unlink(temp.c_str());
    errno = error;
    failErrno("cannot write " + file.string());
  }
}

int PrivateKey::bits() const { return EVP_PKEY_get_bits(d_->key.get()); }

bool PrivateKey::matches(const Certificate& certificate) const {
  const EVP_PKEY* pub = X509_get0_pubkey(certificate.native());
  const bool same = pub && EVP_PKEY_eq(pub, d_->key.get()) == 1;
  clearErrors();
  return same;
}

evp_pkey_st* PrivateKey::native() const noexcept { return d_->key.get(); }

}  // namespace veze6::ua::crypto
