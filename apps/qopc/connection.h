// What every qopc command shares: the server options and the connection.
#pragma once

#include <QCommandLineParser>
#include <QString>
#include <memory>

#include "commands.h"
#include "core/qOPC.h"

namespace qopc {

inline constexpr const char* kDefaultServer = "Veze6.Simulation.1";

/// Adds --server and --computer (and --help) to a command's parser.
void addServerOptions(QCommandLineParser& parser);

/// Parses a command's arguments; on failure or --help prints and returns the
/// exit status to leave with, otherwise -1.
int parseArguments(QCommandLineParser& parser, const QString& command, const QStringList& args,
                   Io io);

/// A server component configured from --server/--computer. Registers the
/// built-in simulation server first, so the default always resolves.
std::unique_ptr<TqOPCServer> makeServer(const QCommandLineParser& parser);

/// Connects; on failure prints "qopc: ..." with the reason and returns false.
bool connectServer(TqOPCServer& server, Io io);

/// The width of the item id column: the longest id, at most 40 characters.
int idColumnWidth(const QStringList& ids);

/// "error: " and the item's last error text on one line.
QString itemErrorText(const TqOPCItem* item);

}  // namespace qopc
