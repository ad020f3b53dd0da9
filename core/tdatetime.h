// TDateTime: a double counting days since 1899-12-30; the fraction is the
// time of day. 0 stands for "no time". For negative values the integer part
// counts days back and the fraction still runs forward from midnight, so
// -1.25 is 1899-12-29 06:00.
#pragma once

#include <QDateTime>

using TDateTime = double;

/// The local date and time of a TDateTime, to the nearest millisecond.
/// Invalid (a default QDateTime) for values outside years 1 to 9999 or NaN.
QDateTime DateTimeToQDateTime(TDateTime value);
/// The TDateTime of a date and time's local clock reading (the time zone of
/// value is applied first). 0 for an invalid QDateTime.
TDateTime QDateTimeToDateTime(const QDateTime& value);
/// Builds a TDateTime from a calendar date and a clock time.
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int msec = 0);
/// The current local time.
TDateTime Now();
