// TGuiApplicationHandler: the application facade of a widget application.
// Exceptions nobody caught, messages and message dialogs appear in message
// boxes; the beep is the platform's. A widget application installs it once
// (InstallGuiApplicationHandler) after creating its QApplication.
#pragma once

#include "core/application.h"

class TGuiApplicationHandler : public TApplicationHandler {
 public:
  /// An error box with the exception's message. Calls from a thread other
  /// than the application's go to the console instead, as widgets live on
  /// that thread only.
  void HandleException(QObject* sender, const std::exception& e) override;
  /// A box with the text and an OK button.
  void ShowMessage(const QString& text) override;
  /// A box with the text, the icon and title of type and the buttons; the
  /// modal result of the button pressed (mrCancel when the box was closed
  /// without one).
  int MessageDlg(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons) override;
  void Beep() override;

 private:
  TConsoleApplicationHandler console_;
};

/// Installs a TGuiApplicationHandler as the application's handler.
void InstallGuiApplicationHandler();
