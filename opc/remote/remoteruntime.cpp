#include "remoteruntime.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

namespace opc::remote {

RemoteRuntime& RemoteRuntime::instance() {
  static RemoteRuntime runtime;
  return runtime;
}

RemoteRuntime::RemoteRuntime() : loop_(RpcLoop::make()) {
  // TLS state is set up before the runtime, so that it is torn down after
  // the runtime's thread has ended and freed what the thread held of it.
  OPENSSL_init_ssl(0, nullptr);
  thread_ = std::thread([this] {
    blockPipeSignal();
    // Connections and hosts tear down while the loop still exists.
    loop_->run(nullptr, [this] { runStopHooks(); });
    OPENSSL_thread_stop();
  });
}

RemoteRuntime::~RemoteRuntime() {
  loop_->quit();
  if (thread_.joinable()) thread_.join();
}

std::uint64_t RemoteRuntime::addStopHook(Task hook) {
  std::lock_guard lock(hooksMutex_);
  const auto id = nextHook_++;
  stopHooks_.emplace(id, std::move(hook));
  return id;
}

bool RemoteRuntime::removeStopHook(std::uint64_t id) {
  std::lock_guard lock(hooksMutex_);
  return stopHooks_.erase(id) != 0;
}

void RemoteRuntime::runStopHooks() {
  std::map<std::uint64_t, Task> hooks;
  {
    std::lock_guard lock(hooksMutex_);
    hooks.swap(stopHooks_);
  }
  for (auto& [id, hook] : hooks) {
    try {
      hook();
    } catch (...) {
    }
  }
}

void RemoteRuntime::blockPipeSignal() {
  // A write to a peer that has gone fails with EPIPE here instead of ending
  // the process: the signal is blocked on the threads that do the
  // transport's writes, and nothing else of the process changes.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

void RemoteRuntime::configureSocket(int fd) {
  const int on = 1;
  const int idle = 3;                 // seconds of silence before the first probe
  const int interval = 1;             // seconds between probes
  const int count = 3;                // probes unanswered before the peer counts as gone
  const unsigned userTimeout = 6000;  // ms unacknowledged data may wait
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
  ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace opc::remote
