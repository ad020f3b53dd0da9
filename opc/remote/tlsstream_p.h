// A TLS session over another stream of the RPC thread: OpenSSL works on
// memory buffers and this class moves their bytes to and from the inner
// stream, so the socket (and its keepalive settings) stays the inner one's.
#pragma once

#include <kj/async-io.h>

#include <string>

using SSL = struct ssl_st;

namespace opc::remote {

class TlsStream final : public kj::AsyncIoStream {
 public:
  /// Takes ssl (made from a configured context, not yet connected) and the
  /// stream it runs over. `already` are bytes read from inner before.
  TlsStream(kj::Own<kj::AsyncIoStream> inner, SSL* ssl, kj::ArrayPtr<const kj::byte> already = {});
  ~TlsStream() noexcept(false);
  KJ_DISALLOW_COPY(TlsStream);

  /// Runs the handshake; fails with the TLS library's reason.
  kj::Promise<void> handshake();
  SSL* ssl() const { return ssl_; }

  kj::Promise<size_t> tryRead(void* buffer, size_t minBytes, size_t maxBytes) override;
  kj::Promise<void> write(const void* buffer, size_t size) override;
  kj::Promise<void> write(kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces) override;
  kj::Promise<void> whenWriteDisconnected() override;
  void shutdownWrite() override;
  void abortRead() override;
  void getsockopt(int level, int option, void* value, kj::uint* length) override;
  void setsockopt(int level, int option, const void* value, kj::uint length) override;
  void getsockname(struct sockaddr* addr, kj::uint* length) override;
  void getpeername(struct sockaddr* addr, kj::uint* length) override;
  kj::Maybe<int> getFd() const override;

 private:
  kj::Promise<size_t> readLoop(kj::byte* buffer, size_t minBytes, size_t maxBytes, size_t done);
  /// Queues what OpenSSL produced for the inner stream; resolves once written.
  kj::Promise<void> flush();
  /// Reads more of the inner stream into OpenSSL's input.
  kj::Promise<void> fill();

  kj::Own<kj::AsyncIoStream> inner_;
  SSL* ssl_;
  bool eof_ = false;
  kj::byte input_[16384];
  /// Writes to the inner stream, in order; a failure fails every later one.
  kj::ForkedPromise<void> writes_;
};

/// The newest TLS library error as text (and clears the queue).
std::string tlsErrorText();

}  // namespace opc::remote
