// A qopcd daemon run by a test on a free loopback port, with its log.
#pragma once

#include <QString>
#include <memory>
#include <string>

#include "childprocess.h"
#include "common/pump.h"
#include "opc/taskmem.h"

namespace veze6::test {

class QopcdProcess {
 public:
  QopcdProcess() = default;
  QopcdProcess(const QopcdProcess&) = delete;
  QopcdProcess& operator=(const QopcdProcess&) = delete;

  /// Starts the daemon and waits until it listens; false (with the log) when
  /// it does not.
  bool start() {
    process_ = std::make_unique<ChildProcess>(QOPCD_PATH, std::vector<std::string>{"--port", "0"});
    if (!process_->started()) return false;
    static const QString listening = QStringLiteral("listening on 127.0.0.1:");
    if (!pumpUntil([&] { return log().contains(listening); }, std::chrono::seconds(20))) {
      return false;
    }
    const auto at = log_.indexOf(listening) + listening.size();
    port_ = log_.mid(at, log_.indexOf(QLatin1Char('\n'), at) - at).toUShort();
    return port_ != 0;
  }

  /// Ends the daemon at once, as a crash would.
  void kill() { process_->stop(SIGKILL); }

  std::u16string computer() const {
    return u"127.0.0.1:" + opc::utf8ToUtf16(std::to_string(port_));
  }
  QString computerName() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }

  /// Everything the daemon has logged so far.
  const QString& log() {
    if (process_) log_ = QString::fromStdString(process_->output());
    return log_;
  }
  int count(const QString& part) { return log().count(part); }

 private:
  std::unique_ptr<ChildProcess> process_;
  QString log_;
  quint16 port_ = 0;
};

}  // namespace veze6::test
