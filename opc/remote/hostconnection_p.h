// One client connection a host serves: its number and peer for the log, and
// the log itself. The connection's RPC state belongs to the host; stubs keep
// this part to hand out further objects and to log.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace opc::remote {

class HostConnection {
 public:
  using Log = std::function<void(const std::string&)>;

  HostConnection(std::uint64_t id, std::string peer, Log log)
      : id_(id), peer_(std::move(peer)), log_(std::move(log)) {}

  std::uint64_t id() const { return id_; }
  const std::string& peer() const { return peer_; }
  /// Logs one line about this connection ("#3 <peer>: <text>").
  void log(const std::string& text) const {
    if (log_) log_("#" + std::to_string(id_) + " " + peer_ + ": " + text);
  }

 private:
  const std::uint64_t id_;
  const std::string peer_;
  const Log log_;
};

}  // namespace opc::remote
