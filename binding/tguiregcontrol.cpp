#include "tguiregcontrol.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTextEdit>

#include "guisetprocs.h"

TGUIRegControlList::~TGUIRegControlList() {
  while (!entries_.empty()) entries_.pop_back();
}

tGUIRegControl& TGUIRegControlList::Append(const QMetaObject* controlClass, const QString& propName,
                                           TGUISetProc setProc) {
  auto entry = std::make_unique<tGUIRegControl>();
  entry->ControlClass = controlClass;
  entry->PropName = propName.toLower();
  entry->SetProc = setProc;
  entries_.push_back(std::move(entry));
  return *entries_.back();
}

TGUIRegControlList::TGUIRegControlList() {
  Append(&QLineEdit::staticMetaObject, QStringLiteral("text"), nullptr);
  Append(&QLabel::staticMetaObject, QStringLiteral("text"), nullptr);
  Append(&QPlainTextEdit::staticMetaObject, QStringLiteral("lines"), MemoLinesSetProc);
  Append(&QPushButton::staticMetaObject, QStringLiteral("text"), nullptr);
  Append(&QCheckBox::staticMetaObject, QStringLiteral("checked"), CheckBoxSetProc);
  Append(&QRadioButton::staticMetaObject, QStringLiteral("checked"), RadioButtonSetProc);
  Append(&QListWidget::staticMetaObject, QStringLiteral("items"), ListBoxSetProc);
  // The other common input and display widgets, each by the property that
  // holds its value (Qt's user property, except the text edit's plain text).
  Append(&QSpinBox::staticMetaObject, QStringLiteral("value"), nullptr);
  Append(&QDoubleSpinBox::staticMetaObject, QStringLiteral("value"), nullptr);
  Append(&QSlider::staticMetaObject, QStringLiteral("value"), nullptr);
  Append(&QProgressBar::staticMetaObject, QStringLiteral("value"), nullptr);
  Append(&QLCDNumber::staticMetaObject, QStringLiteral("value"), nullptr);
  Append(&QComboBox::staticMetaObject, QStringLiteral("currenttext"), nullptr);
  Append(&QTextEdit::staticMetaObject, QStringLiteral("plaintext"), nullptr);
  Append(&QDateTimeEdit::staticMetaObject, QStringLiteral("datetime"), nullptr);
}

TGUIRegControlList& TGUIRegControlList::Instance() {
  // Built on first use rather than by a static object's constructor: a static
  // library drops translation units nobody references, and the first lookup
  // may come from another static initialiser.
  static TGUIRegControlList list;
  return list;
}

void qOPCGUIInitialize() { RegisteredControls(); }

const TGUIRegControlList& RegisteredControls() { return TGUIRegControlList::Instance(); }

void RegisterGUIControl(const QMetaObject* ControlClass, const QString& PropName,
                        TGUISetProc SetProc) {
  TGUIRegControlList& list = TGUIRegControlList::Instance();
  if (!ControlClass) return;
  const QString name = PropName.toLower();
  for (const auto& entry : list.entries_) {
    if (entry->ControlClass == ControlClass && entry->PropName == name) {
      entry->SetProc = SetProc;
      return;
    }
  }
  list.Append(ControlClass, name, SetProc);
}

TGUISetProc GetDefaultSetProc(const QWidget* Control, const QString& PropName) {
  const TGUIRegControlList& list = RegisteredControls();
  if (!Control) return nullptr;
  const QMetaObject* meta = Control->metaObject();
  for (int i = 0; i < list.Count(); ++i) {
    const tGUIRegControl& entry = list[i];
    if (meta->inherits(entry.ControlClass) &&
        entry.PropName.compare(PropName, Qt::CaseInsensitive) == 0) {
      return entry.SetProc;
    }
  }
  return nullptr;
}

bool GetDefaultPropName(const QWidget* Control, QString& PropName) {
  const TGUIRegControlList& list = RegisteredControls();
  if (!Control) return false;
  const QMetaObject* meta = Control->metaObject();
  for (int i = 0; i < list.Count(); ++i) {
    const tGUIRegControl& entry = list[i];
    if (meta->inherits(entry.ControlClass)) {
      PropName = entry.PropName;
      return true;
    }
  }
  return false;
}
