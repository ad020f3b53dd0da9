// The setters registered for the built-in control classes.
#pragma once

#include "opc/variant.h"

class QWidget;

/// QPlainTextEdit "lines": appends the value as one new line, an array element
/// by element (one line each, from the lower to the upper bound); an empty
/// value appends nothing. The text is never cleared, so the control becomes a
/// log of every value it was given.
void MemoLinesSetProc(QWidget* Control, const OleVariant& Value);

/// QListWidget "items": appends the value's text as one new item. The list is
/// never cleared; a value without a text form (an array) raises.
void ListBoxSetProc(QWidget* Control, const OleVariant& Value);

/// QCheckBox "checked": checked when the value is not zero (a text is read as
/// a number; one that is not raises).
void CheckBoxSetProc(QWidget* Control, const OleVariant& Value);

/// QRadioButton "checked": as CheckBoxSetProc. A zero unchecks the button even
/// when it is the checked one of an exclusive group.
void RadioButtonSetProc(QWidget* Control, const OleVariant& Value);
