#include "tguiapplicationhandler.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <memory>
#include <vector>

#include "exceptions.h"

namespace {

bool onApplicationThread() {
  return qApp && QThread::currentThread() == qApp->thread() &&
         qobject_cast<QApplication*>(QCoreApplication::instance());
}

QString messageOf(const std::exception& e) {
  if (auto* ex = dynamic_cast<const Exception*>(&e)) return ex->Message();
  return QString::fromUtf8(e.what());
}

QString title() {
  const QString name = QGuiApplication::applicationDisplayName();
  return name.isEmpty() ? QCoreApplication::applicationName() : name;
}

struct ButtonKind {
  TMsgDlgBtn button;
  QMessageBox::StandardButton standard;
  const char* text;  // for buttons the message box has no standard one for
};

// In the order the buttons are offered.
const ButtonKind kButtons[] = {
    {mbYes, QMessageBox::Yes, nullptr},
    {mbNo, QMessageBox::No, nullptr},
    {mbOK, QMessageBox::Ok, nullptr},
    {mbCancel, QMessageBox::Cancel, nullptr},
    {mbAbort, QMessageBox::Abort, nullptr},
    {mbRetry, QMessageBox::Retry, nullptr},
    {mbIgnore, QMessageBox::Ignore, nullptr},
    {mbAll, QMessageBox::NoButton, QT_TRANSLATE_NOOP("TGuiApplicationHandler", "&All")},
    {mbNoToAll, QMessageBox::NoToAll, nullptr},
    {mbYesToAll, QMessageBox::YesToAll, nullptr},
    {mbHelp, QMessageBox::Help, nullptr},
};

}  // namespace

void TGuiApplicationHandler::HandleException(QObject* sender, const std::exception& e) {
  if (!onApplicationThread()) {
    console_.HandleException(sender, e);
    return;
  }
  QMessageBox box(QMessageBox::Critical, title(), messageOf(e), QMessageBox::Ok);
  box.exec();
}

void TGuiApplicationHandler::ShowMessage(const QString& text) {
  if (!onApplicationThread()) {
    console_.ShowMessage(text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, title(), text, QMessageBox::Ok);
  box.exec();
}

int TGuiApplicationHandler::MessageDlg(const QString& text, TMsgDlgType type,
                                       TMsgDlgButtons buttons) {
  if (!onApplicationThread()) return console_.MessageDlg(text, type, buttons);
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString caption = title();
  switch (type) {
    case TMsgDlgType::mtWarning:
      icon = QMessageBox::Warning;
      caption = QCoreApplication::translate("TGuiApplicationHandler", "Warning");
      break;
    case TMsgDlgType::mtError:
      icon = QMessageBox::Critical;
      caption = QCoreApplication::translate("TGuiApplicationHandler", "Error");
      break;
    case TMsgDlgType::mtInformation:
      icon = QMessageBox::Information;
      caption = QCoreApplication::translate("TGuiApplicationHandler", "Information");
      break;
    case TMsgDlgType::mtConfirmation:
      icon = QMessageBox::Question;
      caption = QCoreApplication::translate("TGuiApplicationHandler", "Confirm");
      break;
    case TMsgDlgType::mtCustom:
      break;
  }
  QMessageBox box(icon, caption, text);
  std::vector<std::pair<QAbstractButton*, TMsgDlgBtn>> shown;
  const int preferred = DefaultModalResult(buttons);
  for (const ButtonKind& kind : kButtons) {
    if (!buttons.testFlag(kind.button)) continue;
    QPushButton* button =
        kind.standard != QMessageBox::NoButton
            ? box.addButton(kind.standard)
            : box.addButton(QCoreApplication::translate("TGuiApplicationHandler", kind.text),
                            QMessageBox::AcceptRole);
    shown.emplace_back(button, kind.button);
    if (ModalResultOf(kind.button) == preferred) box.setDefaultButton(button);
  }
  if (shown.empty()) box.addButton(QMessageBox::Ok);
  box.exec();
  for (const auto& [button, kind] : shown)
    if (box.clickedButton() == button) return ModalResultOf(kind);
  return shown.empty() ? mrOk : mrCancel;
}

void TGuiApplicationHandler::Beep() {
  if (onApplicationThread()) {
    QApplication::beep();
  } else {
    console_.Beep();
  }
}

void InstallGuiApplicationHandler() {
  Application().SetHandler(std::make_shared<TGuiApplicationHandler>());
}
