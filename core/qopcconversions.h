// Conversions between what servers deliver (variants, FILETIME stamps, state
// codes, wide strings) and what applications show.
#pragma once

#include <QString>
#include <QVariant>
#include <array>

#include "opc/comtypes.h"
#include "opc/taskmem.h"
#include "opc/variant.h"
#include "tdatetime.h"

/// The texts of the OPC server states, indexed by state code (0 = none).
inline constexpr std::array<const char*, 6> OPCStateStr = {"none",      "running",   "failed",
                                                           "no config", "suspended", "test"};

/// The text of a scalar variant:
///  - Empty and Null: the empty text;
///  - integers: decimal; floating point: the shortest text that reads back
///    to the same value ("0.1", "1e+20", "inf", "nan");
///  - currency: decimal with up to four places ("12.5");
///  - booleans: "True" / "False";
///  - dates: ISO 8601 local date and time "yyyy-MM-ddTHH:mm:ss", followed by
///    ".zzz" when the milliseconds are not zero;
///  - texts as they are; error codes as signed decimal.
/// Raises EConvertError for arrays, interfaces, dates outside years 1..9999
/// and types that have no text.
QString VarToStr(const VARIANT& value);
QString VarToStr(const OleVariant& value);

/// The display text of an item value. Never raises. Empty for an empty
/// variant; for a one-dimensional array the elements at indices 0 up to the
/// high bound, each followed by ";" ("1;2;3;"); otherwise VarToStr. Any
/// conversion failure gives the empty text (so do arrays whose lower bound is
/// above 0 and arrays of more than one dimension).
QString VarToAStr(const OleVariant& value);

/// A server time stamp (UTC) as local TDateTime, milliseconds kept, with the
/// time zone rules the process uses. 0 when either 32-bit half is zero or the
/// stamp lies outside years 1601..9999.
TDateTime FileTimeToDateTime(const FILETIME& fileTime);

/// "running", "failed", "no config", "suspended", "test" for 1 to 5; the empty
/// text for anything else (0 included).
QString ServerStateToStr(int state);

/// Text as a wide string for a server call. The result owns its memory and
/// frees it when it goes out of scope; it is valid UTF-16 for any text (an
/// unpaired surrogate becomes U+FFFD) and keeps the text's full length.
opc::Bstr TextToWide(const QString& text);

/// A wide string from a server as text; null gives the empty text.
QString WideToText(LPCWSTR text);

/// A variant as a QVariant for writing Qt properties: integers as int, uint,
/// qlonglong or qulonglong by size and sign; R4 as float, R8 as double;
/// currency as double; dates as local QDateTime; texts as QString; booleans
/// as bool; error codes as int; arrays as QVariantList; Null as a null
/// QVariant of type std::nullptr_t; anything else (Empty included) as an
/// invalid QVariant.
QVariant VariantToQVariant(const VARIANT& value);
QVariant VariantToQVariant(const OleVariant& value);
