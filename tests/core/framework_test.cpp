// The component framework: events, collections, components, exceptions,
// result checks and formats, the application facade and the Qt apartment.
#include <QThread>

#include "core/qopclogging.h"
#include "opc/registrationfiles.h"
#include "test_utils.h"

using namespace core_test;

namespace {

using OPCErrorsTest = veze6::test::LeakCheckedTest;
using TEventTest = veze6::test::LeakCheckedTest;
using TCollectionTest = veze6::test::LeakCheckedTest;
using TComponentTest = veze6::test::LeakCheckedTest;
using ExceptionTest = veze6::test::LeakCheckedTest;
using ApplicationTest = veze6::test::LeakCheckedTest;
using LoggingTest = veze6::test::LeakCheckedTest;
using QtApartmentTest = veze6::test::LeakCheckedTest;

// ---- OPCCheck and Format ------------------------------------------------------

TEST_F(OPCErrorsTest, OPCCheck_SuccessCodesNeverRaise) {
  for (HRESULT code : {S_OK, S_FALSE, OPC_S_CLAMP, OPC_S_UNSUPPORTEDRATE, hresult(0x7FFFFFFF)})
    EXPECT_NO_THROW(OPCCheck(code)) << hr(code);
}

TEST_F(OPCErrorsTest, OPCCheck_FailureWithText_RaisesEOPCException) {
  try {
    OPCCheck(OPC_E_UNKNOWNITEMID);
    FAIL() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(e.Message(), "The item is no longer available in the server address space.");
    EXPECT_STREQ(e.ClassName(), "EOPCException");
  }
}

TEST_F(OPCErrorsTest, OPCCheck_FailureWithoutText_RaisesComErrorWithSystemText) {
  try {
    OPCCheck(E_FAIL);
    FAIL() << "no exception";
  } catch (const EOPCException&) {
    FAIL() << "a code without an OPC text is the platform's error";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), E_FAIL);
    EXPECT_EQ(e.Message(), "Unspecified error");
  }
  // Unknown to the system too: the generic wording, still with the code.
  try {
    OPCCheck(hresult(0xC0040002));
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), hresult(0xC0040002));
    EXPECT_FALSE(e.Message().isEmpty());
  }
}

TEST_F(OPCErrorsTest, Format_RejectsMissingOrMismatchedArguments) {
  EXPECT_THROW(Format("%s and %s", {QString("one")}), EConvertError);
  EXPECT_THROW(Format("%d", {QString("text")}), EConvertError);
  EXPECT_THROW(Format("%s", {42}), EConvertError);
  EXPECT_THROW(Format("50%", {}), EConvertError);
  EXPECT_EQ(Format("100%% of %x", {255}), "100% of FF");
}

// ---- TEvent -------------------------------------------------------------------

struct Receiver : QObject {
  int hits = 0;
  void onNotify(QObject*) { ++hits; }
  void onOther(QObject*) { hits += 100; }
  void onError(QObject*, const QString&, bool& raise) { raise = false; }
};

int g_functionHits = 0;
void freeHandler(QObject*) { ++g_functionHits; }

TEST_F(TEventTest, MemberHandlersCompareByObjectAndMember) {
  Receiver a, b;
  const TNotifyEvent e1(&a, &Receiver::onNotify);
  const TNotifyEvent e2(&a, &Receiver::onNotify);
  EXPECT_TRUE(e1 == e2);
  EXPECT_FALSE(e1 == TNotifyEvent(&a, &Receiver::onOther));
  EXPECT_FALSE(e1 == TNotifyEvent(&b, &Receiver::onNotify));
  EXPECT_EQ(e1.Data(), &a);
  e1(nullptr);
  e2(nullptr);
  EXPECT_EQ(a.hits, 2);
}

TEST_F(TEventTest, CallableHandlersCompareByWhatTheyWereMadeAs) {
  int hits = 0;
  g_functionHits = 0;
  auto lambda = [&hits](QObject*) { ++hits; };
  TNotifyEvent e1 = lambda;
  TNotifyEvent copy = e1;
  EXPECT_TRUE(copy == e1);
  EXPECT_FALSE(TNotifyEvent(lambda) == e1) << "made separately";
  EXPECT_TRUE(TNotifyEvent(&freeHandler) == TNotifyEvent(&freeHandler));
  copy(nullptr);
  const TNotifyEvent viaFunction(&freeHandler);
  viaFunction(nullptr);
  EXPECT_EQ(hits, 1);
  EXPECT_EQ(g_functionHits, 1);
}

TEST_F(TEventTest, UnassignedDoesNothingAndReferenceArgumentsComeBack) {
  TNotifyEvent none;
  EXPECT_FALSE(none);
  EXPECT_TRUE(none == nullptr);
  none(nullptr);
  Receiver r;
  TOnOPCErrorEvent onError(&r, &Receiver::onError);
  bool raise = true;
  onError(nullptr, "text", raise);
  EXPECT_FALSE(raise);
  onError = nullptr;
  EXPECT_FALSE(onError.Assigned());
}

TEST_F(TEventTest, HandlerOfDestroyedQObjectIsSkippedAndReadsUnassigned) {
  auto r = std::make_unique<Receiver>();
  const TNotifyEvent e(r.get(), &Receiver::onNotify);
  EXPECT_TRUE(e.Assigned());
  r.reset();
  // Callers fall back to their own handling when nobody is left to call.
  EXPECT_FALSE(e.Assigned());
  EXPECT_TRUE(e == nullptr);
  e(nullptr);  // must not touch the dead receiver
}

bool g_sentinelFreed = false;
struct Sentinel {
  ~Sentinel() { g_sentinelFreed = true; }
};

TEST_F(TEventTest, HandlerClearingOrReplacingItsOwnEvent_RunsToItsEnd) {
  for (const bool replace : {false, true}) {
    g_sentinelFreed = false;
    TNotifyEvent event;
    auto sentinel = std::make_shared<Sentinel>();
    event = [sentinel, replace, &event](QObject*) {
      if (replace)
        event = [](QObject*) {};
      else
        event = nullptr;
      // The handler's captures are still there while it runs.
      EXPECT_FALSE(g_sentinelFreed) << "the running handler was freed, replace " << replace;
    };
    sentinel.reset();
    event(nullptr);
    EXPECT_TRUE(g_sentinelFreed) << "released once the call is over";
    EXPECT_EQ(event.Assigned(), replace);
  }
}

// ---- TCollection ----------------------------------------------------------------

struct CountingCollection : TCollection {
  int updates = 0;
  void Update(TCollectionItem*) override { ++updates; }
};

struct RaisingItem : TCollectionItem {
  using TCollectionItem::TCollectionItem;
  void BeforeDestruction() override { throw EListError("refused"); }
};

struct RaisingCollection : TCollection {
  std::unique_ptr<TCollectionItem> CreateItem() override {
    return std::make_unique<RaisingItem>(this);
  }
  ~RaisingCollection() override { ClearInDestructor(); }
};

TEST_F(TCollectionTest, IdsStartAtZeroAndAreNeverReused) {
  TCollection c;
  TCollectionItem* a = c.Add();
  TCollectionItem* b = c.Add();
  EXPECT_EQ(a->ID(), 0);
  EXPECT_EQ(b->ID(), 1);
  c.Delete(0);
  EXPECT_EQ(b->Index(), 0);
  EXPECT_EQ(c.FindItemID(0), nullptr);
  EXPECT_EQ(c.FindItemID(1), b);
  EXPECT_EQ(c.Add()->ID(), 2);
  c.Clear();
  EXPECT_EQ(c.Count(), 0);
  EXPECT_EQ(c.Add()->ID(), 3);
}

TEST_F(TCollectionTest, DestroyingAnItemRemovesIt) {
  TCollection c;
  c.Add();
  TCollectionItem* b = c.Add();
  b->Free();
  EXPECT_EQ(c.Count(), 1);
  std::unique_ptr<TCollectionItem> owned(c.Items(0));
  owned.reset();
  EXPECT_EQ(c.Count(), 0);
  EXPECT_THROW(c.Items(0), EListError);
  EXPECT_THROW(c.Delete(-1), EListError);
}

TEST_F(TCollectionTest, UpdatesAreBatched) {
  CountingCollection c;
  c.Add();
  EXPECT_EQ(c.updates, 1);
  c.BeginUpdate();
  c.Add();
  c.Add();
  c.Delete(0);
  EXPECT_EQ(c.updates, 1);
  c.EndUpdate();
  EXPECT_EQ(c.updates, 2);
  c.Clear();
  EXPECT_EQ(c.updates, 3);
}

TEST_F(TCollectionTest, RaisingItemIsDestroyedAndTheErrorPassedOn) {
  RaisingCollection c;
  c.Add();
  c.Add();
  EXPECT_THROW(c.Delete(0), EListError);
  EXPECT_EQ(c.Count(), 1);
  EXPECT_THROW(c.Clear(), EListError);
  EXPECT_EQ(c.Count(), 0);
}

TEST_F(TCollectionTest, ItemRaisingWhileCollectionDiesIsReported) {
  ScopedCaptureApplication capture;
  {
    RaisingCollection c;
    c.Add();
  }
  EXPECT_EQ(capture->Texts(TCaptureApplicationHandler::Kind::Exception), QList<QString>{"refused"});
}

TEST_F(TCollectionTest, SetIndexMovesAndNamePathShowsPosition) {
  TCollection c;
  TCollectionItem* a = c.Add();
  TCollectionItem* b = c.Add();
  b->SetIndex(0);
  EXPECT_EQ(c.Items(0), b);
  EXPECT_EQ(a->Index(), 1);
  EXPECT_EQ(a->GetNamePath(), "TCollection[1]");
  EXPECT_EQ(a->GetDisplayName(), "TCollectionItem");
}

// ---- TComponent ------------------------------------------------------------------

TEST_F(TComponentTest, OwnerNameAndState) {
  TComponent owner;
  owner.SetDesigning(true);
  auto* child = new TComponent(&owner);  // owned by owner
  child->SetName("OPCServer1");
  EXPECT_EQ(child->Owner(), &owner);
  EXPECT_TRUE(child->IsDesigning()) << "a designing owner's components design too";
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.FindComponent("opcserver1"), child);
  child->SetLoading(true);
  EXPECT_EQ(child->ComponentState(), TComponentState(csLoading | csDesigning));
  child->Loaded();
  EXPECT_FALSE(child->IsLoading());
  owner.SetDesigning(false);
  EXPECT_FALSE(child->IsDesigning());
  child->Destroying();
  EXPECT_TRUE(child->IsDestroying());
}

// ---- exceptions and the application facade -----------------------------------------

TEST_F(ExceptionTest, MessageAndUtf8) {
  try {
    throw EOPCException("Störung – 故障");
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Störung – 故障");
    EXPECT_STREQ(e.what(), "Störung – 故障");
    EXPECT_STREQ(e.ClassName(), "EOPCException");
  }
  try {
    OleError(E_ACCESSDENIED);
  } catch (const EOleError& e) {
    EXPECT_EQ(dynamic_cast<const EOleSysError&>(e).ErrorCode(), E_ACCESSDENIED);
    EXPECT_FALSE(e.Message().isEmpty());
  }
  EXPECT_NO_THROW(OleCheck(S_FALSE));
  EXPECT_THROW(OleCheck(E_POINTER), EOleSysError);
}

TEST_F(ApplicationTest, CaptureRecordsWhatWouldHaveBeenShown) {
  ScopedCaptureApplication capture;
  QObject sender;
  Application().HandleException(&sender, EOPCException("cannot write Items:\r\n"));
  Application().HandleException(nullptr, std::runtime_error("plain"));
  ShowMessage("hello");
  capture->QueueAnswer(mrNo);
  EXPECT_EQ(MessageDlg("sure?", TMsgDlgType::mtConfirmation, mbYes | mbNo), mrNo);
  EXPECT_EQ(MessageDlg("again?", TMsgDlgType::mtConfirmation, mbYes | mbNo), mrYes);
  Beep();
  Beep();
  const auto entries = capture->Entries();
  ASSERT_EQ(entries.size(), 5);
  EXPECT_EQ(entries[0].className, "EOPCException");
  EXPECT_EQ(entries[0].sender, &sender);
  EXPECT_EQ(entries[1].text, "plain");
  EXPECT_EQ(capture->Texts(TCaptureApplicationHandler::Kind::Message), QList<QString>{"hello"});
  EXPECT_EQ(capture->BeepCount(), 2);
}

TEST_F(ApplicationTest, ScopedCaptureRestoresThePreviousHandler) {
  const auto before = Application().Handler();
  { ScopedCaptureApplication capture; }
  EXPECT_EQ(Application().Handler(), before);
  EXPECT_EQ(DefaultModalResult(mbCancel | mbOK), mrOk);
}

// ---- the Qt apartment --------------------------------------------------------------

// The platform layer's warnings (std only, so no Qt there) arrive as log
// messages of veze6.opc, also after a handler of one's own was put back.
TEST_F(LoggingTest, PlatformWarningsGoToTheirCategory) {
  static QStringList seen;
  seen.clear();
  const QtMessageHandler previous =
      qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& m) {
        seen << QString::fromLatin1(context.category) + ": " + m;
      });
  opc::warn("registration file skipped");
  opc::setWarningHandler([](const std::string&) {});
  opc::warn("swallowed");
  RouteOpcWarningsToLog();
  opc::warn("routed again");
  qInstallMessageHandler(previous);
  EXPECT_EQ(seen, QStringList({"veze6.opc: registration file skipped", "veze6.opc: routed again"}));
}

TEST_F(QtApartmentTest, TasksFromOtherThreadsRunHereInOrder) {
  auto apartment = installQtApartment();
  ASSERT_TRUE(apartment);
  EXPECT_TRUE(apartment->isCurrentThread());
  EXPECT_EQ(installQtApartment(), apartment) << "an installed apartment is kept";
  std::vector<int> order;
  std::vector<bool> onThread;
  std::thread worker([&] {
    EXPECT_FALSE(apartment->isCurrentThread());
    for (int i = 0; i < 5; ++i)
      apartment->post([&, i] {
        order.push_back(i);
        onThread.push_back(apartment->isCurrentThread());
      });
  });
  worker.join();
  EXPECT_TRUE(order.empty()) << "never run synchronously";
  ASSERT_TRUE(pumpUntil([&] { return order.size() == 5; }));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(std::count(onThread.begin(), onThread.end(), true), 5);
}

TEST_F(QtApartmentTest, TimersTickUntilStopped) {
  auto apartment = installQtApartment();
  int ticks = 0;
  const auto id = apartment->startTimer(std::chrono::milliseconds(1), [&] { ++ticks; });
  ASSERT_TRUE(pumpUntil([&] { return ticks >= 2; }));
  apartment->stopTimer(id);
  const int stoppedAt = ticks;
  bool marker = false;
  apartment->post([&] { marker = true; });
  ASSERT_TRUE(pumpUntil([&] { return marker; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(ticks, stoppedAt);
}

TEST_F(QtApartmentTest, TimerStartedFromAnotherThreadLivesHere) {
  auto apartment = installQtApartment();
  std::atomic<int> ticks{0};
  std::atomic<bool> onThread{true};
  opc::Apartment::TimerId id = 0;
  std::thread([&] {
    id = apartment->startTimer(std::chrono::milliseconds(1), [&] {
      ++ticks;
      if (!apartment->isCurrentThread()) onThread = false;
    });
  }).join();
  ASSERT_TRUE(pumpUntil([&] { return ticks >= 1; }));
  EXPECT_TRUE(onThread);
  std::thread([&] { apartment->stopTimer(id); }).join();
  QCoreApplication::processEvents();
}

}  // namespace
