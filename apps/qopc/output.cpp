#include "output.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include "core/tdatetime.h"

namespace qopc {

namespace {

// RFC 4180: a field with a separator, a quote or a line break is quoted,
// its quotes doubled.
QString csvField(const QVariant& value) {
  if (!value.isValid() || value.isNull()) return {};
  QString text =
      value.typeId() == QMetaType::Bool ? (value.toBool() ? "true" : "false") : value.toString();
  if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
      text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')))
    text = QLatin1Char('"') + text.replace(QLatin1String("\""), QLatin1String("\"\"")) +
           QLatin1Char('"');
  return text;
}

QString csvLine(const QVariantList& values) {
  QStringList fields;
  for (const QVariant& v : values) fields << csvField(v);
  return fields.join(QLatin1Char(','));
}

}  // namespace

QVariant isoTime(double time) {
  if (time == 0) return {};
  return DateTimeToQDateTime(time)
      .toOffsetFromUtc(DateTimeToQDateTime(time).offsetFromUtc())
      .toString(Qt::ISODateWithMs);
}

void addFormatOption(QCommandLineParser& parser) {
  parser.addOption({"format", Text::tr("Output: text (default), csv or json."), "FORMAT", "text"});
}

bool formatOf(const QCommandLineParser& parser, const QString& command, Io io, Format& format) {
  const QString name = parser.value("format").toLower();
  if (name == QLatin1String("text"))
    format = Format::Text;
  else if (name == QLatin1String("csv"))
    format = Format::Csv;
  else if (name == QLatin1String("json"))
    format = Format::Json;
  else {
    io.err << "qopc " << command << ": "
           << Text::tr("--format takes text, csv or json, not '%1'").arg(parser.value("format"))
           << "\n";
    return false;
  }
  return true;
}

RecordWriter::RecordWriter(QTextStream& out, Format format, QStringList fields, Shape shape)
    : out_(out), format_(format), fields_(std::move(fields)), shape_(shape) {
  if (format_ == Format::Csv) {
    QVariantList header;
    for (const QString& f : fields_) header << f;
    out_ << csvLine(header) << "\n";
    out_.flush();
  }
}

RecordWriter::~RecordWriter() {
  if (format_ != Format::Json) return;
  if (shape_ == Shape::Array) out_ << (count_ == 0 ? "[]\n" : "\n]\n");
  if (shape_ == Shape::Single && count_ == 0) out_ << "{}\n";
  out_.flush();
}

void RecordWriter::add(const QVariantList& values) {
  if (format_ == Format::Csv) {
    out_ << csvLine(values) << "\n";
  } else if (format_ == Format::Json) {
    QJsonObject object;
    for (qsizetype i = 0; i < fields_.size(); ++i)
      object.insert(fields_[i], i < values.size() ? QJsonValue::fromVariant(values[i])
                                                  : QJsonValue(QJsonValue::Null));
    const QString text = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    if (shape_ == Shape::Array) out_ << (count_ == 0 ? "[\n  " : ",\n  ");
    out_ << text;
    if (shape_ != Shape::Array) out_ << "\n";
  }
  ++count_;
  out_.flush();
}

}  // namespace qopc
