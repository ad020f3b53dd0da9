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
    {"status", statusCommand, "connect, print the server's status, disconnect"},
    {"items", itemsCommand, "add a group with items (or validate them), print each result"},
    {"save", saveCommand, "connect, add groups and items from the command line, save to FILE"},
    {"load", loadCommand, "load FILE, connect, show the groups and items with their results"},
    {"servers", serversCommand, "list the OPC servers of a computer by category"},
    {"browse", browseCommand, "walk a server's address space (or list it flat)"},
    {"properties", propertiesCommand, "list an item's properties and their values"},
    {"read", readCommand, "read items once from the server's cache or the device"},
    {"write", writeCommand, "write values to items, synchronously or asynchronously"},
    {"watch", watchCommand, "subscribe to items and print each data change"},
    {"ua-browse", uaBrowseCommand, "walk an OPC UA server's address space (URL)"},
    {"ua-read", uaReadCommand, "read OPC UA nodes once (URL NODEID...)"},
};

void printUsage(QTextStream& s) {
  s << "usage: qopc <command> [options]\n\ncommands:\n";
  for (const auto& c : kCommands)
    s << "  " << QString(c.name).leftJustified(12) << c.summary << "\n";
  s << "\ncommon options:\n"
    << "  --server NAME      a ProgID, a class id in braces or an opc.tcp:// URL (default: "
    << QString(kDefaultServer) << ")\n"
    << "  --computer HOST    the computer the server runs on, host or host:port, reached\n"
       "                     through its qopcd (default: this one)\n"
    << "  --format FORMAT    text (default), csv or json (watch: one JSON object a line)\n"
    << "run 'qopc <command> --help' for a command's own options.\n"
    << "\nexit status:\n"
    << "  0  success\n"
    << "  1  failure: no connection, a failed server call, or a failed item\n"
    << "  2  usage error: unknown command or option, missing or malformed argument\n";
}

}  // namespace

int run(const QStringList& args, Io io) {
  if (args.isEmpty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    printUsage(args.isEmpty() ? io.err : io.out);
    return args.isEmpty() ? kUsage : kOk;
  }
  for (const auto& c : kCommands)
    if (args[0] == QLatin1String(c.name)) return c.run(args.mid(1), io);
  io.err << "qopc: unknown command '" << args[0] << "'\n";
  printUsage(io.err);
  return kUsage;
}

}  // namespace qopc
