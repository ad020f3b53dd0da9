#include "guipropwrite.h"

#include <QChar>
#include <QMetaEnum>
#include <QMetaProperty>
#include <QObject>
#include <limits>
#include <optional>

#include "core/exceptions.h"
#include "core/qopcconversions.h"
#include "core/tdatetime.h"
#include "guivariant_p.h"

using namespace veze6::gui;

namespace {

[[noreturn]] void raiseInvalidElement(const QString& name) {
  throw EConvertError(QStringLiteral("Invalid property element: %1").arg(name));
}

void writeProperty(QObject* control, const QMetaProperty& prop, const QVariant& value) {
  if (!prop.write(control, value)) {
    throw EConvertError(
        QStringLiteral("Could not write property %1 of %2")
            .arg(QLatin1String(prop.name()), QLatin1String(control->metaObject()->className())));
  }
}

// An integer type's own range, through the ordinal path.
template <class T>
T ordinalOf(const OleVariant& value) {
  using L = std::numeric_limits<T>;
  const Ordinal o = varToOrdinal(value);
  if constexpr (std::is_unsigned_v<T> && sizeof(T) == 8) {
    return static_cast<T>(clampOrdinalUnsigned(o, L::max()));
  } else {
    return static_cast<T>(clampOrdinal(o, std::int64_t(L::min()), std::int64_t(L::max())));
  }
}

template <class T>
void writeOrdinal(QObject* control, const QMetaProperty& prop, const OleVariant& value) {
  writeProperty(control, prop, QVariant::fromValue(ordinalOf<T>(value)));
}

// Key lookup as the stored forms and item texts spell it: exact first, then
// ignoring case.
std::optional<int> keyValue(const QMetaEnum& e, const QString& name) {
  const QByteArray key = name.toUtf8();
  bool ok = false;
  const int exact = e.keyToValue(key.constData(), &ok);
  if (ok) return exact;
  for (int i = 0; i < e.keyCount(); ++i) {
    if (QString::compare(QLatin1String(e.key(i)), name, Qt::CaseInsensitive) == 0) {
      return e.value(i);
    }
  }
  return std::nullopt;
}

// A value of the property's own enumeration or flags type. Enumerations of
// any underlying width and QFlags hold nothing but the integer, so the value
// is built from its bytes; other property types are left to QVariant.
QVariant enumVariant(const QMetaProperty& prop, std::int64_t value) {
  const QMetaType type = prop.metaType();
  auto make = [&](auto v) { return QVariant(type, &v); };
  if (type.isValid() && !(type.flags() & QMetaType::PointerToQObject)) {
    switch (type.sizeOf()) {
      case 1:
        return make(std::int8_t(value));
      case 2:
        return make(std::int16_t(value));
      case 4:
        return make(std::int32_t(value));
      case 8:
        return make(std::int64_t(value));
      default:
        break;
    }
  }
  return QVariant(int(value));
}

void writeEnumeration(QObject* control, const QMetaProperty& prop, const OleVariant& value) {
  const QMetaEnum e = prop.enumerator();
  std::int64_t result = 0;
  if (value.vt() == VT_BSTR) {
    const QString name = varToText(value);
    const std::optional<int> v = keyValue(e, name);
    if (!v) raiseInvalidElement(name);
    result = *v;
  } else {
    std::int64_t lo = std::numeric_limits<int>::min();
    std::int64_t hi = std::numeric_limits<int>::max();
    if (e.keyCount() > 0) {
      lo = hi = e.value(0);
      for (int i = 1; i < e.keyCount(); ++i) {
        lo = std::min<std::int64_t>(lo, e.value(i));
        hi = std::max<std::int64_t>(hi, e.value(i));
      }
    }
    result = clampOrdinal(varToOrdinal(value), lo, hi);
  }
  writeProperty(control, prop, enumVariant(prop, result));
}

void writeBoolean(QObject* control, const QMetaProperty& prop, const OleVariant& value) {
  bool result = false;
  if (value.vt() == VT_BSTR) {
    const QString name = varToText(value);
    if (name.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) {
      result = true;
    } else if (name.compare(QLatin1String("False"), Qt::CaseInsensitive) != 0) {
      raiseInvalidElement(name);
    }
  } else {
    result = clampOrdinal(varToOrdinal(value), 0, 1) != 0;
  }
  writeProperty(control, prop, QVariant(result));
}

// "[a, b]", "a,b" or "[]": the names of the flags that are set.
std::int64_t parseFlags(const QMetaEnum& e, const QString& text) {
  QString s = text.trimmed();
  if (s.startsWith(QLatin1Char('['))) s.remove(0, 1);
  const qsizetype close = s.indexOf(QLatin1Char(']'));
  if (close >= 0) s.truncate(close);
  std::int64_t bits = 0;
  for (const QString& part : s.split(QLatin1Char(','))) {
    const QString name = part.trimmed();
    if (name.isEmpty()) continue;
    const std::optional<int> v = keyValue(e, name);
    if (!v) raiseInvalidElement(name);
    bits |= std::uint32_t(*v);
  }
  return bits;
}

void writeFlags(QObject* control, const QMetaProperty& prop, const OleVariant& value) {
  const std::int64_t bits =
      value.vt() == VT_I4 ? value.get().lVal : parseFlags(prop.enumerator(), varToText(value));
  writeProperty(control, prop, enumVariant(prop, bits));
}

// A date, time or both: the value as a date (a text in ISO 8601, a number
// of days since 1899-12-30), read as local time.
QDateTime varToDateTime(const OleVariant& value) {
  HRESULT hr = S_OK;
  const OleVariant date = value.changedTo(VT_DATE, &hr);
  QDateTime result;
  if (SUCCEEDED(hr) && date.vt() == VT_DATE) result = DateTimeToQDateTime(date.get().date);
  if (!result.isValid()) raiseCannotConvert(value.vt(), QStringLiteral("Date"));
  return result;
}

}  // namespace

QMetaProperty FindGUIProperty(const QObject* Control, const QString& PropName) {
  if (!Control || PropName.isEmpty()) return {};
  const QMetaObject* meta = Control->metaObject();
  const int exact = meta->indexOfProperty(PropName.toUtf8().constData());
  if (exact >= 0) return meta->property(exact);
  for (int i = 0; i < meta->propertyCount(); ++i) {
    const QMetaProperty prop = meta->property(i);
    if (PropName.compare(QLatin1String(prop.name()), Qt::CaseInsensitive) == 0) return prop;
  }
  return {};
}

void SetGUIPropValue(QObject* Control, const QMetaProperty& PropInfo, const OleVariant& Value) {
  if (!Control || !PropInfo.isValid()) return;
  // Flags are enumerations to Qt; test them first.
  if (PropInfo.isFlagType()) return writeFlags(Control, PropInfo, Value);
  if (PropInfo.isEnumType()) return writeEnumeration(Control, PropInfo, Value);

  switch (PropInfo.metaType().id()) {
    case QMetaType::Bool:
      return writeBoolean(Control, PropInfo, Value);

    case QMetaType::SChar:
      return writeOrdinal<signed char>(Control, PropInfo, Value);
    case QMetaType::UChar:
      return writeOrdinal<unsigned char>(Control, PropInfo, Value);
    case QMetaType::Short:
      return writeOrdinal<short>(Control, PropInfo, Value);
    case QMetaType::UShort:
      return writeOrdinal<unsigned short>(Control, PropInfo, Value);
    case QMetaType::Int:
      return writeOrdinal<int>(Control, PropInfo, Value);
    case QMetaType::UInt:
      return writeOrdinal<unsigned int>(Control, PropInfo, Value);
    case QMetaType::Char: {
      using Raw = std::conditional_t<std::is_signed_v<char>, signed char, unsigned char>;
      const char c = static_cast<char>(ordinalOf<Raw>(Value));
      return writeProperty(Control, PropInfo, QVariant::fromValue(c));
    }
    case QMetaType::QChar:
      return writeProperty(Control, PropInfo, QVariant(QChar(ordinalOf<char16_t>(Value))));
    case QMetaType::Char16:
      return writeProperty(Control, PropInfo, QVariant::fromValue(ordinalOf<char16_t>(Value)));
    case QMetaType::Char32:
      return writeProperty(Control, PropInfo, QVariant::fromValue(ordinalOf<char32_t>(Value)));

    case QMetaType::Double:
      return writeProperty(Control, PropInfo, QVariant(varToReal(Value)));
    case QMetaType::Float:
      return writeProperty(Control, PropInfo, QVariant(float(varToReal(Value))));

    case QMetaType::QString:
      return writeProperty(Control, PropInfo, QVariant(varToText(Value)));

    case QMetaType::QVariant:
      return writeProperty(Control, PropInfo, VariantToQVariant(Value));

    case QMetaType::QDateTime:
      return writeProperty(Control, PropInfo, QVariant(varToDateTime(Value)));
    case QMetaType::QDate:
      return writeProperty(Control, PropInfo, QVariant(varToDateTime(Value).date()));
    case QMetaType::QTime:
      return writeProperty(Control, PropInfo, QVariant(varToDateTime(Value).time()));

    case QMetaType::Long:
      return writeOrdinal<long>(Control, PropInfo, Value);
    case QMetaType::ULong:
      return writeOrdinal<unsigned long>(Control, PropInfo, Value);
    case QMetaType::LongLong:
      return writeOrdinal<qlonglong>(Control, PropInfo, Value);
    case QMetaType::ULongLong:
      return writeOrdinal<qulonglong>(Control, PropInfo, Value);

    default:
      return;  // object pointers, fonts, colours, containers...
  }
}
