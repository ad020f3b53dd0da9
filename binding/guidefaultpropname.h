// The per-user memory of default property names, one per control class.
//
// These two functions belong to the design-time unit qOPCGUIDlg (the control
// selection form). They live in the runtime library because they need only
// the settings store and the setter registry; the design-time unit's header
// includes this one.
//
// Store: QSettings("Vorlax", "QOPC"), user scope only; the value name is the
// control's class name (metaObject()->className(), e.g. "QLineEdit"), the
// value the property name as the user entered it (case kept).
#pragma once

#include <QString>

#include "eregistryexception.h"

class QObject;

/// PropName := the remembered default property name of the control's class,
/// or, when none is remembered, the registry's default for the control
/// (GetDefaultPropName), or empty. A remembered value that is not a text
/// raises ERegistryException. A null control gives an empty name.
void ReadDefaultPropName(const QObject* Control, QString& PropName);

/// Remembers PropName for the control's class; an empty PropName forgets it.
/// Nothing for a null control. Raises ERegistryException when the store
/// cannot be written.
void WriteDefaultPropName(const QObject* Control, const QString& PropName);
