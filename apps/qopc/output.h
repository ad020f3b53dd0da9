// Output formats of the commands that print data: the text meant for
// people (each command's own layout), CSV (a header line, then a line per
// record) and JSON (an array of objects; one object per line for a stream
// such as watch; a lone object for a command that prints one record).
#pragma once

#include <QCommandLineParser>
#include <QStringList>
#include <QTextStream>
#include <QVariant>

#include "commands.h"

namespace qopc {

enum class Format { Text, Csv, Json };

/// Adds --format text|csv|json to a command's parser.
void addFormatOption(QCommandLineParser& parser);
/// The chosen format; false after printing the usage error for an unknown one.
bool formatOf(const QCommandLineParser& parser, const QString& command, Io io, Format& format);

/// A time stamp as ISO 8601 text with milliseconds and the UTC offset; null
/// for no time.
QVariant isoTime(double time);

/// Writes records with fixed fields as CSV or JSON. Values are strings,
/// numbers, booleans or null (an invalid QVariant: an empty CSV field).
class RecordWriter {
 public:
  enum class Shape { Array, Lines, Single };
  /// Writes the CSV header at once.
  RecordWriter(QTextStream& out, Format format, QStringList fields, Shape shape = Shape::Array);
  /// Closes the JSON array (an empty one when nothing was added).
  ~RecordWriter();
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  /// One record, its values in the order of the fields; flushed at once.
  void add(const QVariantList& values);

 private:
  QTextStream& out_;
  Format format_;
  QStringList fields_;
  Shape shape_;
  int count_ = 0;
};

}  // namespace qopc
