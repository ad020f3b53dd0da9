#include "componentwriter.h"

#include <QMetaEnum>
#include <QMetaProperty>
#include <QVariant>
#include <charconv>
#include <cmath>

#include "exceptions.h"
#include "opc/numbertext.h"
#include "tcollection.h"
#include "tcomponent.h"

namespace {

// Nested objects inside nested objects: deeper than any real component and
// a stop for object graphs that refer back to their owner.
constexpr int kMaxNesting = 16;

bool isObjectProperty(const QMetaProperty& property) {
  return property.metaType().flags().testFlag(QMetaType::PointerToQObject);
}

bool isIdentifier(const QString& name) {
  if (name.isEmpty() || name.size() > 255) return false;
  for (qsizetype i = 0; i < name.size(); ++i) {
    const char16_t c = name[i].unicode();
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (!letter && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

void appendUtf8(QByteArray& out, char32_t code) {
  if (code < 0x80) {
    out += char(code);
  } else if (code < 0x800) {
    out += char(0xC0 | (code >> 6));
    out += char(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += char(0xE0 | (code >> 12));
    out += char(0x80 | ((code >> 6) & 0x3F));
    out += char(0x80 | (code & 0x3F));
  } else {
    out += char(0xF0 | (code >> 18));
    out += char(0x80 | ((code >> 12) & 0x3F));
    out += char(0x80 | ((code >> 6) & 0x3F));
    out += char(0x80 | (code & 0x3F));
  }
}

// "1e-05" -> "1E-5", "1e+20" -> "1E20": the exponent form the platform's
// parser reads, without padding.
QByteArray normaliseExponent(const char* begin, const char* end) {
  QByteArray text(begin, end - begin);
  const qsizetype e = text.indexOf('e');
  if (e < 0) return text;
  QByteArray exponent = text.mid(e + 1);
  const bool negative = exponent.startsWith('-');
  if (negative || exponent.startsWith('+')) exponent.remove(0, 1);
  while (exponent.size() > 1 && exponent.startsWith('0')) exponent.remove(0, 1);
  return text.left(e) + 'E' + (negative ? "-" : "") + exponent;
}

template <class F>
QByteArray shortestText(F value) {
  const std::string digits = opc::shortestDigits(value);
  return normaliseExponent(digits.data(), digits.data() + digits.size());
}

class Writer {
 public:
  QByteArray out;

  void object(const TComponent& root) {
    QByteArray header = "object ";
    if (const QString name = root.objectName(); isIdentifier(name))
      header += name.toLatin1() + ": ";
    header += root.metaObject()->className();
    line(0, header);
    properties(root, 1, QByteArray(), QString(), 0);
    line(0, "end");
  }

 private:
  void line(int level, const QByteArray& text) {
    out.append(2 * level, ' ');
    out += text;
    out += "\r\n";
  }

  [[noreturn]] static void fail(const QString& path, const QString& message) {
    throw EFilerError(QStringLiteral("%1: %2").arg(path, message));
  }

  static QString join(const QString& path, const char* name) {
    return path.isEmpty() ? QString::fromLatin1(name) : path + u'.' + QString::fromLatin1(name);
  }

  void properties(const TPersistent& object, int level, const QByteArray& prefix,
                  const QString& path, int nesting) {
    if (nesting > kMaxNesting)
      fail(path, QStringLiteral("objects nested deeper than %1").arg(kMaxNesting));
    const QMetaObject* meta = object.metaObject();
    for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i) {
      const QMetaProperty property = meta->property(i);
      const QByteArray name = prefix + property.name();
      const QString propertyPath = join(path, property.name());
      if (isObjectProperty(property)) {
        if (!object.IsPropertyStored(property)) continue;
        QObject* child = property.read(&object).value<QObject*>();
        if (!child) continue;
        if (auto* c = qobject_cast<TCollection*>(child)) {
          collection(*c, level, name, propertyPath, nesting);
        } else if (qobject_cast<TComponent*>(child) || !qobject_cast<TPersistent*>(child)) {
          fail(propertyPath, QStringLiteral("references to other objects cannot be saved"));
        } else {
          properties(*static_cast<TPersistent*>(child), level, name + '.', propertyPath,
                     nesting + 1);
        }
        continue;
      }
      if (!property.isWritable() || !object.IsPropertyStored(property)) continue;
      line(level, name + " = " + valueText(property, property.read(&object), propertyPath));
    }
  }

  void collection(const TCollection& items, int level, const QByteArray& name, const QString& path,
                  int nesting) {
    if (items.Count() == 0) {
      line(level, name + " = <>");
      return;
    }
    line(level, name + " = <");
    int index = 0;
    for (const TCollectionItem* item : items) {
      line(level + 1, "item");
      properties(*item, level + 2, QByteArray(), QStringLiteral("%1[%2]").arg(path).arg(index),
                 nesting + 1);
      ++index;
      line(level + 1, index == items.Count() ? "end>" : "end");
    }
  }

  static QByteArray valueText(const QMetaProperty& property, const QVariant& value,
                              const QString& path) {
    if (property.isEnumType()) {
      const QMetaEnum meta = property.enumerator();
      bool ok = false;
      const int number = value.toInt(&ok);
      if (!ok) fail(path, QStringLiteral("the value cannot be read as a number"));
      if (meta.isFlag()) {
        if (number == 0) return "[]";
        const QByteArray keys = meta.valueToKeys(number);
        if (meta.keysToValue(keys.constData()) != number)
          fail(path, QStringLiteral("the set holds values without a name"));
        QByteArray text = keys;
        text.replace('|', ", ");
        return '[' + text + ']';
      }
      if (const char* key = meta.valueToKey(number)) return key;
      fail(path, QStringLiteral("the value %1 has no name in %2")
                     .arg(number)
                     .arg(QString::fromLatin1(meta.name())));
    }
    switch (value.typeId()) {
      case QMetaType::Bool:
        return value.toBool() ? "True" : "False";
      case QMetaType::Int:
      case QMetaType::Short:
      case QMetaType::LongLong:
        return QByteArray::number(value.toLongLong());
      case QMetaType::UInt:
      case QMetaType::UShort:
      case QMetaType::ULongLong:
        return QByteArray::number(value.toULongLong());
      case QMetaType::Float: {
        const float f = value.toFloat();
        if (!std::isfinite(f)) fail(path, QStringLiteral("%1 cannot be saved").arg(f));
        return FloatToComponentText(f);
      }
      case QMetaType::Double: {
        const double d = value.toDouble();
        if (!std::isfinite(d)) fail(path, QStringLiteral("%1 cannot be saved").arg(d));
        return FloatToComponentText(d);
      }
      case QMetaType::QString:
        return QuotedComponentText(value.toString());
      default:
        fail(path, QStringLiteral("properties of type %1 cannot be saved")
                       .arg(QString::fromLatin1(property.metaType().name())));
    }
  }
};

}  // namespace

QByteArray ComponentToText(const TComponent& root) {
  Writer writer;
  writer.object(root);
  return writer.out;
}

QByteArray FloatToComponentText(float value) { return shortestText(value); }

QByteArray FloatToComponentText(double value) { return shortestText(value); }

QByteArray QuotedComponentText(const QString& text) {
  if (text.isEmpty()) return "''";
  QByteArray out;
  bool quoted = false;
  const qsizetype size = text.size();
  for (qsizetype i = 0; i < size; ++i) {
    const char16_t unit = text[i].unicode();
    const bool pair = QChar::isHighSurrogate(unit) && i + 1 < size &&
                      QChar::isLowSurrogate(text[i + 1].unicode());
    // Control characters, and halves of broken surrogate pairs (which have
    // no UTF-8 form), go outside the quotes by number.
    if (unit < 32 || (!pair && QChar::isSurrogate(unit))) {
      if (quoted) out += '\'';
      quoted = false;
      out += '#' + QByteArray::number(unit);
      continue;
    }
    if (!quoted) out += '\'';
    quoted = true;
    if (unit == '\'') {
      out += "''";
    } else if (pair) {
      appendUtf8(out, QChar::surrogateToUcs4(unit, text[++i].unicode()));
    } else {
      appendUtf8(out, unit);
    }
  }
  if (quoted) out += '\'';
  return out;
}
