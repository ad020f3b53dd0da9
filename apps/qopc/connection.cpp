#include "connection.h"

#include <QRegularExpression>

#include "simulator/registration.h"
#include "uabridge/uaregistration.h"

namespace qopc {

void addServerOptions(QCommandLineParser& parser) {
  parser.addHelpOption();
  parser.addOption({"server", Text::tr("A ProgID, a class id in braces or an opc.tcp:// URL."),
                    "NAME", kDefaultServer});
  parser.addOption({"computer",
                    Text::tr("The computer the server runs on: host or host:port (its qopcd; TLS "
                             "when ~/.config/veze6/remote/ca.crt exists)."),
                    "HOST"});
}

int parseArguments(QCommandLineParser& parser, const QString& command, const QStringList& args,
                   Io io) {
  if (!parser.parse(QStringList{"qopc " + command} + args)) {
    io.err << "qopc " << command << ": " << parser.errorText() << "\n";
    return kUsage;
  }
  if (parser.isSet("help")) {
    // Qt names the program as it was started; the help names it as typed,
    // in Qt's words for "Usage", translated or not.
    // (Qt's own text, translated by Qt's catalogue: not one of ours.)
    static const char* const kQtUsage = "Usage: %1";
    const QString usage = QCommandLineParser::tr(kQtUsage);
    QString text = parser.helpText();
    text.replace(
        QRegularExpression(QLatin1Char('^') +
                           QRegularExpression::escape(usage.section(QStringLiteral("%1"), 0, 0)) +
                           QStringLiteral("\\S+")),
        usage.arg(QStringLiteral("qopc ") + command));
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
    const QString computer = server.ComputerName().trimmed();
    io.err << "qopc: "
           << (computer.isEmpty()
                   ? Text::tr("cannot connect to %1: %2").arg(server.ServerName(), e.Message())
                   : Text::tr("cannot connect to %1 on %2: %3")
                         .arg(server.ServerName(), server.ComputerName(), e.Message()))
           << "\n";
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
