// The picture mode of qopc-inspector: connects the server component to the
// simulation server (or the loaded configuration's server), waits inside the
// Inspector's modal loop until the status and a group are shown, saves the
// window as a PNG and closes it.
#pragma once

#include <QDeadlineTimer>
#include <QString>
#include <QTimer>

class TqOPCServer;

class ScreenshotHarness {
 public:
  /// A loaded configuration is connected as it is (to the simulation server
  /// when it names none); otherwise the simulation server with a group of a
  /// few items. Raises as the component does.
  static void connect(TqOPCServer& server);

  explicit ScreenshotHarness(QString file);
  /// Starts watching for the Inspector's window; call before it opens.
  void start();
  /// 0 once the picture was written, 1 otherwise.
  int result() const { return result_; }

 private:
  void poll();

  const QString file_;
  QTimer timer_;
  QDeadlineTimer giveUp_;
  bool selected_ = false;
  int result_ = 1;
};
