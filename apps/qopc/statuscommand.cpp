// qopc status: connect, print the server's status block, disconnect.
#include "connection.h"
#include "output.h"

namespace qopc {

namespace {

QString timeText(TDateTime t) {
  return t == 0 ? QStringLiteral("-")
                : DateTimeToQDateTime(t).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

}  // namespace

int statusCommand(const QStringList& args, Io io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(Text::tr("Connects to a server and prints its status."));
  addServerOptions(parser);
  addFormatOption(parser);
  if (int rc = parseArguments(parser, "status", args, io); rc >= 0) return rc;
  Format format = Format::Text;
  if (!formatOf(parser, "status", io, format)) return kUsage;

  auto server = makeServer(parser);
  if (!connectServer(*server, io)) return kFailed;
  try {
    const tServerStateRec s = server->GetState();
    const QString computer = server->ComputerName().trimmed();
    if (format != Format::Text) {
      RecordWriter(io.out, format,
                   {"server", "computer", "state", "start_time", "current_time", "last_update",
                    "groups", "bandwidth", "version", "vendor"},
                   RecordWriter::Shape::Single)
          .add({server->ServerName(), computer, ServerStateToStr(s.ServerState),
                isoTime(s.StartTime), isoTime(s.CurrentTime), isoTime(s.LastUpdateTime),
                qint64(s.GroupCount), qint64(s.BandWidth),
                QStringLiteral("%1.%2.%3")
                    .arg(s.MajorVersion)
                    .arg(s.MinorVersion)
                    .arg(s.BuildNumber),
                s.VendorInfo});
      server->SetActive(false);
      return kOk;
    }
    io.out << "Server:       " << server->ServerName() << " on "
           << (computer.isEmpty() ? QStringLiteral("this computer") : computer) << "\n"
           << "State:        " << ServerStateToStr(s.ServerState) << "\n"
           << "Start time:   " << timeText(s.StartTime) << "\n"
           << "Current time: " << timeText(s.CurrentTime) << "\n"
           << "Last update:  " << timeText(s.LastUpdateTime) << "\n"
           << "Groups:       " << s.GroupCount << "\n"
           << "Band width:   " << s.BandWidth << "\n"
           << "Version:      " << s.MajorVersion << "." << s.MinorVersion << "." << s.BuildNumber
           << "\n"
           << "Vendor:       " << s.VendorInfo << "\n";
  } catch (const Exception& e) {
    io.err << "qopc: "
           << Text::tr("cannot read the status of %1: %2").arg(server->ServerName(), e.Message())
           << "\n";
    return kFailed;
  }
  server->SetActive(false);
  return kOk;
}

}  // namespace qopc
