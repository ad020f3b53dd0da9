// Not part of the library's API.
//
// What the dialogs share: how they run their event handlers, how their
// controls get the names the forms give them, and how their lists keep the
// selection in sight.
#pragma once

#include <QLatin1String>
#include <QObject>
#include <QPalette>
#include <QWidget>
#include <exception>
#include <utility>

#include "application.h"

namespace veze6::dialogs {

/// Runs an event handler. An exception it raises (a browser fault, a failed
/// conversion, a failed server search) goes to the application's exception
/// handler and the dialog stays as it is: the event loop never sees it.
template <class Handler>
void RunEvent(QObject* sender, Handler&& handler) {
  try {
    std::forward<Handler>(handler)();
  } catch (const std::exception& e) {
    Application().HandleException(sender, e);
  }
}

/// Gives a control its name (objectName) and returns it.
template <class Control>
Control* Named(Control* control, const char* name) {
  control->setObjectName(QLatin1String(name));
  return control;
}

/// The selection of a list or tree stays visible without the focus: its
/// inactive highlight is the active one.
inline void KeepSelectionVisible(QWidget* view) {
  QPalette palette = view->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight,
                   palette.color(QPalette::Active, QPalette::Highlight));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Active, QPalette::HighlightedText));
  view->setPalette(palette);
}

}  // namespace veze6::dialogs
