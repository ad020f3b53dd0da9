// qopc save and qopc load: a server component's configuration written to a
// file and read back (TqOPCServer::SaveToFile, LoadFromFile).
#include <QDir>
#include <QHash>
#include <optional>
#include <vector>

#include "connection.h"
#include "output.h"
#include "simulator/registration.h"
#include "uabridge/uaregistration.h"

namespace qopc {

namespace {

// What `--group NAME [--rate MS] [--item ID]...` asks for, in order.
struct GroupPlan {
  QString name;
  std::optional<qint32> rate;
  QStringList items;
};

struct SavePlan {
  std::optional<qint32> defaultRate;  // a --rate before any --group
  std::vector<GroupPlan> groups;
};

// The options come back per name from the parser; their order on the
// command line says which group a --rate or --item belongs to.
std::optional<SavePlan> makePlan(const QCommandLineParser& parser, Io io) {
  SavePlan plan;
  QHash<QString, int> used;
  for (const QString& option : parser.optionNames()) {
    if (option != "group" && option != "rate" && option != "item") continue;
    const QString value = parser.values(option).value(used[option]++);
    if (option == "group") {
      plan.groups.push_back({value, std::nullopt, {}});
      continue;
    }
    if (option == "rate") {
      bool ok = false;
      const qint32 rate = value.toInt(&ok);
      if (!ok || rate < 0) {
        io.err << "qopc save: " << Text::tr("--rate needs milliseconds, not '%1'").arg(value)
               << "\n";
        return std::nullopt;
      }
      (plan.groups.empty() ? plan.defaultRate : plan.groups.back().rate) = rate;
      continue;
    }
    if (plan.groups.empty()) {
      io.err << "qopc save: " << Text::tr("--item %1 needs a --group before it").arg(value) << "\n";
      return std::nullopt;
    }
    plan.groups.back().items.append(value);
  }
  return plan;
}

/// The file argument; prints the usage error and returns empty when missing.
QString fileArgument(const QCommandLineParser& parser, const char* command, Io io) {
  const QStringList files = parser.positionalArguments();
  if (files.size() == 1) return files.first();
  io.err << "qopc " << command << ": " << Text::tr("give exactly one FILE") << "\n";
  return {};
}

QString itemResult(const TqOPCItem& item) {
  if (item.ServerHandle() != TqOPCItem::kNoServerHandle)
    return QStringLiteral("server handle %1").arg(item.ServerHandle());
  if (item.LastError() != S_OK) return item.GetLastErrorStr().trimmed();
  return QStringLiteral("not on the server");
}

/// The component, its groups and its items with what the server said.
void printConfiguration(TqOPCServer& server, QTextStream& out, Format format) {
  if (format != Format::Text) {
    // A record per item (a group without items gives one without an item).
    RecordWriter records(out, format,
                         {"server", "connected", "group", "group_active", "update_rate", "item",
                          "item_active", "server_handle", "error"});
    TqOPCGroups* groups = server.OPCGroups();
    for (int g = 0; g < groups->Count(); ++g) {
      TqOPCGroup* group = groups->Items(g);
      const QVariantList head{server.ServerName(), server.Active(), group->Name(),
                              group->IsActive(), qint64(group->UpdateRate())};
      TqOPCItems* items = group->OPCItems();
      if (items->Count() == 0) records.add(head + QVariantList{{}, {}, {}, {}});
      for (int i = 0; i < items->Count(); ++i) {
        const TqOPCItem* item = items->Items(i);
        const bool onServer = item->ServerHandle() != TqOPCItem::kNoServerHandle;
        records.add(head +
                    QVariantList{item->ItemID(), item->IsActive(),
                                 onServer ? QVariant(qint64(item->ServerHandle())) : QVariant(),
                                 item->LastError() != S_OK
                                     ? QVariant(item->GetLastErrorStr().trimmed())
                                     : QVariant()});
      }
    }
    return;
  }
  const QString computer = server.ComputerName().trimmed();
  out << "Server: " << server.ServerName() << " on "
      << (computer.isEmpty() ? QStringLiteral("this computer") : computer)
      << (server.Active() ? ", connected" : ", not connected") << "\n";
  TqOPCGroups* groups = server.OPCGroups();
  if (groups->Count() == 0) out << "no groups\n";
  for (int g = 0; g < groups->Count(); ++g) {
    TqOPCGroup* group = groups->Items(g);
    out << "Group '" << group->Name() << "': " << (group->IsActive() ? "active" : "inactive")
        << ", update rate " << group->UpdateRate() << " ms, " << group->OPCItems()->Count()
        << (group->OPCItems()->Count() == 1 ? " item\n" : " items\n");
    TqOPCItems* items = group->OPCItems();
    for (int i = 0; i < items->Count(); ++i) {
      const TqOPCItem* item = items->Items(i);
      out << "  " << item->ItemID() << (item->IsActive() ? "" : " (inactive)") << ": "
          << itemResult(*item) << "\n";
    }
  }
}

}  // namespace

int saveCommand(const QStringList& args, Io io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(Text::tr(
      "Connects, configures groups and items from the command line and saves the configuration.\n"
      "--rate and --item belong to the --group before them; a --rate before any group sets the\n"
      "default rate of new groups."));
  addServerOptions(parser);
  parser.addOptions({{"group", Text::tr("Adds a group."), "NAME"},
                     {"rate", Text::tr("The update rate of the group (milliseconds)."), "MS"},
                     {"item", Text::tr("Adds an item to the group."), "ID"}});
  addFormatOption(parser);
  parser.addPositionalArgument("file", Text::tr("The file to write (replaced whole)."), "FILE");
  if (int rc = parseArguments(parser, "save", args, io); rc >= 0) return rc;
  Format format = Format::Text;
  if (!formatOf(parser, "save", io, format)) return kUsage;
  const QString file = fileArgument(parser, "save", io);
  if (file.isEmpty()) return kUsage;
  const std::optional<SavePlan> plan = makePlan(parser, io);
  if (!plan) return kUsage;

  auto server = makeServer(parser);
  server->SetName(QStringLiteral("OPCServer1"));  // the name the file's header gives
  if (plan->defaultRate) server->OPCGroupDefault()->UpdateRate = *plan->defaultRate;
  if (!connectServer(*server, io)) return kFailed;
  // Items the server rejects are reported with their results below.
  const ScopedCaptureApplication quiet;
  try {
    for (const GroupPlan& g : plan->groups) {
      TqOPCGroup* group = server->OPCGroups()->Add(g.name);
      if (g.rate) group->SetUpdateRate(*g.rate);
      for (const QString& id : g.items) {
        try {
          group->OPCItems()->AddItem(id);
        } catch (const EOPCException&) {
          // the item stays in the group with its error, and is saved
        }
      }
    }
    printConfiguration(*server, io.out, format);
    server->SaveToFile(file);
  } catch (const Exception& e) {
    io.err << "qopc save: " << e.Message() << "\n";
    return kFailed;
  }
  (format == Format::Text ? io.out : io.err)
      << Text::tr("saved to %1").arg(QDir::toNativeSeparators(file)) << "\n";
  return kOk;
}

int loadCommand(const QStringList& args, Io io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(Text::tr(
      "Loads a saved configuration, connects, and shows the groups and items with their results."));
  parser.addHelpOption();
  addFormatOption(parser);
  parser.addPositionalArgument("file", Text::tr("A file written by 'qopc save' or SaveToFile."),
                               "FILE");
  if (int rc = parseArguments(parser, "load", args, io); rc >= 0) return rc;
  Format format = Format::Text;
  if (!formatOf(parser, "load", io, format)) return kUsage;
  const QString file = fileArgument(parser, "load", io);
  if (file.isEmpty()) return kUsage;

  veze6::sim::registerSimulationServer();
  veze6::uab::registerUaBridge();
  TqOPCServer server;
  // Items the server rejects are reported with their results below.
  const ScopedCaptureApplication quiet;
  try {
    server.LoadFromFile(file);  // connects when the file says Active = True
  } catch (const Exception& e) {
    io.err << "qopc load: " << QDir::toNativeSeparators(file) << ": " << e.Message() << "\n";
    return kFailed;
  }
  if (!server.Active() && !connectServer(server, io)) return kFailed;
  printConfiguration(server, io.out, format);
  return kOk;
}

}  // namespace qopc
