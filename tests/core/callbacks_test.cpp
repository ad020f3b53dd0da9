// The hand-over of server callbacks to the component's thread: the hidden
// window and its messages, the shutdown callback (against the simulation
// server and against a mock server's connection point), and the
// connection-point routines.
#include <QThread>
#include <atomic>
#include <thread>

#include "common/simcomponent.h"
#include "server_fixture.h"
#include "simulator/simulator.h"

using namespace core_test;
namespace sim = veze6::sim;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::SetArgPointee;
using ::testing::StrictMock;
using Kind = TCaptureApplicationHandler::Kind;

namespace {

using ConnectionPointsTest = veze6::test::LeakCheckedTest;

// ---- the hidden window ------------------------------------------------------------

class MessagesTest : public LeakCheckedTest {
 protected:
  void SetUp() override {
    group = server.OPCGroups()->Add("G");
    item = group->OPCItems()->AddItem("Static.Int4");
  }

  /// A list of n references to the test's item.
  std::unique_ptr<TqOPCItemList> listOf(int n) {
    auto list = std::make_unique<TqOPCItemList>();
    for (int i = 0; i < n; ++i) list->Add(item);
    return list;
  }

  ScopedCaptureApplication capture;
  TqOPCServer server;
  TqOPCGroup* group = nullptr;
  TqOPCItem* item = nullptr;
};

TEST_F(MessagesTest, QueryEndSession_AnsweredOneOtherMessagesZero) {
  const HWND window = server.GetHandle();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(server.GetHandle(), window) << "one window, kept";
  EXPECT_EQ(SendMessage(window, WM_QUERYENDSESSION, 0, 0), 1);
  EXPECT_EQ(SendMessage(window, WM_USER + 77, 5, 6), 0);
  TMessage message{WM_QUERYENDSESSION, 0, 0, 0};
  server.WndProc(message);
  EXPECT_EQ(message.Result, 1);
}

TEST_F(MessagesTest, PostedFromAnotherThread_FireOnTheComponentsThreadInPostingOrder) {
  std::vector<std::pair<QString, int>> seen;
  std::vector<QThread*> threads;
  const auto record = [&](const char* what) {
    return [&, what](QObject* sender, TqOPCItemList* list) {
      EXPECT_EQ(sender, &server);
      seen.emplace_back(what, list->Count());
      threads.push_back(QThread::currentThread());
    };
  };
  server.OnDatachange = record("change");
  server.OnWriteComplete = record("complete");
  server.OnWriteError = record("error");

  constexpr int kMessages = 60;
  std::thread poster([&] {
    const HWND window = server.GetHandle();  // made here, living on the main thread
    for (int i = 1; i <= kMessages; ++i) {
      const UINT msg = i % 3 == 0   ? CM_OPCDATACHANGE
                       : i % 3 == 1 ? CM_OPCWRITECOMPLETE
                                    : CM_OPCWRITEERROR;
      PostMessage(window, msg, msg == CM_OPCDATACHANGE ? WPARAM(group->ID()) : 0, listOf(i));
    }
  });
  poster.join();
  ASSERT_TRUE(pumpUntil([&] { return int(seen.size()) == kMessages; }));
  for (int i = 1; i <= kMessages; ++i) {
    const char* what = i % 3 == 0 ? "change" : i % 3 == 1 ? "complete" : "error";
    EXPECT_EQ(seen[std::size_t(i - 1)], std::make_pair(QString(what), i));
    EXPECT_EQ(threads[std::size_t(i - 1)], QThread::currentThread());
  }
  EXPECT_TRUE(capture->Entries().isEmpty());
}

TEST_F(MessagesTest, DataChange_ForAnUnknownGroupFiresNothing) {
  int fired = 0;
  server.OnDatachange = [&](QObject*, TqOPCItemList*) { ++fired; };
  PostMessage(server.GetHandle(), CM_OPCDATACHANGE, WPARAM(group->ID() + 1), listOf(1));
  PostMessage(server.GetHandle(), CM_OPCDATACHANGE, WPARAM(-1), listOf(1));
  // A message without a list reaches no handler either.
  PostMessage(server.GetHandle(), CM_OPCDATACHANGE, WPARAM(group->ID()), LPARAM(0));
  PostMessage(server.GetHandle(), CM_OPCDATACHANGE, WPARAM(group->ID()), listOf(2));
  ASSERT_TRUE(pumpUntil([&] { return fired == 1; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(fired, 1);
}

TEST_F(MessagesTest, RaisingHandler_GoesToTheApplicationAndLaterMessagesStillArrive) {
  int calls = 0;
  server.OnDatachange = [&](QObject*, TqOPCItemList*) {
    if (++calls == 1) throw EOPCException("handler failed");
  };
  PostMessage(server.GetHandle(), CM_OPCDATACHANGE, WPARAM(group->ID()), listOf(1));
  PostMessage(server.GetHandle(), CM_OPCDATACHANGE, WPARAM(group->ID()), listOf(1));
  ASSERT_TRUE(pumpUntil([&] { return calls == 2; }));
  const auto entries = capture->Entries();
  ASSERT_EQ(entries.size(), 1);
  EXPECT_EQ(entries[0].kind, Kind::Exception);
  EXPECT_EQ(entries[0].text, "handler failed");
  EXPECT_EQ(entries[0].className, "EOPCException");
  EXPECT_EQ(entries[0].sender, &server);
}

TEST_F(MessagesTest, Signals_FollowTheirFieldsAlsoWithoutThem) {
  std::vector<QString> seen;
  const auto field = [&](const char* name) {
    return [&seen, name](QObject*, TqOPCItemList* list) {
      seen.push_back(QString("%1:%2").arg(name).arg(list->Count()));
    };
  };
  const auto signal = [&](const char* name) {
    return [&seen, name](TqOPCItemList* list) {
      seen.push_back(QString("%1(%2)").arg(name).arg(list->Count()));
    };
  };
  QObject::connect(&server, &TqOPCServer::dataChanged, signal("dataChanged"));
  QObject::connect(&server, &TqOPCServer::writeComplete, signal("writeComplete"));
  QObject::connect(&server, &TqOPCServer::writeError, signal("writeError"));
  const auto postAll = [&] {
    PostMessage(server.GetHandle(), CM_OPCDATACHANGE, WPARAM(group->ID()), listOf(1));
    PostMessage(server.GetHandle(), CM_OPCWRITECOMPLETE, 0, listOf(2));
    PostMessage(server.GetHandle(), CM_OPCWRITEERROR, 0, listOf(3));
  };
  server.OnDatachange = field("OnDatachange");
  server.OnWriteComplete = field("OnWriteComplete");
  // A handler destroying items of its list: the signal gets what is left.
  server.OnWriteError = [&](QObject*, TqOPCItemList* list) {
    seen.push_back(QString("OnWriteError:%1").arg(list->Count()));
    group->OPCItems()->Items(0)->Free();
  };
  postAll();
  ASSERT_TRUE(pumpUntil([&] { return seen.size() == 6; }));
  item = group->OPCItems()->AddItem("Static.Int4");
  server.OnDatachange = nullptr;
  server.OnWriteComplete = nullptr;
  server.OnWriteError = nullptr;
  postAll();
  ASSERT_TRUE(pumpUntil([&] { return seen.size() == 9; }));
  EXPECT_EQ(seen, (std::vector<QString>{"OnDatachange:1", "dataChanged(1)", "OnWriteComplete:2",
                                        "writeComplete(2)", "OnWriteError:3", "writeError(0)",
                                        "dataChanged(1)", "writeComplete(2)", "writeError(3)"}));
  EXPECT_TRUE(capture->Entries().isEmpty());
}

TEST_F(MessagesTest, HandlerDestroyingTheComponent_NoSignalFollows) {
  for (const UINT msg : {CM_OPCDATACHANGE, CM_OPCWRITECOMPLETE, CM_OPCWRITEERROR}) {
    auto doomed = std::make_unique<TqOPCServer>();
    TqOPCGroup* g = doomed->OPCGroups()->Add("G");
    TOnOPCDataChangeEvent destroy = [&](QObject*, TqOPCItemList*) { doomed.reset(); };
    doomed->OnDatachange = doomed->OnWriteComplete = doomed->OnWriteError = destroy;
    int signalled = 0;
    for (auto signal :
         {&TqOPCServer::dataChanged, &TqOPCServer::writeComplete, &TqOPCServer::writeError})
      QObject::connect(doomed.get(), signal, [&] { ++signalled; });
    auto list = std::make_unique<TqOPCItemList>();
    list->Add(g->OPCItems()->AddItem("Static.Int4"));
    PostMessage(doomed->GetHandle(), msg, WPARAM(g->ID()), std::move(list));
    ASSERT_TRUE(pumpUntil([&] { return !doomed; }));
    EXPECT_EQ(signalled, 0) << msg;
  }
  EXPECT_TRUE(capture->Entries().isEmpty());
}

TEST_F(MessagesTest, DestroyedComponent_DropsQueuedMessagesAndHandsOutNoWindow) {
  auto doomed = std::make_unique<TqOPCServer>();
  TqOPCGroup* g = doomed->OPCGroups()->Add("G");
  int fired = 0;
  doomed->OnDatachange = [&](QObject*, TqOPCItemList*) { ++fired; };
  auto list = std::make_unique<TqOPCItemList>();
  list->Add(g->OPCItems()->AddItem("Static.Int4"));
  PostMessage(doomed->GetHandle(), CM_OPCDATACHANGE, WPARAM(g->ID()), std::move(list));
  doomed.reset();
  QCoreApplication::processEvents();
  EXPECT_EQ(fired, 0);
  EXPECT_FALSE(PostMessage(nullptr, CM_OPCSHUTDOWN, 0, 0));
  EXPECT_FALSE(PostMessage(nullptr, CM_OPCDATACHANGE, 0, listOf(1)));
}

TEST_F(MessagesTest, ItemList_ItemsOfARemovedGroupReadAsNullWhateverTakesTheirPlace) {
  TqOPCItemList list(group->OPCItems());
  list.Add(item);
  server.OPCGroups()->Remove("G");
  // A new group and items, quite possibly where the old ones were.
  TqOPCGroup* again = server.OPCGroups()->Add("G");
  TqOPCItem* other = again->OPCItems()->AddItem("Static.Int4");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items(0), nullptr);
  EXPECT_EQ(list.Items(1), nullptr);
  TqOPCItemList fresh(other);
  EXPECT_EQ(fresh.Items(0), other);
}

TEST_F(MessagesTest, Events_ListOnlyItemsStillAlive) {
  int nulls = 0;
  std::vector<int> counts;
  const auto record = [&](QObject*, TqOPCItemList* list) {
    counts.push_back(list->Count());
    for (int i = 0; i < list->Count(); ++i) nulls += list->Items(i) == nullptr;
  };
  server.OnDatachange = record;
  server.OnWriteComplete = record;
  server.OnWriteError = record;
  std::vector<TqOPCItem*> doomed;
  for (UINT msg : {CM_OPCDATACHANGE, CM_OPCWRITECOMPLETE, CM_OPCWRITEERROR}) {
    doomed.push_back(group->OPCItems()->AddItem("Doomed"));
    auto list = listOf(1);
    list->Insert(0, doomed.back());
    PostMessage(server.GetHandle(), msg, msg == CM_OPCDATACHANGE ? WPARAM(group->ID()) : 0,
                std::move(list));
  }
  for (TqOPCItem* d : doomed) d->Free();
  QCoreApplication::processEvents();
  EXPECT_EQ(counts, (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(nulls, 0);
}

TEST_F(MessagesTest, ItemList_EditedAsApplicationsBuildBatches) {
  TqOPCItem* b = group->OPCItems()->AddItem("B");
  TqOPCItem* c = group->OPCItems()->AddItem("C");
  TqOPCItemList list;
  EXPECT_EQ(list.Add(item), 0);
  list.Insert(0, b);
  list.Insert(2, c);  // b item c
  EXPECT_THROW(list.Insert(4, c), EListError);
  EXPECT_EQ(list.IndexOf(c), 2);
  EXPECT_EQ(list.Remove(b), 0);  // item c
  EXPECT_EQ(list.Remove(b), -1);
  list.PutItem(0, b);  // b c
  EXPECT_THROW(list.PutItem(2, b), EListError);
  EXPECT_EQ(list.Extract(c), c);  // b
  EXPECT_EQ(list.Extract(c), nullptr);
  list.Add(item);
  list.Delete(0);  // item
  EXPECT_THROW(list.Delete(1), EListError);
  list.Add(b);  // item b
  b->Free();
  EXPECT_EQ(list.IndexOf(nullptr), 1);
  list.Pack();
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Items(0), item);
}

// ---- connection-point routines ------------------------------------------------------

class ThrowingObject : public opc::ComObject<IUnknown> {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IConnectionPointContainer) throw std::runtime_error("broken server");
    return ComObject::QueryInterface(riid, ppv);
  }
};

TEST_F(ConnectionPointsTest, MissingStepsGiveEFail) {
  DWORD cookie = 77;
  EXPECT_HR(E_FAIL, AdviseConnectionPoint(nullptr, IID_IOPCShutdown, nullptr, cookie));
  EXPECT_HR(E_FAIL, UnadviseConnectionPoint(nullptr, IID_IOPCShutdown, 1));
  const auto throwing = opc::makeCom<ThrowingObject>();
  EXPECT_HR(E_FAIL, AdviseConnectionPoint(throwing.get(), IID_IOPCShutdown, nullptr, cookie));
  EXPECT_EQ(cookie, 77u) << "untouched";
  const auto da10 = opc::makeCom<StrictMock<MockOPCServer>>();
  da10->presentAsDA10();
  EXPECT_HR(E_FAIL, AdviseConnectionPoint(static_cast<IOPCServer*>(da10.get()), IID_IOPCShutdown,
                                          nullptr, cookie));
  EXPECT_EQ(da10->refCount(), 1u);
}

// ---- the shutdown callback against a mock server -----------------------------------

class ShutdownMockTest : public ServerMockFixture {
 protected:
  void SetUp() override {
    ServerMockFixture::SetUp();
    point = opc::makeCom<StrictMock<MockConnectionPoint>>();
    log.attach(*server);
  }

  void TearDown() override {
    ServerMockFixture::TearDown();
    EXPECT_EQ(point->refCount(), 1u);
  }

  /// The server offers a shutdown point whose Advise keeps the sink and
  /// answers cookie 42.
  void offerShutdownPoint(int advises = 1) {
    EXPECT_CALL(*mock, FindConnectionPoint(IID_IOPCShutdown, _))
        .WillRepeatedly(SetArgInterface<1>(static_cast<IConnectionPoint*>(point.get())));
    EXPECT_CALL(*point, Advise(_, _))
        .Times(advises)
        .WillRepeatedly(Invoke([this](IUnknown* sink, DWORD* cookie) {
          sink->QueryInterface(IID_IOPCShutdown, advised.putVoid());
          *cookie = 42;
          return S_OK;
        }));
  }

  /// Runs what the event loop holds now and what that posts in turn.
  static void settle() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  }

  ComPtr<StrictMock<MockConnectionPoint>> point;
  ComPtr<IOPCShutdown> advised;  // what the server keeps
  EventLog log;
  SleepRecorder sleeps;
};

TEST_F(ShutdownMockTest, Connect_AdvisesAndDisconnectUnadvisesTheCookie) {
  offerShutdownPoint();
  EXPECT_CALL(*point, Unadvise(42)).WillOnce(Invoke([this](DWORD) {
    advised.reset();
    return S_OK;
  }));
  server->SetActive(true);
  ASSERT_TRUE(advised);
  server->SetActive(false);
  EXPECT_FALSE(advised);
}

TEST_F(ShutdownMockTest, ServerKeepingTheSink_CannotReachTheComponentLater) {
  offerShutdownPoint();
  EXPECT_CALL(*point, Unadvise(42)).WillOnce(Return(S_OK));  // but keeps it
  server->SetActive(true);
  server->SetActive(false);
  ASSERT_TRUE(advised);
  int shutdowns = 0;
  server->OnServerShutdown = [&](QObject*, const QString&) { ++shutdowns; };
  EXPECT_HR_OK(advised->ShutdownRequest(u"late"));
  QCoreApplication::processEvents();
  EXPECT_EQ(shutdowns, 0);
  server.reset();
  // The component is gone: nothing to reach.
  EXPECT_HR_OK(advised->ShutdownRequest(u"later still"));
  advised.reset();
}

TEST_F(ShutdownMockTest, DestroyedWhileLoading_LetsGoOfTheCallbackToo) {
  offerShutdownPoint();
  EXPECT_CALL(*point, Unadvise(42)).WillOnce(Return(S_OK));  // but keeps it
  server->SetActive(true);
  server->SetLoading(true);  // SetActive(False) then only stores the flag
  server.reset();
  EXPECT_HR_OK(advised->ShutdownRequest(u""));
  settle();
  advised.reset();
}

TEST_F(ShutdownMockTest, ServerWithoutShutdownPoint_ConnectsAndUnadvisesNothing) {
  // The mock's default: FindConnectionPoint answers CONNECT_E_NOCONNECTION.
  server->SetActive(true);
  EXPECT_TRUE(server->Active());
  server->SetActive(false);
  EXPECT_EQ(log.entries, (std::vector<QString>{"connect", "disconnect"}));
  mock->refuse(IID_IConnectionPointContainer);
  server->SetActive(true);
  EXPECT_TRUE(server->Active());
}

TEST_F(ShutdownMockTest, ShutdownRequest_FiresShutdownWithEmptyReasonThenDisconnect) {
  offerShutdownPoint();
  EXPECT_CALL(*point, Unadvise(42)).WillOnce(Return(S_OK));
  server->SetActive(true);
  server->OnServerShutdown = [&](QObject* sender, const QString& reason) {
    EXPECT_EQ(sender, server.get());
    log.entries.push_back("shutdown:" + reason);
  };
  QObject::connect(server.get(), &TqOPCServer::serverShutdown, [&](const QString& reason) {
    log.entries.push_back("serverShutdown(" + reason + ")");
  });
  QObject::connect(server.get(), &TqOPCServer::disconnected,
                   [&] { log.entries.push_back("disconnected()"); });
  EXPECT_HR_OK(advised->ShutdownRequest(u"maintenance"));
  EXPECT_TRUE(server->Active()) << "nothing happens inside the server's call";
  ASSERT_TRUE(pumpUntil([&] { return !server->Active(); }));
  // The handler's text stays empty; the signal carries the server's reason.
  EXPECT_EQ(log.entries,
            (std::vector<QString>{"connect", "shutdown:", "serverShutdown(maintenance)",
                                  "disconnect", "disconnected()"}));
  advised.reset();
}

TEST_F(ShutdownMockTest, QueuedShutdown_NeverEndsAConnectionMadeAfterIt) {
  offerShutdownPoint(2);
  EXPECT_CALL(*point, Unadvise(42)).Times(2).WillRepeatedly(Return(S_OK));
  server->SetActive(true);
  server->OnServerShutdown = [&](QObject*, const QString&) { log.entries.push_back("shutdown"); };
  EXPECT_HR_OK(advised->ShutdownRequest(u""));  // queued for this connection
  server->SetActive(false);
  server->SetActive(true);
  settle();
  EXPECT_TRUE(server->Active());
  EXPECT_EQ(log.entries, (std::vector<QString>{"connect", "disconnect", "connect"}));
  // The new connection's own request still ends it.
  EXPECT_HR_OK(advised->ShutdownRequest(u""));
  ASSERT_TRUE(pumpUntil([&] { return !server->Active(); }));
  EXPECT_EQ(log.entries.back(), "disconnect");
  advised.reset();
}

TEST_F(ShutdownMockTest, RequestFromAnotherThread_IsHandedToTheComponentsApartment) {
  auto apartment = std::make_shared<opc::ManualApartment>();
  const auto previous = opc::Apartment::current();
  opc::Apartment::setCurrent(apartment);
  offerShutdownPoint();
  EXPECT_CALL(*point, Unadvise(42)).WillOnce(Return(S_OK));
  server->SetActive(true);  // the callback belongs to this thread's apartment
  opc::Apartment::setCurrent(previous);
  std::thread([sink = advised] { EXPECT_HR_OK(sink->ShutdownRequest(u"")); }).join();
  settle();
  EXPECT_TRUE(server->Active()) << "reached the component from the server's thread";
  EXPECT_EQ(apartment->runPending(), 1u);
  ASSERT_TRUE(pumpUntil([&] { return !server->Active(); }));
  advised.reset();
}

TEST_F(ShutdownMockTest, RequestsFromAnotherThreadWhileTheComponentGoes_ReachNothingDead) {
  offerShutdownPoint();
  EXPECT_CALL(*point, Unadvise(42)).WillOnce(Return(S_OK));
  server->SetActive(true);
  std::atomic<int> calls{0};
  std::atomic<bool> stop{false};
  std::thread worker([&, sink = advised] {
    for (int i = 0; i < 20000 && !stop.load(); ++i) {
      sink->ShutdownRequest(u"");
      ++calls;
    }
  });
  // The first requests arrive while it is connected, the rest while it is
  // being destroyed and after.
  pumpUntil([&] { return calls.load() > 50; });
  server.reset();
  stop = true;
  worker.join();
  settle();
  advised.reset();
}

TEST_F(ShutdownMockTest, ShutdownHandlerDestroyingTheComponent_NothingTouchesItAfterwards) {
  ScopedCaptureApplication capture;
  offerShutdownPoint();
  EXPECT_CALL(*point, Unadvise(42)).WillOnce(Return(S_OK));
  server->SetActive(true);
  server->OnServerShutdown = [this](QObject*, const QString&) {
    server.reset();  // as a form owning it would be closed and freed
    throw EOPCException("closed");
  };
  int signalled = 0;
  QObject::connect(server.get(), &TqOPCServer::serverShutdown, [&] { ++signalled; });
  EXPECT_HR_OK(advised->ShutdownRequest(u""));
  ASSERT_TRUE(pumpUntil([&] { return !server; }));
  EXPECT_EQ(signalled, 0) << "no signal from a destroyed component";
  const auto entries = capture->Entries();
  ASSERT_EQ(entries.size(), 1);
  EXPECT_EQ(entries[0].text, "closed");
  EXPECT_EQ(entries[0].sender, nullptr) << "a destroyed component is no sender";
  advised.reset();
}

// ---- the shutdown callback against the simulation server ---------------------------

class ShutdownSimTest : public veze6::test::SimComponentTest {
 protected:
  void SetUp() override {
    SimComponentTest::SetUp();
    log.attach(*server);
    server->OnServerShutdown = [this](QObject*, const QString& reason) {
      log.entries.push_back("shutdown:" + reason);
      threads.push_back(QThread::currentThread());
    };
    ASSERT_NO_FATAL_FAILURE(connect());
    control = simControl();
  }
  void TearDown() override {
    control.reset();
    SimComponentTest::TearDown();
  }

  ComPtr<sim::SimulationControl> control;
  EventLog log;
  std::vector<QThread*> threads;
};

TEST_F(ShutdownSimTest, RequestFromTheServersThread_ShutsDownOnTheComponentsThread) {
  EXPECT_EQ(control->shutdownSinkCount(), 1u);
  std::size_t called = 0;
  std::thread worker([&] { called = control->requestShutdown(u"from a worker"); });
  worker.join();
  EXPECT_EQ(called, 1u);
  ASSERT_TRUE(pumpUntil([&] { return !server->Active(); }));
  EXPECT_EQ(log.entries, (std::vector<QString>{"connect", "shutdown:", "disconnect"}));
  EXPECT_EQ(threads, std::vector<QThread*>{QThread::currentThread()});
  EXPECT_EQ(control->shutdownSinkCount(), 0u) << "unadvised on the way out";
}

TEST_F(ShutdownSimTest, Reconnect_AdvisesOneSinkAtATime) {
  server->SetActive(false);
  server->SetActive(true);
  control = server->GetOPCServer().as<sim::SimulationControl>();
  EXPECT_EQ(control->shutdownSinkCount(), 1u);
  EXPECT_EQ(control->requestShutdown(u""), 1u);
  ASSERT_TRUE(pumpUntil([&] { return !server->Active(); }));
  EXPECT_EQ(std::count(log.entries.begin(), log.entries.end(), "shutdown:"), 1);
}

}  // namespace
