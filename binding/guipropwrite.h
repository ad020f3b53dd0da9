// The generic write of an item value into a Qt property, chosen by the
// property's type.
#pragma once

#include <QMetaProperty>
#include <QString>

#include "opc/variant.h"

class QObject;

/// The property of Control named PropName, the exact spelling first, else
/// ignoring case ("placeholdertext" finds "placeholderText"); any type.
/// Invalid when the control has no such property (or there is no control).
QMetaProperty FindGUIProperty(const QObject* Control, const QString& PropName);

/// Writes Value into the property PropInfo of Control. Nothing happens for an
/// invalid PropInfo or a null Control. By the property's type:
/// - integers of 8, 16 and 32 bits, `char`, `QChar`, `char16_t`, `char32_t`:
///   the value as a number, truncated toward zero and held to the type's range;
/// - enumerations: a text (VT_BSTR) names the key (ignoring case when no key
///   matches exactly); any other value is a number held to the range of the
///   enumeration's values;
/// - `bool`: as an enumeration with the keys False and True (0 and 1), so 2.5
///   is true and -1 (an integer) is false; a boolean value is taken as 0 or 1;
/// - `double`, `float`: the value as a number;
/// - `QString`: the value as text;
/// - flags: a VT_I4 value is the bit pattern; anything else is read as text
///   naming the flags, "[a,b]" (brackets optional, "[]" for none);
/// - `QVariant`: the value itself, as a QVariant (VariantToQVariant);
/// - 64-bit integers: as the integers above, with the 64-bit range.
/// Object pointers, fonts, colours and all other types are never written.
/// Raises EConvertError when the value does not convert (a text that is no
/// number, a name that is no key) or the property refuses the write.
void SetGUIPropValue(QObject* Control, const QMetaProperty& PropInfo, const OleVariant& Value);
