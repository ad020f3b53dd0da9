// Qt Designer's own form editor, with this project's components in its
// widget box, for tests against real form windows: what Designer does to a
// form (loading, the property editor's cursor, deleting and undoing,
// layouts, saving) is done by Designer's code, not by a stand-in.
#pragma once

#include <QDesignerFormEditorInterface>
#include <QDesignerFormWindowInterface>
#include <QString>
#include <memory>

namespace design_test {

/// The form editor, made on first use and kept for the process.
QDesignerFormEditorInterface* DesignerCore();

/// A new form window of the form editor holding ui (a .ui file's text),
/// active and in widget editing mode. Owned by the caller.
std::unique_ptr<QDesignerFormWindowInterface> OpenForm(const QString& ui);

/// A form's .ui text: the root widget class and name, and the inner XML of
/// its <widget> element.
QString FormText(const QString& rootClass, const QString& rootName, const QString& children);

/// Deletes widget from its form as Designer's Delete command does (kept
/// alive for undo).
void DeleteWidget(QDesignerFormWindowInterface& window, QWidget* widget);

}  // namespace design_test
