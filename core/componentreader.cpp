#include "componentreader.h"

#include <QIODevice>
#include <QMetaEnum>
#include <QMetaProperty>
#include <QPointer>
#include <QVariant>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "exceptions.h"
#include "tcollection.h"
#include "tcomponent.h"
#include "textparser_p.h"

namespace {

constexpr qsizetype kMaxPathSegments = 32;

// A value as written, before the property's type gives it meaning.
struct Value {
  enum Kind { Integer, Float, String, Identifier, Set } kind = Integer;
  QByteArray text;  // number digits (no '$') or identifier
  bool hex = false;
  QString string;
  QList<QByteArray> set;
  TTextPos pos;
};

bool sameName(const char* name, QByteArrayView other) {
  return qstrnicmp(name, qstrlen(name), other.data(), other.size()) == 0;
}

// Published properties follow QObject's own (objectName); names match in any
// letter case, as in the platform's reader.
int findProperty(const QMetaObject* meta, QByteArrayView name) {
  for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i)
    if (sameName(meta->property(i).name(), name)) return i;
  return -1;
}

bool isObjectProperty(const QMetaProperty& property) {
  return property.metaType().flags().testFlag(QMetaType::PointerToQObject);
}

std::optional<quint64> hexBits(const Value& v) {
  quint64 bits = 0;
  const auto r = std::from_chars(v.text.data(), v.text.data() + v.text.size(), bits, 16);
  if (r.ec != std::errc() || r.ptr != v.text.data() + v.text.size()) return std::nullopt;
  return bits;
}

// An integer for a signed type of the given width; '$' hex gives the bit
// pattern ($FFFFFFFF is -1 for 32 bits), as the platform's files use it.
std::optional<qint64> signedValue(const Value& v, int bits) {
  if (v.kind != Value::Integer) return std::nullopt;
  const qint64 low = bits == 64 ? std::numeric_limits<qint64>::min() : -(qint64(1) << (bits - 1));
  const qint64 high =
      bits == 64 ? std::numeric_limits<qint64>::max() : (qint64(1) << (bits - 1)) - 1;
  if (v.hex) {
    const auto pattern = hexBits(v);
    if (!pattern || (bits < 64 && (*pattern >> bits) != 0)) return std::nullopt;
    quint64 p = *pattern;
    if (bits < 64 && (p >> (bits - 1)) & 1) p |= ~quint64(0) << bits;  // sign-extend
    return qint64(p);
  }
  qint64 value = 0;
  const auto r = std::from_chars(v.text.data(), v.text.data() + v.text.size(), value);
  if (r.ec != std::errc() || r.ptr != v.text.data() + v.text.size()) return std::nullopt;
  if (value < low || value > high) return std::nullopt;
  return value;
}

std::optional<quint64> unsignedValue(const Value& v, int bits) {
  if (v.kind != Value::Integer) return std::nullopt;
  std::optional<quint64> value;
  if (v.hex) {
    value = hexBits(v);
  } else {
    quint64 parsed = 0;
    const auto r = std::from_chars(v.text.data(), v.text.data() + v.text.size(), parsed);
    if (r.ec == std::errc() && r.ptr == v.text.data() + v.text.size()) value = parsed;
  }
  if (!value || (bits < 64 && (*value >> bits) != 0)) return std::nullopt;
  return value;
}

std::optional<double> floatValue(const Value& v) {
  if (v.kind == Value::Integer) {
    if (v.hex) {
      const auto bits = hexBits(v);
      return bits ? std::optional<double>(double(*bits)) : std::nullopt;
    }
  } else if (v.kind != Value::Float) {
    return std::nullopt;
  }
  double value = 0;
  const auto r = std::from_chars(v.text.data(), v.text.data() + v.text.size(), value);
  if (r.ec != std::errc() || r.ptr != v.text.data() + v.text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

template <class T>
QVariant variantOf(QMetaType type, T value) {
  return QVariant(type, &value);
}

// One run over the text: a check (no root) or the assignment into root.
class Pass {
 public:
  Pass(QByteArrayView text, const TComponentReader::Limits& limits, bool truncated,
       TComponent* root)
      : parser_(text, limits.maxString, truncated), limits_(limits), root_(root) {
    parser_.SetContext(&path_);
  }

  // Reads the object; returns the bytes it took with the blanks after it.
  qsizetype run() {
    header();
    pushFrame(QString(), root_);
    while (!parser_.TokenIdentIs("end")) {
      path_.clear();
      if (parser_.TokenIdentIs("object") || parser_.TokenIdentIs("inherited") ||
          parser_.TokenIdentIs("inline"))
        readError(parser_.TokenPos(), QStringLiteral("nested components are not supported"));
      property();
    }
    popFrame();
    return parser_.OffsetAfterTokenAndBlanks();
  }

  // After a failure: open collections end their update.
  void abandon() noexcept {
    for (auto it = open_.rbegin(); it != open_.rend(); ++it) {
      try {
        if (*it) (*it)->EndUpdate();
      } catch (...) {
        // the read error that brought us here is the one to report
      }
    }
    open_.clear();
  }

 private:
  struct Frame {
    QString path;
    QPointer<QObject> object;
  };

  void header() {
    if (!parser_.TokenIdentIs("object")) parser_.Expected(QStringLiteral("'object'"));
    parser_.NextToken();
    if (parser_.Token() != TTextParser::Identifier)
      parser_.Expected(QStringLiteral("component name"));
    QByteArray name = parser_.TokenText().toByteArray();
    parser_.NextToken();
    if (parser_.TokenSymbolIs(':')) {
      parser_.NextToken();
      if (parser_.Token() != TTextParser::Identifier)
        parser_.Expected(QStringLiteral("class name"));
      parser_.NextToken();
    } else {
      name.clear();  // "object TClass": a component saved without a name
    }
    skipOrderIndex();
    // A header without a name leaves the component's name alone.
    if (root_ && !root_->IsDesigning() && !name.isEmpty())
      root_->setObjectName(QString::fromLatin1(name));
  }

  // "[n]": a position the platform's writer may add after a class name or
  // "item"; it does not matter here.
  void skipOrderIndex() {
    if (!parser_.TokenSymbolIs('[')) return;
    parser_.NextToken();
    if (parser_.Token() != TTextParser::Integer) parser_.Expected(QStringLiteral("index"));
    parser_.NextToken();
    if (!parser_.TokenSymbolIs(']')) parser_.Expected(QStringLiteral("']'"));
    parser_.NextToken();
  }

  void property() {
    path_ = frames_.back().path;
    if (parser_.Token() != TTextParser::Identifier)
      parser_.Expected(QStringLiteral("property name or 'end'"));
    const TTextPos namePos = parser_.TokenPos();
    QList<QByteArray> segments;
    for (;;) {
      if (segments.size() >= kMaxPathSegments)
        parser_.Error(QStringLiteral("property path longer than %1 names").arg(kMaxPathSegments));
      segments.append(parser_.TokenText().toByteArray());
      if (!path_.isEmpty()) path_ += u'.';
      path_ += QString::fromLatin1(segments.last());
      parser_.NextToken();
      if (!parser_.TokenSymbolIs('.')) break;
      parser_.NextToken();
      if (parser_.Token() != TTextParser::Identifier)
        parser_.Expected(QStringLiteral("property name"));
    }
    if (!parser_.TokenSymbolIs('=')) parser_.Expected(QStringLiteral("'='"));
    parser_.NextToken();
    if (parser_.TokenSymbolIs('<')) {
      collection(segments, namePos);
      return;
    }
    const Value v = value();
    if (root_) assign(segments, v, namePos);
  }

  Value value() {
    Value v;
    v.pos = parser_.TokenPos();
    switch (parser_.Token()) {
      case TTextParser::Integer:
      case TTextParser::Float:
        v.kind = parser_.Token() == TTextParser::Integer ? Value::Integer : Value::Float;
        v.text = parser_.TokenText().toByteArray();
        v.hex = parser_.TokenIsHex();
        parser_.NextToken();
        return v;
      case TTextParser::Identifier:
        v.kind = Value::Identifier;
        v.text = parser_.TokenText().toByteArray();
        parser_.NextToken();
        return v;
      case TTextParser::String:
        v.kind = Value::String;
        v.string = parser_.TokenString();
        parser_.NextToken();
        // 'a' + 'b', continued over lines
        while (parser_.TokenSymbolIs('+')) {
          parser_.NextToken();
          if (parser_.Token() != TTextParser::String) parser_.Expected(QStringLiteral("text"));
          if (v.string.size() + parser_.TokenString().size() > limits_.maxString)
            readError(parser_.TokenPos(),
                      QStringLiteral("text longer than %1 characters").arg(limits_.maxString));
          v.string += parser_.TokenString();
          parser_.NextToken();
        }
        return v;
      case TTextParser::Symbol:
        if (parser_.TokenSymbolIs('[')) {
          v.kind = Value::Set;
          parser_.NextToken();
          while (!parser_.TokenSymbolIs(']')) {
            if (parser_.Token() != TTextParser::Identifier)
              parser_.Expected(QStringLiteral("name"));
            v.set.append(parser_.TokenText().toByteArray());
            parser_.NextToken();
            if (parser_.TokenSymbolIs(',')) {
              parser_.NextToken();
              if (parser_.TokenSymbolIs(']')) parser_.Expected(QStringLiteral("name"));
            } else if (!parser_.TokenSymbolIs(']')) {
              parser_.Expected(QStringLiteral("',' or ']'"));
            }
          }
          parser_.NextToken();
          return v;
        }
        if (parser_.TokenSymbolIs('(') || parser_.TokenSymbolIs('{'))
          readError(v.pos, QStringLiteral("lists and binary values are not supported"));
        break;
      default:
        break;
    }
    parser_.Expected(QStringLiteral("value"));
  }

  void collection(const QList<QByteArray>& segments, TTextPos namePos) {
    if (depth_ >= limits_.maxDepth)
      readError(namePos, QStringLiteral("collections nested deeper than %1").arg(limits_.maxDepth));
    ++depth_;
    const QString collectionPath = path_;
    QPointer<TCollection> target;
    if (root_) {
      target = resolveCollection(segments, namePos);
      target->BeginUpdate();
      open_.push_back(target);
    }
    parser_.NextToken();
    int index = 0;
    while (!parser_.TokenSymbolIs('>')) {
      path_ = collectionPath;
      if (!parser_.TokenIdentIs("item")) parser_.Expected(QStringLiteral("'item' or '>'"));
      const TTextPos itemPos = parser_.TokenPos();
      const QString itemPath = QStringLiteral("%1[%2]").arg(collectionPath).arg(index);
      if (++items_ > limits_.maxItems)
        readError(itemPos, QStringLiteral("more than %1 collection items").arg(limits_.maxItems));
      parser_.NextToken();
      skipOrderIndex();
      QObject* item = nullptr;
      if (root_) item = addItem(target, index == 0, itemPos, itemPath);
      pushFrame(itemPath, item);
      path_ = itemPath;
      while (!parser_.TokenIdentIs("end")) property();
      popFrame();
      parser_.NextToken();
      ++index;
    }
    if (root_) {
      open_.pop_back();
      if (target) target->EndUpdate();
    }
    --depth_;
    parser_.NextToken();
  }

  QObject* addItem(const QPointer<TCollection>& target, bool first, TTextPos pos,
                   const QString& itemPath) {
    path_ = itemPath;
    if (!target) readError(pos, QStringLiteral("the collection was destroyed while reading"));
    try {
      if (first) target->Clear();
      return target->Add();
    } catch (const Exception& e) {
      readError(pos, e.Message());
    }
  }

  struct Target {
    QObject* object;
    QMetaProperty property;
  };

  Target resolve(const QList<QByteArray>& segments, TTextPos pos) {
    QObject* object = frames_.back().object;
    if (!object) readError(pos, QStringLiteral("the object was destroyed while reading"));
    for (qsizetype i = 0;; ++i) {
      const QMetaObject* meta = object->metaObject();
      const int index = findProperty(meta, segments[i]);
      if (index < 0)
        readError(pos, QStringLiteral("%1 has no property %2")
                           .arg(QString::fromLatin1(meta->className()),
                                QString::fromLatin1(segments[i])));
      const QMetaProperty property = meta->property(index);
      if (i == segments.size() - 1) return {object, property};
      QObject* child =
          isObjectProperty(property) ? property.read(object).value<QObject*>() : nullptr;
      if (!child || !qobject_cast<TPersistent*>(child) || qobject_cast<TComponent*>(child))
        readError(pos, QStringLiteral("%1 is not an object with properties")
                           .arg(QString::fromLatin1(property.name())));
      object = child;
    }
  }

  TCollection* resolveCollection(const QList<QByteArray>& segments, TTextPos pos) {
    const Target t = resolve(segments, pos);
    TCollection* collection =
        isObjectProperty(t.property)
            ? qobject_cast<TCollection*>(t.property.read(t.object).value<QObject*>())
            : nullptr;
    if (!collection)
      readError(
          pos,
          QStringLiteral("%1 is not a collection").arg(QString::fromLatin1(t.property.name())));
    return collection;
  }

  void assign(const QList<QByteArray>& segments, const Value& v, TTextPos namePos) {
    const Target t = resolve(segments, namePos);
    const QMetaProperty& property = t.property;
    if (isObjectProperty(property)) invalidValue(v);
    if (!property.isWritable())
      readError(
          namePos,
          QStringLiteral("property %1 is read-only").arg(QString::fromLatin1(property.name())));
    const QVariant converted = convert(property, v);
    bool written = false;
    try {
      written = property.write(t.object, converted);
    } catch (const Exception& e) {
      readError(v.pos, e.Message());
    }
    if (!written) invalidValue(v);
  }

  QVariant convert(const QMetaProperty& property, const Value& v) {
    const QMetaType type = property.metaType();
    if (property.isEnumType()) {
      const QMetaEnum meta = property.enumerator();
      int number = 0;
      auto keyValue = [&](const QByteArray& name) {
        for (int k = 0; k < meta.keyCount(); ++k)
          if (sameName(meta.key(k), name)) return meta.value(k);
        invalidValue(v);
      };
      if (meta.isFlag()) {
        if (v.kind != Value::Set) invalidValue(v);
        for (const QByteArray& name : v.set) number |= keyValue(name);
      } else if (v.kind == Value::Identifier) {
        number = keyValue(v.text);
      } else if (const auto n = signedValue(v, 32); n && meta.valueToKey(int(*n))) {
        number = int(*n);  // the number of a named value
      } else {
        invalidValue(v);
      }
      QVariant result(number);
      if (!result.convert(type)) invalidValue(v);
      return result;
    }
    switch (type.id()) {
      case QMetaType::Bool:
        if (v.kind == Value::Identifier) {
          if (sameName("True", v.text)) return QVariant(true);
          if (sameName("False", v.text)) return QVariant(false);
        }
        break;
      case QMetaType::Int:
        if (const auto n = signedValue(v, 32)) return variantOf(type, qint32(*n));
        break;
      case QMetaType::UInt:
        if (const auto n = unsignedValue(v, 32)) return variantOf(type, quint32(*n));
        break;
      case QMetaType::Short:
        if (const auto n = signedValue(v, 16)) return variantOf(type, qint16(*n));
        break;
      case QMetaType::UShort:
        if (const auto n = unsignedValue(v, 16)) return variantOf(type, quint16(*n));
        break;
      case QMetaType::LongLong:
        if (const auto n = signedValue(v, 64)) return variantOf(type, qint64(*n));
        break;
      case QMetaType::ULongLong:
        if (const auto n = unsignedValue(v, 64)) return variantOf(type, quint64(*n));
        break;
      case QMetaType::Float:
        if (const auto d = floatValue(v); d && std::isfinite(float(*d)))
          return variantOf(type, float(*d));
        break;
      case QMetaType::Double:
        if (const auto d = floatValue(v)) return variantOf(type, *d);
        break;
      case QMetaType::QString:
        if (v.kind == Value::String) return QVariant(v.string);
        break;
      default:
        readError(v.pos, QStringLiteral("properties of type %1 cannot be read")
                             .arg(QString::fromLatin1(type.name())));
    }
    invalidValue(v);
  }

  [[noreturn]] void invalidValue(const Value& v) {
    QString shown;
    switch (v.kind) {
      case Value::String:
        shown = QStringLiteral("a text");
        break;
      case Value::Set:
        shown = QStringLiteral("a set");
        break;
      default:
        shown = u'\'' + QString::fromLatin1(v.hex ? '$' + v.text : v.text) + u'\'';
    }
    readError(v.pos, QStringLiteral("invalid property value %1").arg(shown));
  }

  [[noreturn]] void readError(TTextPos pos, const QString& message) {
    throw EReadError(TTextParser::Located(pos, path_, message));
  }

  void pushFrame(const QString& path, QObject* object) { frames_.push_back({path, object}); }
  void popFrame() { frames_.pop_back(); }

  TTextParser parser_;
  const TComponentReader::Limits& limits_;
  TComponent* root_;
  QString path_;  // the property being read, for messages
  std::vector<Frame> frames_;
  std::vector<QPointer<TCollection>> open_;  // collections in BeginUpdate
  int depth_ = 0;
  qsizetype items_ = 0;
};

}  // namespace

TComponentReader::TComponentReader(QIODevice& device) : TComponentReader(device, Limits()) {}

TComponentReader::TComponentReader(QIODevice& device, const Limits& limits)
    : limits_(limits), device_(&device) {
  if (!device.isOpen() || !device.isReadable())
    throw EStreamError(QStringLiteral("the stream is not open for reading"));
  start_ = device.pos();
  qint64 wanted = limits_.maxTextSize + 1;
  if (!device.isSequential()) wanted = qMin(wanted, qMax<qint64>(device.size() - start_, 0));
  text_ = device.read(wanted);
  // Only a device that can seek tells that there was more.
  if (text_.size() > limits_.maxTextSize ||
      (!device.isSequential() && device.size() - start_ > limits_.maxTextSize)) {
    text_.truncate(limits_.maxTextSize);
    truncated_ = true;
  }
}

TComponentReader::TComponentReader(const QByteArray& text) : TComponentReader(text, Limits()) {}

TComponentReader::TComponentReader(const QByteArray& text, const Limits& limits)
    : text_(text), limits_(limits) {
  if (text_.size() > limits_.maxTextSize) {
    text_.truncate(limits_.maxTextSize);
    truncated_ = true;
  }
}

void TComponentReader::Check() {
  if (checked_) return;
  Pass pass(text_, limits_, truncated_, nullptr);
  consumed_ = pass.run();
  checked_ = true;
}

void TComponentReader::ReadProperties(TComponent& root) {
  Check();
  Pass pass(text_, limits_, truncated_, &root);
  root.SetLoading(true);
  try {
    pass.run();
  } catch (...) {
    pass.abandon();
    root.SetLoading(false);
    throw;
  }
  if (device_ && !device_->isSequential()) device_->seek(start_ + consumed_);
}

void TComponentReader::Read(TComponent& root) {
  ReadProperties(root);
  root.Loaded();
}
