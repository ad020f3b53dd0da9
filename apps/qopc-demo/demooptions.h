// The demo's command line: without options the window of simulation items;
// with a server, a list of item ids or a branch, a form of those items.
#pragma once

#include <QString>
#include <QStringList>

class QCommandLineParser;

struct TDemoOptions {
  /// ProgID, class id or opc.tcp:// URL; empty: the simulation server.
  QString server;
  /// Items to show, in order; empty: the first `count` found by browsing.
  QStringList items;
  /// Where to browse for items (a dotted path or a branch's item id); empty:
  /// the root.
  QString branch;
  int count = 12;
  QString screenshot;
  /// True when a server, items, a branch or a count ask for the item form
  /// rather than the fixed window of simulation items.
  bool itemForm = false;
};

/// Declares the demo's options on parser.
void AddDemoOptions(QCommandLineParser& parser);
/// Reads the parsed options; false, with the reason in error, when they
/// contradict each other or a value makes no sense.
bool ReadDemoOptions(const QCommandLineParser& parser, TDemoOptions& options, QString& error);
