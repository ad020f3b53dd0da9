// qopc read, write and watch: item values through a group of the given
// items, read once (from the server's cache or the device), written
// (synchronously or asynchronously), or watched as the server reports
// changes.
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMetaEnum>
#include <QTimer>

#include "connection.h"

namespace qopc {

namespace {

// "good", "uncertain" or "bad", with the whole word when it says more.
QString qualityText(qint32 quality) {
  const int cls = quality & OPC_QUALITY_MASK;
  const QString name = cls == OPC_QUALITY_GOOD        ? QStringLiteral("good")
                       : cls == OPC_QUALITY_UNCERTAIN ? QStringLiteral("uncertain")
                                                      : QStringLiteral("bad");
  if (quality == cls) return name;
  return QStringLiteral("%1 (0x%2)").arg(name).arg(quality, 2, 16, QChar(u'0'));
}

QString timeText(TDateTime time) {
  if (time == 0) return QStringLiteral("-");
  return DateTimeToQDateTime(time).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

// A connected component with one group holding the items, added in one
// batch. Items the server refuses keep their error; the rest are on it.
struct Session {
  std::unique_ptr<TqOPCServer> server;
  TqOPCGroup* group = nullptr;
  TqOPCItemList items;
};

// Connects and adds the group; false (after printing why) when that fails.
bool openSession(Session& s, const QCommandLineParser& parser, const QStringList& ids, int rate,
                 bool active, Io io) {
  s.server = makeServer(parser);
  s.server->OPCGroupDefault()->UpdateRate = rate;
  s.server->OPCGroupDefault()->IsActive = active;
  if (!connectServer(*s.server, io)) return false;
  try {
    s.group = s.server->OPCGroups()->Add(QStringLiteral("qopc"));
    s.server->SetBatchMode(true);
    TqOPCItems* items = s.group->OPCItems();
    for (const QString& id : ids) s.items.Add(items->AddItem(id));
    items->OPCAddItems(s.items, true);
    s.server->SetBatchMode(false);
  } catch (const Exception& e) {
    io.err << "qopc: " << e.Message() << "\n";
    return false;
  }
  return true;
}

// The items of the session that reached the server.
TqOPCItemList onServer(const Session& s) {
  TqOPCItemList list;
  for (int i = 0; i < s.items.Count(); ++i)
    if (TqOPCItem* item = s.items.Items(i); item->ServerHandle() != TqOPCItem::kNoServerHandle)
      list.Add(item);
  return list;
}

// The text as a value of the item's canonical type (texts, and types the
// text does not convert to, stay text: the server has the last word).
OleVariant valueFor(const TqOPCItem* item, const QString& text) {
  const OleVariant given(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                             std::size_t(text.size())));
  const VARTYPE type = VARTYPE(item->CanonicalDatatype());
  if (type == VT_EMPTY || type == VT_BSTR || (type & VT_ARRAY)) return given;
  HRESULT hr = S_OK;
  OleVariant converted = given.changedTo(type, &hr, VARIANT_ALPHABOOL);
  return SUCCEEDED(hr) ? converted : given;
}

}  // namespace

int readCommand(const QStringList& args, Io io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Connects, adds the items and reads them once from the server's cache (or the device),\n"
      "printing each item's value, quality and time stamp, or its error.\n"
      "Exits with 1 when any item failed.");
  addServerOptions(parser);
  parser.addOption({"device", "Read from the device instead of the server's cache."});
  parser.addPositionalArgument("itemid", "The ids of the items.", "ITEM...");
  if (int rc = parseArguments(parser, "read", args, io); rc >= 0) return rc;
  const QStringList ids = parser.positionalArguments();
  if (ids.isEmpty()) {
    io.err << "qopc read: no item ids given\n";
    return kUsage;
  }

  Session s;
  if (!openSession(s, parser, ids, 1000, true, io)) return kFailed;
  bool failed = false;
  try {
    const TqOPCItemList list = onServer(s);
    if (list.Count() > 0 && !s.group->SyncIO()) {
      io.err << "qopc read: the server offers no synchronous reads\n";
      return kFailed;
    }
    if (list.Count() > 0) s.group->SyncRead(&list, !parser.isSet("device"));
    const int width = idColumnWidth(ids);
    for (int i = 0; i < s.items.Count(); ++i) {
      const TqOPCItem* item = s.items.Items(i);
      io.out << item->ItemID().leftJustified(width) << "  ";
      if (item->LastError() != S_OK) {
        failed = true;
        io.out << itemErrorText(item) << "\n";
        continue;
      }
      io.out << item->ValueStr() << "  " << qualityText(item->Quality()) << "  "
             << timeText(item->TimeStamp()) << "\n";
    }
  } catch (const Exception& e) {
    io.err << "qopc read: " << e.Message() << "\n";
    return kFailed;
  }
  s.server->SetActive(false);
  return failed ? kFailed : kOk;
}

int writeCommand(const QStringList& args, Io io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Connects, adds the items and writes the values in one call, printing each item's\n"
      "outcome. A value is converted to the item's canonical type when it reads as one.\n"
      "Exits with 1 when any item failed.");
  addServerOptions(parser);
  parser.addOption({"async", "Write asynchronously and wait for the server's completion."});
  parser.addOption({"timeout", "How long to wait for an asynchronous completion.", "MS", "10000"});
  parser.addPositionalArgument("assignment", "An item id and the value to write.", "ITEM=VALUE...");
  if (int rc = parseArguments(parser, "write", args, io); rc >= 0) return rc;
  QStringList ids, texts;
  for (const QString& a : parser.positionalArguments()) {
    const qsizetype eq = a.indexOf(u'=');
    if (eq <= 0) {
      io.err << "qopc write: '" << a << "' is not ITEM=VALUE\n";
      return kUsage;
    }
    ids << a.left(eq);
    texts << a.mid(eq + 1);
  }
  bool timeoutOk = false;
  const int timeout = parser.value("timeout").toInt(&timeoutOk);
  if (ids.isEmpty() || !timeoutOk || timeout < 0) {
    io.err << "qopc write: "
           << (ids.isEmpty() ? "no ITEM=VALUE given"
                             : "the timeout must be a number of milliseconds")
           << "\n";
    return kUsage;
  }
  const bool async = parser.isSet("async");

  // An inactive group: no data change comes between a write and its report.
  Session s;
  if (!openSession(s, parser, ids, 1000, false, io)) return kFailed;
  bool failed = false;
  try {
    TqOPCItemList list;
    for (int i = 0; i < s.items.Count(); ++i) {
      TqOPCItem* item = s.items.Items(i);
      if (item->ServerHandle() == TqOPCItem::kNoServerHandle) continue;
      item->SetWriteValue(valueFor(item, texts[i]));
      list.Add(item);
    }
    bool completed = true;
    if (list.Count() > 0) {
      if (!async) {
        if (!s.group->SyncIO()) {
          io.err << "qopc write: the server offers no synchronous writes\n";
          return kFailed;
        }
        s.group->SyncWrite(&list);
      } else if (!s.group->AsyncIO2() && !s.group->AsyncIO()) {
        io.err << "qopc write: the server offers no asynchronous writes\n";
        return kFailed;
      } else {
        s.group->AsyncWrite(&list);
        // Only a DA 2.0 server reports the completion, and only for items it
        // accepted.
        bool accepted = false;
        for (int i = 0; i < list.Count(); ++i) accepted |= list.Items(i)->LastError() == S_OK;
        completed = !s.group->AsyncIO2() || !accepted;
        if (!completed) {
          QEventLoop loop;
          const auto done = [&](QObject*, TqOPCItemList*) {
            completed = true;
            loop.quit();
          };
          s.server->OnWriteComplete = done;
          s.server->OnWriteError = done;
          QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
          loop.exec();
        }
      }
    }
    const int width = idColumnWidth(ids);
    for (int i = 0; i < s.items.Count(); ++i) {
      const TqOPCItem* item = s.items.Items(i);
      io.out << item->ItemID().leftJustified(width) << "  ";
      if (item->LastError() != S_OK) {
        failed = true;
        io.out << itemErrorText(item) << "\n";
      } else if (!completed) {
        failed = true;
        io.out << "no completion within " << timeout << " ms\n";
      } else {
        io.out << (async && !s.group->AsyncIO2() ? "sent" : "written") << "\n";
      }
    }
  } catch (const Exception& e) {
    io.err << "qopc write: " << e.Message() << "\n";
    return kFailed;
  }
  s.server->SetActive(false);
  return failed ? kFailed : kOk;
}

int watchCommand(const QStringList& args, Io io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Connects, subscribes to the items at the update rate and prints every data change\n"
      "(time stamp, item, value, quality) until the count of changes or the time is reached,\n"
      "or for ever when neither is given.");
  addServerOptions(parser);
  parser.addOption({"rate", "The group's requested update rate.", "MS", "1000"});
  parser.addOption({"count", "Stop after this many item changes.", "N"});
  parser.addOption({"seconds", "Stop after this many seconds.", "S"});
  parser.addPositionalArgument("itemid", "The ids of the items.", "ITEM...");
  if (int rc = parseArguments(parser, "watch", args, io); rc >= 0) return rc;
  const QStringList ids = parser.positionalArguments();
  bool rateOk = false, countOk = true, secondsOk = true;
  const int rate = parser.value("rate").toInt(&rateOk);
  const qint64 count = parser.isSet("count") ? parser.value("count").toLongLong(&countOk) : 0;
  const double seconds = parser.isSet("seconds") ? parser.value("seconds").toDouble(&secondsOk) : 0;
  if (ids.isEmpty() || !rateOk || rate < 0 || !countOk || count < 0 || !secondsOk || seconds < 0) {
    io.err << "qopc watch: "
           << (ids.isEmpty()           ? "no item ids given"
               : !rateOk || rate < 0   ? "the update rate must be a number of milliseconds"
               : !countOk || count < 0 ? "the count must be a whole number"
                                       : "the time must be a number of seconds")
           << "\n";
    return kUsage;
  }

  Session s;
  if (!openSession(s, parser, ids, rate, true, io)) return kFailed;
  bool failed = false;
  const int width = idColumnWidth(ids);
  for (int i = 0; i < s.items.Count(); ++i) {
    const TqOPCItem* item = s.items.Items(i);
    if (item->LastError() == S_OK) continue;
    failed = true;
    io.err << item->ItemID().leftJustified(width) << "  " << itemErrorText(item) << "\n";
  }
  if (onServer(s).Count() == 0) {
    io.err << "qopc watch: no item to watch\n";
    return kFailed;
  }
  io.out << "Group " << s.group->Name() << ": update rate " << s.group->UpdateRate() << " ms\n";
  io.out.flush();

  QEventLoop loop;
  qint64 printed = 0;
  s.server->OnDatachange = [&](QObject*, TqOPCItemList* list) {
    for (int i = 0; i < list->Count() && (count == 0 || printed < count); ++i) {
      const TqOPCItem* item = list->Items(i);
      if (!item) continue;
      io.out << timeText(item->TimeStamp()) << "  " << item->ItemID().leftJustified(width) << "  "
             << item->ValueStr() << "  " << qualityText(item->Quality()) << "\n";
      ++printed;
    }
    io.out.flush();
    if (count > 0 && printed >= count) loop.quit();
  };
  // The server shutting down ends the watch as well.
  s.server->OnDisconnect = [&](QObject*) { loop.quit(); };
  if (seconds > 0)
    QTimer::singleShot(std::chrono::milliseconds(qint64(seconds * 1000)), &loop, &QEventLoop::quit);
  loop.exec();
  s.server->OnDatachange = nullptr;
  s.server->OnDisconnect = nullptr;
  s.server->SetActive(false);
  return failed ? kFailed : kOk;
}

}  // namespace qopc
