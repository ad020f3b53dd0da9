// TComponentReader: reads a component back from the textual component format
// written by ComponentToText (componentwriter.h), and from the files of the
// platform the format comes from.
//
// The reader follows the published properties (Q_PROPERTY) of the objects it
// fills, so a property added to a class later is read without touching it.
// It reads the way the platform's reader does:
// - the root is put into csLoading while its properties are assigned;
// - every property is assigned through its setter, in stream order;
// - "Owner.Property = value" fills a nested object in place;
// - a collection with items in the stream is cleared before its first item
//   and refilled through its Add, so the item constructors run; an empty
//   "<>" leaves the collection as it is;
// - properties missing from the stream keep their values;
// - the header's name becomes the root's objectName, except in the designer;
//   the class name is not checked (a derived class reads its base's files).
//
// The text is parsed twice: first without touching anything, so malformed
// text (EParserError) or text beyond the limits (EReadError) changes
// nothing; then to assign. Unknown properties and bad values raise EReadError
// with the line, column and property path; what was assigned before stays.
// Reading is bounded: the size of the text, the length of one text value,
// the nesting of collections and the number of collection items.
#pragma once

#include <QByteArray>

class QIODevice;
class TComponent;

class TComponentReader {
 public:
  struct Limits {
    qsizetype maxTextSize = 8 * 1024 * 1024;  ///< bytes of one object's text
    qsizetype maxString = 1024 * 1024;        ///< characters of one text value
    int maxDepth = 16;                        ///< collections inside collections
    qsizetype maxItems = 200000;              ///< collection items in one text
  };

  /// Takes the text from device's current position, at most
  /// limits.maxTextSize bytes. Raises EStreamError when the device is not
  /// open for reading.
  explicit TComponentReader(QIODevice& device);
  TComponentReader(QIODevice& device, const Limits& limits);
  /// Takes the text itself.
  explicit TComponentReader(const QByteArray& text);
  TComponentReader(const QByteArray& text, const Limits& limits);

  /// Parses the whole object without touching any component. Raises
  /// EParserError for malformed text, EReadError when a limit is exceeded or
  /// the text holds what cannot be read (a nested component).
  void Check();

  /// Check, then assigns the properties to root with csLoading set. Does not
  /// call Loaded. On failure csLoading is cleared again and the exception
  /// passed on: the root is never left loading. On success a device that
  /// can seek is left just after the object (its "end" and the blanks after
  /// it), so objects saved one after another are read one by one.
  void ReadProperties(TComponent& root);

  /// ReadProperties, then root.Loaded(). A failed read does not call Loaded.
  void Read(TComponent& root);

 private:
  QByteArray text_;
  Limits limits_;
  bool truncated_ = false;
  bool checked_ = false;
  qsizetype consumed_ = 0;
  QIODevice* device_ = nullptr;
  qint64 start_ = 0;
};
