// A qopcd daemon run by a test on a free loopback port, with its log.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
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

  /// Starts the daemon (with args after the port, run through `wrapper`
  /// when given, e.g. to enter a network namespace) and waits until it
  /// listens; false (with the log) when it does not.
  bool start(const QStringList& args = {}, const QStringList& wrapper = {}) {
    QStringList all = wrapper;
    all << QStringLiteral(QOPCD_PATH) << QStringLiteral("--port") << QStringLiteral("0") << args;
    process_.start(all.takeFirst(), all);
    if (!process_.waitForStarted(10000)) return false;
    static const QString listening = QStringLiteral("listening on ");
    if (!pumpUntil(
            [&] { return log().contains(listening) || process_.state() == QProcess::NotRunning; },
            std::chrono::seconds(20)) ||
        !log_.contains(listening)) {
      return false;
    }
    const auto at = log_.indexOf(listening) + listening.size();
    const QString address = log_.mid(at, log_.indexOf(QLatin1Char('\n'), at) - at);
    const auto colon = address.lastIndexOf(QLatin1Char(':'));
    host_ = address.left(colon);
    port_ = address.mid(colon + 1).toUShort();
    return port_ != 0;
  }

  /// Asks the daemon to stop (SIGTERM) and waits.
  void stop() {
    process_.terminate();
    process_.waitForFinished(10000);
  }

  /// Ends the daemon at once, as a crash would.
  void kill() {
    process_.kill();
    process_.waitForFinished(10000);
  }

  std::u16string computer() const { return computerName().toStdU16String(); }
  QString computerName() const { return QStringLiteral("%1:%2").arg(host_).arg(port_); }

  /// Everything the daemon has logged so far.
  const QString& log() {
    log_ += QString::fromUtf8(process_.readAllStandardError());
    return log_;
  }
  int count(const QString& part) { return log().count(part); }

 private:
  QProcess process_;
  QString log_;
  QString host_;
  quint16 port_ = 0;
};

}  // namespace veze6::test
