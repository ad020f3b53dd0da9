// The UA bridge through the real components against the node-opcua test
// server: connecting by URL and by registration file (secured, with a user),
// status, item ids good and bad in one batch, reads, writes, asynchronous
// requests, data changes in the handler and in a bound control, the percent
// dead band, the server's subscription limit, and the server going away under
// a live subscription or announcing its shutdown.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QThread>
#include <chrono>
#include <functional>
#include <memory>

#include "binding/qOPCGUI.h"
#include "common/groups.h"
#include "common/leakcheck.h"
#include "common/pump.h"
#include "core/qOPC.h"
#include "opc/classregistry.h"
#include "opc/diag.h"
#include "opc/filetime.h"
#include "opc/registrationfiles.h"
#include "opc/warnings.h"
#include "uabridge/uaregistration.h"
#include "uatestserver.h"

using namespace std::chrono_literals;

namespace {

/// The UA server's first changes can take long on a busy machine.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
  return veze6::test::pumpUntil(done, limit);
}

QString node(const char* name) { return QString::fromStdString(veze6test::testNode(name)); }

class UaBridgeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { veze6::uab::registerUaBridge(); }

  void SetUp() override {
    VEZE6_REQUIRE_UA_SERVER(ua);
    url = QString::fromStdString(ua->url());
    leaks.restart();
    form = std::make_unique<QWidget>();
    server = new TqOPCServer(form.get());
    server->SetName("OPCServer1");
    server->OnDatachange = [this](QObject*, TqOPCItemList* list) {
      EXPECT_EQ(QThread::currentThread(), qApp->thread());
      for (int i = 0; i < list->Count(); ++i)
        changes.push_back({list->Items(i)->ItemID(), list->Items(i)->Value()});
    };
    server->Connect(url);
    ASSERT_TRUE(server->Active());
  }

  void TearDown() override {
    form.reset();
    changes.clear();  // the values kept here hold strings too
    QCoreApplication::processEvents();
    leaks.expectBalanced();
  }

  TqOPCGroup* groupWith(const QString& name, const QStringList& ids, int rate = 100) {
    return veze6::test::addGroupWithItems(*server, name, ids, rate);
  }

  /// Values reported for an item, in order.
  std::vector<OleVariant> reported(const QString& id) const {
    std::vector<OleVariant> out;
    for (const auto& [itemId, value] : changes)
      if (itemId == id) out.push_back(value);
    return out;
  }

  QString url;
  veze6::test::LeakCheck leaks;
  std::unique_ptr<QWidget> form;
  TqOPCServer* server = nullptr;
  std::vector<std::pair<QString, OleVariant>> changes;
};

TEST_F(UaBridgeTest, ConnectByUrl_StatusAndItemIdsGoodAndBadInOneBatch) {
  const OPCSERVERSTATUS status = server->GetStatus();
  EXPECT_EQ(status.dwServerState, OPC_STATUS_RUNNING);
  EXPECT_GT(status.ftStartTime.dwHighDateTime, 0u);
  EXPECT_GE(status.ftCurrentTime.dwHighDateTime, status.ftStartTime.dwHighDateTime);
  EXPECT_FALSE(server->GetVendorInfo().isEmpty());

  TqOPCGroup* g = groupWith("ids", {node("Scalar.Int32"), node("NoSuchNode"), "ns=2;x=bad",
                                    node("Tree"), node("Access.ReadOnly")});
  EXPECT_EQ(server->GetStatus().dwGroupCount, 1u) << "this connection's groups";
  TqOPCItems* items = g->OPCItems();
  EXPECT_EQ(items->Items(0)->LastError(), S_OK);
  EXPECT_EQ(items->Items(0)->CanonicalDatatype(), VT_I4);
  EXPECT_EQ(items->Items(0)->AccessRights(), DWORD(OPC_READABLE | OPC_WRITEABLE));
  EXPECT_EQ(items->Items(1)->LastError(), OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(items->Items(2)->LastError(), OPC_E_INVALIDITEMID);
  EXPECT_EQ(items->Items(3)->LastError(), OPC_E_UNKNOWNITEMID) << "a folder has no value";
  EXPECT_EQ(items->Items(4)->AccessRights(), DWORD(OPC_READABLE));

  // An access path names nothing on a UA server.
  server->SetBatchMode(true);
  TqOPCItem* withPath = g->OPCItems()->AddItem(node("Scalar.Double"));
  withPath->SetAccessPath("somewhere");
  server->SetBatchMode(false);
  EXPECT_ANY_THROW(withPath->OPCCommand(TqOPCItem::cmdAdd));
  EXPECT_EQ(withPath->LastError(), OPC_E_UNKNOWNPATH);
}

TEST_F(UaBridgeTest, GroupStateAndItemManagementOnTheServersInterfaces) {
  const ComPtr<IOPCServer> opc = server->GetOPCServer();
  OPCHANDLE handle = 0;
  DWORD revised = 0;
  ComPtr<IUnknown> group;
  const HRESULT added = opc->AddGroup(u"raw", TRUE, 0, 7, nullptr, nullptr, 0, &handle, &revised,
                                      IID_IUnknown, group.put());
  ASSERT_EQ(added, OPC_S_UNSUPPORTEDRATE) << "rate 0 becomes the server's fastest";
  ComPtr<IOPCGroupStateMgt> state;
  ASSERT_EQ(group.as(state), S_OK);
  EXPECT_GT(revised, 0u);
  ComPtr<IUnknown> twin;
  OPCHANDLE twinHandle = 0;
  EXPECT_EQ(opc->AddGroup(u"raw", TRUE, 100, 8, nullptr, nullptr, 0, &twinHandle, &revised,
                          IID_IUnknown, twin.put()),
            OPC_E_DUPLICATENAME);
  DWORD rate = 250;
  EXPECT_EQ(state->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(revised, 250u);

  ComPtr<IOPCItemMgt> items;
  ASSERT_EQ(state.as(items), S_OK);
  std::u16string ids[] = {u"ns=2;s=Scalar.Int32", u"ns=2;s=Scalar.Int32", u"ns=2;x"};
  OPCITEMDEF defs[3]{};
  const VARTYPE requested[] = {VT_R8, VARTYPE(VT_ARRAY | VT_I4), VT_EMPTY};
  for (int i = 0; i < 3; ++i) {
    defs[i].szAccessPath = const_cast<LPWSTR>(u"");
    defs[i].szItemID = ids[i].data();
    defs[i].bActive = FALSE;
    defs[i].vtRequestedDataType = requested[i];
  }
  opc::TaskOut<OPCITEMRESULT> results;
  opc::TaskOut<HRESULT> errors;
  EXPECT_EQ(items->ValidateItems(3, defs, FALSE, results.put(), errors.put()), S_FALSE);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(results[0].hServer, 0u) << "validated, not added";
  EXPECT_EQ(errors[1], OPC_E_BADTYPE) << "a scalar never converts to an array";
  EXPECT_EQ(errors[2], OPC_E_INVALIDITEMID);
  ASSERT_EQ(items->AddItems(1, defs, results.put(), errors.put()), S_OK);
  OPCHANDLE item = results[0].hServer;
  EXPECT_EQ(results[0].vtCanonicalDataType, VT_I4);

  // An inactive item reads from the server, converted, as out of service.
  ComPtr<IOPCSyncIO> io;
  ASSERT_EQ(state.as(io), S_OK);
  opc::TaskOut<OPCITEMSTATE> values;
  ASSERT_EQ(io->Read(OPC_DS_CACHE, 1, &item, values.put(), errors.put()), S_OK);
  EXPECT_EQ(values[0].vDataValue.vt, VT_R8);
  EXPECT_EQ(values[0].wQuality, OPC_QUALITY_OUT_OF_SERVICE);
  VariantClear(&values[0].vDataValue);

  ComPtr<IUnknown> enumerator;
  ASSERT_EQ(items->CreateEnumerator(IID_IEnumOPCItemAttributes, enumerator.put()), S_OK);
  EXPECT_EQ(items->RemoveItems(1, &item, errors.put()), S_OK);
  EXPECT_EQ(items->RemoveItems(1, &item, errors.put()), S_FALSE);
  EXPECT_EQ(errors[0], OPC_E_INVALIDHANDLE);
  state.reset();
  items.reset();
  io.reset();
  EXPECT_EQ(opc->RemoveGroup(handle, FALSE), OPC_S_INUSE) << "still held here";
  EXPECT_EQ(opc->RemoveGroup(handle, FALSE), E_INVALIDARG);
  group.reset();

  // Each group is a subscription: past the server's limit one more group is
  // refused, and a warning says why.
  std::vector<std::string> warnings;
  const auto previous =
      opc::setWarningHandler([&](const std::string& w) { warnings.push_back(w); });
  std::vector<OPCHANDLE> handles;
  HRESULT hr = S_OK;
  for (char16_t n = u'A'; SUCCEEDED(hr) && n < u'Z'; ++n) {
    const std::u16string name{u'g', n};
    ComPtr<IUnknown> g;
    hr = opc->AddGroup(name.c_str(), TRUE, 100, 9, nullptr, nullptr, 0, &handle, &revised,
                       IID_IUnknown, g.put());
    if (SUCCEEDED(hr)) handles.push_back(handle);
  }
  opc::setWarningHandler(previous);
  EXPECT_EQ(hr, E_FAIL);
  EXPECT_EQ(handles.size(), 19u) << "20 subscriptions a session, one watching the server state";
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("no more subscriptions"), std::string::npos) << warnings[0];
  for (OPCHANDLE h : handles) EXPECT_EQ(opc->RemoveGroup(h, FALSE), S_OK);
}

TEST_F(UaBridgeTest, ReadsWritesRefreshAndCancel) {
  TqOPCGroup* g = groupWith("io", {node("Access.ReadWrite"), node("Access.ReadOnly"),
                                   node("Access.Limited"), node("Scalar.String")});
  TqOPCItems* items = g->OPCItems();
  // A cache read before the subscription reported anything reads the server.
  EXPECT_TRUE(g->SyncRead(nullptr, true));
  EXPECT_EQ(items->Items(1)->Value().get().lVal, 7);
  EXPECT_EQ(VarToStr(items->Items(3)->Value()), QString::fromUtf8("Grüße, veze6"));
  EXPECT_EQ(items->Items(1)->Quality(), OPC_QUALITY_GOOD);

  items->Items(0)->SetWriteValue(OleVariant(LONG(42)));
  items->Items(1)->SetWriteValue(OleVariant(LONG(8)));
  items->Items(2)->SetWriteValue(OleVariant(LONG(500)));
  items->Items(3)->SetWriteValue(OleVariant(LONG(1)));
  TqOPCItemList three(items->Items(0));
  three.Add(items->Items(1));
  three.Add(items->Items(2));
  EXPECT_FALSE(g->SyncWrite(&three));
  EXPECT_EQ(items->Items(0)->LastError(), S_OK);
  EXPECT_EQ(items->Items(1)->LastError(), OPC_E_BADRIGHTS);
  EXPECT_EQ(items->Items(2)->LastError(), OPC_E_RANGE) << "outside 0..100";
  EXPECT_TRUE(g->SyncRead(nullptr, false));
  EXPECT_EQ(items->Items(0)->Value().get().lVal, 42) << "the device read sees the write";
  EXPECT_EQ(items->Items(2)->Value().get().lVal, 50);

  // The cache follows the subscription.
  ASSERT_TRUE(waitUntil([&] { return !reported(node("Access.ReadWrite")).empty(); }));
  ASSERT_TRUE(waitUntil([&] {
    const auto values = reported(node("Access.ReadWrite"));
    return values.back().get().lVal == 42;
  }));

  // Asynchronous read, write and refresh complete on this thread.
  changes.clear();
  TqOPCItemList one(items->Items(1));
  EXPECT_TRUE(g->AsyncRead(&one));
  ASSERT_TRUE(waitUntil([&] { return g->TaskId() == 0; }));
  // The task id clears as the completion's data change is posted.
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(reported(node("Access.ReadOnly")).size(), 1u);
  int writeCompletions = 0;
  server->OnWriteComplete = [&](QObject*, TqOPCItemList* list) {
    writeCompletions += list->Count();
  };
  items->Items(0)->SetWriteValue(OleVariant(LONG(43)));
  TqOPCItemList writable(items->Items(0));
  EXPECT_TRUE(g->AsyncWrite(&writable));
  ASSERT_TRUE(waitUntil([&] { return writeCompletions == 1; }));
  changes.clear();
  g->Refresh(true);
  ASSERT_TRUE(waitUntil([&] { return changes.size() >= 4; }));
  EXPECT_EQ(reported(node("Scalar.String")).size(), 1u);

  // A cancelled read ends with the cancel, never with its completion; a
  // read that completed first makes the cancel fail.
  changes.clear();
  EXPECT_TRUE(g->AsyncRead(&one));
  bool cancelled = true;
  try {
    g->CancelLastAsyncCall();
  } catch (const Exception&) {
    cancelled = false;
  }
  if (cancelled) {
    // A second read's completion shows the first one's would have come before.
    EXPECT_TRUE(g->AsyncRead(&one));
    ASSERT_TRUE(waitUntil([&] { return g->TaskId() == 0; }));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(reported(node("Access.ReadOnly")).size(), 1u);
  } else {
    ASSERT_TRUE(waitUntil([&] { return reported(node("Access.ReadOnly")).size() == 1; }));
  }
}

TEST_F(UaBridgeTest, DataChanges_ReachTheHandlerAndABoundEdit) {
  auto* gui = new TqOPCGUI(form.get());
  gui->SetName("OPCGUI1");
  gui->SetOPCServer(server);
  TqOPCGroup* g = groupWith("data", {node("Dynamic.Counter"), node("Access.ReadWriteString")});
  auto* edit = new QLineEdit(form.get());
  edit->setObjectName("eText");
  gui->AddItem("data", node("Access.ReadWriteString"), edit, "");
  ASSERT_TRUE(waitUntil([&] { return reported(node("Dynamic.Counter")).size() >= 3; }))
      << "a counter that steps every 100 ms";
  const auto counts = reported(node("Dynamic.Counter"));
  EXPECT_GT(counts.back().get().ulVal, counts.front().get().ulVal);
  // The status tells when the server last sent this client data.
  const OPCSERVERSTATUS status = server->GetStatus();
  EXPECT_GT(opc::fileTimeTicks(status.ftLastUpdateTime), opc::fileTimeTicks(status.ftStartTime));

  g->OPCItems()->Items(1)->WriteSync(OleVariant(u"from the bridge"));
  ASSERT_TRUE(waitUntil([&] { return edit->text() == "from the bridge"; }));

  // An inactive group reports nothing; reactivated, it reports every item.
  g->SetIsActive(false);
  changes.clear();
  g->SetIsActive(true);
  ASSERT_TRUE(waitUntil([&] { return !reported(node("Access.ReadWriteString")).empty(); }));
}

TEST_F(UaBridgeTest, PercentDeadband_FiltersSmallChangesOfAnalogItems) {
  server->OPCGroupDefault()->DeadBand = 10.0f;  // of EURange 0..100
  TqOPCGroup* g = groupWith("band", {node("DA.Analog")});
  TqOPCItem* analog = g->OPCItems()->Items(0);
  ASSERT_TRUE(waitUntil([&] { return !reported(node("DA.Analog")).empty(); }));
  const double start = reported(node("DA.Analog")).back().get().dblVal;
  const double direction = start < 50.0 ? 1.0 : -1.0;
  changes.clear();
  analog->WriteSync(OleVariant(start + 5.0 * direction));   // 5 %: inside the band
  analog->WriteSync(OleVariant(start + 30.0 * direction));  // 30 %: reported
  ASSERT_TRUE(waitUntil([&] { return !reported(node("DA.Analog")).empty(); }));
  const auto values = reported(node("DA.Analog"));
  for (const auto& v : values) EXPECT_NE(v.get().dblVal, start + 5.0 * direction);
  EXPECT_EQ(values.back().get().dblVal, start + 30.0 * direction);
  analog->WriteSync(OleVariant(21.5));
}

TEST(UaBridgeSecuredTest, UserOverSignAndEncrypt_ThenTheServerStopsUnderASubscription) {
  if (!veze6test::sharedUaServer()) GTEST_SKIP() << veze6test::uaServerSkipReason();
  veze6::uab::registerUaBridge();
  // A server of its own: this case stops it.
  veze6test::TestServerProcess ua({});
  ASSERT_TRUE(ua.running()) << ua.error() << ua.serverErrors();

  const QDir config(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")));
  ASSERT_TRUE(config.mkpath("veze6/servers.d"));
  const auto writeFile = [](const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
  };
  const QString folder = config.filePath("veze6/servers.d");
  writeFile(folder + "/right.pw", "secret-for-tests\n");
  writeFile(folder + "/wrong.pw", "not-the-password\n");
  const QByteArray section = "\nEndpoint = " + QByteArray::fromStdString(ua.url()) +
                             "\nSecurityPolicy = Basic256Sha256\nSecurityMode = SignAndEncrypt"
                             "\nUser = operator\n";
  writeFile(folder + "/plant.conf",
            "[{0F6A2C1E-7B1D-4E55-9C0B-3A52D1E8B7A4}]\nProgID = Plant.UA.1" + section +
                "PasswordFile = right.pw\n"
                "[{0F6A2C1E-7B1D-4E55-9C0B-3A52D1E8B7A5}]\nProgID = Plant.UA.Wrong" +
                section + "PasswordFile = wrong.pw\n");
  opc::ClassRegistry::instance().reloadRegistrationFiles();

  const veze6::test::LeakCheck leaks;
  // Each refusal is an exception, with the reason given as a warning.
  const auto refusal = [](const QString& progId) {
    std::vector<std::string> warnings;
    const auto previous =
        opc::setWarningHandler([&](const std::string& w) { warnings.push_back(w); });
    TqOPCServer refused;
    EXPECT_ANY_THROW(refused.Connect(progId));
    EXPECT_FALSE(refused.Active());
    opc::setWarningHandler(previous);
    return warnings.size() == 1 ? warnings[0] : std::string("no single warning");
  };
  // The server's certificate is trusted as a user would: moved from
  // rejected/ to trusted/ after the first refusal.
  EXPECT_NE(refusal("Plant.UA.1").find("not trusted"), std::string::npos);
  const QDir pki(QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + "/veze6/pki");
  const QStringList rejected = QDir(pki.filePath("rejected")).entryList(QDir::Files);
  ASSERT_EQ(rejected.size(), 1);
  ASSERT_TRUE(QFile::rename(pki.filePath("rejected/" + rejected[0]),
                            pki.filePath("trusted/" + rejected[0])));
  EXPECT_NE(refusal("Plant.UA.Wrong").find("BadUserAccessDenied"), std::string::npos);
  {
    TqOPCServer server;
    QStringList events;
    QString reason;
    server.OnServerShutdown = [&](QObject*, const QString& why) {
      events << "shutdown";
      reason = why;
    };
    server.OnDisconnect = [&](QObject*) { events << "disconnect"; };
    int changes = 0;
    server.OnDatachange = [&](QObject*, TqOPCItemList* list) { changes += list->Count(); };
    server.Connect("Plant.UA.1");
    ASSERT_TRUE(server.Active());
    server.OPCGroupDefault()->UpdateRate = 100;
    server.OPCGroups()->Add("g")->OPCItems()->AddItem(node("Dynamic.Counter"));
    ASSERT_TRUE(waitUntil([&] { return changes >= 2; }));

    ua.stop();
    ASSERT_TRUE(waitUntil([&] { return events.size() == 2; }, 30s))
        << events.join(",").toStdString();
    EXPECT_EQ(events, (QStringList{"shutdown", "disconnect"}));
    EXPECT_TRUE(reason.isEmpty()) << "the component passes no reason";
    EXPECT_FALSE(server.Active());
  }
  QCoreApplication::processEvents();
  leaks.expectBalanced();
  QFile::remove(folder + "/plant.conf");
  opc::ClassRegistry::instance().reloadRegistrationFiles();
}

TEST(UaBridgeShutdownTest, TheServerAnnouncingShutdownEndsTheConnectionBeforeItCloses) {
  if (!veze6test::sharedUaServer()) GTEST_SKIP() << veze6test::uaServerSkipReason();
  veze6::uab::registerUaBridge();
  veze6test::TestServerProcess ua({});  // a server of its own: this case stops it
  ASSERT_TRUE(ua.running()) << ua.error() << ua.serverErrors();
  const veze6::test::LeakCheck leaks;
  {
    TqOPCServer server;
    QStringList events;
    server.OnServerShutdown = [&](QObject*, const QString&) { events << "shutdown"; };
    server.OnDisconnect = [&](QObject*) { events << "disconnect"; };
    server.Connect(QString::fromStdString(ua.url()));
    ASSERT_TRUE(server.Active());
    TqOPCGroup* g = veze6::test::addGroupWithItems(
        server, "control", {node("Control.ShutdownDelay"), node("Control.Shutdown")}, 100);
    // The server closes a minute after it announces the shutdown in its
    // state, so only the state can end the connection within the wait.
    g->OPCItems()->Items(0)->WriteSync(OleVariant(60000));
    g->OPCItems()->Items(1)->WriteSync(OleVariant(true));
    ASSERT_TRUE(waitUntil([&] { return events.size() == 2; }, 30s))
        << events.join(",").toStdString();
    EXPECT_EQ(events, (QStringList{"shutdown", "disconnect"}));
    EXPECT_FALSE(server.Active());
  }
  QCoreApplication::processEvents();
  leaks.expectBalanced();
}

}  // namespace
