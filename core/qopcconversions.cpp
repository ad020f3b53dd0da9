#include "qopcconversions.h"

#include <QDateTime>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "exceptions.h"
#include "opc/filetime.h"
#include "opc/numbertext.h"

namespace {

[[noreturn]] void cannotConvert(VARTYPE vt) {
  throw EConvertError(
      QStringLiteral("Cannot convert a variant of type 0x%1 to text").arg(vt, 4, 16, QChar(u'0')));
}

template <class T>
T read(const void* p) {
  T value;
  std::memcpy(&value, p, sizeof(T));
  return value;
}

template <class F>
QString shortestText(F value) {
  if (std::isnan(value)) return QStringLiteral("nan");
  if (std::isinf(value)) return value < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
  return QString::fromStdString(opc::shortestDigits(value));
}

QString currencyText(LONGLONG scaled) {
  return QString::fromStdString(opc::currencyDigits(scaled));
}

QString dateText(DATE date) {
  const QDateTime dt = DateTimeToQDateTime(date);
  if (!dt.isValid()) throw EConvertError(QStringLiteral("Invalid date value %1").arg(date));
  return dt.toString(dt.time().msec() != 0 ? QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")
                                           : QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

// The scalar types an array element may have for VarToAStr.
bool isScalarElement(VARTYPE vt) {
  return opc::isSafeArrayElementType(vt) && vt != VT_UNKNOWN && vt != VT_DISPATCH;
}

SAFEARRAY* arrayOf(const VARIANT& v) {
  if (v.vt & VT_BYREF) return v.byref ? *static_cast<SAFEARRAY* const*>(v.byref) : nullptr;
  return v.parray;
}

// Element `index` of a one-dimensional array as a variant of its own.
OleVariant arrayElement(SAFEARRAY* array, LONG index) {
  VARTYPE elementType = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(array, &elementType)) || !isScalarElement(elementType))
    cannotConvert(VARTYPE(VT_ARRAY | elementType));
  VARIANT element;
  VariantInit(&element);
  void* target =
      elementType == VT_VARIANT ? static_cast<void*>(&element) : static_cast<void*>(&element.llVal);
  const HRESULT hr = SafeArrayGetElement(array, &index, target);
  if (FAILED(hr)) OleError(hr);
  if (elementType != VT_VARIANT) element.vt = elementType;
  return OleVariant::attach(element);
}

}  // namespace

QString VarToStr(const VARIANT& value) {
  VARTYPE vt = value.vt;
  if (vt & VT_ARRAY) cannotConvert(vt);
  const void* p = &value.llVal;
  if (vt & VT_BYREF) {
    p = value.byref;
    vt = VARTYPE(vt & ~VT_BYREF);
    if (!p) cannotConvert(value.vt);
    if (vt == VT_VARIANT) return VarToStr(*static_cast<const VARIANT*>(p));
  }
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      return {};
    case VT_I1:
      return QString::number(read<std::int8_t>(p));
    case VT_UI1:
      return QString::number(read<BYTE>(p));
    case VT_I2:
      return QString::number(read<SHORT>(p));
    case VT_UI2:
      return QString::number(read<USHORT>(p));
    case VT_I4:
      return QString::number(read<LONG>(p));
    case VT_UI4:
      return QString::number(read<ULONG>(p));
    case VT_INT:
      return QString::number(read<INT>(p));
    case VT_UINT:
      return QString::number(read<UINT>(p));
    case VT_I8:
      return QString::number(read<LONGLONG>(p));
    case VT_UI8:
      return QString::number(read<ULONGLONG>(p));
    case VT_R4:
      return shortestText(read<FLOAT>(p));
    case VT_R8:
      return shortestText(read<DOUBLE>(p));
    case VT_CY:
      return currencyText(read<CY>(p).int64);
    case VT_DATE:
      return dateText(read<DATE>(p));
    case VT_BSTR: {
      const BSTR s = read<BSTR>(p);
      return s ? QString::fromUtf16(s, qsizetype(SysStringLen(s))) : QString();
    }
    case VT_BOOL:
      return read<VARIANT_BOOL>(p) ? QStringLiteral("True") : QStringLiteral("False");
    case VT_ERROR:
      return QString::number(read<SCODE>(p));
    default:
      cannotConvert(value.vt);
  }
}

QString VarToStr(const OleVariant& value) { return VarToStr(value.get()); }

QString VarToAStr(const OleVariant& value) {
  try {
    if (value.isEmpty()) return {};
    if (!value.isArray()) return VarToStr(value);
    SAFEARRAY* array = arrayOf(value.get());
    LONG low = 0;
    std::size_t count = 0;
    HRESULT hr = SafeArrayGetLBound(array, 1, &low);
    if (SUCCEEDED(hr)) hr = opc::safeArrayElementCount(array, &count);
    if (FAILED(hr)) OleError(hr);
    // Indices from 0 to the upper bound, counted in 64 bits: the upper bound
    // may be the largest LONG, or just below the smallest for an empty array.
    const std::int64_t high = std::int64_t(low) + std::int64_t(count) - 1;
    QString text;
    for (std::int64_t i = 0; i <= high; ++i) {
      // Elements are read with one index, which fails for more dimensions.
      if (SafeArrayGetDim(array) != 1) OleError(DISP_E_BADINDEX);
      text += VarToStr(arrayElement(array, LONG(i)));
      text += u';';
    }
    return text;
  } catch (...) {
    return {};
  }
}

namespace {

/// The local zone's offset from UTC (seconds) at a UTC instant. Zone rules
/// change offsets only on whole minutes, so the answer is kept per minute:
/// the time stamps of one data change almost always share their minute, and
/// asking the zone database for each item would dominate the data path.
int localOffsetSeconds(qint64 utcMs) {
  thread_local qint64 cachedMinute = std::numeric_limits<qint64>::min();
  thread_local int cachedOffset = 0;
  const qint64 minute = utcMs >= 0 ? utcMs / 60000 : (utcMs - 59999) / 60000;
  if (minute != cachedMinute) {
    cachedOffset =
        QDateTime::fromMSecsSinceEpoch(minute * 60000, Qt::UTC).toLocalTime().offsetFromUtc();
    cachedMinute = minute;
  }
  return cachedOffset;
}

}  // namespace

TDateTime FileTimeToDateTime(const FILETIME& fileTime) {
  // Only the all-zero stamp means "no time": either half alone is zero in
  // valid stamps.
  if (fileTime.dwLowDateTime == 0 && fileTime.dwHighDateTime == 0) return 0;
  // Beyond this the system cannot express the stamp as a calendar time.
  const std::uint64_t ticks = opc::fileTimeTicks(fileTime);
  if (ticks >= 0x8000000000000000ULL) return 0;
  try {
    constexpr qint64 kUnixEpochMs = opc::kFileTimeUnixEpoch / 10000;
    const qint64 msSinceEpoch =
        qint64(ticks / 10000) - kUnixEpochMs;  // whole ms, as the system keeps
    // Local times from 1899-12-30 (day 0) to the end of year 9999 are a plain
    // day count; earlier ones take the calendar path, whose fraction counts
    // forward from midnight.
    constexpr qint64 kDayZeroMs = -2209161600000LL;
    constexpr qint64 kYear10000Ms = 253402300800000LL;
    constexpr qint64 kMsPerDay = 86400000;
    const qint64 localMs = msSinceEpoch + qint64(localOffsetSeconds(msSinceEpoch)) * 1000;
    if (localMs >= kYear10000Ms) return 0;
    if (localMs >= kDayZeroMs) {
      const qint64 sinceDayZero = localMs - kDayZeroMs;
      return double(sinceDayZero / kMsPerDay) +
             double(sinceDayZero % kMsPerDay) / double(kMsPerDay);
    }
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(msSinceEpoch, Qt::UTC).toLocalTime();
    if (!local.isValid() || local.date().year() > 9999) return 0;
    return QDateTimeToDateTime(local);
  } catch (...) {
    return 0;
  }
}

QString ServerStateToStr(int state) {
  if (state < 1 || state > 5) return {};
  return QString::fromLatin1(OPCStateStr[std::size_t(state)]);
}

opc::Bstr TextToWide(const QString& text) {
  std::u16string wide(reinterpret_cast<const char16_t*>(text.utf16()), std::size_t(text.size()));
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const char16_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      ++i;  // a complete pair
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      wide[i] = u'\uFFFD';
    }
  }
  return opc::Bstr(wide);
}

QString WideToText(LPCWSTR text) {
  return text ? QString::fromUtf16(text, qsizetype(wideLength(text))) : QString();
}

QVariant VariantToQVariant(const VARIANT& value) {
  VARTYPE vt = value.vt;
  if (vt & VT_ARRAY) {
    QVariantList list;
    SAFEARRAY* array = arrayOf(value);
    LONG low = 0;
    std::size_t count = 0;
    if (!array || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &low)) ||
        FAILED(opc::safeArrayElementCount(array, &count)))
      return {};
    try {
      // By count: a LONG index running to the upper bound could overflow.
      for (std::size_t k = 0; k < count; ++k) {
        const LONG index = LONG(std::int64_t(low) + std::int64_t(k));
        list.append(VariantToQVariant(arrayElement(array, index)));
      }
    } catch (const Exception&) {
      return {};
    }
    return list;
  }
  const void* p = &value.llVal;
  if (vt & VT_BYREF) {
    p = value.byref;
    vt = VARTYPE(vt & ~VT_BYREF);
    if (!p) return {};
    if (vt == VT_VARIANT) return VariantToQVariant(*static_cast<const VARIANT*>(p));
  }
  switch (vt) {
    case VT_NULL:
      return QVariant(QMetaType::fromType<std::nullptr_t>());
    case VT_I1:
      return int(read<std::int8_t>(p));
    case VT_UI1:
      return uint(read<BYTE>(p));
    case VT_I2:
      return int(read<SHORT>(p));
    case VT_UI2:
      return uint(read<USHORT>(p));
    case VT_I4:
      return int(read<LONG>(p));
    case VT_UI4:
      return uint(read<ULONG>(p));
    case VT_INT:
      return int(read<INT>(p));
    case VT_UINT:
      return uint(read<UINT>(p));
    case VT_I8:
      return qlonglong(read<LONGLONG>(p));
    case VT_UI8:
      return qulonglong(read<ULONGLONG>(p));
    case VT_R4:
      return read<FLOAT>(p);
    case VT_R8:
      return read<DOUBLE>(p);
    case VT_CY:
      return double(read<CY>(p).int64) / 10000.0;
    case VT_DATE:
      return DateTimeToQDateTime(read<DATE>(p));
    case VT_BSTR: {
      const BSTR s = read<BSTR>(p);
      return s ? QString::fromUtf16(s, qsizetype(SysStringLen(s))) : QString();
    }
    case VT_BOOL:
      return read<VARIANT_BOOL>(p) != 0;
    case VT_ERROR:
      return int(read<SCODE>(p));
    default:
      return {};
  }
}

QVariant VariantToQVariant(const OleVariant& value) { return VariantToQVariant(value.get()); }
