#include "guisetprocs.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStringList>

#include "guivariant_p.h"

using namespace veze6::gui;

namespace {

void setChecked(QWidget* control, const OleVariant& value) {
  auto* button = qobject_cast<QAbstractButton*>(control);
  if (!button) return;
  const bool checked = varToReal(value) != 0;
  if (checked || !button->isChecked()) {
    button->setChecked(checked);
    return;
  }
  // Qt keeps the checked button of an exclusive group checked; a zero must
  // still uncheck it, so the exclusivity is lifted for this one change.
  QButtonGroup* group = button->group();
  const bool groupExclusive = group && group->exclusive();
  const bool autoExclusive = button->autoExclusive();
  if (groupExclusive) group->setExclusive(false);
  button->setAutoExclusive(false);
  button->setChecked(false);
  button->setAutoExclusive(autoExclusive);
  if (groupExclusive) group->setExclusive(true);
}

}  // namespace

void MemoLinesSetProc(QWidget* Control, const OleVariant& Value) {
  auto* memo = qobject_cast<QPlainTextEdit*>(Control);
  if (!memo || Value.isEmpty()) return;
  // All texts first, so a value that cannot be converted adds no line at all.
  QStringList lines;
  if (Value.isArray()) {
    for (const OleVariant& element : arrayElements(Value)) lines.append(varToText(element));
  } else {
    lines.append(varToText(Value));
  }
  for (const QString& line : lines) memo->appendPlainText(line);
}

void ListBoxSetProc(QWidget* Control, const OleVariant& Value) {
  auto* list = qobject_cast<QListWidget*>(Control);
  if (!list) return;
  list->addItem(varToText(Value));
}

void CheckBoxSetProc(QWidget* Control, const OleVariant& Value) { setChecked(Control, Value); }

void RadioButtonSetProc(QWidget* Control, const OleVariant& Value) { setChecked(Control, Value); }
