// The server component's connect and disconnect sequences, its fault path and
// server access, checked call by call against a mock server.
#include <QMetaProperty>
#include <utility>

#include "group_mocks.h"
#include "server_fixture.h"

using namespace core_test;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgPointee;
using ::testing::StrictMock;

namespace {

using SecurityTest = veze6::test::LeakCheckedTest;
using ServerNullObjectTest = veze6::test::LeakCheckedTest;

class ServerMockTest : public ServerMockFixture {
 protected:
  void SetUp() override {
    ServerMockFixture::SetUp();
    baseRefs = mock->refCount();
    log.attach(*server);
  }

  ULONG baseRefs = 0;
  EventLog log;
  SleepRecorder sleeps;
};

TEST_F(ServerMockTest, Connect_ByProgId_HoldsServerAndFiresOnConnect) {
  connect();
  EXPECT_EQ(server->GetOPCServer().get(), static_cast<IOPCServer*>(mock.get()));
  EXPECT_EQ(log.entries, std::vector<QString>{"connect"});
  EXPECT_EQ(registration->creations(), 1);
  EXPECT_GT(mock->refCount(), baseRefs);
  // Both caches are filled during the connect.
  EXPECT_EQ(mock->queryCount(IID_IOPCCommon), 1);
  EXPECT_EQ(mock->queryCount(IID_IOPCItemProperties), 1);
  EXPECT_TRUE(server->GetCommonIF());
  EXPECT_EQ(mock->queryCount(IID_IOPCCommon), 1) << "a held interface is not asked for again";
}

TEST_F(ServerMockTest, Connect_ByClassIdInBraces_NeedsNoProgId) {
  ScopedTestClass byId(CLSID_MockServerNoProgId, u"", ComPtr<IUnknown>(mock->unknown()));
  server->SetServer(clsidText(CLSID_MockServerNoProgId));
  connect();
  EXPECT_EQ(byId.creations(), 1);
}

TEST_F(ServerMockTest, Connect_WhileActive_DoesNothing) {
  connect();
  server->SetActive(true);
  EXPECT_EQ(registration->creations(), 1);
  EXPECT_EQ(log.entries, std::vector<QString>{"connect"});
}

TEST_F(ServerMockTest, Disconnect_ReleasesServerAndFiresOnDisconnect) {
  server->OPCGroups()->Add("g1");
  auto group = opc::makeCom<::testing::NiceMock<MockGroup>>();
  EXPECT_CALL(*mock, AddGroup).WillOnce(::testing::Invoke(answerAddGroup(group.get(), 1, 1000)));
  EXPECT_CALL(*mock, RemoveGroup(1, FALSE)).WillOnce(Return(S_OK));
  connect();
  server->Disconnect();
  EXPECT_FALSE(server->Active());
  EXPECT_EQ(mock->refCount(), baseRefs);
  EXPECT_EQ(log.entries, (std::vector<QString>{"connect", "disconnect"}));
  EXPECT_EQ(server->GetGroupCount(), 1) << "groups stay in the collection";
  EXPECT_FALSE(server->Version2());
}

TEST_F(ServerMockTest, Disconnect_WhenDisconnected_FiresNothing) {
  server->Disconnect();
  EXPECT_TRUE(log.entries.empty());
}

TEST_F(ServerMockTest, HandlersChangingTheConnection_ActiveTellsWhatTheyLeft) {
  // Version2 answers True exactly while the mock server is held.
  server->OnConnect = [this](QObject*) { server->SetActive(false); };
  server->SetActive(true);
  EXPECT_FALSE(server->Active()) << "OnConnect disconnected";
  EXPECT_FALSE(server->Version2());
  EXPECT_EQ(mock->refCount(), baseRefs);

  server->OnConnect = nullptr;
  connect();
  bool reconnect = true;
  server->OnDisconnect = [&](QObject*) {
    if (std::exchange(reconnect, false)) server->SetActive(true);
  };
  server->SetActive(false);
  EXPECT_TRUE(server->Active()) << "OnDisconnect connected again";
  EXPECT_TRUE(server->Version2());
}

TEST_F(ServerMockTest, Disconnect_GroupFailingToLeave_EveryGroupLeavesAndTheServerIsLetGo) {
  TqOPCGroup* first = server->OPCGroups()->Add("g1");
  first->OPCItems()->AddItem("A");
  TqOPCGroup* second = server->OPCGroups()->Add("g2");
  auto group = opc::makeCom<::testing::NiceMock<MockGroup>>();
  EXPECT_CALL(*mock, AddGroup)
      .Times(2)
      .WillRepeatedly(::testing::Invoke(answerAddGroup(group.get(), 1, 1000)));
  EXPECT_CALL(*group, AddItems).WillOnce(::testing::Invoke(answerAddItems(nullptr)));
  EXPECT_CALL(*group, RemoveItems).WillOnce([](DWORD, OPCHANDLE*, HRESULT**) -> HRESULT {
    throw std::runtime_error("server gone");
  });
  EXPECT_CALL(*mock, RemoveGroup(1, FALSE)).Times(2).WillRepeatedly(Return(S_OK));
  connect();
  EXPECT_THROW(server->SetActive(false), std::runtime_error);
  EXPECT_FALSE(server->Active());
  EXPECT_FALSE(server->Version2()) << "Active False with the server still held";
  EXPECT_FALSE(first->IsOnServer());
  EXPECT_FALSE(second->IsOnServer());
  EXPECT_EQ(mock->refCount(), baseRefs);
  EXPECT_EQ(group->refCount(), 1u);
}

TEST_F(ServerMockTest, Signals_FollowTheirFieldsAlsoWithoutThem) {
  QObject::connect(server.get(), &TqOPCServer::connected, [this] {
    log.entries.push_back(server->Active() ? "connected() 1" : "connected() 0");
  });
  QObject::connect(server.get(), &TqOPCServer::disconnected,
                   [this] { log.entries.push_back("disconnected()"); });
  QObject::connect(server.get(), &TqOPCServer::error, [this](const QString& text, bool raise) {
    log.entries.push_back(QString("error(%1, %2)").arg(text, raise ? "1" : "0"));
  });
  connect();
  server->Disconnect();
  server->OnConnect = server->OnDisconnect = nullptr;
  connect();
  server->Disconnect();
  server->OnError = [this](QObject*, const QString&, bool& raise) {
    log.entries.push_back("OnError");
    raise = false;
  };
  EXPECT_FALSE(server->GetOPCServer()) << "suppressed by the field";
  server->OnError = nullptr;
  EXPECT_EQ(thrownMessage([&] { server->GetOPCServer(); }), "not connected to server");
  EXPECT_EQ(log.entries, (std::vector<QString>{"connect", "connected() 1", "disconnect",
                                               "disconnected()", "connected() 1", "disconnected()",
                                               "OnError", "error(not connected to server, 0)",
                                               "error(not connected to server, 1)"}));
  connect();
  log.entries.clear();
  server.reset();
  EXPECT_TRUE(log.entries.empty()) << "destroying disconnects silently";
}

TEST_F(ServerMockTest, HandlerDestroyingTheComponent_NothingTouchesItAfterwards) {
  int signalled = 0;
  const auto count = [&] {
    for (auto signal : {&TqOPCServer::connected, &TqOPCServer::disconnected})
      QObject::connect(server.get(), signal, [&] { ++signalled; });
    QObject::connect(server.get(), &TqOPCServer::error, [&] { ++signalled; });
  };
  count();
  const auto fresh = [this, &count] {
    server = std::make_unique<TqOPCServer>();
    server->SetServer(QString::fromUtf16(kMockProgId));
    count();
  };
  server->OnConnect = [this](QObject*) { server.reset(); };
  server->SetActive(true);
  EXPECT_FALSE(server);

  fresh();
  connect();
  signalled = 0;
  server->OnDisconnect = [this](QObject*) { server.reset(); };
  server->SetActive(false);
  EXPECT_FALSE(server);
  EXPECT_EQ(mock->refCount(), baseRefs);
  // Also when the disconnect is a step of changing the names.
  for (int way = 0; way < 2; ++way) {
    fresh();
    connect();
    signalled = 0;
    server->OnDisconnect = [this](QObject*) { server.reset(); };
    if (way == 0)
      server->SetServer("Other.Server");
    else
      server->Connect("Other.Server", "elsewhere");
    EXPECT_FALSE(server);
  }

  // A suppressed fault has nothing to return to: the operation ends raising.
  fresh();
  server->OnError = [this](QObject*, const QString&, bool& raise) {
    raise = false;
    server.reset();
  };
  TqOPCServer* doomed = server.get();
  EXPECT_EQ(thrownMessage([&] { doomed->GetOPCServer(); }), "not connected to server");
  EXPECT_FALSE(server);
  EXPECT_EQ(signalled, 0) << "no signal from a destroyed component";

  // A receiver destroying it: the operation ends raising too.
  fresh();
  server->OnError = [](QObject*, const QString&, bool& raise) { raise = false; };
  QObject::connect(server.get(), &TqOPCServer::error, [this] { server.reset(); });
  doomed = server.get();
  EXPECT_EQ(thrownMessage([&] { doomed->GetOPCServer(); }), "not connected to server");
  EXPECT_FALSE(server);
}

TEST_F(ServerMockTest, Connect_MethodReconnectsWithNewNames) {
  connect();
  server->Connect(QString::fromUtf16(kMockProgId), "  ");
  EXPECT_TRUE(server->Active());
  EXPECT_EQ(server->ComputerName(), "  ");
  EXPECT_EQ(log.entries, (std::vector<QString>{"connect", "disconnect", "connect"}));
  EXPECT_EQ(registration->creations(), 2);
}

TEST_F(ServerMockTest, SetServer_DifferentWhileConnected_DisconnectsAndStaysDisconnected) {
  connect();
  server->SetServer(QString::fromUtf16(kMockProgId).toLower());  // case counts
  EXPECT_FALSE(server->Active());
  EXPECT_EQ(server->ServerName(), QString::fromUtf16(kMockProgId).toLower());
  EXPECT_EQ(log.entries, (std::vector<QString>{"connect", "disconnect"}));
  EXPECT_EQ(mock->refCount(), baseRefs);
}

TEST_F(ServerMockTest, SetServer_SameTextWhileConnected_ChangesNothing) {
  connect();
  server->SetServer(QString::fromUtf16(kMockProgId));
  server->SetComputername(QString());
  EXPECT_TRUE(server->Active());
  EXPECT_EQ(log.entries, std::vector<QString>{"connect"});
}

TEST_F(ServerMockTest, SetComputername_DifferentWhileConnected_Disconnects) {
  connect();
  server->SetComputername("localhost");
  EXPECT_FALSE(server->Active());
  EXPECT_EQ(log.entries, (std::vector<QString>{"connect", "disconnect"}));
}

TEST_F(ServerMockTest, Connect_ClientName_SentUntrimmedAndResultIgnored) {
  server->SetClientName(" Line 3 – Ölmühle ");
  EXPECT_CALL(*mock, SetClientName(_)).WillOnce([](LPCWSTR name) {
    EXPECT_EQ(std::u16string(name), u" Line 3 – Ölmühle ");
    return E_FAIL;
  });
  connect();
}

TEST_F(ServerMockTest, Connect_BlankClientName_NotSent) {
  server->SetClientName(" \t ");
  connect();  // the strict mock fails on any SetClientName
}

TEST_F(ServerMockTest, Connect_ServerWithoutCommon_ClientNameNotSent) {
  mock->presentAsDA10();
  server->SetClientName("client");
  connect();
  EXPECT_FALSE(server->GetCommonIF());
  EXPECT_FALSE(server->Version2());
}

TEST_F(ServerMockTest, Connect_EmptyServerName_Faults) {
  server->SetServer("");
  EXPECT_EQ(thrownMessage([&] { server->SetActive(true); }), "first define servername");
  EXPECT_FALSE(server->Active());
  EXPECT_TRUE(log.entries.empty());
}

TEST_F(ServerMockTest, Connect_FaultWithOnErrorSuppressing_ReturnsSilently) {
  std::vector<QString> errors;
  server->OnError = [&](QObject* sender, const QString& text, bool& raise) {
    EXPECT_EQ(sender, server.get());
    EXPECT_TRUE(raise) << "the flag is True on entry";
    errors.push_back(text);
    raise = false;
  };
  server->SetServer("No.Such.Server.1");
  EXPECT_NO_THROW(server->SetActive(true));
  EXPECT_FALSE(server->Active());
  EXPECT_EQ(errors, std::vector<QString>{"first define servername"});
  EXPECT_TRUE(log.entries.empty());
}

TEST_F(ServerMockTest, Connect_FaultWithOnErrorKeepingFlag_Raises) {
  int calls = 0;
  server->OnError = [&](QObject*, const QString&, bool&) { ++calls; };
  QString cls;
  server->SetServer("No.Such.Server.1");
  EXPECT_EQ(thrownMessage([&] { server->SetActive(true); }, &cls), "first define servername");
  EXPECT_EQ(cls, "EOPCException");
  EXPECT_EQ(calls, 1);
}

TEST_F(ServerMockTest, Connect_BadServerNames_FaultWithoutCreating) {
  const QString id = clsidText(CLSID_MockServer);  // registered, well formed
  const QStringList names = {
      "   ",
      id.mid(1),               // no opening brace
      id.left(id.size() - 1),  // no closing brace
      "{" + id + "}",          // doubled braces
      "{}",
      id.mid(1, id.size() - 2),                                 // no braces at all
      id.left(10) + "G" + id.mid(11),                           // not hexadecimal
      QString(100000, u'A'),                                    // very long
      QString::fromUtf16(kMockProgId) + QChar(u'\0') + "tail",  // cut short by a zero
  };
  for (const QString& name : names) {
    server->SetServer(name);
    EXPECT_EQ(thrownMessage([&] { server->SetActive(true); }), "first define servername")
        << name.left(60).toStdString();
    EXPECT_FALSE(server->Active());
  }
  EXPECT_EQ(registration->creations(), 0);
}

TEST_F(ServerMockTest, Connect_UnregisteredClassId_RaisesComErrorWithoutOnError) {
  bool onErrorCalled = false;
  server->OnError = [&](QObject*, const QString&, bool&) { onErrorCalled = true; };
  server->SetServer(clsidText(CLSID_Unregistered));
  try {
    server->SetActive(true);
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), REGDB_E_CLASSNOTREG);
  }
  EXPECT_FALSE(onErrorCalled);
  EXPECT_FALSE(server->Active());
}

TEST_F(ServerMockTest, Connect_RemoteComputer_RaisesRpcServerUnavailable) {
  server->SetComputername("plant-floor-07");
  try {
    server->SetActive(true);
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), HRESULT_RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(e.Message(), "The RPC server is unavailable.");
  }
  EXPECT_FALSE(server->Active());
  EXPECT_EQ(registration->creations(), 0);
}

TEST_F(ServerMockTest, Connect_LocalComputerByName_CreatesHere) {
  server->SetComputername(" localhost ");
  connect();
  EXPECT_EQ(registration->creations(), 1);
  server->Disconnect();
  EXPECT_EQ(mock->refCount(), baseRefs);
}

TEST_F(SecurityTest, InitSecurity_SucceedsOnceThenTooLate) {
  const HRESULT first = qOPCInitSecurity();
  EXPECT_TRUE(first == S_OK || first == RPC_E_TOO_LATE) << hr(first);
  EXPECT_HR(RPC_E_TOO_LATE, qOPCInitSecurity());
}

TEST_F(ServerMockTest, Connect_ObjectWithoutIOPCServer_RaisesNoInterface) {
  mock->refuse(IID_IOPCServer);
  try {
    server->SetActive(true);
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), E_NOINTERFACE);
  }
  EXPECT_FALSE(server->Active());
}

TEST_F(ServerNullObjectTest, Connect_ServerHandsOutNoIOPCServer_FaultsUnableToConnect) {
  auto object = opc::makeCom<NullServerObject>();
  ScopedTestClass registration(CLSID_MockServer, kMockProgId, ComPtr<IUnknown>(object.get()));
  TqOPCServer server;
  server.SetServer(QString::fromUtf16(kMockProgId));
  EXPECT_EQ(thrownMessage([&] { server.SetActive(true); }),
            "Unable to connect to OPC server Veze6.Test.MockServer.1");
  EXPECT_FALSE(server.Active());
}

TEST_F(ServerMockTest, Version_AlwaysReadsOneForty) {
  EXPECT_EQ(server->Version(), "1.40");
  server->SetVersion("2.05");
  EXPECT_TRUE(server->setProperty("Version", "9.99"));
  EXPECT_EQ(server->property("Version").toString(), "1.40");
}

TEST_F(ServerMockTest, Loaded_StoredActive_ConnectsAfterLoading) {
  server->SetServer("");
  server->SetLoading(true);
  server->setProperty("Active", true);
  server->setProperty("ServerName", QString::fromUtf16(kMockProgId));
  EXPECT_EQ(registration->creations(), 0) << "loading only stores";
  EXPECT_TRUE(server->Active());
  server->SetBatchMode(true);
  server->Loaded();
  EXPECT_FALSE(server->IsLoading());
  EXPECT_TRUE(server->Active());
  EXPECT_TRUE(server->BatchMode()) << "outside the designer BatchMode stays";
  EXPECT_EQ(log.entries, std::vector<QString>{"connect"});
}

TEST_F(ServerMockTest, Loaded_InDesigner_ConnectsAndClearsBatchMode) {
  server->SetDesigning(true);
  server->SetLoading(true);
  server->SetBatchMode(true);
  server->SetActive(true);
  server->Loaded();
  EXPECT_FALSE(server->BatchMode());
  EXPECT_TRUE(server->Active());
}

TEST_F(ServerMockTest, Loaded_StoredInactive_StaysDisconnected) {
  server->SetLoading(true);
  server->Loaded();
  EXPECT_FALSE(server->Active());
  EXPECT_EQ(registration->creations(), 0);
}

TEST_F(ServerMockTest, Destroy_Connected_ReleasesWithoutOnDisconnect) {
  connect();
  server.reset();
  EXPECT_EQ(log.entries, std::vector<QString>{"connect"});
  EXPECT_EQ(mock->refCount(), baseRefs);
}

TEST_F(ServerMockTest, Destroy_ByOwner_Disconnects) {
  auto owner = std::make_unique<TComponent>();
  auto* owned = new TqOPCServer(owner.get());  // owned by owner
  owned->SetServer(QString::fromUtf16(kMockProgId));
  owned->SetActive(true);
  EXPECT_GT(mock->refCount(), baseRefs);
  owner.reset();
  EXPECT_EQ(mock->refCount(), baseRefs);
}

TEST_F(ServerMockTest, Version2_AnswersConnectionPointContainer) {
  EXPECT_FALSE(server->Version2()) << "not connected";
  connect();
  const ULONG refs = mock->refCount();
  EXPECT_TRUE(server->Version2());
  EXPECT_EQ(mock->refCount(), refs) << "the container is released at once";
  server->Disconnect();
  mock->refuse(IID_IConnectionPointContainer);
  connect();
  EXPECT_FALSE(server->Version2());
}

TEST_F(ServerMockTest, GetCommonIF_Refused_IsAskedAgain) {
  mock->refuse(IID_IOPCCommon);
  connect();
  EXPECT_EQ(mock->queryCount(IID_IOPCCommon), 1);
  EXPECT_FALSE(server->GetCommonIF());
  EXPECT_FALSE(server->GetItemPropIF() == nullptr);
  EXPECT_EQ(mock->queryCount(IID_IOPCCommon), 2);
}

TEST_F(ServerMockTest, ServerAccess_Disconnected_FaultsNotConnected) {
  EXPECT_EQ(thrownMessage([&] { server->CheckServer(); }), "not connected to server");
  EXPECT_EQ(thrownMessage([&] { server->GetOPCServer(); }), "not connected to server");
  EXPECT_EQ(thrownMessage([&] { server->GetItemPropIF(); }), "not connected to server");

  int faults = 0;
  server->OnError = [&](QObject*, const QString&, bool& raise) {
    ++faults;
    raise = false;
  };
  EXPECT_FALSE(server->CheckServer());
  EXPECT_FALSE(server->GetOPCServer());
  EXPECT_FALSE(server->GetCommonIF());
  EXPECT_EQ(server->GetErrorString(E_FAIL), "");
  EXPECT_EQ(faults, 4);
}

TEST_F(ServerMockTest, GetLocaleId_ReadsThroughCommon) {
  connect();
  EXPECT_CALL(*mock, GetLocaleID(_)).WillOnce(DoAll(SetArgPointee<0>(1033), Return(S_OK)));
  EXPECT_EQ(server->GetLocaleId(), 1033);
}

TEST_F(ServerMockTest, GetLocaleId_FailedCall_RaisesThroughOPCCheck) {
  connect();
  EXPECT_CALL(*mock, GetLocaleID(_)).WillOnce(Return(E_FAIL)).WillOnce(Return(OPC_E_NOTFOUND));
  EXPECT_THROW(server->GetLocaleId(), EOleSysError);
  EXPECT_EQ(thrownMessage([&] { server->GetLocaleId(); }),
            "The server could not locate the requested object.");
}

TEST_F(ServerMockTest, GetLocaleId_WithoutCommon_RaisesDirectlyWithoutOnError) {
  bool onErrorCalled = false;
  server->OnError = [&](QObject*, const QString&, bool& raise) {
    onErrorCalled = true;
    raise = false;
  };
  QString cls;
  EXPECT_EQ(thrownMessage([&] { server->GetLocaleId(); }, &cls), "not connected to server");
  mock->presentAsDA10();
  connect();
  EXPECT_EQ(thrownMessage([&] { server->GetLocaleId(); }, &cls), "not connected to server");
  EXPECT_EQ(cls, "EOPCException");
  EXPECT_FALSE(onErrorCalled);
}

TEST_F(ServerMockTest, SetLocaleId_SendsAndIgnoresResult) {
  server->SetLocaleId(1033);  // disconnected: nothing
  connect();
  EXPECT_CALL(*mock, SetLocaleID(9999u)).WillOnce(Return(E_INVALIDARG));
  EXPECT_NO_THROW(server->SetLocaleId(9999));
}

TEST_F(ServerMockTest, GetErrorString_ReturnsServerTextAndFreesIt) {
  connect();
  const LeakCheck leaks;
  EXPECT_CALL(*mock, GetErrorString(OPC_E_BADRIGHTS, 0u, _))
      .WillOnce(SetArgTaskString<2>(u"Zugriff verweigert – Rechte", S_OK));
  EXPECT_EQ(server->GetErrorString(OPC_E_BADRIGHTS), "Zugriff verweigert – Rechte");
  leaks.expectBalanced();
}

TEST_F(ServerMockTest, GetErrorString_Failure_GivesEmptyAndFreesLeftovers) {
  connect();
  const LeakCheck leaks;
  EXPECT_CALL(*mock, GetErrorString(E_FAIL, 0u, _))
      .WillOnce(Return(E_INVALIDARG))
      .WillOnce(SetArgTaskString<2>(u"left behind", E_OUTOFMEMORY))
      .WillOnce(DoAll(SetArgPointee<2>(nullptr), Return(S_OK)));
  EXPECT_EQ(server->GetErrorString(E_FAIL), "");
  EXPECT_EQ(server->GetErrorString(E_FAIL), "") << "no fallback to the library's own texts";
  EXPECT_EQ(server->GetErrorString(E_FAIL), "");
  leaks.expectBalanced();
}

TEST_F(ServerMockTest, PublishedProperties_InDeclarationOrder) {
  const QMetaObject* meta = server->metaObject();
  QStringList names;
  for (int i = TComponent::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i)
    names << meta->property(i).name();
  EXPECT_EQ(names,
            (QStringList{"BatchMode", "ComputerName", "ServerName", "OPCGroups", "OPCGroupDefault",
                         "Active", "ClientName", "Version", "ConnectDelay", "AutoReconnect"}));
  // Empty texts are not saved; Version always is.
  auto stored = [&](const char* name) {
    return server->IsPropertyStored(meta->property(meta->indexOfProperty(name)));
  };
  server->SetServer("");
  EXPECT_FALSE(stored("ServerName"));
  EXPECT_FALSE(stored("ComputerName"));
  EXPECT_TRUE(stored("Version"));
  EXPECT_TRUE(stored("Active"));
  EXPECT_TRUE(stored("ConnectDelay"));
}

}  // namespace
