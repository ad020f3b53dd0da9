#include "format.h"

#include "exceptions.h"

namespace {

[[noreturn]] void formatError(const QString& fmt) {
  throw EConvertError(QStringLiteral("Format '%1' invalid or incompatible with argument").arg(fmt));
}

qint32 integerArg(const QVariant& v, const QString& fmt) {
  bool ok = false;
  const qlonglong n = v.toLongLong(&ok);
  if (!ok || v.typeId() == QMetaType::QString || v.typeId() == QMetaType::Double ||
      v.typeId() == QMetaType::Float)
    formatError(fmt);
  return static_cast<qint32>(n);
}

}  // namespace

QString Format(const QString& fmt, std::initializer_list<QVariant> args) {
  QString out;
  out.reserve(fmt.size() + 16);
  auto next = args.begin();
  for (qsizetype i = 0; i < fmt.size(); ++i) {
    const QChar c = fmt.at(i);
    if (c != u'%') {
      out += c;
      continue;
    }
    if (++i >= fmt.size()) formatError(fmt);
    const QChar spec = fmt.at(i);
    if (spec == u'%') {
      out += u'%';
      continue;
    }
    if (next == args.end()) formatError(fmt);
    const QVariant& arg = *next++;
    switch (spec.unicode()) {
      case 's':
      case 'S':
        if (arg.typeId() != QMetaType::QString && arg.typeId() != QMetaType::QByteArray &&
            arg.typeId() != QMetaType::QChar)
          formatError(fmt);
        out += arg.toString();
        break;
      case 'd':
      case 'D':
        out += QString::number(integerArg(arg, fmt));
        break;
      case 'u':
      case 'U':
        out += QString::number(static_cast<quint32>(integerArg(arg, fmt)));
        break;
      case 'x':
      case 'X':
        out += QString::number(static_cast<quint32>(integerArg(arg, fmt)), 16).toUpper();
        break;
      default:
        formatError(fmt);
    }
  }
  return out;
}
