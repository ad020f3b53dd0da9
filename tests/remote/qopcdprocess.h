// A qopcd daemon run by a test on a free loopback port, with its log.
#pragma once

#include <QProcess>
#include <QString>
#include <string>

#include "common/pump.h"
#include "opc/taskmem.h"

namespace veze6::test {

class QopcdProcess {
 public:
  QopcdProcess() = default;
  QopcdProcess(const QopcdProcess&) = delete;
  QopcdProcess& operator=(const QopcdProcess&) = delete;
  ~QopcdProcess() {
    if (process_.state() != QProcess::NotRunning) {
      process_.terminate();
      process_.waitForFinished(10000);
    }
  }

  /// Starts the daemon and waits until it listens; false (with the log) when
  /// it does not.
  bool start() {
    process_.start(QStringLiteral(QOPCD_PATH), {QStringLiteral("--port"), QStringLiteral("0")});
    if (!process_.waitForStarted(10000)) return false;
    static const QString listening = QStringLiteral("listening on 127.0.0.1:");
    if (!pumpUntil([&] { return log().contains(listening); }, std::chrono::seconds(20))) {
      return false;
    }
    const auto at = log_.indexOf(listening) + listening.size();
    port_ = log_.mid(at, log_.indexOf(QLatin1Char('\n'), at) - at).toUShort();
    return port_ != 0;
  }

  /// Ends the daemon at once, as a crash would.
  void kill() {
    process_.kill();
    process_.waitForFinished(10000);
  }

  std::u16string computer() const {
    return u"127.0.0.1:" + opc::utf8ToUtf16(std::to_string(port_));
  }
  QString computerName() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }

  /// Everything the daemon has logged so far.
  const QString& log() {
    log_ += QString::fromUtf8(process_.readAllStandardError());
    return log_;
  }
  int count(const QString& part) { return log().count(part); }

 private:
  QProcess process_;
  QString log_;
  quint16 port_ = 0;
};

}  // namespace veze6::test
