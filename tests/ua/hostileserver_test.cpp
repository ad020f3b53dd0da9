// The client against a scripted server of our own that answers the session
// set-up correctly and then misbehaves in one way per test.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ua/client.h"

namespace veze6::ua {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

enum class Misbehaviour { WrongHandle, HugeArray, UnknownType, Silent };

class HostileServer {
 public:
  explicit HostileServer(Misbehaviour m) : mode_(m) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 4);
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    url_ = "opc.tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    thread_ = std::thread([this] { run(); });
  }
  ~HostileServer() {
    stop_ = true;
    thread_.join();
    ::close(listen_);
  }
  const std::string& url() const { return url_; }

 private:
  bool readAll(int fd, std::uint8_t* p, std::size_t n) {
    while (n) {
      pollfd q{fd, POLLIN, 0};
      if (stop_ || ::poll(&q, 1, 50) < 0) return false;
      if (!(q.revents & (POLLIN | POLLHUP))) continue;
      const ssize_t got = ::recv(fd, p, n, 0);
      if (got <= 0) return false;
      p += got;
      n -= std::size_t(got);
    }
    return true;
  }
  void send(int fd, const char* type, std::uint32_t requestId, const Bytes& body) {
    Bytes c(type, type + 3);
    c.push_back('F');
    BinaryEncoder e(c);
    e.u32(0);
    e.u32(7);  // channel
    if (std::string(type) == "OPN") {
      e.string(kSecurityPolicyNone);
      e.byteString({});
      e.byteString({});
    } else {
      e.u32(1);  // token
    }
    e.u32(++sequence_);
    e.u32(requestId);
    c.insert(c.end(), body.begin(), body.end());
    e.patchU32(4, std::uint32_t(c.size()));
    ::send(fd, c.data(), c.size(), MSG_NOSIGNAL);
  }
  static void header(BinaryEncoder& e, std::uint32_t type, std::uint32_t handle) {
    e.nodeId(NodeId(0, type));
    e.dateTime(now());
    e.u32(handle);
    e.statusCode(status::Good);
    e.diagnosticInfo({});
    e.arrayLength(0);
    e.extensionObject({});
  }
  Bytes answer(std::uint32_t type, std::uint32_t handle, BinaryDecoder& request) {
    Bytes b;
    BinaryEncoder e(b);
    switch (type) {
      case OpenSecureChannelRequest::kTypeId:
        header(e, OpenSecureChannelResponse::kTypeId, handle);
        e.u32(0);
        e.u32(7);
        e.u32(1);
        e.dateTime(now());
        e.u32(600000);
        e.byteString({});
        break;
      case GetEndpointsRequest::kTypeId:
        header(e, GetEndpointsResponse::kTypeId, handle);
        e.arrayLength(1);
        e.string(url_);
        encode(e, ApplicationDescription{});
        e.byteString({});
        e.i32(1);
        e.string(kSecurityPolicyNone);
        e.arrayLength(1);
        e.string("anonymous");
        e.i32(0);
        e.string({});
        e.string({});
        e.string({});
        e.string({});
        e.u8(0);
        break;
      case CreateSessionRequest::kTypeId:
        header(e, CreateSessionResponse::kTypeId, handle);
        e.nodeId(NodeId(1, 1));
        e.nodeId(NodeId(1, 2));
        e.f64(60000);
        e.byteString({});
        e.byteString({});
        e.arrayLength(0);
        e.arrayLength(0);
        e.string({});
        e.byteString({});
        e.u32(0);
        break;
      case ActivateSessionRequest::kTypeId:
        header(e, ActivateSessionResponse::kTypeId, handle);
        e.byteString({});
        e.arrayLength(0);
        e.arrayLength(0);
        break;
      case ReadRequest::kTypeId: {
        // Skip the rest of the request header to the node count.
        request.u32();
        request.string();
        request.u32();
        request.extensionObject();
        request.f64();
        request.i32();
        const std::size_t count = request.arrayLength();
        if (reads_++ == 0 || mode_ == Misbehaviour::WrongHandle) {
          header(e, ReadResponse::kTypeId, reads_ == 1 ? handle : handle + 1);
          e.arrayLength(count);
          for (std::size_t i = 0; i < count; ++i) e.u8(0);
          e.arrayLength(0);
        } else if (mode_ == Misbehaviour::HugeArray) {
          header(e, ReadResponse::kTypeId, handle);
          e.i32(0x7FFFFFFF);
        } else if (mode_ == Misbehaviour::UnknownType) {
          header(e, 9999, handle);
        }
        break;
      }
      case CloseSessionRequest::kTypeId:
        header(e, CloseSessionResponse::kTypeId, handle);
        break;
    }
    return b;
  }
  void serve(int fd) {
    for (;;) {
      std::uint8_t h[8];
      if (!readAll(fd, h, 8)) return;
      std::uint32_t size;
      std::memcpy(&size, h + 4, 4);
      if (size < 8 || size > 1 << 20) return;
      Bytes body(size - 8);
      if (!readAll(fd, body.data(), body.size())) return;
      if (std::memcmp(h, "HEL", 3) == 0) {
        Bytes ack{'A', 'C', 'K', 'F', 28, 0, 0, 0};
        BinaryEncoder e(ack);
        for (std::uint32_t v : {0u, 65536u, 65536u, 0u, 0u}) e.u32(v);
        ::send(fd, ack.data(), ack.size(), MSG_NOSIGNAL);
        continue;
      }
      if (std::memcmp(h, "CLO", 3) == 0) return;
      const bool open = std::memcmp(h, "OPN", 3) == 0;
      BinaryDecoder d(body.data(), body.size());
      d.u32();
      if (open) {
        d.string();
        d.byteString();
        d.byteString();
      } else {
        d.u32();
      }
      d.u32();
      const std::uint32_t requestId = d.u32();
      const NodeId type = d.nodeId();
      d.nodeId();
      d.dateTime();
      const std::uint32_t handle = d.u32();
      const Bytes reply = answer(type.numeric, handle, d);
      if (!reply.empty()) send(fd, open ? "OPN" : "MSG", requestId, reply);
    }
  }
  void run() {
    while (!stop_) {
      pollfd q{listen_, POLLIN, 0};
      if (::poll(&q, 1, 50) <= 0) continue;
      const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      sequence_ = 0;
      reads_ = 0;
      serve(fd);
      ::close(fd);
    }
  }

  Misbehaviour mode_;
  int listen_ = -1;
  std::string url_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::uint32_t sequence_ = 0;
  int reads_ = 0;
};

struct Case {
  Misbehaviour mode;
  StatusCode read;  ///< what the read after the set-up gives
  StatusCode loss;  ///< the loss event's reason, Good for none
};

class HostileServerTest : public ::testing::TestWithParam<Case> {};

TEST_P(HostileServerTest, AnswersWithAClearStatusAndNeverHangs) {
  HostileServer server(GetParam().mode);
  Client client;
  std::atomic<StatusCode> loss{status::Good};
  client.setLossHandler([&](const LossEvent& e) { loss = e.reason; });
  ConnectOptions o;
  o.endpointUrl = server.url();
  o.requestTimeout = 500ms;
  o.keepAliveInterval = 60s;
  std::string error;
  ASSERT_EQ(client.connect(o, &error), status::Good) << error;
  std::vector<DataValue> values;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(client.read({{NodeId(0, 2258)}, {NodeId(0, 2259)}}, values), GetParam().read);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  EXPECT_EQ(loss.load(), GetParam().loss);
  EXPECT_EQ(client.isConnected(), GetParam().loss == status::Good);
  client.disconnect();
}

INSTANTIATE_TEST_SUITE_P(
    Misbehaviours, HostileServerTest,
    ::testing::Values(Case{Misbehaviour::WrongHandle, status::BadUnknownResponse, status::Good},
                      Case{Misbehaviour::UnknownType, status::BadUnknownResponse, status::Good},
                      Case{Misbehaviour::HugeArray, status::BadDecodingError,
                           status::BadDecodingError},
                      Case{Misbehaviour::Silent, status::BadTimeout, status::Good}));

}  // namespace
}  // namespace veze6::ua
