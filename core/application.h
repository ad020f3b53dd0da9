// The application facade: the exception handler of last resort, message
// boxes and the beep. What they do is up to the installed handler: a GUI
// application shows message boxes, a console application prints to stderr
// (the default), tests capture what would have been shown.
#pragma once

#include <QFlags>
#include <QList>
#include <QObject>
#include <QString>
#include <exception>
#include <memory>
#include <mutex>

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

enum TMsgDlgBtn {
  mbYes = 0x1,
  mbNo = 0x2,
  mbOK = 0x4,
  mbCancel = 0x8,
  mbAbort = 0x10,
  mbRetry = 0x20,
  mbIgnore = 0x40,
  mbAll = 0x80,
  mbNoToAll = 0x100,
  mbYesToAll = 0x200,
  mbHelp = 0x400,
};
Q_DECLARE_FLAGS(TMsgDlgButtons, TMsgDlgBtn)
Q_DECLARE_OPERATORS_FOR_FLAGS(TMsgDlgButtons)

/// Results of MessageDlg.
enum TModalResult {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,
  mrAbort = 3,
  mrRetry = 4,
  mrIgnore = 5,
  mrYes = 6,
  mrNo = 7,
  mrAll = 8,
  mrNoToAll = 9,
  mrYesToAll = 10,
};

/// The modal result of a button (mbOK -> mrOk...); mrNone for mbHelp.
int ModalResultOf(TMsgDlgBtn button);
/// The result a dialog gives when the user just confirms it: the first of
/// OK, Yes, Retry, Ignore, All, YesToAll, No, Cancel, Abort that it shows.
int DefaultModalResult(TMsgDlgButtons buttons);

/// What the facade does; install one with TApplication::SetHandler.
class TApplicationHandler {
 public:
  virtual ~TApplicationHandler();
  virtual void HandleException(QObject* sender, const std::exception& e) = 0;
  virtual void ShowMessage(const QString& text) = 0;
  virtual int MessageDlg(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons) = 0;
  virtual void Beep() = 0;
};

/// Prints to stderr; MessageDlg answers with DefaultModalResult.
class TConsoleApplicationHandler : public TApplicationHandler {
 public:
  void HandleException(QObject* sender, const std::exception& e) override;
  void ShowMessage(const QString& text) override;
  int MessageDlg(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons) override;
  void Beep() override;
};

/// Records what would have been shown, for tests. Thread-safe.
class TCaptureApplicationHandler : public TApplicationHandler {
 public:
  enum class Kind { Exception, Message, Dialog };
  struct Entry {
    Kind kind;
    QString text;       ///< the message (an exception's Message() or what())
    QString className;  ///< an exception's class name ("EOPCException")
    QObject* sender;    ///< HandleException's sender; not owned, may be gone
    TMsgDlgType dlgType;
    TMsgDlgButtons buttons;
  };

  void HandleException(QObject* sender, const std::exception& e) override;
  void ShowMessage(const QString& text) override;
  /// Answers with the next queued answer, or DefaultModalResult.
  int MessageDlg(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons) override;
  void Beep() override;

  /// Queues the answer of a later MessageDlg.
  void QueueAnswer(int modalResult);
  QList<Entry> Entries() const;
  /// Entries of one kind, texts only.
  QList<QString> Texts(Kind kind) const;
  int BeepCount() const;
  void Reset();

 private:
  mutable std::mutex mutex_;
  QList<Entry> entries_;
  QList<int> answers_;
  int beeps_ = 0;
};

/// The process's application object.
class TApplication {
 public:
  static TApplication& Instance();

  /// Hands an exception that nobody else caught to the handler (a component
  /// calls this from its event dispatch so nothing escapes the event loop).
  void HandleException(QObject* sender, const std::exception& e);
  void ShowMessage(const QString& text);
  int MessageDlg(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons);
  void Beep();

  /// Installs handler (null restores the console default); returns the one
  /// installed before.
  std::shared_ptr<TApplicationHandler> SetHandler(std::shared_ptr<TApplicationHandler> handler);
  std::shared_ptr<TApplicationHandler> Handler() const;

 private:
  TApplication();
  mutable std::mutex mutex_;
  std::shared_ptr<TApplicationHandler> handler_;
};

/// The application object (TApplication::Instance()).
TApplication& Application();
/// Inside a catch block: hands the exception being handled to the
/// application's exception handler (one that is no std::exception as
/// "unknown error"). For destructors and other places nothing may leave.
void HandleCurrentException(QObject* sender) noexcept;
void ShowMessage(const QString& text);
int MessageDlg(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons);
void Beep();

/// Installs a capturing handler for its lifetime and restores the previous
/// one afterwards (tests).
class ScopedCaptureApplication {
 public:
  ScopedCaptureApplication();
  ~ScopedCaptureApplication();
  ScopedCaptureApplication(const ScopedCaptureApplication&) = delete;
  ScopedCaptureApplication& operator=(const ScopedCaptureApplication&) = delete;
  TCaptureApplicationHandler& operator*() const { return *capture_; }
  TCaptureApplicationHandler* operator->() const { return capture_.get(); }

 private:
  std::shared_ptr<TCaptureApplicationHandler> capture_;
  std::shared_ptr<TApplicationHandler> previous_;
};
