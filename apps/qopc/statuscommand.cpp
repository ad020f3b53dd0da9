// qopc status: connect, print the server's status block, disconnect.
#include "connection.h"

namespace qopc {

namespace {

QString timeText(TDateTime t) {
  return t == 0 ? QStringLiteral("-")
                : DateTimeToQDateTime(t).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

}  // namespace

int statusCommand(const QStringList& args, Io io) {
  QCommandLineParser parser;
  parser.setApplicationDescription("Connects to a server and prints its status.");
  addServerOptions(parser);
  if (int rc = parseArguments(parser, "status", args, io); rc >= 0) return rc;

  auto server = makeServer(parser);
  if (!connectServer(*server, io)) return kFailed;
  try {
    const tServerStateRec s = server->GetState();
    const QString computer = server->ComputerName().trimmed();
    io.out << "Server:       " << server->ServerName() << " on "
           << (computer.isEmpty() ? QStringLiteral("this computer") : computer) << "\n"
           << "State:        " << ServerStateToStr(s.ServerState) << "\n"
           << "Start time:   " << timeText(s.StartTime) << "\n"
           << "Current time: " << timeText(s.CurrentTime) << "\n"
           << "Last update:  " << timeText(s.LastUpdateTime) << "\n"
           << "Groups:       " << s.GroupCount << "\n"
           << "Band width:   " << s.BandWidth << "\n"
           << "Version:      " << s.MajorVersion << "." << s.MinorVersion << "."
           << s.BuildNumber << "\n"
           << "Vendor:       " << s.VendorInfo << "\n";
  } catch (const Exception& e) {
    io.err << "qopc: cannot read the status of " << server->ServerName() << ": " << e.Message()
           << "\n";
    return kFailed;
  }
  server->SetActive(false);
  return kOk;
}

}  // namespace qopc
