// The whole component API against a server that misbehaves, one behaviour a
// case: nothing crashes, hangs or leaks, faults come back as the library's
// exceptions or reports, and the component connects to a sound server
// afterwards.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QPointer>
#include <functional>
#include <ostream>
#include <thread>

#include "binding/qOPCGUI.h"
#include "common/leakcheck.h"
#include "core/qOPC.h"
#include "hostilescript.h"
#include "hostileserver.h"
#include "simulator/simulator.h"

using namespace std::chrono_literals;
using hostile::Act;
using hostile::Script;
using hostile::SimCall;

namespace {

using HostileBrowseTest = veze6::test::LeakCheckedTest;
using HostileGroupTest = veze6::test::LeakCheckedTest;

struct Behaviour {
  const char* name;
  bool da10;
  std::function<void(Script&)> arrange;
  bool faults;  ///< the library must report at least one fault
};

// Test output names a row, not its bytes.
[[maybe_unused]] void PrintTo(const Behaviour& behaviour, std::ostream* os) {
  *os << behaviour.name;
}

void pump() {
  Script::instance().joinForeign();
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

const Behaviour kBehaviours[] = {
    {"Sound", false, [](Script&) {}, false},
    {"SoundDA10", true, [](Script&) {}, false},
    {"FailEveryCall", false, [](Script& s) { s.setAll(Act::Fail, E_FAIL); }, true},
    {"FailOutOfMemory", false, [](Script& s) { s.setAll(Act::Fail, E_OUTOFMEMORY); }, true},
    {"FailDisconnected", true, [](Script& s) { s.setAll(Act::Fail, HRESULT(0x80010108)); }, true},
    {"NullOutArrays", false, [](Script& s) { s.setAll(Act::NullOut); }, true},
    {"NullOutArraysDA10", true, [](Script& s) { s.setAll(Act::NullOut); }, true},
    {"MixedItemErrors", false, [](Script& s) { s.setAll(Act::MixedErrors); }, true},
    {"MixedItemErrorsDA10", true, [](Script& s) { s.setAll(Act::MixedErrors); }, true},
    {"WrongEnumeratorCounts", false, [](Script& s) { s.setAll(Act::WrongCount); }, false},
    {"BadClientHandles", false, [](Script& s) { s.setMangle(hostile::kBadHandles); }, false},
    {"UnknownTransactions", false,
     [](Script& s) { s.setMangle(hostile::kUnknownTransaction | hostile::kBadHandles); }, false},
    {"CallbacksAfterUnadvise", false,
     [](Script& s) { s.setMangle(hostile::kKeepSinks | hostile::kBadHandles); }, false},
    {"CallbacksAfterUnadviseDA10", true,
     [](Script& s) { s.setMangle(hostile::kKeepSinks | hostile::kBadStream); }, false},
    {"CallbacksAfterUnadviseFromForeignThreads", false,
     [](Script& s) {
       s.setMangle(hostile::kKeepSinks | hostile::kForeignThread | hostile::kBadHandles);
     },
     false},
    {"ForeignThreads", false,
     [](Script& s) {
       s.setMangle(hostile::kForeignThread | hostile::kBadHandles | hostile::kUnknownTransaction);
       s.setAll(Act::Reenter);
     },
     false},
    {"ForeignThreadsDA10", true,
     [](Script& s) {
       s.setMangle(hostile::kForeignThread | hostile::kBadStream);
       s.setAll(Act::Reenter);
     },
     false},
    {"Reentrant", false, [](Script& s) { s.setAll(Act::Reenter); }, false},
    {"ReentrantDA10", true, [](Script& s) { s.setAll(Act::Reenter); }, false},
    {"BadStreamsDA10", true,
     [](Script& s) {
       s.setMangle(hostile::kBadStream);
       s.setAll(Act::Reenter);
     },
     false},
    {"ShutdownInConnect", false, [](Script& s) { s.set(SimCall::AddGroup, Act::Shutdown); }, true},
    {"ShutdownInAddItems", false, [](Script& s) { s.set(SimCall::AddItems, Act::Shutdown); }, true},
    {"ShutdownInRead", false,
     [](Script& s) {
       s.set(SimCall::SyncRead, Act::Shutdown);
       s.set(SimCall::AsyncRead, Act::Shutdown);
     },
     true},
    {"ShutdownFromForeignThread", false,
     [](Script& s) {
       s.setMangle(hostile::kForeignThread);
       s.set(SimCall::AddItems, Act::Shutdown);
     },
     true},
    {"ShutdownInConnectAmidFaults", false,
     [](Script& s) {
       s.set(SimCall::AddGroup, Act::Shutdown);
       s.set(SimCall::AddItems, Act::Fail);
     },
     true},
    {"ShutdownAmidFaults", false,
     [](Script& s) {
       s.setAll(Act::MixedErrors);
       s.set(SimCall::AddItems, Act::Shutdown);
       s.set(SimCall::SetActiveState, Act::Fail);
       s.set(SimCall::SyncRead, Act::Shutdown);
       s.set(SimCall::AsyncWrite, Act::Shutdown);
     },
     true},
    {"BlockingCalls", false,
     [](Script& s) {
       s.set(SimCall::SyncRead, Act::Block);
       s.closeGate();
     },
     false},
};

class HostileServerTest : public ::testing::TestWithParam<Behaviour> {
 protected:
  static void SetUpTestSuite() {
    hostile::registerHostileServer();
    veze6::sim::registerSimulationServer();
  }

  void SetUp() override {
    leaks_.restart();
    GetParam().arrange(Script::instance());
  }

  void TearDown() override { Script::instance().reset(); }

  /// Runs `step`, recording a fault of the library's own classes.
  void attempt(const char* what, const std::function<void()>& step) {
    try {
      step();
    } catch (const Exception& e) {
      faults_ << QString::fromLatin1(what) + ": " + e.Message();
    }
  }

  /// Every part of the component API, each step on its own.
  void exercise(TqOPCServer& server) {
    // Like an application showing a message box: events are handled inside
    // the handler, and every other fault is suppressed so the faulting call
    // carries on.
    server.OnError = [this](QObject*, const QString& text, bool& raise) {
      faults_ << "OnError: " + text;
      raise = faults_.size() % 2 == 0;
      QCoreApplication::processEvents();
    };
    server.OnServerShutdown = [this](QObject*, const QString&) { ++shutdowns_; };
    server.SetClientName("hostile test");
    server.SetConnectDelay(0);
    server.OPCGroupDefault()->UpdateRate = 100;
    TqOPCGroup* group = server.OPCGroups()->Add("g");
    for (const char* id : {"Writable.Int4", "Writable.String", "Random.Int4", "Static.Int4"})
      group->OPCItems()->AddItem(id);
    QPointer<TqOPCGroup> g(group);

    const QString progId = GetParam().da10 ? "Veze6.Hostile.DA10.1" : "Veze6.Hostile.1";
    attempt("connect", [&] { server.Connect(progId); });
    const auto sim = hostile::simulationOf(server.GetOPCServer().get());
    auto scan = [&] {
      if (sim) sim->advance(200ms);
      pump();
    };

    TqOPCGUI gui;
    QLineEdit edit;
    attempt("binding", [&] {
      gui.SetOPCServer(&server);
      gui.AddItem("g", "Random.Int4", &edit, "");
    });
    attempt("items", [&] {
      if (!g) return;
      TqOPCItems* items = g->OPCItems();
      TqOPCItemList all;
      for (int i = 0; i < items->Count(); ++i) all.Add(items->Items(i));
      items->OPCActiveItems(all, false);
      items->OPCActiveItems(all, true);
      items->Items(0)->SetRequestDatatype(OPCADatatype(VT_BSTR));
    });
    attempt("sync read", [&] {
      if (g) g->SyncRead(nullptr, true);
    });
    attempt("sync read device", [&] {
      if (g) g->SyncRead(nullptr, false);
    });
    attempt("sync write", [&] {
      if (g) g->OPCItems()->Items(0)->WriteSync(OleVariant(LONG(5)));
    });
    attempt("async read", [&] {
      if (g) g->AsyncRead();
    });
    attempt("async write", [&] {
      if (g) g->OPCItems()->Items(1)->WriteAsync(OleVariant(LONG(6)));
    });
    attempt("refresh", [&] {
      if (g) g->Refresh(false);
    });
    scan();
    attempt("cancel", [&] {
      if (!g) return;
      g->AsyncRead();
      g->CancelLastAsyncCall();
    });
    attempt("group state", [&] {
      if (!g) return;
      g->SetUpdateRate(200);
      g->SetIsActive(false);
      g->SetIsActive(true);
      g->SetName("renamed");
      tGroupStateRec state;
      g->GetState(state);
    });
    scan();
    attempt("browse", [&] {
      TqOPCBrowser* b = server.Browser();
      if (!b) return;
      b->GetOrganization();
      b->ShowBranches();
      if (b->GetCount() > 0) b->MoveDown(b->Tags().first());
      b->ShowLeafs(false);
      if (b->GetCount() > 0) {
        const QString id = b->GetItemId(b->Tags().first());
        QStringList paths;
        b->GetAccessPath(id, paths);
      }
      b->Moveto("Writable");
      b->MovetoRoot();
    });
    attempt("properties", [&] {
      TqOPCItemProperties properties(&server, "Random.Int4");
      properties.Refresh();
      QStringList list;
      server.QueryAvailableProperties("Random.Int4", list);
      OleVariant value;
      server.GetItemProperty("Random.Int4", 1, value);
      server.LookupItemId("Random.Int4", 100);
    });
    attempt("status", [&] {
      server.GetStatus();
      server.GetVendorInfo();
      server.GetServerStateStr();
      server.GetErrorString(E_FAIL);
      server.SetLocaleId(0x409);
    });
    attempt("remove items", [&] {
      if (g) g->OPCItems()->Delete(0);
    });
    scan();
    attempt("remove group", [&] {
      if (g) g->Free();
    });
    scan();
    Script::instance().fireKept();
    pump();
    attempt("disconnect", [&] { server.Disconnect(); });
    // Not waited for: with kForeignThread these calls race the component's
    // destruction.
    Script::instance().fireKept();
  }

  veze6::test::LeakCheck leaks_;
  QStringList faults_;
  int shutdowns_ = 0;
};

TEST_P(HostileServerTest, ComponentSurvivesAndRecovers) {
  // Opens the gate once a call waits there (at once when it is open).
  std::jthread releaser([] {
    if (Script::instance().waitForBlockedCall(10s)) Script::instance().openGate();
  });
  {
    ScopedCaptureApplication capture;
    {
      TqOPCServer server;
      exercise(server);
    }
    // The component is gone; sinks the server kept still hear from it.
    Script::instance().fireKept();
    pump();
    for (const QString& text : capture->Texts(TCaptureApplicationHandler::Kind::Exception))
      faults_ << "reported: " + text;
  }
  releaser.join();
  Script::instance().reset();
  pump();

  for (const QString& text : faults_) EXPECT_FALSE(text.section(": ", 1).trimmed().isEmpty());
  if (GetParam().faults)
    EXPECT_FALSE(faults_.isEmpty()) << "the misbehaving server went unnoticed";
  else
    EXPECT_TRUE(faults_.isEmpty()) << faults_.join("\n").toStdString();
  if (QString(GetParam().name).startsWith("Shutdown")) {
    EXPECT_GT(shutdowns_, 0) << "the shutdown request never reached the application";
  }
  leaks_.expectBalanced();

  // The library is still usable: a sound server connects and reads.
  TqOPCServer good;
  good.Connect("Veze6.Simulation.1");
  ASSERT_TRUE(good.Active());
  TqOPCGroup* g = good.OPCGroups()->Add("g");
  TqOPCItem* item = g->OPCItems()->AddItem("Static.Int4");
  EXPECT_TRUE(g->SyncRead(nullptr, true));
  EXPECT_EQ(item->LastError(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(Behaviours, HostileServerTest, ::testing::ValuesIn(kBehaviours),
                         [](const auto& info) { return std::string(info.param.name); });

// A server whose browse list never ends: the listing stops after a bounded
// number of names instead of holding the application for good.
TEST_F(HostileBrowseTest, EndlessListStops) {
  hostile::registerHostileServer();
  Script::instance().set(SimCall::BrowseOPCItemIDs, Act::WrongCount);
  {
    TqOPCServer server;
    server.Connect("Veze6.Hostile.1");
    TqOPCBrowser* browser = server.Browser();
    browser->ShowBranches();
    EXPECT_GT(browser->GetCount(), 0);
    EXPECT_LE(browser->GetCount(), 1 << 20);
  }
  Script::instance().reset();
}

// A server that adds a group or changes its state without writing the
// revised rate leaves the group at the rate asked for, not at zero.
TEST_F(HostileGroupTest, UnrevisedRateKeepsTheRequestedRate) {
  hostile::registerHostileServer();
  Script::instance().set(SimCall::AddGroup, Act::Unrevised);
  Script::instance().set(SimCall::SetState, Act::Unrevised);
  {
    TqOPCServer server;
    server.SetConnectDelay(0);
    server.OPCGroupDefault()->UpdateRate = 300;
    server.Connect("Veze6.Hostile.1");
    TqOPCGroup* group = server.OPCGroups()->Add("g");
    EXPECT_EQ(group->UpdateRate(), 300);
    group->SetUpdateRate(250);
    EXPECT_EQ(group->UpdateRate(), 250);
    group->SetIsActive(!group->IsActive());
    group->SetDeadBand(5);
    EXPECT_EQ(group->UpdateRate(), 250);
  }
  Script::instance().reset();
}

}  // namespace
