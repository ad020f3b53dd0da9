#include "application.h"

#include <cstdio>

#include "exceptions.h"

namespace {

QString messageOf(const std::exception& e) {
  if (auto* ex = dynamic_cast<const Exception*>(&e)) return ex->Message();
  return QString::fromUtf8(e.what());
}

QString classOf(const std::exception& e) {
  if (auto* ex = dynamic_cast<const Exception*>(&e)) return QString::fromLatin1(ex->ClassName());
  return QStringLiteral("std::exception");
}

void printLine(const QString& text) {
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  std::fflush(stderr);
}

}  // namespace

int ModalResultOf(TMsgDlgBtn button) {
  switch (button) {
    case mbYes:
      return mrYes;
    case mbNo:
      return mrNo;
    case mbOK:
      return mrOk;
    case mbCancel:
      return mrCancel;
    case mbAbort:
      return mrAbort;
    case mbRetry:
      return mrRetry;
    case mbIgnore:
      return mrIgnore;
    case mbAll:
      return mrAll;
    case mbNoToAll:
      return mrNoToAll;
    case mbYesToAll:
      return mrYesToAll;
    case mbHelp:
      return mrNone;
  }
  return mrNone;
}

int DefaultModalResult(TMsgDlgButtons buttons) {
  for (TMsgDlgBtn b : {mbOK, mbYes, mbRetry, mbIgnore, mbAll, mbYesToAll, mbNo, mbCancel, mbAbort})
    if (buttons.testFlag(b)) return ModalResultOf(b);
  return mrNone;
}

TApplicationHandler::~TApplicationHandler() = default;

// ---- console ----------------------------------------------------------------

void TConsoleApplicationHandler::HandleException(QObject*, const std::exception& e) {
  printLine(messageOf(e));
}

void TConsoleApplicationHandler::ShowMessage(const QString& text) { printLine(text); }

int TConsoleApplicationHandler::MessageDlg(const QString& text, TMsgDlgType,
                                           TMsgDlgButtons buttons) {
  printLine(text);
  return DefaultModalResult(buttons);
}

void TConsoleApplicationHandler::Beep() {
  std::fputc('\a', stderr);
  std::fflush(stderr);
}

// ---- capture ----------------------------------------------------------------

void TCaptureApplicationHandler::HandleException(QObject* sender, const std::exception& e) {
  std::lock_guard lock(mutex_);
  entries_.append({Kind::Exception, messageOf(e), classOf(e), sender, TMsgDlgType::mtError, {}});
}

void TCaptureApplicationHandler::ShowMessage(const QString& text) {
  std::lock_guard lock(mutex_);
  entries_.append({Kind::Message, text, {}, nullptr, TMsgDlgType::mtCustom, mbOK});
}

int TCaptureApplicationHandler::MessageDlg(const QString& text, TMsgDlgType type,
                                           TMsgDlgButtons buttons) {
  std::lock_guard lock(mutex_);
  entries_.append({Kind::Dialog, text, {}, nullptr, type, buttons});
  return answers_.isEmpty() ? DefaultModalResult(buttons) : answers_.takeFirst();
}

void TCaptureApplicationHandler::Beep() {
  std::lock_guard lock(mutex_);
  ++beeps_;
}

void TCaptureApplicationHandler::QueueAnswer(int modalResult) {
  std::lock_guard lock(mutex_);
  answers_.append(modalResult);
}

QList<TCaptureApplicationHandler::Entry> TCaptureApplicationHandler::Entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

QList<QString> TCaptureApplicationHandler::Texts(Kind kind) const {
  std::lock_guard lock(mutex_);
  QList<QString> out;
  for (const Entry& e : entries_)
    if (e.kind == kind) out.append(e.text);
  return out;
}

int TCaptureApplicationHandler::BeepCount() const {
  std::lock_guard lock(mutex_);
  return beeps_;
}

void TCaptureApplicationHandler::Reset() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  answers_.clear();
  beeps_ = 0;
}

// ---- application --------------------------------------------------------------

TApplication::TApplication() : handler_(std::make_shared<TConsoleApplicationHandler>()) {}

TApplication& TApplication::Instance() {
  static TApplication app;
  return app;
}

std::shared_ptr<TApplicationHandler> TApplication::SetHandler(
    std::shared_ptr<TApplicationHandler> handler) {
  if (!handler) handler = std::make_shared<TConsoleApplicationHandler>();
  std::lock_guard lock(mutex_);
  std::swap(handler_, handler);
  return handler;
}

std::shared_ptr<TApplicationHandler> TApplication::Handler() const {
  std::lock_guard lock(mutex_);
  return handler_;
}

// The handler runs outside the lock so that it may show, beep or swap itself.
void TApplication::HandleException(QObject* sender, const std::exception& e) {
  Handler()->HandleException(sender, e);
}

void TApplication::ShowMessage(const QString& text) { Handler()->ShowMessage(text); }

int TApplication::MessageDlg(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons) {
  return Handler()->MessageDlg(text, type, buttons);
}

void TApplication::Beep() { Handler()->Beep(); }

TApplication& Application() { return TApplication::Instance(); }

void HandleCurrentException(QObject* sender) noexcept {
  try {
    throw;
  } catch (const std::exception& e) {
    Application().HandleException(sender, e);
  } catch (...) {
    Application().HandleException(sender, Exception(QStringLiteral("unknown error")));
  }
}

void ShowMessage(const QString& text) { Application().ShowMessage(text); }

int MessageDlg(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons) {
  return Application().MessageDlg(text, type, buttons);
}

void Beep() { Application().Beep(); }

ScopedCaptureApplication::ScopedCaptureApplication()
    : capture_(std::make_shared<TCaptureApplicationHandler>()),
      previous_(Application().SetHandler(capture_)) {}

ScopedCaptureApplication::~ScopedCaptureApplication() { Application().SetHandler(previous_); }
