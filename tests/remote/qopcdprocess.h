// A qopcd daemon run by a test on a free port, with its log.
#pragma once

#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "childprocess.h"
#include "common/pump.h"
#include "opc/taskmem.h"

namespace veze6::test {

/// A short time limit on the remote calls of the connections made in a scope.
class CallTimeLimit {
 public:
  explicit CallTimeLimit(std::chrono::milliseconds limit) {
    ::setenv("VEZE6_REMOTE_TIMEOUT_MS", std::to_string(limit.count()).c_str(), 1);
  }
  ~CallTimeLimit() { ::unsetenv("VEZE6_REMOTE_TIMEOUT_MS"); }
  CallTimeLimit(const CallTimeLimit&) = delete;
  CallTimeLimit& operator=(const CallTimeLimit&) = delete;
};

class QopcdProcess {
 public:
  QopcdProcess() = default;
  QopcdProcess(const QopcdProcess&) = delete;
  QopcdProcess& operator=(const QopcdProcess&) = delete;

  /// Starts the daemon (with args after the port, run through `wrapper`
  /// when given, e.g. to enter a network namespace; its first word a full
  /// path) and waits until it listens; false (with the log) when it does
  /// not.
  bool start(const QStringList& args = {}, const QStringList& wrapper = {}) {
    args_ = args;
    wrapper_ = wrapper;
    return run(0);
  }

  /// Starts the daemon again as before, on the port it had (after kill()
  /// or stop()), as a service manager restarts it.
  bool restart() { return run(port_); }

  /// Ends the daemon at once, as a crash would.
  void kill() { process_->stop(SIGKILL); }
  /// Asks the daemon to stop (SIGTERM) and waits.
  void stop() { process_->stop(SIGTERM); }
  /// Freezes the daemon (SIGSTOP): its connections stay open, the kernel
  /// still takes what is sent, and nothing is answered until resume().
  void freeze() { process_->signal(SIGSTOP); }
  void resume() { process_->signal(SIGCONT); }

  std::u16string computer() const { return computerName().toStdU16String(); }
  QString computerName() const { return QStringLiteral("%1:%2").arg(host_).arg(port_); }
  quint16 port() const { return port_; }

  /// Everything the daemon has logged since it last started.
  const QString& log() {
    if (process_) log_ = QString::fromStdString(process_->output());
    return log_;
  }
  int count(const QString& part) { return log().count(part); }

 private:
  bool run(quint16 port) {
    std::vector<std::string> all;
    for (const auto& w : wrapper_) all.push_back(w.toStdString());
    all.insert(all.end(), {QOPCD_PATH, "--port", std::to_string(port)});
    for (const auto& a : args_) all.push_back(a.toStdString());
    const std::string program = all.front();
    all.erase(all.begin());
    process_ = std::make_unique<ChildProcess>(program, all);
    if (!process_->started()) return false;
    static const QString listening = QStringLiteral("listening on ");
    // The whole line: the pipe may hand it over in pieces.
    const auto listened = [&] {
      const auto at = log().indexOf(listening);
      return at >= 0 && log_.indexOf(QLatin1Char('\n'), at) > at;
    };
    const auto refused = [&] { return log_.contains(QStringLiteral("cannot listen")); };
    if (!pumpUntil([&] { return listened() || refused(); }, std::chrono::seconds(20)) ||
        !listened()) {
      return false;
    }
    const auto at = log_.indexOf(listening) + listening.size();
    const QString address = log_.mid(at, log_.indexOf(QLatin1Char('\n'), at) - at);
    const auto colon = address.lastIndexOf(QLatin1Char(':'));
    host_ = address.left(colon);
    port_ = address.mid(colon + 1).toUShort();
    return port_ != 0;
  }

  QStringList args_, wrapper_;
  std::unique_ptr<ChildProcess> process_;
  QString log_;
  QString host_;
  quint16 port_ = 0;
};

}  // namespace veze6::test
