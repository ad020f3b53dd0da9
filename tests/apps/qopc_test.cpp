// qopc run in-process against the built-in simulation server.
#include "core/qOPC.h"

#include <gtest/gtest.h>

#include <QCommandLineParser>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <utility>

#include "commands.h"
#include "common/leakcheck.h"
#include "common/qopcrun.h"
#include "core/translations.h"
#include "demooptions.h"
#include "simulator/simulationcontrol.h"

namespace {

using Qopc = veze6::test::LeakCheckedTest;
using QopcServers = veze6::test::LeakCheckedTest;
using QopcBrowse = veze6::test::LeakCheckedTest;
using QopcProperties = veze6::test::LeakCheckedTest;
using QopcRead = veze6::test::LeakCheckedTest;
using QopcWrite = veze6::test::LeakCheckedTest;
using QopcWatch = veze6::test::LeakCheckedTest;
using QopcFormats = veze6::test::LeakCheckedTest;
using QopcDemo = veze6::test::LeakCheckedTest;

using Result = veze6::test::QopcRun;
using veze6::test::runQopc;

TEST_F(Qopc, Status_PrintsTheSimulationServersStatus) {
  const auto r = runQopc({"status"});
  EXPECT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains("Server:       Veze6.Simulation.1 on this computer"));
  EXPECT_TRUE(r.out.contains("State:        running"));
  EXPECT_FALSE(r.out.contains("Start time:   -")) << "the simulator reports a real start time";
  EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
}

TEST_F(Qopc, Status_AnUnknownServerOrUnreachableComputerFailsWithTheReason) {
  const std::pair<QStringList, QString> cases[] = {
      {{"status", "--server", "No.Such.Server"}, "first define servername"},
      {{"status", "--computer", "plant-floor-7"}, "The RPC server is unavailable."}};
  for (const auto& [args, reason] : cases) {
    const auto r = runQopc(args);
    EXPECT_EQ(r.code, qopc::kFailed);
    EXPECT_TRUE(r.err.contains(reason)) << r.err.toStdString();
  }
}

TEST_F(Qopc, UsageErrors) {
  EXPECT_EQ(runQopc({}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"frobnicate"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"status", "--bogus"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"status", "--help"}).code, qopc::kOk);
}

// In German the messages and the help change (Qt's own "Usage:" with them,
// and the help still names the command as typed); what programs read does
// not.
TEST_F(Qopc, Translation_GermanMessagesAndHelpMachineOutputStays) {
  ASSERT_TRUE(veze6::installTranslations(QLocale(QLocale::German, QLocale::Germany)));
  EXPECT_TRUE(runQopc({"frobnicate"}).err.startsWith("qopc: unbekannter Befehl 'frobnicate'\n"));
  const QString help = runQopc({"status", "--help"}).out;
  EXPECT_TRUE(help.startsWith("Aufruf: qopc status [")) << help.toStdString();
  EXPECT_TRUE(help.contains("Verbindet mit einem Server und gibt seinen Status aus."));
  EXPECT_TRUE(runQopc({"status", "--format", "csv"}).out.startsWith("server,computer,state,"));
  veze6::removeTranslations();
  EXPECT_TRUE(runQopc({"status", "--help"}).out.startsWith("Usage: qopc status ["));
}

// ---- save and load ---------------------------------------------------------

QString tempFile(const QTemporaryDir& dir, const char* name) {
  return dir.filePath(QString::fromLatin1(name));
}

TEST_F(Qopc, Items_AddsAGroupAndPrintsEachItemsResult) {
  const auto r = runQopc({"items", "--group", "Boiler", "--rate", "150", "--path", "Primary",
                          "Static.Int4", "Writable.Real8", "Static.ArrayOfInt4"});
  EXPECT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
  const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 4) << r.out.toStdString();
  EXPECT_EQ(lines[0], "Group Boiler: update rate 200 ms") << "the server's revised rate";
  const auto matches = [](const QString& pattern, const QString& line) {
    return QRegularExpression(pattern).match(line).hasMatch();
  };
  EXPECT_TRUE(matches(R"(^Static\.Int4 +handle \d+ +vtI4 +read$)", lines[1]))
      << lines[1].toStdString();
  EXPECT_TRUE(matches(R"(^Writable\.Real8 +handle \d+ +vtR8 +read/write$)", lines[2]))
      << lines[2].toStdString();
  EXPECT_TRUE(matches(R"(^Static\.ArrayOfInt4 +handle \d+ +vtI4\[\] +read$)", lines[3]))
      << lines[3].toStdString();
}

TEST_F(Qopc, Items_FailedItemsShowTheirErrorAndExitWithOne) {
  const auto r = runQopc({"items", "Static.Int4", "No.Such.Item", "Static.String"});
  EXPECT_EQ(r.code, qopc::kFailed);
  const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 4) << r.out.toStdString();
  EXPECT_TRUE(lines[1].contains("handle")) << "the other items are added all the same";
  EXPECT_EQ(lines[2],
            "No.Such.Item   error: The item is no longer available in the server "
            "address space.");
  EXPECT_TRUE(lines[3].endsWith("vtBSTR      read")) << lines[3].toStdString();
}

TEST_F(Qopc, Items_ValidateOnlyChecksTheItems) {
  const auto r = runQopc({"items", "--validate", "Writable.Boolean", "Static..Int4"});
  EXPECT_EQ(r.code, qopc::kFailed);
  const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
  EXPECT_TRUE(QRegularExpression(R"(^Writable\.Boolean +valid +vtBOOL +read/write$)")
                  .match(lines[1])
                  .hasMatch())
      << lines[1].toStdString();
  EXPECT_EQ(lines[2],
            "Static..Int4      error: The item definition doesn't conform to the "
            "server's syntax.");
}

TEST_F(Qopc, Items_UsageAndConnectionErrors) {
  auto r = runQopc({"items"});
  EXPECT_EQ(r.code, qopc::kUsage);
  EXPECT_TRUE(r.err.contains("no item ids given")) << r.err.toStdString();
  EXPECT_EQ(runQopc({"items", "--rate", "fast", "Static.Int4"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"items", "--rate", "-5", "Static.Int4"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"items", "--group", "  ", "Static.Int4"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"items", "--help"}).code, qopc::kOk);
  r = runQopc({"items", "--server", "No.Such.Server", "Static.Int4"});
  EXPECT_EQ(r.code, qopc::kFailed);
  EXPECT_TRUE(r.err.contains("first define servername")) << r.err.toStdString();
}

TEST_F(Qopc, Save_ConnectsConfiguresAndWritesTheFile) {
  QTemporaryDir dir;
  const QString file = tempFile(dir, "plant.txt");
  const auto r = runQopc({"save", file, "--rate", "2000", "--group", "Boiler", "--rate", "500",
                          "--item", "Random.Int4", "--item", "No.Such.Item", "--group", "Pump",
                          "--item", "Static.Int4"});
  ASSERT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains("Group 'Boiler': active, update rate 500 ms, 2 items"))
      << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("Group 'Pump': active, update rate 2000 ms, 1 item"));
  EXPECT_TRUE(r.out.contains(QRegularExpression("  Random.Int4: server handle \\d+\n")));
  EXPECT_TRUE(r.out.contains(
      "  No.Such.Item: The item is no longer available in the server address space.\n"));
  EXPECT_TRUE(r.out.contains("saved to "));

  QFile saved(file);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QByteArray text = saved.readAll();
  EXPECT_TRUE(text.startsWith("object OPCServer1: TqOPCServer\r\n")) << text.constData();
  for (const char* line : {"  ServerName = 'Veze6.Simulation.1'\r\n", "      Name = 'Boiler'\r\n",
                           "      UpdateRate = 500\r\n", "          ItemID = 'No.Such.Item'\r\n",
                           "  OPCGroupDefault.UpdateRate = 2000\r\n", "  Active = True\r\n",
                           "  ClientName = 'qopc'\r\n"})
    EXPECT_TRUE(text.contains(line)) << line;
}

TEST_F(Qopc, Load_ConnectsAndShowsGroupsItemsAndResults) {
  // The saved ConnectDelay is recorded instead of waited for.
  std::vector<std::chrono::milliseconds> delays;
  struct Restore {
    TqOPCServer::SleepFunction previous;
    ~Restore() { TqOPCServer::SetSleepFunction(previous); }
  } restore{
      TqOPCServer::SetSleepFunction([&](std::chrono::milliseconds ms) { delays.push_back(ms); })};
  QTemporaryDir dir;
  const QString file = tempFile(dir, "plant.txt");
  ASSERT_EQ(runQopc({"save", file, "--group", "Boiler", "--item", "Random.Int4", "--item",
                     "No.Such.Item"})
                .code,
            qopc::kOk);
  const auto r = runQopc({"load", file});
  ASSERT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  EXPECT_TRUE(r.out.startsWith("Server: Veze6.Simulation.1 on this computer, connected\n"))
      << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("Group 'Boiler': active, update rate 1000 ms, 2 items\n"));
  EXPECT_TRUE(r.out.contains(QRegularExpression("  Random.Int4: server handle \\d+\n")));
  EXPECT_TRUE(r.out.contains(
      "  No.Such.Item: The item is no longer available in the server address space.\n"));

  // A file saved while disconnected is connected by load.
  QFile offline(tempFile(dir, "offline.txt"));
  ASSERT_TRUE(offline.open(QIODevice::WriteOnly));
  offline.write(
      "object Offline: TqOPCServer\r\n  ServerName = 'Veze6.Simulation.1'\r\n  OPCGroups = <\r\n"
      "    item\r\n      Name = 'G'\r\n      IsActive = False\r\n    end>\r\nend\r\n");
  offline.close();
  const auto o = runQopc({"load", offline.fileName()});
  ASSERT_EQ(o.code, qopc::kOk) << o.err.toStdString();
  EXPECT_TRUE(o.out.contains("connected\nGroup 'G': inactive, update rate 1000 ms, 0 items\n"))
      << o.out.toStdString();
  EXPECT_EQ(delays, (std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(300)}));
}

TEST_F(Qopc, Load_FailuresNameTheReason) {
  QTemporaryDir dir;
  auto write = [&](const char* name, const QByteArray& bytes) {
    QFile f(tempFile(dir, name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return f.fileName();
  };
  auto r = runQopc({"load", tempFile(dir, "missing.txt")});
  EXPECT_EQ(r.code, qopc::kFailed);
  EXPECT_TRUE(r.err.contains("Cannot open file")) << r.err.toStdString();
  r = runQopc({"load", write("other.txt", "object Form1: TForm1\nend\n")});
  EXPECT_EQ(r.code, qopc::kFailed);
  EXPECT_TRUE(r.err.endsWith(": wrong fileformat\n")) << r.err.toStdString();
  r = runQopc({"load", write("broken.txt", "object S: TqOPCServer\n  ServerName = 'open\nend\n")});
  EXPECT_EQ(r.code, qopc::kFailed);
  EXPECT_TRUE(r.err.endsWith(": line 2, column 16: ServerName: unterminated text\n"))
      << r.err.toStdString();
  r = runQopc(
      {"load", write("unknown.txt", "object S: TqOPCServer\n  ServerName = 'No.Such'\nend\n")});
  EXPECT_EQ(r.code, qopc::kFailed);
  EXPECT_TRUE(r.err.contains("first define servername")) << r.err.toStdString();
}

TEST_F(Qopc, SaveAndLoad_UsageErrors) {
  EXPECT_EQ(runQopc({"save"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"load"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"load", "a", "b"}).code, qopc::kUsage);
  const auto r = runQopc({"save", "x.txt", "--item", "Random.Int4"});
  EXPECT_EQ(r.code, qopc::kUsage);
  EXPECT_TRUE(r.err.contains("--item Random.Int4 needs a --group before it"));
  EXPECT_EQ(runQopc({"save", "x.txt", "--group", "g", "--rate", "fast"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"save", "--help"}).code, qopc::kOk);
  EXPECT_FALSE(QFile::exists("x.txt"));
}

}  // namespace

// ---- discovery: servers, browse, properties ---------------------------------------------

namespace {

QStringList outLines(const Result& r) { return r.out.split('\n', Qt::SkipEmptyParts); }

TEST_F(QopcServers, ListsTheSimulationServersByCategory) {
  const auto r = runQopc({"servers"});
  ASSERT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  const QStringList lines = outLines(r);
  ASSERT_FALSE(lines.isEmpty());
  EXPECT_TRUE(lines[0].startsWith("ProgID"));
  const auto line = [&](const QString& progId) {
    for (const QString& l : lines)
      if (l.startsWith(progId + " ")) return l;
    return QString();
  };
  EXPECT_TRUE(line("Veze6.Simulation.1").contains("DA1.0 DA2.0"));
  EXPECT_TRUE(line("Veze6.Simulation.1").contains("Veze6 OPC DA Simulation Server"));
  EXPECT_TRUE(line("Veze6.Simulation.DA10.1").contains("DA1.0 "));
  EXPECT_FALSE(line("Veze6.Simulation.DA10.1").contains("DA2.0"));
}

TEST_F(QopcServers, CategoriesComputersAndUsage) {
  auto r = runQopc({"servers", "--category", "da20"});
  EXPECT_EQ(r.code, qopc::kOk);
  EXPECT_TRUE(r.out.contains("Veze6.Simulation.1"));
  EXPECT_FALSE(r.out.contains("Veze6.Simulation.DA10.1"));

  r = runQopc({"servers", "--category", "ae10"});
  EXPECT_EQ(r.code, qopc::kOk);
  EXPECT_FALSE(r.out.contains("Veze6.Simulation"));

  r = runQopc({"servers", "--computer", "plant-floor-7"});
  EXPECT_EQ(r.code, qopc::kFailed);
  EXPECT_TRUE(r.err.contains("plant-floor-7: The RPC server is unavailable."))
      << r.err.toStdString();

  EXPECT_EQ(runQopc({"servers", "--category", "da30"}).code, qopc::kUsage);
}

TEST_F(QopcBrowse, WalksTheTree) {
  const auto r = runQopc({"browse"});
  ASSERT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  const QStringList lines = outLines(r);
  for (const char* branch :
       {"Random/", "Ramp/", "Sine/", "Square/", "Triangle/", "Static/", "Writable/"})
    EXPECT_TRUE(lines.contains(branch)) << branch;
  EXPECT_TRUE(lines.contains("  Nested Level/"));
  EXPECT_TRUE(lines.contains("    Int4  [Static.Nested Level.Int4]"));
  EXPECT_TRUE(lines.contains("      Real8  [Static.Nested Level.Deeper.Real8]"));
}

TEST_F(QopcBrowse, FiltersAndBranch) {
  auto r = runQopc({"browse", "--filter", "Real8", "--branch", "Static"});
  ASSERT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  QStringList lines = outLines(r);
  EXPECT_TRUE(lines.contains("Nested Level/"));
  EXPECT_TRUE(lines.contains("    Real8  [Static.Nested Level.Deeper.Real8]"));
  for (const QString& l : lines)
    EXPECT_TRUE(l.endsWith("/") || l.contains("Real8")) << l.toStdString();

  r = runQopc({"browse", "--flat", "--rights", "w"});
  ASSERT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  lines = outLines(r);
  ASSERT_FALSE(lines.isEmpty());
  for (const QString& l : lines) EXPECT_TRUE(l.startsWith("Writable.")) << l.toStdString();

  r = runQopc({"browse", "--flat", "--branch", "Static.Nested Level", "--type", "R8"});
  ASSERT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  lines = outLines(r);
  EXPECT_TRUE(lines.contains("Static.Nested Level.Deeper.Real8"));
  EXPECT_TRUE(lines.contains("Static.Nested Level.Int4")) << "an Int4 reads as R8 too";
  EXPECT_FALSE(lines.contains("Static.Nested Level.String"));
}

TEST_F(QopcBrowse, FlatServerListsItemIds) {
  veze6::sim::ScopedCreationHook flat(
      [](veze6::sim::SimulationControl& c) { c.setFlatAddressSpace(true); });
  auto r = runQopc({"browse"});
  ASSERT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  EXPECT_TRUE(outLines(r).contains("Static.Nested Level.Deeper.Real8"));
  EXPECT_FALSE(r.out.contains("/"));
  r = runQopc({"browse", "--branch", "Static"});
  EXPECT_EQ(r.code, qopc::kFailed);
  EXPECT_TRUE(r.err.contains("flat")) << r.err.toStdString();
}

TEST_F(QopcBrowse, BadInput) {
  auto r = runQopc({"browse", "--branch", "No.Such"});
  EXPECT_EQ(r.code, qopc::kFailed);
  EXPECT_TRUE(r.err.contains("no branch 'No.Such'")) << r.err.toStdString();
  r = runQopc({"browse", "--flat", "--filter", "[unclosed"});
  EXPECT_EQ(r.code, qopc::kFailed);
  EXPECT_TRUE(r.err.contains("Browser: ")) << r.err.toStdString();
  EXPECT_EQ(runQopc({"browse", "--type", "R99"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"browse", "--rights", "x"}).code, qopc::kUsage);
}

TEST_F(QopcProperties, ListsPropertiesWithValues) {
  auto r = runQopc({"properties", "Static.Nested Level.Int4"});
  ASSERT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  const QStringList lines = outLines(r);
  bool value = false;
  for (const QString& l : lines)
    if (l.contains("Item Value") && l.contains("I4") && l.endsWith(" 42")) value = true;
  EXPECT_TRUE(value) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("Item Canonical DataType"));

  r = runQopc({"properties", "No.Such.Item"});
  EXPECT_EQ(r.code, qopc::kFailed);
  EXPECT_TRUE(r.err.contains("The item is no longer available in the server address space."))
      << r.err.toStdString();

  r = runQopc({"properties", "--server", "Veze6.Simulation.DA10.1", "Static.Nested Level.Int4"});
  EXPECT_EQ(r.code, qopc::kFailed);
  EXPECT_TRUE(r.err.contains("offers no item properties")) << r.err.toStdString();

  EXPECT_EQ(runQopc({"properties"}).code, qopc::kUsage);
}

}  // namespace

// ---- values: read, write, watch ---------------------------------------------------------

namespace {

QStringList valueLines(const Result& r) { return r.out.split('\n', Qt::SkipEmptyParts); }

bool matches(const QString& pattern, const QString& line) {
  return QRegularExpression(pattern).match(line).hasMatch();
}

TEST_F(QopcRead, PrintsValueQualityAndTimeOrTheError) {
  auto r = runQopc({"read", "Static.Int4", "Static.String", "Static.ArrayOfInt4"});
  ASSERT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  QStringList lines = valueLines(r);
  ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
  const QString stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})";
  EXPECT_TRUE(matches(R"(^Static\.Int4 +123456  good  )" + stamp + "$", lines[0]))
      << lines[0].toStdString();
  EXPECT_TRUE(matches(R"(^Static\.String +Hello, OPC  good  )", lines[1]))
      << lines[1].toStdString();
  EXPECT_TRUE(lines[2].contains("0;1;4;9;16;25;36;49;64;81;")) << lines[2].toStdString();

  r = runQopc({"read", "--device", "Static.Int4", "No.Such.Item"});
  EXPECT_EQ(r.code, qopc::kFailed);
  lines = valueLines(r);
  ASSERT_EQ(lines.size(), 2) << r.out.toStdString();
  EXPECT_TRUE(lines[0].startsWith("Static.Int4   123456")) << lines[0].toStdString();
  EXPECT_TRUE(matches(R"(^No\.Such\.Item +error: )", lines[1])) << lines[1].toStdString();

  r = runQopc({"read", "--server", "Veze6.Simulation.DA10.1", "Static.Nested Level.String"});
  EXPECT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains("nested  good")) << r.out.toStdString();
  EXPECT_EQ(runQopc({"read"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"read", "--help"}).code, qopc::kOk);
}

TEST_F(QopcWrite, WritesAndReportsEachItem) {
  auto r = runQopc({"write", "Writable.Int4=42", "Writable.Boolean=True", "Static.Int4=1",
                    "Writable.Int2=not a number", "Writable.Real8=1e9223372036854775807"});
  EXPECT_EQ(r.code, qopc::kFailed);
  const QStringList lines = valueLines(r);
  ASSERT_EQ(lines.size(), 5) << r.out.toStdString();
  EXPECT_TRUE(matches(R"(^Writable\.Int4 +written$)", lines[0])) << lines[0].toStdString();
  EXPECT_TRUE(matches(R"(^Writable\.Boolean +written$)", lines[1])) << lines[1].toStdString();
  EXPECT_TRUE(matches(R"(^Static\.Int4 +error: )", lines[2])) << lines[2].toStdString();
  EXPECT_TRUE(matches(R"(^Writable\.Int2 +error: )", lines[3])) << lines[3].toStdString();
  // Too large for any real: refused, never written as 0.
  EXPECT_TRUE(matches(R"(^Writable\.Real8 +error: )", lines[4])) << lines[4].toStdString();

  EXPECT_EQ(runQopc({"write", "Writable.Real8"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"write", "=5"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"write"}).code, qopc::kUsage);
}

TEST_F(QopcWrite, AsyncWaitsForTheCompletion) {
  auto r = runQopc({"write", "--async", "Writable.Real8=2.5", "Writable.Clamped.Int4=500"});
  EXPECT_EQ(r.code, qopc::kFailed) << "clamping is reported";
  const QStringList lines = valueLines(r);
  ASSERT_EQ(lines.size(), 2) << r.out.toStdString() << r.err.toStdString();
  EXPECT_TRUE(matches(R"(^Writable\.Real8 +written$)", lines[0])) << lines[0].toStdString();
  EXPECT_TRUE(matches(R"(^Writable\.Clamped\.Int4 +error: )", lines[1])) << lines[1].toStdString();

  r = runQopc({"write", "--async", "--server", "Veze6.Simulation.DA10.1", "Writable.Int4=3"});
  EXPECT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  EXPECT_TRUE(matches(R"(^Writable\.Int4 +sent$)", valueLines(r).value(0))) << r.out.toStdString();
}

TEST_F(QopcWatch, PrintsChangesUntilTheCount) {
  const auto r = runQopc(
      {"watch", "--rate", "50", "--count", "6", "--seconds", "30", "Random.Int4", "Random.Real8"});
  ASSERT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  const QStringList lines = valueLines(r);
  ASSERT_EQ(lines.size(), 7) << r.out.toStdString();
  EXPECT_TRUE(matches(R"(^Group qopc: update rate \d+ ms$)", lines[0])) << lines[0].toStdString();
  QStringList values;
  for (int i = 1; i < lines.size(); ++i) {
    EXPECT_TRUE(matches(
        R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  Random\.(Int4 |Real8) +\S+  good$)", lines[i]))
        << lines[i].toStdString();
    if (lines[i].contains("Random.Real8")) values << lines[i].section("  ", 2, 2);
  }
  values.removeDuplicates();
  EXPECT_GE(values.size(), 2) << "the values change";
}

TEST_F(QopcWatch, DA10TimeLimitAndUsage) {
  auto r = runQopc({"watch", "--server", "Veze6.Simulation.DA10.1", "--rate", "50", "--count", "2",
                    "--seconds", "30", "Random.Int4"});
  ASSERT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  EXPECT_EQ(valueLines(r).size(), 3) << r.out.toStdString();

  // Long enough for the first report on a slow (sanitizer) build, and for
  // many scans at the rate: a static item still reports only once.
  r = runQopc({"watch", "--rate", "100", "--seconds", "2", "Static.Int4"});
  EXPECT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  EXPECT_EQ(valueLines(r).size(), 2) << "a static item reports once";

  r = runQopc({"watch", "--seconds", "5", "No.Such.Item"});
  EXPECT_EQ(r.code, qopc::kFailed);
  EXPECT_TRUE(r.err.contains("no item to watch")) << r.err.toStdString();
  EXPECT_EQ(runQopc({"watch"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"watch", "--count", "-1", "Random.Int4"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"watch", "--rate", "fast", "Random.Int4"}).code, qopc::kUsage);
}

// Machine-readable output: a value with a separator survives CSV quoting;
// JSON parses as an array, one object (status) or one object a line
// (watch); a failed item keeps its error and the exit status.
TEST_F(QopcFormats, CsvAndJsonCarryValuesErrorsAndExitStatus) {
  auto r = runQopc({"read", "--format", "csv", "Static.String", "No.Such.Item"});
  EXPECT_EQ(r.code, qopc::kFailed);
  QStringList lines = outLines(r);
  ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
  EXPECT_EQ(lines[0], "item,value,quality,quality_code,timestamp,error");
  EXPECT_TRUE(lines[1].startsWith("Static.String,\"Hello, OPC\",good,192,"))
      << lines[1].toStdString();
  EXPECT_TRUE(matches(R"(^No\.Such\.Item,,,,,\S)", lines[2])) << lines[2].toStdString();

  r = runQopc({"read", "--format", "json", "Static.String", "No.Such.Item"});
  EXPECT_EQ(r.code, qopc::kFailed);
  const QJsonArray items = QJsonDocument::fromJson(r.out.toUtf8()).array();
  ASSERT_EQ(items.size(), 2) << r.out.toStdString();
  EXPECT_EQ(items[0]["value"].toString(), "Hello, OPC");
  EXPECT_TRUE(items[0]["error"].isNull());
  EXPECT_FALSE(items[1]["error"].toString().isEmpty());

  r = runQopc({"status", "--format", "json"});
  ASSERT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  EXPECT_EQ(QJsonDocument::fromJson(r.out.toUtf8()).object()["state"].toString(), "running");

  r = runQopc({"watch", "--format", "json", "--rate", "50", "--count", "3", "--seconds", "30",
               "Random.Int4"});
  ASSERT_EQ(r.code, qopc::kOk) << r.err.toStdString();
  lines = outLines(r);
  ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
  for (const QString& line : lines)
    EXPECT_EQ(QJsonDocument::fromJson(line.toUtf8()).object()["item"].toString(), "Random.Int4")
        << line.toStdString();

  EXPECT_EQ(runQopc({"browse", "--format", "xml"}).code, qopc::kUsage);
}

}  // namespace

TEST_F(Qopc, Ua_UsageAndConnectionErrors) {
  EXPECT_EQ(runQopc({"ua-read", "opc.tcp://127.0.0.1:1"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"ua-read", "opc.tcp://127.0.0.1:1", "x=1"}).code, qopc::kUsage);
  EXPECT_EQ(runQopc({"ua-browse", "opc.tcp://127.0.0.1:1", "--security", "None:Fast"}).code,
            qopc::kUsage);
  EXPECT_EQ(runQopc({"ua-browse", "opc.tcp://127.0.0.1:1", "--user", "u", "--password-file",
                     "/nonexistent/pw"})
                .code,
            qopc::kUsage);
  const auto r = runQopc({"ua-read", "http://127.0.0.1:1", "i=2258"});
  EXPECT_EQ(r.code, qopc::kFailed);
  EXPECT_TRUE(r.err.contains("BadTcpEndpointUrlInvalid")) << r.err.toStdString();
}

TEST_F(QopcDemo, OptionsChooseTheFormAndRefuseContradictions) {
  const auto read = [](QStringList args, TDemoOptions& options, QString& error) {
    QCommandLineParser parser;
    AddDemoOptions(parser);
    args.prepend("qopc-demo");
    EXPECT_TRUE(parser.parse(args)) << parser.errorText().toStdString();
    return ReadDemoOptions(parser, options, error);
  };
  TDemoOptions o;
  QString error;
  ASSERT_TRUE(read({}, o, error));
  EXPECT_FALSE(o.itemForm) << "without options the simulation window stays";

  ASSERT_TRUE(read({"--server", "opc.tcp://127.0.0.1:4840", "--items", "ns=2;s=A, ns=2;s=B,",
                    "--items", "ns=2;i=7", "--screenshot", "ua.png"},
                   o, error));
  EXPECT_TRUE(o.itemForm);
  EXPECT_EQ(o.server, "opc.tcp://127.0.0.1:4840");
  EXPECT_EQ(o.items, QStringList({"ns=2;s=A", "ns=2;s=B", "ns=2;i=7"}));
  EXPECT_EQ(o.screenshot, "ua.png");

  ASSERT_TRUE(read({"--count", "3"}, o, error)) << "browsing the simulation server";
  EXPECT_TRUE(o.itemForm);
  EXPECT_EQ(o.count, 3);
  EXPECT_TRUE(o.server.isEmpty());

  for (const QStringList& bad :
       {QStringList{"--items", "a", "--branch", "Tree"}, QStringList{"--items", " , "},
        QStringList{"--count", "0"}, QStringList{"--branch", "Tree", "--count", "many"}}) {
    error.clear();
    EXPECT_FALSE(read(bad, o, error)) << bad.join(' ').toStdString();
    EXPECT_FALSE(error.isEmpty());
  }
}
