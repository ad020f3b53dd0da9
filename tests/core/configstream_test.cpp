// The server component's configuration stream: the saved text byte for
// byte, what is stored, loading rules, the file signature, atomic saving,
// and loading into a connected component against the simulation server.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>

#include "common/simcomponent.h"
#include "componentreader_entry.h"
#include "simulator/registration.h"
#include "simulator/simulationcontrol.h"
#include "test_utils.h"

using namespace core_test;
namespace sim = veze6::sim;

namespace {

/// thrownMessage as std::string, so that failures print readably.
template <class F>
std::string failure(F&& f, QString* className = nullptr) {
  return thrownMessage(std::forward<F>(f), className).toStdString();
}

/// "\n" line ends become CR LF, as the writer ends lines.
QByteArray crlf(const char* text) { return QByteArray(text).replace("\n", "\r\n"); }

using veze6fuzz::LoadFromText;
using veze6fuzz::SaveToText;

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

QByteArray readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class ConfigStreamTest : public LeakCheckedTest {
 protected:
  TqOPCServer server;
  QTemporaryDir dir;

  QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
};

TEST_F(ConfigStreamTest, NewComponentSavesTheKnownText) {
  server.SetName("OPCServer1");
  EXPECT_EQ(SaveToText(server), crlf("object OPCServer1: TqOPCServer\n"
                                     "  BatchMode = False\n"
                                     "  OPCGroups = <>\n"
                                     "  OPCGroupDefault.IsActive = True\n"
                                     "  OPCGroupDefault.UpdateRate = 1000\n"
                                     "  OPCGroupDefault.LocaleId = 0\n"
                                     "  OPCGroupDefault.TimeBias = 0\n"
                                     "  Active = False\n"
                                     "  Version = '1.40'\n"
                                     "  ConnectDelay = 300\n"
                                     "end\n"));
}

TEST_F(ConfigStreamTest, StoredRules) {
  server.SetName("OPCServer1");
  server.SetServer("Veze6.Simulation.1");
  server.SetClientName("");  // empty texts are left out
  TqOPCGroup* boiler = server.OPCGroups()->Add("Boiler");
  boiler->SetIsActive(false);
  boiler->SetUpdateRate(250);
  boiler->SetDeadBand(0.5f);
  boiler->SetLocaleId(1033);
  boiler->SetTimeBias(-60);
  boiler->DefaultItem()->RequestDataType = vtR8;
  TqOPCItem* first = boiler->OPCItems()->AddItem("Random.Int4");
  first->SetAccessPath("plc");
  first->SetRequestDatatype(vtEMPTY);
  TqOPCItem* second = boiler->OPCItems()->AddItem("Static.Real8");
  second->SetIsActive(false);
  second->SetRequestDatatype(vtI4);
  TqOPCGroup* pump = server.OPCGroups()->Add("Pump");
  pump->DefaultItem()->IsActive = false;  // the default item's IsActive only when False

  EXPECT_EQ(SaveToText(server), crlf("object OPCServer1: TqOPCServer\n"
                                     "  BatchMode = False\n"
                                     "  ServerName = 'Veze6.Simulation.1'\n"
                                     "  OPCGroups = <\n"
                                     "    item\n"
                                     "      Name = 'Boiler'\n"
                                     "      IsActive = False\n"
                                     "      UpdateRate = 250\n"
                                     "      DeadBand = 0.5\n"
                                     "      LocaleId = 1033\n"
                                     "      TimeBias = -60\n"
                                     "      DefaultItem.RequestDataType = vtR8\n"
                                     "      OPCItems = <\n"
                                     "        item\n"
                                     "          ItemID = 'Random.Int4'\n"
                                     "          AccessPath = 'plc'\n"
                                     "          IsActive = True\n"
                                     "          RequestDatatype = vtEMPTY\n"
                                     "        end\n"
                                     "        item\n"
                                     "          ItemID = 'Static.Real8'\n"
                                     "          IsActive = False\n"
                                     "          RequestDatatype = vtI4\n"
                                     "        end>\n"
                                     "    end\n"
                                     "    item\n"
                                     "      Name = 'Pump'\n"
                                     "      IsActive = True\n"
                                     "      UpdateRate = 1000\n"
                                     "      LocaleId = 0\n"
                                     "      TimeBias = 0\n"
                                     "      DefaultItem.IsActive = False\n"
                                     "      DefaultItem.RequestDataType = vtEMPTY\n"
                                     "      OPCItems = <>\n"
                                     "    end>\n"
                                     "  OPCGroupDefault.IsActive = True\n"
                                     "  OPCGroupDefault.UpdateRate = 1000\n"
                                     "  OPCGroupDefault.LocaleId = 0\n"
                                     "  OPCGroupDefault.TimeBias = 0\n"
                                     "  Active = False\n"
                                     "  Version = '1.40'\n"
                                     "  ConnectDelay = 300\n"
                                     "end\n"));
}

// Empty values whose omission would read back differently are written.
TEST_F(ConfigStreamTest, EmptyValuesThatWouldNotReadBackAreWritten) {
  server.OPCGroupDefault()->DeadBand = 2.5f;
  TqOPCGroup* group = server.OPCGroups()->Add("g");
  group->SetName("");
  group->SetDeadBand(0.0f);
  group->DefaultItem()->AccessPath = "default path";
  group->OPCItems()->AddItem("x")->SetAccessPath("");
  const QByteArray text = SaveToText(server);
  EXPECT_TRUE(text.contains("      Name = ''\r\n")) << text.constData();
  EXPECT_TRUE(text.contains("      DeadBand = 0\r\n")) << text.constData();
  EXPECT_TRUE(text.contains("          AccessPath = ''\r\n")) << text.constData();

  TqOPCServer copy;
  copy.OPCGroupDefault()->DeadBand = 2.5f;  // what the groups it makes start with
  LoadFromText(copy, text);
  EXPECT_EQ(copy.OPCGroups()->Items(0)->Name(), "");
  EXPECT_EQ(copy.OPCGroups()->Items(0)->DeadBand(), 0.0f);
  EXPECT_EQ(copy.OPCGroups()->Items(0)->OPCItems()->Items(0)->AccessPath(), "");
}

TEST_F(ConfigStreamTest, FullConfigurationRoundTrip) {
  server.SetName("Plant_7");
  server.SetBatchMode(true);
  server.SetComputername("plant-floor-7");
  server.SetServer("{12345678-1234-1234-1234-123456789ABC}");
  server.SetClientName(QString::fromUtf8("Kessel 'Süd' \t\r\nnext \xF0\x9F\x98\x80 ") +
                       QChar(0xD800));
  server.SetConnectDelay(-5);
  server.SetAutoReconnect(true);
  TqDefaultGroup* defaults = server.OPCGroupDefault();
  defaults->IsActive = false;
  defaults->UpdateRate = 0;
  defaults->DeadBand = 0.1f;
  defaults->LocaleId = 0x0407;
  defaults->TimeBias = std::numeric_limits<qint32>::min();
  for (int g = 0; g < 3; ++g) {
    TqOPCGroup* group = server.OPCGroups()->Add(QStringLiteral("Group %1").arg(g));
    group->SetDeadBand(g == 1 ? 1.0f / 3.0f : 12.5f * float(g));
    group->SetTimeBias(std::numeric_limits<qint32>::max());
    group->DefaultItem()->AccessPath = g == 2 ? "device" : "";
    group->DefaultItem()->RequestDataType = vtBSTR;
    for (int i = 0; i < 4; ++i) {
      TqOPCItem* item = group->OPCItems()->AddItem(QStringLiteral("Random.Item'%1").arg(i));
      item->SetIsActive(i % 2 == 0);
      item->SetRequestDatatype(OPCADatatype(i * 9 + 4));
      if (i == 1) item->SetAccessPath("");
    }
  }
  server.OPCGroups()->Add("empty");

  const QByteArray first = SaveToText(server);
  EXPECT_TRUE(first.endsWith("  ConnectDelay = -5\r\n  AutoReconnect = True\r\nend\r\n"))
      << "last, and only when True";

  TqOPCServer copy;
  LoadFromText(copy, first);
  EXPECT_EQ(copy.Name(), "Plant_7");
  EXPECT_TRUE(copy.BatchMode());
  EXPECT_EQ(copy.ComputerName(), "plant-floor-7");
  EXPECT_EQ(copy.ClientName(), server.ClientName());
  EXPECT_EQ(copy.ConnectDelay(), -5);
  EXPECT_TRUE(copy.AutoReconnect());
  EXPECT_EQ(copy.OPCGroupDefault()->DeadBand, 0.1f);
  EXPECT_EQ(copy.OPCGroupDefault()->TimeBias, std::numeric_limits<qint32>::min());
  ASSERT_EQ(copy.GetGroupCount(), 4);
  EXPECT_EQ(copy.OPCGroups()->Items(1)->DeadBand(), 1.0f / 3.0f);
  TqOPCItems* items = copy.OPCGroups()->Items(2)->OPCItems();
  ASSERT_EQ(items->Count(), 4);
  EXPECT_EQ(items->Items(0)->AccessPath(), "device") << "from the group's default item";
  EXPECT_EQ(items->Items(1)->AccessPath(), "") << "written although empty";
  EXPECT_EQ(items->Items(3)->RequestDatatype(), vtLPWSTR);
  EXPECT_EQ(items->Items(2)->ItemID(), "Random.Item'2");
  EXPECT_EQ(SaveToText(copy), first);
}

TEST_F(ConfigStreamTest, ReadsThePlatformsWritingForms) {
  server.SetClientName("kept");
  LoadFromText(
      server,
      "OBJECT Plant: TQOPCSERVER\n"
      "\tservername = 'Veze6.' +\n"
      "     'Simulation.1'\n"
      "\tBATCHMODE = true   \n"
      "  OPCGroups = <   \n"
      "    ITEM\n"
      "      name = 'G1'\n"
      "      deadband = 1.25\n"
      "      UpdateRate = $3E8\n"
      "      LocaleId = $0409\n"
      "      TimeBias = -60\n"
      "      DefaultItem.requestdatatype = VTr8\n"
      "      OPCItems = <\t\n"
      "        item\n"
      "          ItemID = 'Random.Int4'\n"
      "          IsActive = FALSE\n"
      "        END  \n"
      "        item\n"
      "          ItemID = 'A'#9'B' + #39'C'''\n"
      "        end>\n"
      "    End \n"
      "    item\n"
      "      Name = 'G2'\n"
      "      DeadBand =  1.25000000000000000000E+0000\n"
      "    end\n"
      "    item\n"
      "      Name = 'G3'\n"
      "      DeadBand = 5E-1\n"
      "    end>\n"
      "  OPCGroupDefault.DeadBand = 2\n"
      "  ComputerName = 'Kessel'#195#188'ber ' + 'caf'#233' ' + #8364#55357#56832 + #128512\n"
      "end\n");
  EXPECT_EQ(server.Name(), "Plant");
  EXPECT_EQ(server.ServerName(), "Veze6.Simulation.1");
  EXPECT_TRUE(server.BatchMode());
  EXPECT_EQ(server.ClientName(), "kept") << "missing properties keep their values";
  EXPECT_EQ(server.OPCGroupDefault()->DeadBand, 2.0f);
  EXPECT_EQ(server.ComputerName(),
            QString::fromUtf8("Kesselüber café €\xF0\x9F\x98\x80\xF0\x9F\x98\x80"))
      << "UTF-8 bytes, code points and UTF-16 units";
  ASSERT_EQ(server.GetGroupCount(), 3);
  TqOPCGroup* g1 = server.OPCGroups()->Items(0);
  EXPECT_EQ(g1->Name(), "G1");
  EXPECT_EQ(g1->DeadBand(), 1.25f);
  EXPECT_EQ(g1->UpdateRate(), 1000);
  EXPECT_EQ(g1->LocaleId(), 1033);
  EXPECT_EQ(g1->TimeBias(), -60);
  ASSERT_EQ(g1->OPCItems()->Count(), 2);
  EXPECT_FALSE(g1->OPCItems()->Items(0)->IsActive());
  EXPECT_EQ(g1->OPCItems()->Items(0)->RequestDatatype(), vtR8) << "the item constructor ran";
  EXPECT_EQ(g1->OPCItems()->Items(1)->ItemID(), "A\tB'C'");
  EXPECT_EQ(server.OPCGroups()->Items(1)->DeadBand(), 1.25f);
  EXPECT_EQ(server.OPCGroups()->Items(2)->DeadBand(), 0.5f);
  EXPECT_FALSE(server.IsLoading());
}

TEST_F(ConfigStreamTest, LoadingRules) {
  server.SetName("Before");
  server.SetClientName("client");
  server.OPCGroups()->Add("old1");
  server.OPCGroups()->Add("old2")->OPCItems()->AddItem("x");

  // A collection with items in the stream is cleared and refilled.
  LoadFromText(server, crlf("object After: TqOPCServer\n"
                            "  OPCGroups = <\n"
                            "    item\n"
                            "      Name = 'new'\n"
                            "    end>\n"
                            "  Version = '9.99'\n"
                            "end\n"));
  EXPECT_EQ(server.Name(), "After") << "the header's name, at run time";
  ASSERT_EQ(server.GetGroupCount(), 1);
  EXPECT_EQ(server.OPCGroups()->Items(0)->Name(), "new");
  EXPECT_EQ(server.OPCGroups()->Items(0)->ID(), 2) << "made through the collection's Add";
  EXPECT_EQ(server.Version(), "1.40") << "the value read is ignored";
  EXPECT_EQ(server.ClientName(), "client");

  // An empty collection in the stream leaves the collection as it is.
  LoadFromText(server, "object After: TqOPCServer\r\n  OPCGroups = <>\r\nend\r\n");
  EXPECT_EQ(server.GetGroupCount(), 1);

  // A text property saved empty does not overwrite the loaded component's value.
  TqOPCServer unnamed;
  TqOPCServer target;
  target.SetName("Mine");
  target.SetClientName("mine");
  ASSERT_TRUE(SaveToText(unnamed).startsWith("object TqOPCServer\r\n"));
  LoadFromText(target, SaveToText(unnamed));
  EXPECT_EQ(target.ClientName(), "mine");
  EXPECT_EQ(target.Name(), "Mine") << "no name in the header: the name is kept";

  // In the designer the name is not taken and BatchMode ends False.
  TqOPCServer designed;
  designed.SetName("Designed");
  designed.SetDesigning(true);
  LoadFromText(designed, "object Other: TqOPCServer\n  BatchMode = True\nend\n");
  EXPECT_EQ(designed.Name(), "Designed");
  EXPECT_FALSE(designed.BatchMode());
  EXPECT_FALSE(designed.IsLoading());
}

TEST_F(ConfigStreamTest, ObjectsSavedOneAfterAnotherLoadOneByOne) {
  TqOPCServer a, b;
  a.SetName("A");
  a.SetClientName("first");
  b.SetName("B");
  b.SetClientName("second");
  QBuffer buffer;
  buffer.open(QIODevice::ReadWrite);
  a.SaveToStream(buffer);
  b.SaveToStream(buffer);
  buffer.seek(0);
  TqOPCServer ra, rb;
  ra.LoadFromStream(buffer);
  rb.LoadFromStream(buffer);
  EXPECT_EQ(ra.ClientName(), "first");
  EXPECT_EQ(rb.ClientName(), "second");
  EXPECT_TRUE(buffer.atEnd());

  // Devices that are not open the right way.
  QBuffer closed;
  QString cls;
  EXPECT_EQ(failure([&] { a.SaveToStream(closed); }, &cls), "the stream is not open for writing");
  EXPECT_EQ(cls, "EStreamError");
  closed.open(QIODevice::WriteOnly);
  EXPECT_EQ(failure([&] { a.LoadFromStream(closed); }, &cls), "the stream is not open for reading");
  EXPECT_EQ(cls, "EStreamError");
}

TEST_F(ConfigStreamTest, ErrorsNameLineColumnAndPath) {
  const QByteArray head = crlf(
      "object S: TqOPCServer\n"
      "  ClientName = 'changed'\n"
      "  Active = True\n"
      "  OPCGroups = <\n"
      "    item\n"
      "      OPCItems = <\n"
      "        item\n"
      "        end\n"
      "        item\n");
  const QByteArray tail = crlf("        end>\n    end>\nend\n");
  QString cls;
  EXPECT_EQ(
      failure([&] { LoadFromText(server, head + "          RequestDatatype = vtFOO\r\n" + tail); },
              &cls),
      "line 10, column 29: OPCGroups[0].OPCItems[1].RequestDatatype: invalid property "
      "value 'vtFOO'");
  EXPECT_EQ(cls, "EReadError");
  // Assigned before the error stays; Active read as True is not acted on.
  EXPECT_EQ(server.ClientName(), "changed");
  EXPECT_FALSE(server.IsLoading());
  EXPECT_FALSE(server.Active());

  EXPECT_EQ(failure([&] { LoadFromText(server, head + "          Nmae = 'x'\r\n" + tail); }, &cls),
            "line 10, column 11: OPCGroups[0].OPCItems[1].Nmae: TqOPCItem has no property Nmae");
  EXPECT_EQ(cls, "EReadError");
  EXPECT_EQ(failure([&] { LoadFromText(server, head + "          Quality = 5\r\n" + tail); }),
            "line 10, column 11: OPCGroups[0].OPCItems[1].Quality: property Quality is read-only");
  EXPECT_EQ(failure([&] { LoadFromText(server, head + "          IsActive = 1\r\n" + tail); }),
            "line 10, column 22: OPCGroups[0].OPCItems[1].IsActive: invalid property value '1'");

  // Malformed text changes nothing at all.
  server.SetClientName("untouched");
  EXPECT_EQ(failure([&] { LoadFromText(server, head + "          ItemID = 'open\r\n"); }, &cls),
            "line 10, column 20: OPCGroups[0].OPCItems[1].ItemID: unterminated text");
  EXPECT_EQ(cls, "EParserError");
  EXPECT_EQ(failure([&] { LoadFromText(server, head); }, &cls),
            "line 10, column 1: OPCGroups[0].OPCItems[1]: property name or 'end' expected but end "
            "of text found");
  EXPECT_EQ(failure([&] { LoadFromText(server, "object S: TqOPCServer\n  ClientName 'x'\n"); }),
            "line 2, column 14: ClientName: '=' expected but a text found");
  EXPECT_EQ(failure([&] { LoadFromText(server, "BIN1\x0bTqOPCServer"); }, &cls),
            "line 1, column 1: 'object' expected but 'BIN1' found");
  EXPECT_EQ(server.ClientName(), "untouched");
}

TEST_F(ConfigStreamTest, SignatureCheckCoversTheFirst299Bytes) {
  // "object S: " is 10 bytes: after 278 line ends the class name fills bytes
  // 289 to 299, after 279 it ends with byte 300.
  auto text = [](int blanks, const char* className) {
    return QByteArray(blanks, '\n') + "object S: " + className + "\n  ClientName = 'loaded'\nend\n";
  };
  writeFile(path("inside.txt"), text(278, "TqOPCServer"));
  writeFile(path("capitals.txt"), text(278, "TQOPCSERVER"));
  writeFile(path("outside.txt"), text(279, "TqOPCServer"));
  writeFile(path("zero.txt"), QByteArray(1, '\0') + text(0, "TqOPCServer"));

  server.LoadFromFile(path("inside.txt"));
  EXPECT_EQ(server.ClientName(), "loaded");
  server.SetClientName("");
  server.LoadFromFile(path("capitals.txt"));
  EXPECT_EQ(server.ClientName(), "loaded");

  for (const char* name : {"outside.txt", "zero.txt"}) {
    server.SetClientName("before");
    QString cls;
    EXPECT_EQ(failure([&] { server.LoadFromFile(path(name)); }, &cls), "wrong fileformat");
    EXPECT_EQ(cls, "Exception") << "not EOPCException";
    EXPECT_EQ(server.ClientName(), "before") << name;
  }
  QFile outside(path("outside.txt"));
  ASSERT_TRUE(outside.open(QIODevice::ReadOnly));
  server.LoadFromStream(outside);
  EXPECT_EQ(server.ClientName(), "loaded") << "streams are not checked";

  QString cls;
  EXPECT_TRUE(
      thrownMessage([&] { server.LoadFromFile(path("missing.txt")); }, &cls)
          .startsWith("Cannot open file \"" + QDir::toNativeSeparators(path("missing.txt"))));
  EXPECT_EQ(cls, "EFOpenError");
}

TEST_F(ConfigStreamTest, SaveToFileReplacesAtomically) {
  const QString file = path("config.txt");
  server.SetClientName("one");
  server.SaveToFile(file);
  EXPECT_EQ(readFile(file), SaveToText(server));
  server.SetClientName("two");
  server.SaveToFile(file);
  EXPECT_TRUE(readFile(file).contains("ClientName = 'two'"));
  const QByteArray good = readFile(file);

  // A value without a text form fails before the file is touched.
  server.OPCGroupDefault()->DeadBand = std::nanf("");
  QString cls;
  EXPECT_EQ(failure([&] { server.SaveToFile(file); }, &cls),
            "OPCGroupDefault.DeadBand: nan cannot be saved");
  EXPECT_EQ(cls, "EFilerError");
  EXPECT_EQ(readFile(file), good);
  server.OPCGroupDefault()->DeadBand = 0;

  // A file that cannot be created.
  writeFile(path("plain"), "x");
  EXPECT_TRUE(thrownMessage([&] { server.SaveToFile(path("plain/config.txt")); }, &cls)
                  .startsWith("Cannot create file"));
  EXPECT_EQ(cls, "EFCreateError");
  EXPECT_TRUE(
      thrownMessage([&] { server.SaveToFile(dir.path()); }).startsWith("Cannot create file"));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
            (QStringList{"config.txt", "plain"}))
      << "no temporary file left behind";
  EXPECT_EQ(readFile(file), good);
}

class ConfigStreamSimTest : public veze6::test::SimComponentTest {
 protected:
  void SetUp() override {
    SimComponentTest::SetUp();
    log.attach(*server);
  }

  EventLog log;
};

const char* const kActiveConfiguration =
    "object OPCServer1: TqOPCServer\r\n"
    "  ServerName = 'Veze6.Simulation.1'\r\n"
    "  OPCGroups = <\r\n"
    "    item\r\n"
    "      Name = 'Boiler'\r\n"
    "      OPCItems = <\r\n"
    "        item\r\n"
    "          ItemID = 'Random.Int4'\r\n"
    "        end>\r\n"
    "    end>\r\n"
    "  Active = True\r\n"
    "  ConnectDelay = 0\r\n"
    "end\r\n";

TEST_F(ConfigStreamSimTest, ActiveConfigurationConnectsAfterLoading) {
  QTemporaryDir dir;
  const QString file = dir.filePath("active.txt");
  writeFile(file, kActiveConfiguration);
  server->LoadFromFile(file);
  EXPECT_TRUE(server->Active());
  EXPECT_EQ(log.entries, (std::vector<QString>{"connect"}));
  EXPECT_EQ(server->GetState().GroupCount, 1) << "the loaded group is on the server";
  EXPECT_NE(server->OPCGroups()->Items(0)->OPCItems()->Items(0)->ServerHandle(),
            TqOPCItem::kNoServerHandle);
  EXPECT_TRUE(SaveToText(*server).contains("  Active = True\r\n"));
}

TEST_F(ConfigStreamSimTest, LoadingIntoAConnectedComponentDisconnectsFirst) {
  server->Connect("Veze6.Simulation.1");
  ASSERT_TRUE(server->Active());

  // Malformed text does not even disconnect.
  EXPECT_THROW(LoadFromText(*server, "object S: TqOPCServer\n  ClientName = \n"), EParserError);
  EXPECT_TRUE(server->Active());

  LoadFromText(*server, "object S: TqOPCServer\r\n  ClientName = 'offline'\r\nend\r\n");
  EXPECT_FALSE(server->Active());
  EXPECT_EQ(sim::liveServerCount(), 0u) << "no server held while Active reads False";
  EXPECT_EQ(log.entries, (std::vector<QString>{"connect", "disconnect"}));

  log.entries.clear();
  server->Connect("Veze6.Simulation.1");
  LoadFromText(*server, kActiveConfiguration);
  EXPECT_TRUE(server->Active());
  EXPECT_EQ(log.entries, (std::vector<QString>{"connect", "disconnect", "connect"}));
}

}  // namespace
