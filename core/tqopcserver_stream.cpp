// TqOPCServer's configuration stream: the component saved as text in the
// textual component format and read back (componentwriter.h,
// componentreader.h).
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include "componentreader.h"
#include "componentwriter.h"
#include "exceptions.h"
#include "qopcstrings.h"
#include "tqopcserver.h"

namespace {

// LoadFromFile accepts a file only when its first bytes name the class.
constexpr qint64 kSignatureSize = 299;

bool hasSignature(QByteArray head) {
  if (const qsizetype zero = head.indexOf('\0'); zero >= 0) head.truncate(zero);
  return head.toLower().contains("tqopcserver");
}

QString fileError(const char* what, const QString& fileName, const QString& reason) {
  return QStringLiteral("Cannot %1 file \"%2\". %3")
      .arg(QLatin1String(what), QDir::toNativeSeparators(fileName), reason);
}

}  // namespace

void TqOPCServer::SaveToStream(QIODevice& stream) {
  const QByteArray text = ComponentToText(*this);
  if (!stream.isOpen() || !stream.isWritable())
    throw EStreamError(QStringLiteral("the stream is not open for writing"));
  if (stream.write(text) != text.size())
    throw EStreamError(QStringLiteral("Stream write error. %1").arg(stream.errorString()));
}

void TqOPCServer::SaveToFile(const QString& fileName) {
  // The text first: a value that cannot be saved touches no file.
  const QByteArray text = ComponentToText(*this);
  // The new text goes to a temporary file beside the old one, which is
  // replaced only when everything was written.
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly))
    throw EFCreateError(fileError("create", fileName, file.errorString()));
  if (file.write(text) != text.size()) {
    const QString reason = file.errorString();
    file.cancelWriting();
    throw EFCreateError(fileError("create", fileName, reason));
  }
  if (!file.commit()) throw EFCreateError(fileError("create", fileName, file.errorString()));
}

void TqOPCServer::LoadFromStream(QIODevice& stream) {
  TComponentReader reader(stream);
  // Malformed text changes nothing, not even the connection.
  reader.Check();
  // Active must never read False while the server is still held.
  SetActive(false);
  try {
    reader.ReadProperties(*this);
  } catch (...) {
    // What was read stays. An Active read as True was only stored; a
    // configuration read halfway is not connected.
    active_ = false;
    if (IsDesigning()) batchMode_ = false;
    throw;
  }
  Loaded();
}

void TqOPCServer::LoadFromFile(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly))
    throw EFOpenError(fileError("open", fileName, file.errorString()));
  if (!hasSignature(file.read(kSignatureSize))) throw Exception(_STR_WRONGFILE());
  file.seek(0);
  LoadFromStream(file);
}
