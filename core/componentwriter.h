// ComponentToText: writes a component in the textual component format, the
// form in which the platform this library comes from stores components:
//
//   object OPCServer1: TqOPCServer
//     BatchMode = False
//     OPCGroups = <
//       item
//         Name = 'Boiler'
//         OPCItems = <>
//       end>
//     OPCGroupDefault.IsActive = True
//     Version = '1.40'
//   end
//
// The writer follows the published properties (Q_PROPERTY) in declaration
// order, so a property added to a class later is saved without touching it.
// A property is written when the object's IsPropertyStored says so and it
// can be assigned back (read-only values never); object-valued properties
// are written although they have no setter: a collection as "Name = <"
// items ">" ("<>" when empty), any other nested object as its own
// properties with a dotted name at the owner's level.
//
// Values: Booleans True/False; integers in decimal; enumerations by name;
// sets as [a, b]; floating-point
// numbers as the shortest decimal text that reads back to the same value,
// with '.' and, where shorter, an exponent (1E-5); texts in single quotes
// with a quote doubled, characters below 32 as #n outside the quotes, all
// others as UTF-8 inside them. Two blanks per level, lines end with CR LF.
#pragma once

#include <QByteArray>
#include <QString>

class TComponent;

/// The text of root (header, published properties, "end"). The header names
/// the component when its objectName is an identifier (letters, digits,
/// '_', not starting with a digit) and leaves the name out otherwise. Raises
/// EFilerError, naming the property path, for a value that has no text form
/// (a floating-point value that is not finite, an enumeration value without
/// a name, a property type the format does not know, a reference to another
/// component).
QByteArray ComponentToText(const TComponent& root);

/// The shortest decimal text that reads back to value (0.5, 1.25, 10, 1E-5).
/// value must be finite.
QByteArray FloatToComponentText(float value);
QByteArray FloatToComponentText(double value);

/// text in the format's quoting: 'it''s'#13#10'next'.
QByteArray QuotedComponentText(const QString& text);
