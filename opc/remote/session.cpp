#include <capnp/rpc-twoparty.h>
#include <kj/async-io.h>
#include <kj/debug.h>
#include <netdb.h>
#include <sys/socket.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <set>

#include "opc/remote/marshal_p.h"
#include "opc/remote/transportsecurity_p.h"
#include "opc/taskmem.h"
#include "session_p.h"

namespace opc::remote {

namespace {

class DropErrors final : public kj::TaskSet::ErrorHandler {
 public:
  void taskFailed(kj::Exception&&) override {}
};
DropErrors g_dropErrors;

constexpr auto kConnectTimeout = 10 * kj::SECONDS;

bool blank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

bool parsePort(std::u16string_view s, std::uint16_t& port) {
  if (s.empty() || s.size() > 5) return false;
  unsigned value = 0;
  for (char16_t c : s) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + unsigned(c - u'0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

/// How long a remote call may wait for its answer before the connection
/// counts as lost: 30 s, room for the largest requests a client makes
/// (adding 100,000 items, browsing a large address space) on a slow link.
/// VEZE6_REMOTE_TIMEOUT_MS sets it in milliseconds (1 to 86,400,000); any
/// other value is ignored and the default kept.
std::chrono::milliseconds callTimeLimit() {
  constexpr std::chrono::milliseconds fallback(30000);
  constexpr std::uint64_t longest = 24 * 60 * 60 * 1000;
  const char* set = std::getenv("VEZE6_REMOTE_TIMEOUT_MS");
  const std::string_view text = set ? set : "";
  std::uint64_t value = 0;
  const auto end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value == 0 || value > longest) {
    return fallback;
  }
  return std::chrono::milliseconds(value);
}

}  // namespace

bool splitHostText(std::u16string_view text, std::string& host, std::uint16_t& port) {
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  port = kDefaultPort;
  std::u16string_view name = text;
  if (!text.empty() && text.front() == u'[') {
    const auto close = text.find(u']');
    if (close == std::u16string_view::npos) return false;
    name = text.substr(1, close - 1);
    const auto rest = text.substr(close + 1);
    if (!rest.empty() && (rest.front() != u':' || !parsePort(rest.substr(1), port))) return false;
  } else if (const auto colon = text.find(u':');
             colon != std::u16string_view::npos &&
             text.find(u':', colon + 1) == std::u16string_view::npos) {
    name = text.substr(0, colon);
    if (!parsePort(text.substr(colon + 1), port)) return false;
  }
  if (name.empty()) return false;
  host = utf16ToUtf8(name);
  return true;
}

struct Session::Waiter {
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;  // guarded by mutex
  HRESULT hr = E_FAIL;

  void finish(HRESULT result) {
    {
      std::lock_guard lock(mutex);
      if (done) return;
      done = true;
      hr = result;
    }
    cv.notify_all();
  }
  HRESULT wait() {
    std::unique_lock lock(mutex);
    cv.wait(lock, [this] { return done; });
    return hr;
  }
};

/// The connection's state on the RPC thread.
struct Session::Link {
  explicit Link(kj::Own<kj::AsyncIoStream> s)
      : stream(kj::mv(s)),
        rpc(*stream),
        hostCap(rpc.bootstrap().castAs<wire::Host>()),
        tasks(kj::heap<kj::TaskSet>(g_dropErrors)) {}
  ~Link() {
    // Calls that never finished end here, after their work (which may
    // refer to the callers' out-parameters) is gone.
    tasks = nullptr;
    canceler.release();
    for (const auto& w : pending) w->finish(RPC_E_DISCONNECTED);
  }

  kj::Own<kj::AsyncIoStream> stream;
  capnp::TwoPartyClient rpc;
  wire::Host::Client hostCap;
  kj::Canceler canceler;
  std::set<std::shared_ptr<Waiter>> pending;
  kj::Own<kj::TaskSet> tasks;
};

Session::Session(Token, std::u16string text) : text_(std::move(text)), limit_(callTimeLimit()) {}

Session::~Session() {
  auto& runtime = RemoteRuntime::instance();
  // When the stop hook ran already, the link went with it.
  if (!runtime.removeStopHook(stopHook_) || !link_) return;
  if (runtime.isRpcThread()) {
    link_.reset();
    return;
  }
  auto link = std::make_shared<std::unique_ptr<Link>>(std::move(link_));
  if (!runtime.post([link] { link->reset(); })) (void)link->release();
}

HRESULT Session::connect(std::u16string_view text, std::shared_ptr<Session>* out) {
  *out = nullptr;
  auto& runtime = RemoteRuntime::instance();
  if (runtime.isRpcThread()) return RPC_E_WRONG_THREAD;
  std::string host;
  std::uint16_t port = kDefaultPort;
  if (!splitHostText(text, host, port)) return HRESULT_RPC_S_SERVER_UNAVAILABLE;

  // Name lookup blocks; it runs here, on the caller's thread, not in the loop.
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
    return HRESULT_RPC_S_SERVER_UNAVAILABLE;
  }
  sockaddr_storage address{};
  const auto length = found->ai_addrlen;
  std::memcpy(&address, found->ai_addr, std::min<std::size_t>(length, sizeof address));
  ::freeaddrinfo(found);

  auto session = std::make_shared<Session>(Token{}, std::u16string(text));
  std::weak_ptr<Session> weak = session;
  session->stopHook_ = runtime.addStopHook([weak] {
    if (auto s = weak.lock()) {
      s->markLost();
      s->link_.reset();
    }
  });
  auto waiter = std::make_shared<Waiter>();
  const auto tlsFiles = clientTlsFiles();
  const bool posted = runtime.post([session, waiter, address, length, tlsFiles, host] {
    auto& io = RemoteRuntime::instance().io();
    auto target = io.provider->getNetwork().getSockaddr(&address, length);
    auto connected = target->connect().attach(kj::mv(target));
    auto secured = connected.then([tlsFiles, host](kj::Own<kj::AsyncIoStream> stream) {
      // The keepalive settings belong to the socket, under TLS if any.
      KJ_IF_MAYBE (fd, stream->getFd()) RemoteRuntime::configureSocket(*fd);
      return secureClientStream(kj::mv(stream), tlsFiles, host);
    });
    auto timed = io.provider->getTimer().timeoutAfter(kConnectTimeout, kj::mv(secured));
    auto made = timed.then(
        [session, waiter](SecuredStream secured) {
          if (FAILED(secured.hr)) {
            waiter->finish(secured.hr);
            return;
          }
          auto stream = kj::mv(secured.stream);
          session->link_ = std::make_unique<Link>(kj::mv(stream));
          std::weak_ptr<Session> weak = session;
          // A reset link rejects where a closed one resolves: both are a loss.
          const auto lose = [weak] {
            if (auto s = weak.lock()) s->markLost();
          };
          session->link_->tasks->add(session->link_->rpc.onDisconnect().then(
              [lose] { lose(); }, [lose](kj::Exception&&) { lose(); }));
          waiter->finish(S_OK);
        },
        [waiter](kj::Exception&&) { waiter->finish(HRESULT_RPC_S_SERVER_UNAVAILABLE); });
    // Dropped unfinished (the runtime ends at exit), the caller still goes on.
    RemoteRuntime::instance().tasks().add(
        made.attach(kj::defer([waiter] { waiter->finish(HRESULT_RPC_S_SERVER_UNAVAILABLE); })));
  });
  if (!posted) return HRESULT_RPC_S_SERVER_UNAVAILABLE;
  const HRESULT hr = waiter->wait();
  if (FAILED(hr)) return hr;
  *out = std::move(session);
  return S_OK;
}

wire::Host::Client& Session::host() {
  KJ_REQUIRE(link_ != nullptr, "the session has no connection");
  return link_->hostCap;
}

std::u16string Session::lossText() const { return u"connection to " + text_ + u" lost"; }

HRESULT Session::call(Work work) {
  if (lost()) return RPC_E_DISCONNECTED;
  auto& runtime = RemoteRuntime::instance();
  if (runtime.isRpcThread()) return RPC_E_WRONG_THREAD;
  auto waiter = std::make_shared<Waiter>();
  auto self = shared_from_this();
  if (!runtime.post([self, waiter, work = std::move(work)]() mutable {
        self->start(std::move(work), waiter);
      })) {
    return RPC_E_DISCONNECTED;
  }
  return waiter->wait();
}

void Session::start(Work work, const std::shared_ptr<Waiter>& waiter) {
  if (lost() || !link_) {
    waiter->finish(RPC_E_DISCONNECTED);
    return;
  }
  kj::Promise<HRESULT> promise = nullptr;
  try {
    KJ_IF_MAYBE (e, kj::runCatchingExceptions([&] { promise = work(); })) {
      waiter->finish(hresultFrom(*e));
      return;
    }
  } catch (...) {
    waiter->finish(E_FAIL);
    return;
  }
  link_->pending.insert(waiter);
  struct Outcome {
    HRESULT hr;
    bool late;
  };
  std::weak_ptr<Session> weak = weak_from_this();
  auto done = [weak, waiter](Outcome outcome) {
    if (auto s = weak.lock()) {
      // A host that does not answer in time is as good as gone: the caller
      // must not wait on it again, and the component hears it as a loss.
      if (outcome.late || outcome.hr == RPC_E_DISCONNECTED) s->markLost();
      if (s->link_) s->link_->pending.erase(waiter);
    }
    waiter->finish(outcome.hr);
  };
  const auto failed = [](kj::Exception&& e) { return Outcome{hresultFrom(e), false}; };
  // Continuations are passed by value: kj keeps a reference to an lvalue.
  auto answered = kj::mv(promise).then(
      [](HRESULT hr) {
        return Outcome{hr, false};
      },
      kj::cp(failed));
  auto& timer = RemoteRuntime::instance().io().provider->getTimer();
  auto expired = timer.afterDelay(limit_.count() * kj::MILLISECONDS).then([] {
    return Outcome{RPC_E_TIMEOUT, true};
  });
  // The join drops the losing side here, on the RPC thread, before the
  // caller is let go: nothing that writes its out-parameters outlives its
  // wait.
  auto first = kj::mv(answered).exclusiveJoin(kj::mv(expired));
  auto lost = [done, failed](kj::Exception&& e) { done(failed(kj::mv(e))); };
  link_->tasks->add(link_->canceler.wrap(kj::mv(first)).then(kj::mv(done), kj::mv(lost)));
}

void Session::markLost() {
  if (lost_.exchange(true, std::memory_order_acq_rel)) return;
  if (link_) link_->canceler.cancel(KJ_EXCEPTION(DISCONNECTED, "connection lost"));
  // Closed from a task of its own: this may run inside one of the link's
  // tasks.
  std::weak_ptr<Session> weak = weak_from_this();
  RemoteRuntime::instance().post([weak] {
    if (auto s = weak.lock()) s->link_.reset();
  });
  std::map<std::uint64_t, LossListener> listeners;
  {
    std::lock_guard lock(listenersMutex_);
    listeners.swap(listeners_);  // each runs once; what it holds goes after
  }
  for (auto& [id, listener] : listeners) listener();
}

void Session::setLossListener(std::uint64_t key, LossListener listener) {
  {
    std::lock_guard lock(listenersMutex_);
    if (!lost()) {
      listeners_[key] = std::move(listener);
      return;
    }
  }
  RemoteRuntime::instance().post(std::move(listener));
}

void Session::removeLossListener(std::uint64_t key) {
  std::lock_guard lock(listenersMutex_);
  listeners_.erase(key);
}

}  // namespace opc::remote
