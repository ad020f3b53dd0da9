#include "connection.h"

#include <QRegularExpression>

#include "simulator/registration.h"
#include "uabridge/uaregistration.h"

namespace qopc {

void addServerOptions(QCommandLineParser& parser) {
  parser.addHelpOption();
  parser.addOption(
      {"server", "A ProgID, a class id in braces or an opc.tcp:// URL.", "NAME", kDefaultServer});
  parser.addOption({"computer",
                    "The computer the server runs on: host or host:port (its qopcd; TLS when "
                    "~/.config/veze6/remote/ca.crt exists).",
                    "HOST"});
}

int parseArguments(QCommandLineParser& parser, const QString& command, const QStringList& args,
                   Io io) {
  if (!parser.parse(QStringList{"qopc " + command} + args)) {
    io.err << "qopc " << command << ": " << parser.errorText() << "\n";
    return kUsage;
  }
  if (parser.isSet("help")) {
    // Qt names the program as it was started; the help names it as typed.
    QString text = parser.helpText();
    text.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                 QStringLiteral("Usage: qopc ") + command);
    io.out << text;
    return kOk;
  }
  return -1;
}

std::unique_ptr<TqOPCServer> makeServer(const QCommandLineParser& parser) {
  veze6::sim::registerSimulationServer();
  veze6::uab::registerUaBridge();
  auto server = std::make_unique<TqOPCServer>();
  server->SetServer(parser.value("server"));
  server->SetComputername(parser.value("computer"));
  server->SetClientName(QStringLiteral("qopc"));
  return server;
}

bool connectServer(TqOPCServer& server, Io io) {
  try {
    server.SetActive(true);
  } catch (const Exception& e) {
    io.err << "qopc: cannot connect to " << server.ServerName();
    if (!server.ComputerName().trimmed().isEmpty()) io.err << " on " << server.ComputerName();
    io.err << ": " << e.Message() << "\n";
    return false;
  }
  return server.Active();
}

int idColumnWidth(const QStringList& ids) {
  int width = 0;
  for (const QString& id : ids) width = std::max(width, int(std::min<qsizetype>(id.size(), 40)));
  return width;
}

QString itemErrorText(const TqOPCItem* item) {
  return QStringLiteral("error: ") + item->GetLastErrorStr().replace("\r\n", " ");
}

}  // namespace qopc
