#include <kj/debug.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "opc/remote/tlsstream_p.h"

namespace opc::remote {

std::string tlsErrorText() {
  std::string text;
  while (const unsigned long e = ERR_get_error()) {
    char line[256];
    ERR_error_string_n(e, line, sizeof line);
    if (!text.empty()) text += "; ";
    text += line;
  }
  return text.empty() ? "connection closed" : text;
}

TlsStream::TlsStream(kj::Own<kj::AsyncIoStream> inner, SSL* ssl,
                     kj::ArrayPtr<const kj::byte> already)
    : inner_(kj::mv(inner)), ssl_(ssl), writes_(kj::Promise<void>(kj::READY_NOW).fork()) {
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  KJ_ASSERT(in && out, "out of memory");
  // An empty input means "more to come" until the inner stream ends.
  BIO_set_mem_eof_return(in, -1);
  if (already.size()) BIO_write(in, already.begin(), static_cast<int>(already.size()));
  SSL_set_bio(ssl_, in, out);
}

TlsStream::~TlsStream() noexcept(false) { SSL_free(ssl_); }

kj::Promise<void> TlsStream::flush() {
  BIO* out = SSL_get_wbio(ssl_);
  const auto pending = BIO_ctrl_pending(out);
  if (pending == 0) return writes_.addBranch();
  auto bytes = kj::heapArray<kj::byte>(pending);
  BIO_read(out, bytes.begin(), static_cast<int>(bytes.size()));
  writes_ = writes_.addBranch()
                .then([this, bytes = kj::mv(bytes)]() mutable {
                  auto written = inner_->write(bytes.begin(), bytes.size());
                  return written.attach(kj::mv(bytes));
                })
                .fork();
  return writes_.addBranch();
}

kj::Promise<void> TlsStream::fill() {
  return inner_->tryRead(input_, 1, sizeof input_).then([this](size_t n) {
    if (n == 0) {
      eof_ = true;
      BIO_set_mem_eof_return(SSL_get_rbio(ssl_), 0);
      return;
    }
    BIO_write(SSL_get_rbio(ssl_), input_, static_cast<int>(n));
  });
}

kj::Promise<void> TlsStream::handshake() {
  ERR_clear_error();
  const int r = SSL_do_handshake(ssl_);
  if (r == 1) return flush();
  if (SSL_get_error(ssl_, r) == SSL_ERROR_WANT_READ && !eof_) {
    return flush().then([this] { return fill(); }).then([this] { return handshake(); });
  }
  const std::string reason = tlsErrorText();
  // What the peer should hear about the failure (an alert) still goes out.
  return flush().then(
      [reason]() -> kj::Promise<void> {
        return KJ_EXCEPTION(DISCONNECTED, "TLS handshake failed", reason.c_str());
      },
      [reason](kj::Exception&&) -> kj::Promise<void> {
        return KJ_EXCEPTION(DISCONNECTED, "TLS handshake failed", reason.c_str());
      });
}

kj::Promise<size_t> TlsStream::tryRead(void* buffer, size_t minBytes, size_t maxBytes) {
  if (maxBytes == 0) return size_t(0);
  return readLoop(static_cast<kj::byte*>(buffer), minBytes, maxBytes, 0);
}

kj::Promise<size_t> TlsStream::readLoop(kj::byte* buffer, size_t minBytes, size_t maxBytes,
                                        size_t done) {
  while (done < minBytes || done == 0) {
    ERR_clear_error();
    const int want = static_cast<int>(std::min<size_t>(maxBytes - done, 1 << 30));
    const int n = SSL_read(ssl_, buffer + done, want);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    const int error = SSL_get_error(ssl_, n);
    if (error == SSL_ERROR_WANT_READ && !eof_) {
      // Reading may have produced an answer of the protocol's own (a key update).
      (void)flush();
      return fill().then([this, buffer, minBytes, maxBytes, done] {
        return readLoop(buffer, minBytes, maxBytes, done);
      });
    }
    // The peer's close, with or without its notice, ends the stream.
    if (error == SSL_ERROR_ZERO_RETURN || eof_) return done;
    return KJ_EXCEPTION(DISCONNECTED, "TLS read failed", tlsErrorText());
  }
  return done;
}

kj::Promise<void> TlsStream::write(const void* buffer, size_t size) {
  const auto* bytes = static_cast<const kj::byte*>(buffer);
  while (size > 0) {
    ERR_clear_error();
    const int n = SSL_write(ssl_, bytes, static_cast<int>(std::min<size_t>(size, 1 << 30)));
    if (n <= 0) return KJ_EXCEPTION(DISCONNECTED, "TLS write failed", tlsErrorText());
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return flush();
}

kj::Promise<void> TlsStream::write(kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces) {
  for (const auto& piece : pieces) {
    const auto* bytes = piece.begin();
    size_t size = piece.size();
    while (size > 0) {
      ERR_clear_error();
      const int n = SSL_write(ssl_, bytes, static_cast<int>(std::min<size_t>(size, 1 << 30)));
      if (n <= 0) return KJ_EXCEPTION(DISCONNECTED, "TLS write failed", tlsErrorText());
      bytes += n;
      size -= static_cast<size_t>(n);
    }
  }
  return flush();
}

kj::Promise<void> TlsStream::whenWriteDisconnected() { return inner_->whenWriteDisconnected(); }

void TlsStream::shutdownWrite() {
  ERR_clear_error();
  SSL_shutdown(ssl_);
  (void)flush();
  writes_ = writes_.addBranch().then([this] { inner_->shutdownWrite(); }).fork();
}

void TlsStream::abortRead() { inner_->abortRead(); }

void TlsStream::getsockopt(int level, int option, void* value, kj::uint* length) {
  inner_->getsockopt(level, option, value, length);
}

void TlsStream::setsockopt(int level, int option, const void* value, kj::uint length) {
  inner_->setsockopt(level, option, value, length);
}

void TlsStream::getsockname(struct sockaddr* addr, kj::uint* length) {
  inner_->getsockname(addr, length);
}

void TlsStream::getpeername(struct sockaddr* addr, kj::uint* length) {
  inner_->getpeername(addr, length);
}

kj::Maybe<int> TlsStream::getFd() const { return inner_->getFd(); }

}  // namespace opc::remote
