#include <arpa/inet.h>
#include <kj/debug.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdlib>

#include "opc/remote/marshal_p.h"
#include "opc/remote/tlsstream_p.h"
#include "opc/remote/transportsecurity_p.h"

namespace opc::remote {

namespace {

// After the handshake the host says in one byte whether it admits the
// client: with the newest TLS the client's handshake ends before the host
// has judged its certificate, and a refusal must not look like a lost link.
constexpr kj::byte kAdmitted = 1;
constexpr kj::byte kRefused = 0;
// The first byte of a TLS handshake record; a bare RPC message starts with
// its segment count, a small number.
constexpr kj::byte kTlsHandshakeRecord = 0x16;

struct SslCtxFree {
  void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxFree>;
struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};

bool fileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool isIpAddress(const std::string& host) {
  in6_addr scratch{};
  return ::inet_pton(AF_INET, host.c_str(), &scratch) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), &scratch) == 1;
}

// The host judges the client's certificate itself after the handshake.
int acceptAnyCertificate(int, X509_STORE_CTX*) { return 1; }

std::string subjectText(X509* cert) {
  char line[256] = {};
  X509_NAME_oneline(X509_get_subject_name(cert), line, sizeof line);
  return line;
}

std::string hexText(const std::array<std::uint8_t, 32>& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (auto b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

kj::Promise<SecuredStream> failed(HRESULT hr) { return SecuredStream{hr, {}}; }

class RefusingHostServer final : public wire::Host::Server {
 protected:
  kj::Promise<void> createInstance(CreateInstanceContext context) override {
    const auto count = context.getParams().getIids().size();
    auto r = context.getResults();
    auto results = r.initResults(count);
    for (capnp::uint i = 0; i < count; ++i) results.set(i, E_ACCESSDENIED);
    r.setHr(E_ACCESSDENIED);
    return kj::READY_NOW;
  }
  kj::Promise<void> hostName(HostNameContext) override {
    return KJ_EXCEPTION(FAILED, "access denied");
  }
};

}  // namespace

ClientTlsFiles clientTlsFiles() {
  std::string folder = env("VEZE6_REMOTE_DIR");
  if (folder.empty()) {
    const std::string config = env("XDG_CONFIG_HOME");
    const std::string home = env("HOME");
    if (!config.empty()) {
      folder = config + "/veze6/remote";
    } else if (!home.empty()) {
      folder = home + "/.config/veze6/remote";
    }
  }
  const auto pick = [&](const char* variable, const char* name) {
    std::string path = env(variable);
    if (path.empty() && !folder.empty()) path = folder + "/" + name;
    return fileExists(path) ? path : std::string();
  };
  ClientTlsFiles files;
  files.certificate = pick("VEZE6_REMOTE_CERT", "client.crt");
  files.key = pick("VEZE6_REMOTE_KEY", "client.key");
  files.authority = pick("VEZE6_REMOTE_CA", "ca.crt");
  return files;
}

kj::Promise<SecuredStream> secureClientStream(kj::Own<kj::AsyncIoStream> stream,
                                              const ClientTlsFiles& files,
                                              const std::string& host) {
  if (!files.enabled()) return SecuredStream{S_OK, kj::mv(stream)};
  SslCtxPtr context(SSL_CTX_new(TLS_client_method()));
  if (!context) return failed(E_OUTOFMEMORY);
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
  if (SSL_CTX_load_verify_locations(context.get(), files.authority.c_str(), nullptr) != 1) {
    ERR_clear_error();
    return failed(CERT_E_UNTRUSTEDROOT);
  }
  // Without a certificate of its own the client still connects; the host
  // then refuses it, which is what the user should hear.
  if (!files.certificate.empty() && !files.key.empty()) {
    if (SSL_CTX_use_certificate_chain_file(context.get(), files.certificate.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context.get(), files.key.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context.get()) != 1) {
      ERR_clear_error();
      return failed(E_ACCESSDENIED);
    }
  }
  SSL* ssl = SSL_new(context.get());
  if (!ssl) return failed(E_OUTOFMEMORY);
  if (isIpAddress(host)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
  } else {
    SSL_set1_host(ssl, host.c_str());
    SSL_set_tlsext_host_name(ssl, host.c_str());
  }
  SSL_set_connect_state(ssl);
  auto tls = kj::heap<TlsStream>(kj::mv(stream), ssl);
  auto& ref = *tls;
  auto verdict = kj::heapArray<kj::byte>(1);
  auto* verdictByte = verdict.begin();
  return ref.handshake()
      .then([&ref, verdictByte] { return ref.tryRead(verdictByte, 1, 1); })
      .then(
          [tls = kj::mv(tls), verdict = kj::mv(verdict)](size_t n) mutable -> SecuredStream {
            if (n == 1 && verdict[0] == kAdmitted) return SecuredStream{S_OK, kj::mv(tls)};
            return SecuredStream{n == 1 ? E_ACCESSDENIED : HRESULT_RPC_S_SERVER_UNAVAILABLE, {}};
          },
          [ssl](kj::Exception&&) -> SecuredStream {
            // ssl lives as long as tls, which the failed branch still holds.
            switch (SSL_get_verify_result(ssl)) {
              case X509_V_OK:
                return SecuredStream{HRESULT_RPC_S_SERVER_UNAVAILABLE, {}};
              case X509_V_ERR_HOSTNAME_MISMATCH:
              case X509_V_ERR_IP_ADDRESS_MISMATCH:
                return SecuredStream{CERT_E_CN_NO_MATCH, {}};
              default:
                return SecuredStream{CERT_E_UNTRUSTEDROOT, {}};
            }
          });
}

bool parseFingerprint(const std::string& text, std::array<std::uint8_t, 32>& out) {
  std::size_t n = 0;
  int high = -1;
  for (char c : text) {
    if (c == ':' || c == ' ' || c == '\t') continue;
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else {
      return false;
    }
    if (high < 0) {
      high = v;
      continue;
    }
    if (n == out.size()) return false;
    out[n++] = static_cast<std::uint8_t>(high << 4 | v);
    high = -1;
  }
  return n == out.size() && high < 0;
}

std::unique_ptr<HostSecurity> HostSecurity::make(const HostTlsOptions& options,
                                                 std::string* error) {
  const auto fail = [&](const std::string& text) {
    *error = text;
    ERR_clear_error();
    return nullptr;
  };
  if (options.certificateFile.empty() || options.keyFile.empty()) {
    return fail("TLS needs both the host's certificate and its key");
  }
  if (options.clientAuthorityFile.empty() && options.allowedFingerprints.empty()) {
    return fail(
        "TLS needs a way to admit clients: an authority for their certificates or an "
        "allow-list of certificate fingerprints");
  }
  std::unique_ptr<HostSecurity> security(new HostSecurity);
  SslCtxPtr context(SSL_CTX_new(TLS_server_method()));
  if (!context) return fail("cannot make a TLS context: " + tlsErrorText());
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  if (SSL_CTX_use_certificate_chain_file(context.get(), options.certificateFile.c_str()) != 1) {
    return fail("cannot use the certificate " + options.certificateFile + ": " + tlsErrorText());
  }
  if (SSL_CTX_use_PrivateKey_file(context.get(), options.keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(context.get()) != 1) {
    return fail("cannot use the key " + options.keyFile + ": " + tlsErrorText());
  }
  if (!options.clientAuthorityFile.empty()) {
    if (SSL_CTX_load_verify_locations(context.get(), options.clientAuthorityFile.c_str(),
                                      nullptr) != 1) {
      return fail("cannot use the client authority " + options.clientAuthorityFile + ": " +
                  tlsErrorText());
    }
    if (auto* names = SSL_load_client_CA_file(options.clientAuthorityFile.c_str())) {
      SSL_CTX_set_client_CA_list(context.get(), names);
    }
    security->authority_ = true;
  }
  for (const auto& text : options.allowedFingerprints) {
    std::array<std::uint8_t, 32> fingerprint{};
    if (!parseFingerprint(text, fingerprint)) {
      return fail("not a SHA-256 fingerprint: " + text);
    }
    security->fingerprints_.insert(fingerprint);
  }
  // Every client is asked for its certificate; the judgement comes after
  // the handshake, so that a refusal can be told to the client.
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER | SSL_VERIFY_CLIENT_ONCE, acceptAnyCertificate);
  security->context_ = context.release();
  return security;
}

HostSecurity::~HostSecurity() { SSL_CTX_free(context_); }

kj::Promise<HostSecurity::Admission> HostSecurity::admit(kj::Own<kj::AsyncIoStream> stream,
                                                         kj::Timer& timer, kj::Duration timeout) {
  auto first = kj::heapArray<kj::byte>(1);
  auto* firstByte = first.begin();
  auto& ref = *stream;
  auto judged =
      ref.tryRead(firstByte, 1, 1)
          .then([this, stream = kj::mv(stream),
                 first = kj::mv(first)](size_t n) mutable -> kj::Promise<Admission> {
            if (n == 0) return Admission{{}, false, "closed before any request"};
            if (first[0] == kTlsHandshakeRecord) return handshake(kj::mv(stream), first[0]);
            // A client without TLS is told "access denied" in its own terms.
            struct Replay final : kj::AsyncIoStream {
              Replay(kj::Own<kj::AsyncIoStream> s, kj::byte b) : inner(kj::mv(s)), byte(b) {}
              kj::Promise<size_t> tryRead(void* buffer, size_t minBytes, size_t maxBytes) override {
                if (!pending || maxBytes == 0) return inner->tryRead(buffer, minBytes, maxBytes);
                pending = false;
                *static_cast<kj::byte*>(buffer) = byte;
                if (minBytes <= 1) return size_t(1);
                return inner
                    ->tryRead(static_cast<kj::byte*>(buffer) + 1, minBytes - 1, maxBytes - 1)
                    .then([](size_t got) { return got + 1; });
              }
              kj::Promise<void> write(const void* buffer, size_t size) override {
                return inner->write(buffer, size);
              }
              kj::Promise<void> write(
                  kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces) override {
                return inner->write(pieces);
              }
              kj::Promise<void> whenWriteDisconnected() override {
                return inner->whenWriteDisconnected();
              }
              void shutdownWrite() override { inner->shutdownWrite(); }
              kj::Maybe<int> getFd() const override { return inner->getFd(); }
              kj::Own<kj::AsyncIoStream> inner;
              kj::byte byte;
              bool pending = true;
            };
            return Admission{kj::heap<Replay>(kj::mv(stream), first[0]), false,
                             "a client without TLS"};
          });
  return timer.timeoutAfter(timeout, kj::mv(judged)).catch_([](kj::Exception&& e) -> Admission {
    const std::string reason = e.getType() == kj::Exception::Type::OVERLOADED
                                   ? "no TLS handshake in time"
                                   : std::string(e.getDescription().cStr());
    return Admission{{}, false, reason};
  });
}

kj::Promise<HostSecurity::Admission> HostSecurity::handshake(kj::Own<kj::AsyncIoStream> stream,
                                                             kj::byte first) {
  SSL* ssl = SSL_new(context_);
  if (!ssl) return Admission{{}, false, "out of memory"};
  SSL_set_accept_state(ssl);
  auto tls = kj::heap<TlsStream>(kj::mv(stream), ssl, kj::arrayPtr(&first, 1));
  auto& ref = *tls;
  return ref.handshake().then([this, tls = kj::mv(tls)]() mutable -> kj::Promise<Admission> {
    std::unique_ptr<X509, X509Free> cert(SSL_get1_peer_certificate(tls->ssl()));
    std::string text;
    bool admitted = false;
    if (!cert) {
      text = "no client certificate";
    } else {
      std::array<std::uint8_t, 32> fingerprint{};
      unsigned length = 0;
      X509_digest(cert.get(), EVP_sha256(), fingerprint.data(), &length);
      const std::string who = subjectText(cert.get()) + " sha256:" + hexText(fingerprint);
      const long verified = SSL_get_verify_result(tls->ssl());
      if (authority_ && verified == X509_V_OK) {
        admitted = true;
        text = who + " (by its authority)";
      } else if (fingerprints_.count(fingerprint)) {
        admitted = true;
        text = who + " (allow-listed)";
      } else {
        text = who + ": " +
               (authority_
                    ? std::string("not trusted (") + X509_verify_cert_error_string(verified) + ")"
                    : std::string("not on the allow-list"));
      }
    }
    static const kj::byte admittedByte = kAdmitted;
    static const kj::byte refusedByte = kRefused;
    auto& stream = *tls;
    auto told = stream.write(admitted ? &admittedByte : &refusedByte, 1);
    if (admitted) {
      return told.then([tls = kj::mv(tls), text]() mutable {
        return Admission{kj::mv(tls), true, text};
      });
    }
    return told.then([&stream] { stream.shutdownWrite(); })
        .then(
            [text]() {
              return Admission{{}, false, text};
            },
            [text](kj::Exception&&) {
              return Admission{{}, false, text};
            })
        .attach(kj::mv(tls));
  });
}

wire::Host::Client makeRefusingHostServer() { return kj::heap<RefusingHostServer>(); }

}  // namespace opc::remote
