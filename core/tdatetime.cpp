#include "tdatetime.h"

#include <cmath>

#include "exceptions.h"

namespace {
constexpr qint64 kMsPerDay = 86400000;
const QDate kEpoch(1899, 12, 30);

TDateTime fromParts(qint64 days, qint64 msOfDay) {
  const double fraction = double(msOfDay) / double(kMsPerDay);
  return days >= 0 ? double(days) + fraction : double(days) - fraction;
}
}  // namespace

QDateTime DateTimeToQDateTime(TDateTime value) {
  if (!std::isfinite(value) || std::fabs(value) > 3.0e6) return {};
  double days = std::trunc(value);
  qint64 ms = std::llround(std::fabs(value - days) * double(kMsPerDay));
  if (ms >= kMsPerDay) {  // rounding reached the next midnight
    ms -= kMsPerDay;
    days += 1;  // the next day lies forward for dates before the epoch too
  }
  const QDate date = kEpoch.addDays(qint64(days));
  if (!date.isValid() || date.year() < 1 || date.year() > 9999) return {};
  return QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(ms)));
}

TDateTime QDateTimeToDateTime(const QDateTime& value) {
  if (!value.isValid()) return 0;
  const QDateTime local = value.toLocalTime();
  return fromParts(kEpoch.daysTo(local.date()), local.time().msecsSinceStartOfDay());
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
  const QDate date(year, month, day);
  const QTime time(hour, minute, second, msec);
  if (!date.isValid() || !time.isValid() || year < 1 || year > 9999)
    throw EConvertError(QStringLiteral("Invalid argument to date encode"));
  return fromParts(kEpoch.daysTo(date), time.msecsSinceStartOfDay());
}

TDateTime Now() { return QDateTimeToDateTime(QDateTime::currentDateTime()); }
