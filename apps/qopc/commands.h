// The sub-commands of qopc. Each one takes its arguments (after the command
// name), writes to the given streams and returns the process exit status, so
// tests run them in-process.
#pragma once

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

namespace qopc {

/// The tool's texts for people (help, usage, messages on stderr), translated
/// when the application has loaded a translation. What programs read stays
/// as it is: CSV and JSON output, field names, exit statuses, and the text
/// reports on standard output, whose columns scripts may cut.
struct Text {
  Q_DECLARE_TR_FUNCTIONS(qopc)
};

/// Exit statuses.
enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2 };

struct Io {
  QTextStream& out;
  QTextStream& err;
};

/// Runs `qopc <args>`: args[0] is the command name.
int run(const QStringList& args, Io io);

int statusCommand(const QStringList& args, Io io);
int itemsCommand(const QStringList& args, Io io);
int saveCommand(const QStringList& args, Io io);
int loadCommand(const QStringList& args, Io io);
int serversCommand(const QStringList& args, Io io);
int browseCommand(const QStringList& args, Io io);
int propertiesCommand(const QStringList& args, Io io);
int readCommand(const QStringList& args, Io io);
int writeCommand(const QStringList& args, Io io);
/// Runs the thread's event loop until the count or the time is reached.
int watchCommand(const QStringList& args, Io io);
/// OPC UA: walks a server's address space / reads node values.
int uaBrowseCommand(const QStringList& args, Io io);
int uaReadCommand(const QStringList& args, Io io);

}  // namespace qopc
