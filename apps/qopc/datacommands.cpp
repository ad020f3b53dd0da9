// qopc read, write and watch: item values through a group of the given
// items, read once (from the server's cache or the device), written
// (synchronously or asynchronously), or watched as the server reports
// changes.
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMetaEnum>
#include <QTimer>
#include <functional>
#include <optional>

#include "connection.h"
#include "output.h"

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

// What a command says of an item the server took; `failed` counts it as a
// failure of the command.
struct Outcome {
  QString text;
  bool failed = false;
};

// The one line per item every command prints: the id, then the item's error
// or, for an item without one, what `outcome` says (nothing at all when it is
// null). True when any item failed.
bool printOutcomes(QTextStream& to, const TqOPCItemList& items, int width,
                   const std::function<Outcome(const TqOPCItem*)>& outcome) {
  bool failed = false;
  for (int i = 0; i < items.Count(); ++i) {
    const TqOPCItem* item = items.Items(i);
    Outcome o;
    if (item->LastError() != S_OK) {
      o = {itemErrorText(item), true};
    } else if (outcome) {
      o = outcome(item);
    } else {
      continue;
    }
    failed |= o.failed;
    to << item->ItemID().leftJustified(width) << "  " << o.text << "\n";
  }
  return failed;
}

// Runs the perform and print steps of a command on its open session: the
// exit code, with a fault of the component reported. `steps` returns an exit
// code of its own when it could not perform, else kOk with `failed` set.
int runSteps(Session& s, const char* command, Io io, const std::function<int(bool&)>& steps) {
  bool failed = false;
  try {
    if (int rc = steps(failed); rc != kOk) return rc;
  } catch (const Exception& e) {
    io.err << "qopc " << command << ": " << e.Message() << "\n";
    return kFailed;
  }
  s.server->SetActive(false);
  return failed ? kFailed : kOk;
}

// ---- read --------------------------------------------------------------------

struct ReadRequest {
  QStringList ids;
  bool fromDevice = false;
  Format format = Format::Text;
};

// Returned by the parse steps when the command goes on.
constexpr int kGoOn = -1;

// kGoOn with the request filled, or the exit code (help, a refusal).
int parseRead(const QStringList& args, Io io, QCommandLineParser& parser, ReadRequest& r) {
  parser.setApplicationDescription(Text::tr(
      "Connects, adds the items and reads them once from the server's cache (or the device),\n"
      "printing each item's value, quality and time stamp, or its error.\n"
      "Exits with 1 when any item failed."));
  addServerOptions(parser);
  parser.addOption({"device", Text::tr("Read from the device instead of the server's cache.")});
  addFormatOption(parser);
  parser.addPositionalArgument("itemid", Text::tr("The ids of the items."), "ITEM...");
  if (int rc = parseArguments(parser, "read", args, io); rc >= 0) return rc;
  if (!formatOf(parser, "read", io, r.format)) return kUsage;
  r.ids = parser.positionalArguments();
  r.fromDevice = parser.isSet("device");
  if (r.ids.isEmpty()) {
    io.err << "qopc read: " << Text::tr("no item ids given") << "\n";
    return kUsage;
  }
  return kGoOn;
}

// Reads the items that reached the server; raises as the component does.
int performRead(Session& s, const ReadRequest& r, Io io) {
  const TqOPCItemList list = onServer(s);
  if (list.Count() == 0) return kOk;
  if (!s.group->SyncIO()) {
    io.err << "qopc read: " << Text::tr("the server offers no synchronous reads") << "\n";
    return kFailed;
  }
  s.group->SyncRead(&list, !r.fromDevice);
  return kOk;
}

// The fields of an item's value in records (read, watch).
QVariantList valueFields(const TqOPCItem* item) {
  return {item->ValueStr(), qualityText(item->Quality()), qint64(item->Quality()),
          isoTime(item->TimeStamp())};
}

// The records of `items`: its id, the fields `outcome` gives for an item
// without an error (the last field being the error). True when any failed.
bool printRecords(QTextStream& to, Format format, const TqOPCItemList& items, QStringList fields,
                  const std::function<QVariantList(const TqOPCItem*)>& outcome) {
  bool failed = false;
  RecordWriter out(to, format, QStringList{"item"} + fields + QStringList{"error"});
  for (int i = 0; i < items.Count(); ++i) {
    const TqOPCItem* item = items.Items(i);
    QVariantList values{item->ItemID()};
    if (item->LastError() != S_OK) {
      failed = true;
      for (qsizetype f = 0; f < fields.size(); ++f) values << QVariant();
      values << item->GetLastErrorStr().trimmed();
    } else {
      values << outcome(item) << QVariant();
    }
    out.add(values);
  }
  return failed;
}

bool printRead(const Session& s, const ReadRequest& r, Io io) {
  if (r.format != Format::Text)
    return printRecords(io.out, r.format, s.items,
                        {"value", "quality", "quality_code", "timestamp"}, valueFields);
  return printOutcomes(io.out, s.items, idColumnWidth(r.ids), [](const TqOPCItem* item) {
    return Outcome{item->ValueStr() + "  " + qualityText(item->Quality()) + "  " +
                   timeText(item->TimeStamp())};
  });
}

// ---- write -------------------------------------------------------------------

struct WriteRequest {
  QStringList ids, texts;
  int timeout = 0;
  bool async = false;
  Format format = Format::Text;
};

int parseWrite(const QStringList& args, Io io, QCommandLineParser& parser, WriteRequest& r) {
  parser.setApplicationDescription(
      Text::tr("Connects, adds the items and writes the values in one call, printing each item's\n"
               "outcome. A value is converted to the item's canonical type when it reads as one.\n"
               "Exits with 1 when any item failed."));
  addServerOptions(parser);
  parser.addOption(
      {"async", Text::tr("Write asynchronously and wait for the server's completion.")});
  parser.addOption(
      {"timeout", Text::tr("How long to wait for an asynchronous completion."), "MS", "10000"});
  addFormatOption(parser);
  parser.addPositionalArgument("assignment", Text::tr("An item id and the value to write."),
                               "ITEM=VALUE...");
  if (int rc = parseArguments(parser, "write", args, io); rc >= 0) return rc;
  if (!formatOf(parser, "write", io, r.format)) return kUsage;
  for (const QString& a : parser.positionalArguments()) {
    const qsizetype eq = a.indexOf(u'=');
    if (eq <= 0) {
      io.err << "qopc write: " << Text::tr("'%1' is not ITEM=VALUE").arg(a) << "\n";
      return kUsage;
    }
    r.ids << a.left(eq);
    r.texts << a.mid(eq + 1);
  }
  bool timeoutOk = false;
  r.timeout = parser.value("timeout").toInt(&timeoutOk);
  if (r.ids.isEmpty() || !timeoutOk || r.timeout < 0) {
    io.err << "qopc write: "
           << (r.ids.isEmpty() ? Text::tr("no ITEM=VALUE given")
                               : Text::tr("the timeout must be a number of milliseconds"))
           << "\n";
    return kUsage;
  }
  r.async = parser.isSet("async");
  return kGoOn;
}

// Writes the items that reached the server; `completed` false when an
// asynchronous completion did not come in time. Raises as the component does.
int performWrite(Session& s, const WriteRequest& r, Io io, bool& completed) {
  completed = true;
  TqOPCItemList list;
  for (int i = 0; i < s.items.Count(); ++i) {
    TqOPCItem* item = s.items.Items(i);
    if (item->ServerHandle() == TqOPCItem::kNoServerHandle) continue;
    item->SetWriteValue(valueFor(item, r.texts[i]));
    list.Add(item);
  }
  if (list.Count() == 0) return kOk;
  if (!r.async) {
    if (!s.group->SyncIO()) {
      io.err << "qopc write: " << Text::tr("the server offers no synchronous writes") << "\n";
      return kFailed;
    }
    s.group->SyncWrite(&list);
    return kOk;
  }
  if (!s.group->AsyncIO2() && !s.group->AsyncIO()) {
    io.err << "qopc write: " << Text::tr("the server offers no asynchronous writes") << "\n";
    return kFailed;
  }
  s.group->AsyncWrite(&list);
  // Only a DA 2.0 server reports the completion, and only for items it
  // accepted.
  bool accepted = false;
  for (int i = 0; i < list.Count(); ++i) accepted |= list.Items(i)->LastError() == S_OK;
  completed = !s.group->AsyncIO2() || !accepted;
  if (completed) return kOk;
  QEventLoop loop;
  const auto done = [&](QObject*, TqOPCItemList*) {
    completed = true;
    loop.quit();
  };
  s.server->OnWriteComplete = done;
  s.server->OnWriteError = done;
  QTimer::singleShot(r.timeout, &loop, &QEventLoop::quit);
  loop.exec();
  return kOk;
}

bool printWrite(const Session& s, const WriteRequest& r, bool completed, Io io) {
  const bool sentOnly = r.async && !s.group->AsyncIO2();
  if (r.format != Format::Text) {
    // An item without a completion in time counts as failed, as in the text.
    bool failed = !completed && s.items.Count() > 0;
    failed |= printRecords(io.out, r.format, s.items, {"result"}, [&](const TqOPCItem*) {
      return QVariantList{!completed ? QStringLiteral("no completion")
                          : sentOnly ? QStringLiteral("sent")
                                     : QStringLiteral("written")};
    });
    return failed;
  }
  return printOutcomes(io.out, s.items, idColumnWidth(r.ids), [&](const TqOPCItem*) {
    if (!completed)
      return Outcome{QStringLiteral("no completion within %1 ms").arg(r.timeout), true};
    return Outcome{sentOnly ? QStringLiteral("sent") : QStringLiteral("written")};
  });
}

// ---- watch -------------------------------------------------------------------

struct WatchRequest {
  QStringList ids;
  int rate = 0;
  qint64 count = 0;    ///< 0: no limit
  double seconds = 0;  ///< 0: no limit
  Format format = Format::Text;
};

int parseWatch(const QStringList& args, Io io, QCommandLineParser& parser, WatchRequest& r) {
  parser.setApplicationDescription(Text::tr(
      "Connects, subscribes to the items at the update rate and prints every data change\n"
      "(time stamp, item, value, quality) until the count of changes or the time is reached,\n"
      "or for ever when neither is given."));
  addServerOptions(parser);
  parser.addOption({"rate", Text::tr("The group's requested update rate."), "MS", "1000"});
  parser.addOption({"count", Text::tr("Stop after this many item changes."), "N"});
  parser.addOption({"seconds", Text::tr("Stop after this many seconds."), "S"});
  addFormatOption(parser);
  parser.addPositionalArgument("itemid", Text::tr("The ids of the items."), "ITEM...");
  if (int rc = parseArguments(parser, "watch", args, io); rc >= 0) return rc;
  if (!formatOf(parser, "watch", io, r.format)) return kUsage;
  r.ids = parser.positionalArguments();
  bool rateOk = false, countOk = true, secondsOk = true;
  r.rate = parser.value("rate").toInt(&rateOk);
  r.count = parser.isSet("count") ? parser.value("count").toLongLong(&countOk) : 0;
  r.seconds = parser.isSet("seconds") ? parser.value("seconds").toDouble(&secondsOk) : 0;
  if (r.ids.isEmpty() || !rateOk || r.rate < 0 || !countOk || r.count < 0 || !secondsOk ||
      r.seconds < 0) {
    io.err << "qopc watch: "
           << (r.ids.isEmpty() ? Text::tr("no item ids given")
               : !rateOk || r.rate < 0
                   ? Text::tr("the update rate must be a number of milliseconds")
               : !countOk || r.count < 0 ? Text::tr("the count must be a whole number")
                                         : Text::tr("the time must be a number of seconds"))
           << "\n";
    return kUsage;
  }
  return kGoOn;
}

// Prints the changes as they come until the count or the time is reached
// or the server goes away.
void performWatch(Session& s, const WatchRequest& r, Io io) {
  const int width = idColumnWidth(r.ids);
  QEventLoop loop;
  qint64 printed = 0;
  // JSON: one object per line, each written as its change arrives.
  std::optional<RecordWriter> records;
  if (r.format != Format::Text)
    records.emplace(io.out, r.format,
                    QStringList{"item", "value", "quality", "quality_code", "timestamp"},
                    RecordWriter::Shape::Lines);
  s.server->OnDatachange = [&](QObject*, TqOPCItemList* list) {
    for (int i = 0; i < list->Count() && (r.count == 0 || printed < r.count); ++i) {
      const TqOPCItem* item = list->Items(i);
      if (!item) continue;
      if (records) {
        records->add(QVariantList{item->ItemID()} + valueFields(item));
        ++printed;
        continue;
      }
      io.out << timeText(item->TimeStamp()) << "  " << item->ItemID().leftJustified(width) << "  "
             << item->ValueStr() << "  " << qualityText(item->Quality()) << "\n";
      ++printed;
    }
    io.out.flush();
    if (r.count > 0 && printed >= r.count) loop.quit();
  };
  // The server shutting down ends the watch as well.
  s.server->OnDisconnect = [&](QObject*) { loop.quit(); };
  if (r.seconds > 0)
    QTimer::singleShot(std::chrono::milliseconds(qint64(r.seconds * 1000)), &loop,
                       &QEventLoop::quit);
  loop.exec();
  s.server->OnDatachange = nullptr;
  s.server->OnDisconnect = nullptr;
}

}  // namespace

int readCommand(const QStringList& args, Io io) {
  QCommandLineParser parser;
  ReadRequest r;
  if (int rc = parseRead(args, io, parser, r); rc != kGoOn) return rc;
  Session s;
  if (!openSession(s, parser, r.ids, 1000, true, io)) return kFailed;
  return runSteps(s, "read", io, [&](bool& failed) -> int {
    if (int rc = performRead(s, r, io); rc != kOk) return rc;
    failed = printRead(s, r, io);
    return kOk;
  });
}

int writeCommand(const QStringList& args, Io io) {
  QCommandLineParser parser;
  WriteRequest r;
  if (int rc = parseWrite(args, io, parser, r); rc != kGoOn) return rc;
  // An inactive group: no data change comes between a write and its report.
  Session s;
  if (!openSession(s, parser, r.ids, 1000, false, io)) return kFailed;
  return runSteps(s, "write", io, [&](bool& failed) -> int {
    bool completed = true;
    if (int rc = performWrite(s, r, io, completed); rc != kOk) return rc;
    failed = printWrite(s, r, completed, io);
    return kOk;
  });
}

int watchCommand(const QStringList& args, Io io) {
  QCommandLineParser parser;
  WatchRequest r;
  if (int rc = parseWatch(args, io, parser, r); rc != kGoOn) return rc;
  Session s;
  if (!openSession(s, parser, r.ids, r.rate, true, io)) return kFailed;
  // Only the items the server refused are listed before the changes.
  const bool failed = printOutcomes(io.err, s.items, idColumnWidth(r.ids), nullptr);
  if (onServer(s).Count() == 0) {
    io.err << "qopc watch: " << Text::tr("no item to watch") << "\n";
    return kFailed;
  }
  // The group's line is for people; records carry only the changes.
  QTextStream& about = r.format == Format::Text ? io.out : io.err;
  about << "Group " << s.group->Name() << ": update rate " << s.group->UpdateRate() << " ms\n";
  about.flush();
  performWatch(s, r, io);
  s.server->SetActive(false);
  return failed ? kFailed : kOk;
}

}  // namespace qopc
