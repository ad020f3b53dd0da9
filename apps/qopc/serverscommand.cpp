// qopc servers: the OPC servers of this or a named computer, by category.
#include "connection.h"
#include "output.h"
#include "simulator/registration.h"
#include "uabridge/uaregistration.h"

namespace qopc {

namespace {

QString categoriesText(tqopcServerSet set) {
  QStringList names;
  if (set.testFlag(svr_DA10)) names << QStringLiteral("DA1.0");
  if (set.testFlag(svr_DA20)) names << QStringLiteral("DA2.0");
  if (set.testFlag(svr_AE10)) names << QStringLiteral("AE1.0");
  return names.join(QLatin1Char(' '));
}

// "da10,da20" and the like; false for an unknown name.
bool parseCategories(const QString& text, tqopcServerSet& set) {
  set = {};
  for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
    const QString name = part.trimmed().toLower().remove(QLatin1Char('.'));
    if (name == QLatin1String("da10"))
      set |= svr_DA10;
    else if (name == QLatin1String("da20"))
      set |= svr_DA20;
    else if (name == QLatin1String("ae10"))
      set |= svr_AE10;
    else
      return false;
  }
  return true;
}

}  // namespace

int serversCommand(const QStringList& args, Io io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(Text::tr(
      "Lists the OPC servers registered on a computer, asking its server list object for the "
      "categories DA 1.0, DA 2.0 and Alarms and Events 1.0."));
  parser.addHelpOption();
  parser.addOption({"computer",
                    Text::tr("The computer to search: host or host:port (default: this one)."),
                    "HOST"});
  parser.addOption({"category",
                    Text::tr("Only these categories: da10, da20, ae10 (comma-separated)."), "LIST",
                    "da10,da20,ae10"});
  addFormatOption(parser);
  if (int rc = parseArguments(parser, "servers", args, io); rc >= 0) return rc;
  Format format = Format::Text;
  if (!formatOf(parser, "servers", io, format)) return kUsage;

  tqopcServerSet categories;
  if (!parseCategories(parser.value("category"), categories)) {
    io.err
        << "qopc servers: "
        << Text::tr("unknown category in '%1' (use da10, da20, ae10)").arg(parser.value("category"))
        << "\n";
    return kUsage;
  }

  veze6::sim::registerSimulationServer();
  veze6::uab::registerUaBridge();
  TqopcServerBrowser browser;
  browser.SetServertype(categories);
  const QString computer = parser.value("computer").trimmed();
  try {
    browser.GetOPCServers(computer);
  } catch (const Exception& e) {
    io.err << "qopc servers: "
           << (computer.isEmpty()
                   ? Text::tr("cannot list the servers of this computer: %1").arg(e.Message())
                   : Text::tr("cannot list the servers of %1: %2").arg(computer, e.Message()))
           << "\n";
    return kFailed;
  }
  if (format != Format::Text) {
    RecordWriter out(io.out, format, {"progid", "categories", "clsid", "description"});
    for (int i = 0; i < browser.GetCount(); ++i) {
      const TqopcServerItem* s = browser.GetItems(i);
      out.add({s->ProgID, categoriesText(s->Categories), s->ClsId, s->UserType});
    }
    return kOk;
  }
  if (browser.GetCount() == 0) {
    io.out << Text::tr("no OPC servers found") << "\n";
    return kOk;
  }
  int progIdWidth = 6;
  for (int i = 0; i < browser.GetCount(); ++i)
    progIdWidth = std::max(progIdWidth, int(browser.GetItems(i)->ProgID.size()));
  io.out << QStringLiteral("ProgID").leftJustified(progIdWidth + 2)
         << QStringLiteral("Categories").leftJustified(19)
         << QStringLiteral("Class id").leftJustified(40) << "Description\n";
  for (int i = 0; i < browser.GetCount(); ++i) {
    const TqopcServerItem* s = browser.GetItems(i);
    io.out << s->ProgID.leftJustified(progIdWidth + 2)
           << categoriesText(s->Categories).leftJustified(19) << s->ClsId.leftJustified(40)
           << s->UserType << "\n";
  }
  return kOk;
}

}  // namespace qopc
