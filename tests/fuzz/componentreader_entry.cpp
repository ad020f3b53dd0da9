#include "componentreader_entry.h"

#include <QBuffer>
#include <exception>

#include "core/exceptions.h"
#include "core/tqopcserver.h"

namespace veze6fuzz {

namespace {

// A ConnectDelay from the input must not make the run wait.
class NoSleep {
 public:
  NoSleep() : previous_(TqOPCServer::SetSleepFunction([](std::chrono::milliseconds) {})) {}
  ~NoSleep() { TqOPCServer::SetSleepFunction(previous_); }
  NoSleep(const NoSleep&) = delete;
  NoSleep& operator=(const NoSleep&) = delete;

 private:
  TqOPCServer::SleepFunction previous_;
};

QString describe(const Exception& e) {
  return QStringLiteral("%1: %2").arg(QString::fromLatin1(e.ClassName()), e.Message());
}

}  // namespace

QByteArray SaveToText(TqOPCServer& server) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  server.SaveToStream(buffer);
  return buffer.data();
}

void LoadFromText(TqOPCServer& server, const QByteArray& text) {
  QBuffer buffer;
  buffer.setData(text);
  buffer.open(QIODevice::ReadOnly);
  server.LoadFromStream(buffer);
}

QString RunComponentReader(const std::uint8_t* data, std::size_t size) {
  const NoSleep noSleep;
  const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
  TqOPCServer server;
  try {
    LoadFromText(server, input);
  } catch (const EParserError& e) {
    if (!e.Message().startsWith(QStringLiteral("line ")))
      return QStringLiteral("parser error without a place: ") + describe(e);
  } catch (const EReadError& e) {
    if (!e.Message().startsWith(QStringLiteral("line ")))
      return QStringLiteral("read error without a place: ") + describe(e);
  } catch (const Exception& e) {
    // Loaded connects when the text says Active = True: the server named
    // may be unknown or unreachable.
    const QString name = QString::fromLatin1(e.ClassName());
    if (name != QLatin1String("EOPCException") && name != QLatin1String("EOleSysError"))
      return QStringLiteral("unexpected exception ") + describe(e);
  } catch (const std::exception& e) {
    return QStringLiteral("foreign exception: ") + QString::fromUtf8(e.what());
  }
  if (server.IsLoading()) return QStringLiteral("the component was left loading");
  if (server.Active()) return {};  // a real connection: nothing more to compare

  // Whatever was read saves, and the saved text reads back to itself.
  try {
    const QByteArray first = SaveToText(server);
    TqOPCServer copy;
    LoadFromText(copy, first);
    const QByteArray second = SaveToText(copy);
    if (first != second)
      return QStringLiteral("saved text changed on reloading:\n%1\n----\n%2")
          .arg(QString::fromUtf8(first), QString::fromUtf8(second));
  } catch (const Exception& e) {
    return QStringLiteral("round trip failed: ") + describe(e);
  }
  return {};
}

}  // namespace veze6fuzz
