// Driving modal dialogs from tests: the entry routines block in the dialog's
// own event loop, so a test hands its steps to a driver that runs them from
// inside that loop once the dialog is on screen, and closes the dialog if
// the steps left it open.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>
#include <ostream>

#include "common/leakcheck.h"
#include "common/pump.h"

// Texts in failure messages as text.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
  *os << '{';
  for (qsizetype i = 0; i < list.size(); ++i)
    *os << (i ? ", \"" : "\"") << list[i].toStdString() << '"';
  *os << '}';
}

namespace dialogs_test {

using veze6::test::pumpUntil;

/// Runs drive on the first modal dialog of type Dialog shown while the
/// driver lives, from inside the dialog's modal loop. A dialog the steps
/// leave open is a failure, and is rejected so that the entry routine
/// returns.
template <class Dialog>
class ModalDriver {
 public:
  explicit ModalDriver(std::function<void(Dialog&)> drive) : drive_(std::move(drive)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start(0);
  }
  ModalDriver(const ModalDriver&) = delete;
  ModalDriver& operator=(const ModalDriver&) = delete;

  /// Whether a dialog was shown and driven.
  bool ran() const { return ran_; }

 private:
  void poll() {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    timer_.stop();
    ran_ = true;
    QPointer<Dialog> open(dialog);
    dialog->activateWindow();
    EXPECT_TRUE(pumpUntil([&] { return open && open->isActiveWindow(); }))
        << "the dialog never became the active window";
    if (open) drive_(*dialog);
    if (open && open->isVisible()) {
      ADD_FAILURE() << "the steps left the dialog open";
      open->reject();
    }
  }

  QTimer timer_;
  std::function<void(Dialog&)> drive_;
  bool ran_ = false;
};

/// The control of dialog named name (its objectName), or null.
template <class Control>
Control* control(const QWidget& dialog, const char* name) {
  return dialog.findChild<Control*>(QLatin1String(name));
}

/// Clicks the row of view at row with modifiers (a plain click selects it
/// alone, Ctrl adds it).
inline void clickRow(QAbstractItemView* view, const QModelIndex& index,
                     Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  const QPoint at = view->visualRect(index).center();
  QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, at);
}

inline void doubleClickRow(QAbstractItemView* view, const QModelIndex& index) {
  const QPoint at = view->visualRect(index).center();
  // What the platform delivers: press, release, double click, release.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

/// With VEZE6_DIALOG_SHOTS naming a folder, saves a picture of widget there
/// as name.png (the pictures of the documentation are made this way).
inline void saveShot(QWidget& widget, const QString& name) {
  const QString folder = qEnvironmentVariable("VEZE6_DIALOG_SHOTS");
  if (folder.isEmpty()) return;
  QDir().mkpath(folder);
  EXPECT_TRUE(widget.grab().save(QDir(folder).filePath(name + QStringLiteral(".png"))));
}

}  // namespace dialogs_test
