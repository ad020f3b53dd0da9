#include "opc/remote/host.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <kj/async-io.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

#include "opc/remote/hostconnection_p.h"
#include "opc/remote/remoteruntime.h"
#include "opc/remote/servedconnection_p.h"
#include "opc/remote/transportsecurity_p.h"

namespace opc::remote {

namespace {

std::string peerText(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return "?";
  char host[NI_MAXHOST] = {};
  char port[NI_MAXSERV] = {};
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, port,
                    sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return "?";
  }
  return address.ss_family == AF_INET6 ? "[" + std::string(host) + "]:" + port
                                       : std::string(host) + ":" + port;
}

bool isLoopback(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    return (ntohl(v4.sin_addr.s_addr) >> 24) == 127;
  }
  if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
    if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
  }
  return false;
}

}  // namespace

struct Host::Impl final : kj::TaskSet::ErrorHandler, std::enable_shared_from_this<Host::Impl> {
  explicit Impl(HostOptions o) : options(std::move(o)) {}

  void taskFailed(kj::Exception&& e) override {
    if (options.log) options.log(std::string("error: ") + e.getDescription().cStr());
  }

  kj::Promise<void> acceptLoop() {
    return listener->accept().then([this](kj::Own<kj::AsyncIoStream> stream) {
      add(kj::mv(stream));
      return acceptLoop();
    });
  }

  /// Hands an accepted client to a thread of its own (RPC thread).
  void add(kj::Own<kj::AsyncIoStream> stream) {
    int fd = -1;
    std::string peer = "?";
    KJ_IF_MAYBE (accepted, stream->getFd()) {
      RemoteRuntime::configureSocket(*accepted);
      peer = peerText(*accepted);
      fd = ::fcntl(*accepted, F_DUPFD_CLOEXEC, 0);
    }
    stream = nullptr;  // the connection's thread has its own descriptor of the socket
    if (fd < 0) return;
    const auto id = nextId++;
    std::weak_ptr<Impl> weak = shared_from_this();
    ServedConnection::Setup setup;
    setup.id = id;
    setup.peer = peer;
    setup.log = options.log;
    setup.security = security;
    setup.fd = fd;
    setup.served = &count;
    // The thread is joined on the RPC thread once it has done everything.
    setup.ended = [weak, id] {
      RemoteRuntime::instance().post([weak, id] {
        if (const auto impl = weak.lock()) impl->reap(id);
      });
    };
    std::lock_guard lock(connectionsMutex);
    if (closing) {
      ::close(fd);
      return;
    }
    // Without a thread for it the client is closed; the host goes on.
    try {
      connections.emplace(id, std::make_unique<ServedConnection>(std::move(setup)));
    } catch (const std::exception& e) {
      HostConnection(id, peer, options.log).log(std::string("cannot serve: ") + e.what());
    }
  }

  void reap(std::uint64_t id) {
    std::unique_ptr<ServedConnection> ended;
    {
      std::lock_guard lock(connectionsMutex);
      auto it = connections.find(id);
      if (it == connections.end()) return;
      ended = std::move(it->second);
      connections.erase(it);
    }
  }

  /// Stops listening (RPC thread).
  void closeListener() {
    tasks = nullptr;
    listener = nullptr;
  }

  /// Ends every connection and waits for their threads: what the clients
  /// held is released.
  void closeConnections() {
    std::map<std::uint64_t, std::unique_ptr<ServedConnection>> ending;
    {
      std::lock_guard lock(connectionsMutex);
      closing = true;
      ending.swap(connections);
    }
    for (auto& [id, connection] : ending) connection->close();
    ending.clear();
  }

  const HostOptions options;
  std::atomic<std::uint16_t> port{0};
  std::atomic<std::size_t> count{0};
  std::mutex errorMutex;
  std::string error;  // guarded by errorMutex
  std::uint64_t stopHook = 0;
  std::shared_ptr<HostSecurity> security;  // set by listen() when TLS is configured

  // RPC thread only:
  kj::Own<kj::ConnectionReceiver> listener;
  kj::Own<kj::TaskSet> tasks;
  std::uint64_t nextId = 1;

  std::mutex connectionsMutex;
  std::map<std::uint64_t, std::unique_ptr<ServedConnection>> connections;  // guarded
  bool closing = false;  // guarded by connectionsMutex: no more connections are taken
};

Host::Host(HostOptions options) : impl_(std::make_shared<Impl>(std::move(options))) {
  std::weak_ptr<Impl> weak = impl_;
  impl_->stopHook = RemoteRuntime::instance().addStopHook([weak] {
    if (auto impl = weak.lock()) {
      impl->closeListener();
      impl->closeConnections();
    }
  });
}

Host::~Host() {
  auto& runtime = RemoteRuntime::instance();
  if (runtime.removeStopHook(impl_->stopHook)) {
    auto impl = impl_;
    runtime.runAndWait([impl] { impl->closeListener(); });
  }
  impl_->closeConnections();
}

HRESULT Host::listen() {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const auto& o = impl_->options;
  const int rc = ::getaddrinfo(o.address.empty() ? nullptr : o.address.c_str(),
                               std::to_string(o.port).c_str(), &hints, &found);
  if (rc != 0 || !found) {
    std::lock_guard lock(impl_->errorMutex);
    impl_->error = "cannot resolve " + o.address + ": " + ::gai_strerror(rc);
    return E_INVALIDARG;
  }
  sockaddr_storage address{};
  const auto length = found->ai_addrlen;
  std::memcpy(&address, found->ai_addr, std::min<std::size_t>(length, sizeof address));
  ::freeaddrinfo(found);

  if (o.tls.enabled()) {
    std::string error;
    impl_->security = HostSecurity::make(o.tls, &error);
    if (!impl_->security) {
      std::lock_guard lock(impl_->errorMutex);
      impl_->error = error;
      return E_INVALIDARG;
    }
  } else if (!isLoopback(address)) {
    std::lock_guard lock(impl_->errorMutex);
    impl_->error = "listening on " + o.address +
                   " needs TLS (a certificate, its key and a way to admit clients); without "
                   "TLS a host listens on a loopback address only";
    return E_ACCESSDENIED;
  }

  HRESULT hr = E_FAIL;
  auto impl = impl_;
  const bool ran = RemoteRuntime::instance().runAndWait([&] {
    auto& io = RemoteRuntime::instance().io();
    KJ_IF_MAYBE (e, kj::runCatchingExceptions([&] {
                   impl->listener =
                       io.provider->getNetwork().getSockaddr(&address, length)->listen();
                 })) {
      std::lock_guard lock(impl->errorMutex);
      impl->error = e->getDescription().cStr();
      return;
    }
    impl->port.store(static_cast<std::uint16_t>(impl->listener->getPort()));
    impl->tasks = kj::heap<kj::TaskSet>(*impl);
    impl->tasks->add(impl->acceptLoop());
    hr = S_OK;
  });
  return ran ? hr : E_UNEXPECTED;
}

std::uint16_t Host::port() const { return impl_->port.load(); }

std::string Host::errorText() const {
  std::lock_guard lock(impl_->errorMutex);
  return impl_->error;
}

std::size_t Host::connectionCount() const { return impl_->count.load(); }

std::string Host::computerName() {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return "localhost";
  return buf;
}

}  // namespace opc::remote
