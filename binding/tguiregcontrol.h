// The control setter registry: per control class, the property a binding
// writes by default and an optional routine that writes it.
#pragma once

#include <QString>
#include <memory>
#include <vector>

#include "opc/variant.h"

class QWidget;
struct QMetaObject;

/// Writes an item value into a control. A plain function, so that
/// registrations can be compared and stored without owning anything.
using TGUISetProc = void (*)(QWidget* Control, const OleVariant& Value);

/// One registration: a control class, a property name (always lower case)
/// and the setter for that pair (none: the generic property write is used).
class tGUIRegControl {
 public:
  /// Matched against controls by inheritance. Not owned (a static meta-object).
  const QMetaObject* ControlClass = nullptr;
  QString PropName;
  TGUISetProc SetProc = nullptr;
};

/// The process-wide list of registrations in registration order. Entries are
/// never removed while the process runs; they are freed from the last to the
/// first when the library is unloaded.
class TGUIRegControlList {
 public:
  TGUIRegControlList(const TGUIRegControlList&) = delete;
  TGUIRegControlList& operator=(const TGUIRegControlList&) = delete;
  ~TGUIRegControlList();

  int Count() const { return int(entries_.size()); }
  /// Valid for the life of the process: entries never move or go away.
  const tGUIRegControl& operator[](int index) const { return *entries_.at(std::size_t(index)); }

 private:
  /// Registers the built-in controls, in this order: QLineEdit "text",
  /// QLabel "text", QPlainTextEdit "lines", QPushButton "text", QCheckBox
  /// "checked", QRadioButton "checked", QListWidget "items"; then QSpinBox,
  /// QDoubleSpinBox, QSlider, QProgressBar and QLCDNumber "value", QComboBox
  /// "currenttext", QTextEdit "plaintext" and QDateTimeEdit "datetime".
  TGUIRegControlList();
  friend void RegisterGUIControl(const QMetaObject*, const QString&, TGUISetProc);
  friend const TGUIRegControlList& RegisteredControls();
  /// The one list of the process, filled with the built-in entries when first
  /// reached.
  static TGUIRegControlList& Instance();
  tGUIRegControl& Append(const QMetaObject* controlClass, const QString& propName,
                         TGUISetProc setProc);

  std::vector<std::unique_ptr<tGUIRegControl>> entries_;
};

/// Fills the registry with the built-in controls once. Every function below
/// calls it, so a program linking the static library needs no set-up call;
/// calling it again does nothing.
void qOPCGUIInitialize();

/// The registry, with the built-in entries in place.
const TGUIRegControlList& RegisteredControls();

/// Registers ControlClass with PropName (lower-cased), or, when exactly that
/// class (not a descendant) already has an entry for the name, replaces that
/// entry's setter (a null setter included). A null class is ignored.
void RegisterGUIControl(const QMetaObject* ControlClass, const QString& PropName,
                        TGUISetProc SetProc);

/// Registers the Qt class T, e.g. RegisterGUIControl<QSpinBox>("value", nullptr).
template <class T>
void RegisterGUIControl(const QString& PropName, TGUISetProc SetProc) {
  RegisterGUIControl(&T::staticMetaObject, PropName, SetProc);
}

/// The setter of the first entry whose class the control is or inherits and
/// whose property name equals PropName ignoring case; that entry's setter is
/// returned even when it is none. None when no entry matches (or no control).
TGUISetProc GetDefaultSetProc(const QWidget* Control, const QString& PropName);

/// The property name of the first entry whose class the control is or
/// inherits: true and PropName set, or false with PropName unchanged. An
/// ancestor registered earlier therefore supplies the name for descendants.
bool GetDefaultPropName(const QWidget* Control, QString& PropName);
