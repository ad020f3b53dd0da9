// The demo's window: widgets bound to items of the simulation server. All
// the window does is set up the server component, its group and items, and
// the bindings; the binding component keeps the widgets up to date.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class TqOPCGUI;
class TqOPCServer;

class TDemoForm : public QWidget {
  Q_OBJECT

 public:
  /// The simulation server's ProgID (register it in the process first).
  static constexpr const char* kServerName = "Veze6.Simulation.1";

  /// Builds the window and connects to the simulation server; raises when
  /// the server cannot be reached.
  explicit TDemoForm(QWidget* parent = nullptr);
  ~TDemoForm() override;

  TqOPCServer* Server() const { return server_; }
  TqOPCGUI* GUI() const { return gui_; }

  /// True once every bound widget has shown a value and the log and the list
  /// hold at least logLines entries.
  bool ValuesArrived(int logLines = 3) const;

  QLineEdit* eRandom = nullptr;
  QLineEdit* eRamp = nullptr;
  QLineEdit* eSine = nullptr;
  QLabel* lTriangle = nullptr;
  QLabel* lGreeting = nullptr;
  QLabel* lDate = nullptr;
  QCheckBox* cbSquare = nullptr;
  QCheckBox* cbRandom = nullptr;
  QProgressBar* pbRamp = nullptr;
  QPlainTextEdit* mLog = nullptr;
  QListWidget* lbTexts = nullptr;

 private:
  TqOPCServer* server_ = nullptr;
  TqOPCGUI* gui_ = nullptr;
};
