#include "commands.h"

#include <QHash>

#include "connection.h"

namespace qopc {

namespace {

using Command = int (*)(const QStringList&, Io);

struct CommandInfo {
  const char* name;
  Command run;
  const char* summary;
};

const CommandInfo kCommands[] = {
    {"status", statusCommand,
     QT_TRANSLATE_NOOP("qopc", "connect, print the server's status, disconnect")},
    {"items", itemsCommand,
     QT_TRANSLATE_NOOP("qopc", "add a group with items (or validate them), print each result")},
    {"save", saveCommand,
     QT_TRANSLATE_NOOP("qopc",
                       "connect, add groups and items from the command line, save to FILE")},
    {"load", loadCommand,
     QT_TRANSLATE_NOOP("qopc", "load FILE, connect, show the groups and items with their results")},
    {"servers", serversCommand,
     QT_TRANSLATE_NOOP("qopc", "list the OPC servers of a computer by category")},
    {"browse", browseCommand,
     QT_TRANSLATE_NOOP("qopc", "walk a server's address space (or list it flat)")},
    {"properties", propertiesCommand,
     QT_TRANSLATE_NOOP("qopc", "list an item's properties and their values")},
    {"read", readCommand,
     QT_TRANSLATE_NOOP("qopc", "read items once from the server's cache or the device")},
    {"write", writeCommand,
     QT_TRANSLATE_NOOP("qopc", "write values to items, synchronously or asynchronously")},
    {"watch", watchCommand,
     QT_TRANSLATE_NOOP("qopc", "subscribe to items and print each data change")},
    {"ua-browse", uaBrowseCommand,
     QT_TRANSLATE_NOOP("qopc", "walk an OPC UA server's address space (URL)")},
    {"ua-read", uaReadCommand, QT_TRANSLATE_NOOP("qopc", "read OPC UA nodes once (URL NODEID...)")},
};

void printUsage(QTextStream& s) {
  s << Text::tr("usage: qopc <command> [options]") << "\n\n" << Text::tr("commands:") << "\n";
  for (const auto& c : kCommands)
    s << "  " << QString(c.name).leftJustified(12) << Text::tr(c.summary) << "\n";
  s << "\n"
    << Text::tr("common options:") << "\n"
    << "  --server NAME      "
    << Text::tr("a ProgID, a class id in braces or an opc.tcp:// URL (default: %1)")
           .arg(QString(kDefaultServer))
    << "\n"
    << "  --computer HOST    "
    << Text::tr(
           "the computer the server runs on, host or host:port, reached\n"
           "                     through its qopcd (default: this one)")
    << "\n"
    << "  --format FORMAT    "
    << Text::tr("text (default), csv or json (watch: one JSON object a line)") << "\n"
    << Text::tr("run 'qopc <command> --help' for a command's own options.") << "\n\n"
    << Text::tr("exit status:") << "\n"
    << "  0  " << Text::tr("success") << "\n"
    << "  1  " << Text::tr("failure: no connection, a failed server call, or a failed item") << "\n"
    << "  2  " << Text::tr("usage error: unknown command or option, missing or malformed argument")
    << "\n";
}

}  // namespace

int run(const QStringList& args, Io io) {
  if (args.isEmpty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    printUsage(args.isEmpty() ? io.err : io.out);
    return args.isEmpty() ? kUsage : kOk;
  }
  for (const auto& c : kCommands)
    if (args[0] == QLatin1String(c.name)) return c.run(args.mid(1), io);
  io.err << "qopc: " << Text::tr("unknown command '%1'").arg(args[0]) << "\n";
  printUsage(io.err);
  return kUsage;
}

}  // namespace qopc
