// qopc ua-browse / ua-read: check an OPC UA server before configuring it.
#include <termios.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QFile>
#include <cstdio>
#include <optional>

#include "commands.h"
#include "connection.h"
#include "output.h"
#include "ua/client.h"

namespace qopc {

namespace {

using namespace veze6::ua;

void addUaOptions(QCommandLineParser& parser) {
  parser.addHelpOption();
  parser.addOption({"security",
                    Text::tr("POLICY[:MODE], e.g. Basic256Sha256:SignAndEncrypt (default None)."),
                    "POLICY:MODE", "None"});
  parser.addOption(
      {"user", Text::tr("Log on as NAME; the password is asked for, or read from --password-file."),
       "NAME"});
  parser.addOption(
      {"password-file", Text::tr("Read the password from the first line of FILE."), "FILE"});
  parser.addOption({"pki", Text::tr("The certificate folder (own/, trusted/, rejected/)."), "DIR"});
  addFormatOption(parser);
  parser.addOption(
      {"timeout", Text::tr("Milliseconds each request may take (default 10000)."), "MS", "10000"});
}

/// Reads a password from the terminal without echo; false without one.
bool promptPassword(const QString& user, std::string& password) {
  FILE* tty = std::fopen("/dev/tty", "r+");
  if (!tty) return false;
  std::fprintf(tty, "password for %s: ", user.toUtf8().constData());
  std::fflush(tty);
  termios old{};
  const bool isTerminal = ::tcgetattr(fileno(tty), &old) == 0;
  if (isTerminal) {
    termios quiet = old;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    ::tcsetattr(fileno(tty), TCSAFLUSH, &quiet);
  }
  char line[1024];
  const bool got = std::fgets(line, sizeof line, tty) != nullptr;
  if (isTerminal) ::tcsetattr(fileno(tty), TCSAFLUSH, &old);
  std::fprintf(tty, "\n");
  std::fclose(tty);
  if (!got) return false;
  password = line;
  while (!password.empty() && (password.back() == '\n' || password.back() == '\r'))
    password.pop_back();
  return true;
}

/// Builds the connection options; prints and returns false on bad options.
bool makeOptions(const QCommandLineParser& parser, const QString& url, ConnectOptions& o, Io io) {
  o.endpointUrl = url.toStdString();
  const QStringList security = parser.value("security").split(':');
  o.securityPolicy = security[0].toStdString();
  if (security.size() > 2) {
    io.err << "qopc: " << Text::tr("--security takes POLICY[:MODE]") << "\n";
    return false;
  }
  const QString mode = security.size() == 2 ? security[1] : QStringLiteral("SignAndEncrypt");
  if (mode == "Sign")
    o.securityMode = MessageSecurityMode::Sign;
  else if (mode == "SignAndEncrypt")
    o.securityMode = MessageSecurityMode::SignAndEncrypt;
  else if (mode == "None")
    o.securityMode = MessageSecurityMode::None;
  else {
    io.err << "qopc: "
           << Text::tr("unknown security mode '%1' (Sign, SignAndEncrypt or None)").arg(mode)
           << "\n";
    return false;
  }
  bool ok = false;
  const int timeout = parser.value("timeout").toInt(&ok);
  if (!ok || timeout <= 0) {
    io.err << "qopc: " << Text::tr("--timeout takes a positive number of milliseconds") << "\n";
    return false;
  }
  o.requestTimeout = std::chrono::milliseconds(timeout);
  o.certificateFolder = parser.value("pki").toStdString();
  o.applicationName = "qopc";
  if (parser.isSet("user")) {
    UserIdentity user{parser.value("user").toStdString(), {}};
    if (parser.isSet("password-file")) {
      QFile file(parser.value("password-file"));
      if (!file.open(QIODevice::ReadOnly)) {
        io.err << "qopc: "
               << Text::tr("cannot read %1: %2").arg(file.fileName(), file.errorString()) << "\n";
        return false;
      }
      QByteArray line = file.readLine();
      while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
      user.password = line.toStdString();
    } else if (!promptPassword(parser.value("user"), user.password)) {
      io.err << "qopc: " << Text::tr("no terminal to ask for the password: use --password-file")
             << "\n";
      return false;
    }
    o.user = std::move(user);
  }
  return true;
}

bool connectUa(Client& client, const ConnectOptions& o, Io io) {
  std::string error;
  const StatusCode s = client.connect(o, &error);
  if (isGood(s)) return true;
  io.err << "qopc: "
         << Text::tr("cannot connect to %1: %2")
                .arg(QString::fromStdString(o.endpointUrl), QString::fromStdString(statusName(s)));
  if (!error.empty()) io.err << ": " << QString::fromStdString(error);
  io.err << "\n";
  return false;
}

// The references below start, depth levels down: indented text, or a
// record per reference (and per failed level) when `records` is given.
void printTree(Client& client, const NodeId& start, int depth, int indent, int& failures, Io io,
               RecordWriter* records) {
  BrowseDescription what;
  what.nodeId = start;
  std::vector<BrowseResult> results;
  const StatusCode s = client.browse({what}, results);
  const StatusCode result = isBad(s) ? s : results[0].status;
  if (isBad(result)) {
    ++failures;
    if (records) {
      records->add({QString::fromStdString(start.toString()),
                    indent / 2,
                    {},
                    {},
                    {},
                    QString::fromStdString(statusName(result))});
      return;
    }
    io.out << QString(indent, ' ') << "error: " << QString::fromStdString(statusName(result))
           << "\n";
    ++failures;
    return;
  }
  for (const auto& r : results[0].references) {
    const QString name = QString::fromStdString(r.browseName.name);
    if (records)
      records->add({QString::fromStdString(start.toString()),
                    indent / 2,
                    name,
                    QString::fromStdString(r.nodeId.nodeId.toString()),
                    QString(nodeClassName(r.nodeClass)),
                    {}});
    else
      io.out << QString(indent, ' ') << name.leftJustified(std::max(1, 32 - indent)) << " "
             << QString::fromStdString(r.nodeId.nodeId.toString()).leftJustified(28) << " "
             << nodeClassName(r.nodeClass) << "\n";
    if (depth > 1 && r.nodeId.serverIndex == 0 && r.nodeId.namespaceUri.empty())
      printTree(client, r.nodeId.nodeId, depth - 1, indent + 2, failures, io, records);
  }
}

}  // namespace

int uaBrowseCommand(const QStringList& args, Io io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(Text::tr("Walks an OPC UA server's address space."));
  addUaOptions(parser);
  parser.addOption(
      {"node", Text::tr("Where to start (default i=85, the Objects folder)."), "NODEID", "i=85"});
  parser.addOption({"depth", Text::tr("How many levels to walk (default 1)."), "N", "1"});
  parser.addPositionalArgument("URL", Text::tr("opc.tcp://host:port/path"));
  if (int rc = parseArguments(parser, "ua-browse", args, io); rc >= 0) return rc;
  Format format = Format::Text;
  if (!formatOf(parser, "ua-browse", io, format)) return kUsage;
  if (parser.positionalArguments().size() != 1) {
    io.err << "qopc ua-browse: " << Text::tr("give one URL") << "\n";
    return kUsage;
  }
  const auto start = NodeId::parse(parser.value("node").toStdString());
  bool ok = false;
  const int depth = parser.value("depth").toInt(&ok);
  if (!start || !ok || depth < 1) {
    io.err << "qopc ua-browse: " << Text::tr("bad --node or --depth") << "\n";
    return kUsage;
  }
  ConnectOptions o;
  if (!makeOptions(parser, parser.positionalArguments()[0], o, io)) return kUsage;
  Client client;
  if (!connectUa(client, o, io)) return kFailed;
  int failures = 0;
  std::optional<RecordWriter> records;
  if (format != Format::Text)
    records.emplace(io.out, format,
                    QStringList{"parent", "level", "name", "node_id", "node_class", "error"});
  printTree(client, *start, depth, 0, failures, io, records ? &*records : nullptr);
  records.reset();
  client.disconnect();
  return failures ? kFailed : kOk;
}

int uaReadCommand(const QStringList& args, Io io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(Text::tr("Reads values from an OPC UA server once."));
  addUaOptions(parser);
  parser.addPositionalArgument("URL", Text::tr("opc.tcp://host:port/path"));
  parser.addPositionalArgument("NODEID", Text::tr("e.g. ns=2;s=Boiler.Temperature or i=2258"),
                               "NODEID...");
  if (int rc = parseArguments(parser, "ua-read", args, io); rc >= 0) return rc;
  Format format = Format::Text;
  if (!formatOf(parser, "ua-read", io, format)) return kUsage;
  const QStringList positional = parser.positionalArguments();
  if (positional.size() < 2) {
    io.err << "qopc ua-read: " << Text::tr("give a URL and at least one node id") << "\n";
    return kUsage;
  }
  std::vector<ReadValueId> nodes;
  QStringList ids;
  for (const QString& text : positional.mid(1)) {
    const auto id = NodeId::parse(text.toStdString());
    if (!id) {
      io.err << "qopc ua-read: " << Text::tr("not a node id: %1").arg(text) << "\n";
      return kUsage;
    }
    nodes.emplace_back(*id);
    ids << text;
  }
  ConnectOptions o;
  if (!makeOptions(parser, positional[0], o, io)) return kUsage;
  Client client;
  if (!connectUa(client, o, io)) return kFailed;
  std::vector<DataValue> values;
  if (const StatusCode s = client.read(nodes, values); isBad(s)) {
    io.err << "qopc: " << Text::tr("read failed: %1").arg(QString::fromStdString(statusName(s)))
           << "\n";
    return kFailed;
  }
  const int width = idColumnWidth(ids);
  int failures = 0;
  std::optional<RecordWriter> records;
  if (format != Format::Text)
    records.emplace(io.out, format,
                    QStringList{"node_id", "value", "type", "status", "source_timestamp", "error"});
  for (std::size_t i = 0; i < values.size(); ++i) {
    const DataValue& v = values[i];
    if (records) {
      const bool bad = isBad(v.status);
      failures += bad;
      records->add(
          {ids[int(i)], bad ? QVariant() : QVariant(QString::fromStdString(v.value.toString())),
           bad ? QVariant() : QVariant(QString(builtinTypeName(v.value.type))),
           QString::fromStdString(statusName(v.status)),
           bad ? QVariant() : QVariant(QString::fromStdString(dateTimeText(v.sourceTimestamp))),
           bad ? QVariant(QString::fromStdString(statusName(v.status))) : QVariant()});
      continue;
    }
    io.out << ids[int(i)].leftJustified(width) << "  ";
    if (isBad(v.status)) {
      io.out << "error: " << QString::fromStdString(statusName(v.status)) << "\n";
      ++failures;
      continue;
    }
    io.out << QString::fromStdString(v.value.toString()) << "  (" << builtinTypeName(v.value.type)
           << ", " << QString::fromStdString(statusName(v.status)) << ", "
           << QString::fromStdString(dateTimeText(v.sourceTimestamp)) << ")\n";
  }
  records.reset();
  client.disconnect();
  return failures ? kFailed : kOk;
}

}  // namespace qopc
