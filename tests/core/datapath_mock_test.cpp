// The data path against a mock group: which sink a group gets, what the
// sinks write into the items and post, the component's handlers and the
// ownership of the posted lists, and the group's reads and writes call by
// call.
#include <QThread>
#include <thread>

#include "group_fixture.h"
#include "simulator/datastream.h"

using namespace core_test;
using ::testing::_;
using ::testing::AnyNumber;
using ::testing::DoAll;
using ::testing::Invoke;
using ::testing::Matcher;
using ::testing::Return;
using ::testing::SetArgPointee;
using Kind = TCaptureApplicationHandler::Kind;

namespace {

template <class T>
T* taskArray(DWORD count) {
  return static_cast<T*>(CoTaskMemAlloc(sizeof(T) * std::max<DWORD>(count, 1)));
}

HRESULT* taskErrors(DWORD count, const std::vector<HRESULT>& errors) {
  HRESULT* out = taskArray<HRESULT>(count);
  for (DWORD i = 0; i < count; ++i) out[i] = i < errors.size() ? errors[i] : S_OK;
  return out;
}

FILETIME stamp(int second) {
  // 2024-03-01 12:00:<second> UTC
  return opc::fileTimeFromTicks(133537968000000000ULL + std::uint64_t(second) * 10000000ULL);
}

class DataPathMockTest : public GroupMockFixture {
 protected:
  void SetUp() override {
    GroupMockFixture::SetUp();
    EXPECT_CALL(*group, RemoveItems)
        .Times(AnyNumber())
        .WillRepeatedly(Invoke(answerRemoveItems(&calls)));
    lists = TqOPCItemList::LiveCount();
  }

  void TearDown() override {
    server.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(TqOPCItemList::LiveCount(), lists) << "a posted list was not freed";
    GroupMockFixture::TearDown();
  }

  /// Group "g" on the server with items A and B (handles 100, 101).
  void connectWithItems() {
    g = groups().Add("g");
    server->SetBatchMode(true);
    a = g->OPCItems()->AddItem("A");
    b = g->OPCItems()->AddItem("B");
    server->SetBatchMode(false);
    expectAddGroup();
    EXPECT_CALL(*group, AddItems).WillOnce(Invoke(answerAddItems(nullptr)));
    connect();
  }

  /// Records the component's events; each names the items listed.
  void recordEvents() {
    const auto record = [this](const char* what) {
      return [this, what](QObject* sender, TqOPCItemList* list) {
        EXPECT_EQ(sender, server.get());
        QStringList ids;
        for (int i = 0; i < list->Count(); ++i) ids << list->Items(i)->ItemID();
        events.push_back(QString(what) + ":" + ids.join(','));
      };
    };
    server->OnDatachange = record("change");
    server->OnWriteComplete = record("complete");
    server->OnWriteError = record("error");
  }

  IOPCDataCallback* callback() { return group->dataCallback(); }

  void deliver() { QCoreApplication::processEvents(); }

  std::int64_t lists = 0;
  TqOPCGroup* g = nullptr;
  TqOPCItem* a = nullptr;
  TqOPCItem* b = nullptr;
  std::vector<QString> events;
  ScopedCaptureApplication capture;
};

// ---- which sink ---------------------------------------------------------------------

TEST_F(DataPathMockTest, DA20Server_GetsTheDataCallback) {
  connectWithItems();
  ASSERT_TRUE(g->DataCallback());
  EXPECT_EQ(g->DataCallback()->AdviseResult(), S_OK);
  EXPECT_FALSE(g->AdviseSink());
  EXPECT_TRUE(callback());
  EXPECT_TRUE(group->dadvises.empty());
}

TEST_F(DataPathMockTest, CallbackRefused_FallsBackToTheAdviseSink) {
  group->refuse(IID_IConnectionPointContainer);
  connectWithItems();
  EXPECT_FALSE(g->DataCallback());
  ASSERT_TRUE(g->AdviseSink());
  ASSERT_EQ(group->dadvises.size(), 1u);
  const auto& advise = group->dadvises[0];
  EXPECT_EQ(advise.format.cfFormat, CLIPFORMAT(OPCSTMFORMATDATATIME));
  EXPECT_EQ(advise.format.ptd, nullptr);
  EXPECT_EQ(advise.format.dwAspect, DWORD(DVASPECT_CONTENT));
  EXPECT_EQ(advise.format.lindex, -1);
  EXPECT_EQ(advise.format.tymed, DWORD(TYMED_HGLOBAL));
  EXPECT_EQ(advise.advf, DWORD(ADVF_PRIMEFIRST));
  EXPECT_EQ(g->AdviseSink()->Cookie(), group->adviseCookie);

  // Leaving the server unadvises once; a second UnAdvise does nothing.
  ComPtr<TqOPCAdviseSink> sink(g->AdviseSink());
  server->SetActive(false);
  EXPECT_EQ(group->dunadvises, 1);
  sink->UnAdvise();
  EXPECT_EQ(group->dunadvises, 1);
  EXPECT_EQ(sink->AdviseResult(), E_FAIL);
}

TEST_F(DataPathMockTest, NoSinkPossible_RaisesAfterTheGroupIsOnTheServer) {
  group->refuse(IID_IConnectionPointContainer);
  group->refuse(IID_IDataObject);
  g = groups().Add("g");
  expectAddGroup();
  QString className;
  EXPECT_FALSE(thrownMessage([&] { server->SetActive(true); }, &className).isEmpty());
  EXPECT_EQ(className, "EOleSysError");
  EXPECT_TRUE(g->IsOnServer()) << "the group stays, without a sink";
  EXPECT_FALSE(g->DataCallback());
  EXPECT_FALSE(g->AdviseSink());
}

TEST_F(DataPathMockTest, DA10Server_UsesTheAdviseSinkDirectly) {
  mock->presentAsDA10();
  connectWithItems();
  EXPECT_TRUE(g->AdviseSink());
  EXPECT_EQ(group->callbackAdvises, 0) << "no connection point is tried";
}

// ---- DA 2.0 callbacks ---------------------------------------------------------------------

TEST_F(DataPathMockTest, DataChange_WritesTheItemsAndPostsThem) {
  connectWithItems();
  recordEvents();
  OPCHANDLE handles[] = {b->GetClientHandle(), a->GetClientHandle()};
  VARIANT values[2];
  VariantInit(&values[0]);
  values[0].vt = VT_BSTR;
  values[0].bstrVal = SysAllocString(u"text");
  VariantInit(&values[1]);
  values[1].vt = VT_I4;
  values[1].lVal = 42;
  WORD qualities[] = {0xD8, 0x40};
  FILETIME times[] = {stamp(1), stamp(2)};
  HRESULT errors[] = {S_OK, OPC_E_BADTYPE};
  EXPECT_HR_OK(callback()->OnDataChange(0, g->ClientHandle(), S_FALSE, S_FALSE, 2, handles, values,
                                        qualities, times, errors));
  // The items are written at once; the event waits for the message loop.
  EXPECT_EQ(b->Quality(), 0xD8) << "the whole quality word";
  EXPECT_EQ(VarToStr(b->Value()), "text");
  EXPECT_EQ(a->Value().get().lVal, 42);
  EXPECT_EQ(a->Quality(), 0x40);
  EXPECT_EQ(a->LastError(), OPC_E_BADTYPE) << "stored whatever the code says";
  EXPECT_EQ(b->TimeStamp(), FileTimeToDateTime(stamp(1)));
  EXPECT_EQ(values[0].vt, VT_EMPTY) << "the element was taken over";
  EXPECT_TRUE(events.empty());
  deliver();
  EXPECT_EQ(events, std::vector<QString>{"change:B,A"});
}

TEST_F(DataPathMockTest, DataChange_OtherGroupOrNoItems) {
  connectWithItems();
  recordEvents();
  OPCHANDLE handles[] = {a->GetClientHandle()};
  VARIANT values[1];
  VariantInit(&values[0]);
  values[0].vt = VT_I4;
  values[0].lVal = 7;
  WORD qualities[] = {OPC_QUALITY_GOOD};
  FILETIME times[] = {stamp(3)};
  HRESULT errors[] = {S_OK};
  // Another group's handle: nothing changes, nothing is posted.
  callback()->OnDataChange(0, g->ClientHandle() + 1, S_OK, S_OK, 1, handles, values, qualities,
                           times, errors);
  EXPECT_TRUE(a->Value().isEmpty());
  // No items, or a count without arrays: an empty list all the same.
  callback()->OnDataChange(0, g->ClientHandle(), S_OK, S_OK, 0, nullptr, nullptr, nullptr, nullptr,
                           nullptr);
  callback()->OnDataChange(0, g->ClientHandle(), S_OK, S_OK, 1, handles, values, nullptr, times,
                           errors);
  deliver();
  EXPECT_EQ(events, (std::vector<QString>{"change:", "change:"}));
  EXPECT_TRUE(a->Value().isEmpty());
  VariantClear(&values[0]);
}

TEST_F(DataPathMockTest, WriteComplete_AnyNonZeroCodeIsAnError) {
  connectWithItems();
  recordEvents();
  OPCHANDLE handles[] = {a->GetClientHandle(), b->GetClientHandle()};
  a->SetIsActive(a->IsActive());  // no call
  HRESULT ok[] = {S_OK, S_OK};
  callback()->OnWriteComplete(0, g->ClientHandle(), S_OK, 2, handles, ok);
  HRESULT clamped[] = {S_OK, OPC_S_CLAMP};
  callback()->OnWriteComplete(0, g->ClientHandle(), S_FALSE, 2, handles, clamped);
  deliver();
  EXPECT_EQ(events, (std::vector<QString>{"complete:A,B", "error:A,B"}));
  EXPECT_EQ(b->LastError(), OPC_S_CLAMP);
  EXPECT_EQ(b->Quality(), 0);
  EXPECT_EQ(a->LastError(), S_OK);
}

TEST_F(DataPathMockTest, WriteError_WithoutHandler_ReportsThroughTheApplication) {
  connectWithItems();
  OPCHANDLE handles[] = {a->GetClientHandle(), b->GetClientHandle()};
  HRESULT codes[] = {OPC_E_BADRIGHTS, S_OK};
  callback()->OnWriteComplete(0, g->ClientHandle(), S_FALSE, 2, handles, codes);
  deliver();
  const auto entries = capture->Entries();
  ASSERT_EQ(entries.size(), 1);
  EXPECT_EQ(entries[0].kind, Kind::Exception);
  EXPECT_EQ(entries[0].className, "EOPCException");
  EXPECT_TRUE(entries[0].text.startsWith("cannot write Items:\r\nA- "))
      << entries[0].text.toStdString();
  EXPECT_EQ(entries[0].sender, server.get());

  // A receiver of the signal stands for a handler: no report.
  HRESULT seen = S_OK;
  QObject::connect(server.get(), &TqOPCServer::writeError,
                   [&](TqOPCItemList* list) { seen = list->Items(0)->LastError(); });
  callback()->OnWriteComplete(0, g->ClientHandle(), S_FALSE, 2, handles, codes);
  deliver();
  EXPECT_EQ(seen, OPC_E_BADRIGHTS);
  EXPECT_EQ(capture->Entries().size(), 1);
}

TEST_F(DataPathMockTest, WriteError_ReportsTheServersResultWhateverChangesCameBetween) {
  connectWithItems();
  OPCHANDLE handles[] = {a->GetClientHandle()};
  const auto refusedThenChanged = [&] {
    HRESULT refused[] = {OPC_E_RANGE};
    callback()->OnWriteComplete(0, g->ClientHandle(), S_FALSE, 1, handles, refused);
    VARIANT value;
    VariantInit(&value);
    WORD quality = OPC_QUALITY_GOOD;
    FILETIME time = stamp(1);
    HRESULT ok = S_OK;
    callback()->OnDataChange(0, g->ClientHandle(), S_OK, S_OK, 1, handles, &value, &quality, &time,
                             &ok);
    deliver();
  };
  refusedThenChanged();
  const auto reports = capture->Texts(Kind::Exception);
  ASSERT_EQ(reports.size(), 1);
  EXPECT_TRUE(reports[0].startsWith("cannot write Items:\r\nA- ")) << reports[0].toStdString();
  EXPECT_EQ(a->LastError(), S_OK) << "the later change's result once the event is over";
  HRESULT seen = S_OK;
  server->OnWriteError = [&](QObject*, TqOPCItemList* list) { seen = list->Items(0)->LastError(); };
  refusedThenChanged();
  EXPECT_EQ(seen, OPC_E_RANGE);
}

TEST_F(DataPathMockTest, WriteError_HandlerOfADestroyedObject_LeavesItToTheReport) {
  struct Receiver : QObject {
    void onWriteError(QObject*, TqOPCItemList*) { ADD_FAILURE() << "called after destruction"; }
  };
  connectWithItems();
  auto receiver = std::make_unique<Receiver>();
  server->OnWriteError = TOnOPCDataChangeEvent(receiver.get(), &Receiver::onWriteError);
  receiver.reset();
  OPCHANDLE handles[] = {a->GetClientHandle()};
  HRESULT codes[] = {OPC_E_BADRIGHTS};
  callback()->OnWriteComplete(0, g->ClientHandle(), S_FALSE, 1, handles, codes);
  deliver();
  const auto texts = capture->Texts(Kind::Exception);
  ASSERT_EQ(texts.size(), 1) << "the failed write was lost";
  EXPECT_TRUE(texts[0].startsWith("cannot write Items:\r\nA- ")) << texts[0].toStdString();
}

TEST_F(DataPathMockTest, PostedLists_FreedOnEveryPath) {
  connectWithItems();
  OPCHANDLE handles[] = {a->GetClientHandle()};
  HRESULT failed[] = {E_FAIL};
  const auto changeWithoutItems = [&](OPCHANDLE group) {
    callback()->OnDataChange(0, group, S_OK, S_OK, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
  };
  // No handlers at all.
  changeWithoutItems(g->ClientHandle());
  callback()->OnWriteComplete(0, g->ClientHandle(), S_FALSE, 1, handles, failed);
  deliver();
  EXPECT_EQ(TqOPCItemList::LiveCount(), lists);
  // Handlers that raise.
  server->OnDatachange = [](QObject*, TqOPCItemList*) { throw EOPCException("in the handler"); };
  server->OnWriteError = [](QObject*, TqOPCItemList*) { throw std::runtime_error("plain"); };
  changeWithoutItems(g->ClientHandle());
  callback()->OnWriteComplete(0, g->ClientHandle(), S_FALSE, 1, handles, failed);
  deliver();
  EXPECT_EQ(TqOPCItemList::LiveCount(), lists);
  EXPECT_EQ(capture->Texts(Kind::Exception),
            (QList<QString>{"cannot write Items:\r\nA- unknown error : -2147467259\r\n",
                            "in the handler", "plain"}));
  // A message still queued when the component goes: freed with it.
  changeWithoutItems(g->ClientHandle());
  EXPECT_EQ(TqOPCItemList::LiveCount(), lists + 1);
}

TEST_F(DataPathMockTest, DestroyedItem_LateCallbackIsDropped) {
  connectWithItems();
  recordEvents();
  const OPCHANDLE gone = a->GetClientHandle();
  server->SetBatchMode(true);  // the item stays on the server
  a->Free();
  a = nullptr;
  OPCHANDLE handles[] = {gone, b->GetClientHandle(), 0xDEADBEEF};
  VARIANT values[3];
  for (VARIANT& v : values) {
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = 1.5;
  }
  WORD qualities[] = {OPC_QUALITY_GOOD, OPC_QUALITY_GOOD, OPC_QUALITY_GOOD};
  FILETIME times[] = {stamp(4), stamp(5), stamp(6)};
  HRESULT errors[] = {S_OK, S_OK, S_OK};
  callback()->OnDataChange(0, g->ClientHandle(), S_OK, S_OK, 3, handles, values, qualities, times,
                           errors);
  EXPECT_EQ(b->Value().get().dblVal, 1.5);
  deliver();
  EXPECT_EQ(events, std::vector<QString>{"change:B"});
}

TEST_F(DataPathMockTest, CallFromAnotherThread_IsHandedToTheComponentsThread) {
  connectWithItems();
  QThread* handlerThread = nullptr;
  server->OnDatachange = [&](QObject*, TqOPCItemList* list) {
    handlerThread = QThread::currentThread();
    events.push_back(QString::number(list->Count()));
  };
  std::thread worker([&] {
    OPCHANDLE handles[] = {a->GetClientHandle()};
    VARIANT values[1];
    VariantInit(&values[0]);
    values[0].vt = VT_BSTR;
    values[0].bstrVal = SysAllocString(u"from a worker");
    WORD qualities[] = {OPC_QUALITY_GOOD};
    FILETIME times[] = {stamp(7)};
    HRESULT errors[] = {S_OK};
    callback()->OnDataChange(0, g->ClientHandle(), S_OK, S_OK, 1, handles, values, qualities, times,
                             errors);
    VariantClear(&values[0]);  // what the server does with what is left
  });
  worker.join();
  EXPECT_TRUE(a->Value().isEmpty()) << "nothing touched on the worker";
  ASSERT_TRUE(pumpUntil([&] { return !events.empty(); }));
  EXPECT_EQ(handlerThread, QThread::currentThread());
  EXPECT_EQ(VarToStr(a->Value()), "from a worker");
}

// A component whose thread falls behind holds one value per item: changes
// from the server's thread join the one still waiting, the latest value of
// each item wins, and a read completing between them closes the batch so
// that no older value lands last.
TEST_F(DataPathMockTest, ChangesWhileTheComponentLags_JoinAndTheLatestValueOfEachItemWins) {
  connectWithItems();
  recordEvents();
  const auto send = [&](bool read, TqOPCItem* item, LONG value) {
    OPCHANDLE handles[] = {item->GetClientHandle()};
    VARIANT values[1];
    VariantInit(&values[0]);
    values[0].vt = VT_I4;
    values[0].lVal = value;
    WORD qualities[] = {OPC_QUALITY_GOOD};
    FILETIME times[] = {stamp(int(value % 60))};
    HRESULT errors[] = {S_OK};
    if (read)
      callback()->OnReadComplete(7, g->ClientHandle(), S_OK, S_OK, 1, handles, values, qualities,
                                 times, errors);
    else
      callback()->OnDataChange(0, g->ClientHandle(), S_OK, S_OK, 1, handles, values, qualities,
                               times, errors);
  };
  std::thread worker([&] {
    for (LONG i = 1; i <= 1000; ++i) send(false, i % 2 ? a : b, i);
    send(true, a, 2000);
    send(false, a, 3000);
  });
  worker.join();
  ASSERT_TRUE(pumpUntil([&] { return events.size() >= 3; }));
  deliver();
  EXPECT_EQ(events, (std::vector<QString>{"change:A,B", "change:A", "change:A"}));
  EXPECT_EQ(a->Value().get().lVal, 3000);
  EXPECT_EQ(b->Value().get().lVal, 1000);
}

// ---- DA 1.0 streams ----------------------------------------------------------------------

// A data stream from the simulator's writer, handed to the sink as a server
// does; the block is freed afterwards.
void sendStream(IAdviseSink* sink, bool withTime, DWORD transaction,
                const std::vector<OPCHANDLE>& handles, const std::vector<OleVariant>& values,
                const std::vector<WORD>& qualities, HRESULT status = S_OK,
                const std::function<void(char*, std::size_t)>& bend = nullptr) {
  std::vector<VARIANT> raw;
  std::vector<FILETIME> times;
  for (std::size_t i = 0; i < values.size(); ++i) {
    raw.push_back(values[i].get());
    times.push_back(stamp(int(10 + i)));
  }
  HGLOBAL block =
      veze6::sim::buildDataStream(withTime, 0, transaction, handles.size(), handles.data(),
                                  raw.data(), qualities.data(), times.data());
  char* data = static_cast<char*>(GlobalLock(block));
  std::memcpy(data + 16, &status, sizeof status);
  if (bend) bend(data, GlobalSize(block));
  GlobalUnlock(block);
  FORMATETC format{CLIPFORMAT(withTime ? OPCSTMFORMATDATATIME : OPCSTMFORMATDATA), nullptr,
                   DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = block;
  sink->OnDataChange(&format, &medium);
  GlobalFree(block);
}

class DA10StreamTest : public DataPathMockTest {
 protected:
  void SetUp() override {
    DataPathMockTest::SetUp();
    mock->presentAsDA10();
    group->refuse(IID_IOPCAsyncIO2);
    connectWithItems();
    recordEvents();
    sink = group->adviseSink();
    ASSERT_TRUE(sink);
  }
  std::vector<OPCHANDLE> both() { return {a->GetClientHandle(), b->GetClientHandle()}; }
  IAdviseSink* sink = nullptr;
};

TEST_F(DA10StreamTest, WithTimeStamps_QualityClassOnlyStringsAndArrays) {
  const OleVariant array = OleVariant::array(VT_I4, {OleVariant(LONG(1)), OleVariant(LONG(2))});
  a->SetWriteValue(OleVariant(LONG(1)));
  sendStream(sink, true, 0, both(), {OleVariant(u"text"), array}, {0xD8, 0x54});
  EXPECT_EQ(a->Quality(), 0xC0) << "only the quality class";
  EXPECT_EQ(b->Quality(), 0x40);
  EXPECT_EQ(VarToStr(a->Value()), "text");
  EXPECT_TRUE(b->Value() == array);
  EXPECT_EQ(a->TimeStamp(), FileTimeToDateTime(stamp(10)));
  EXPECT_EQ(b->TimeStamp(), FileTimeToDateTime(stamp(11)));
  deliver();
  EXPECT_EQ(events, std::vector<QString>{"change:A,B"});
}

TEST_F(DA10StreamTest, WithoutTimeStamps_ValuesAndQualitiesOnly) {
  sendStream(sink, false, 0, both(), {OleVariant(LONG(3)), OleVariant(2.5)}, {0xC0, 0x00});
  EXPECT_EQ(a->Value().get().lVal, 3);
  EXPECT_EQ(b->Value().get().dblVal, 2.5);
  EXPECT_EQ(b->Quality(), 0);
  EXPECT_EQ(a->TimeStamp(), 0.0) << "no time stamps in this format";
  EXPECT_EQ(a->LastError(), S_OK) << "untouched";
  deliver();
  EXPECT_EQ(events, std::vector<QString>{"change:A,B"});
}

TEST_F(DA10StreamTest, FailureStatusOrNoItems_PostNothingButClearTheTask) {
  g->SetTaskId(41);
  sendStream(sink, true, 41, both(), {OleVariant(LONG(3)), OleVariant(LONG(4))}, {0xC0, 0xC0},
             E_FAIL);
  EXPECT_EQ(g->TaskId(), 0u);
  EXPECT_TRUE(a->Value().isEmpty());
  sendStream(sink, true, 0, {}, {}, {});
  deliver();
  EXPECT_TRUE(events.empty());
}

TEST_F(DA10StreamTest, ValuesThatDoNotFit_CostOnlyTheirItem) {
  g->SetTaskId(7);
  // More items than the block holds: the whole block is ignored.
  sendStream(sink, true, 7, both(), {OleVariant(u"first"), OleVariant(LONG(4))}, {0xC0, 0xC0}, S_OK,
             [](char* data, std::size_t) {
               const DWORD count = 100000;
               std::memcpy(data + 4, &count, sizeof count);
             });
  EXPECT_EQ(g->TaskId(), 7u) << "nothing is taken from a block whose headers do not fit";
  // A string that runs past the end: only its item is dropped.
  sendStream(sink, true, 0, both(), {OleVariant(u"first"), OleVariant(LONG(4))}, {0xC0, 0xC0}, S_OK,
             [](char* data, std::size_t) {
               DWORD valueAt;
               std::memcpy(&valueAt, data + 20 + 4, sizeof valueAt);
               const DWORD bytes = 0x40000000;
               std::memcpy(data + valueAt + sizeof(VARIANT), &bytes, sizeof bytes);
             });
  EXPECT_TRUE(a->Value().isEmpty());
  EXPECT_EQ(b->Value().get().lVal, 4);
  // The second value's offset beyond the block: the first item still arrives.
  sendStream(sink, true, 0, both(), {OleVariant(u"first"), OleVariant(LONG(5))}, {0xC0, 0xC0}, S_OK,
             [](char* data, std::size_t size) {
               const DWORD beyond = DWORD(size);
               std::memcpy(data + 20 + 20 + 4, &beyond, sizeof beyond);
             });
  EXPECT_EQ(VarToStr(a->Value()), "first");
  EXPECT_EQ(b->Value().get().lVal, 4) << "keeps its last value";
  deliver();
  EXPECT_EQ(events, (std::vector<QString>{"change:B", "change:A"}));
}

TEST_F(DA10StreamTest, OtherFormatsAndMediaAreIgnored) {
  HGLOBAL block = veze6::sim::buildWriteCompleteStream(0, 0, 0, nullptr, nullptr);
  FORMATETC format{CLIPFORMAT(OPCSTMFORMATWRITECOMPLETE), nullptr, DVASPECT_CONTENT, -1,
                   TYMED_HGLOBAL};
  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = block;
  sink->OnDataChange(&format, &medium);
  format.cfFormat = CLIPFORMAT(OPCSTMFORMATDATATIME);
  medium.tymed = TYMED_FILE;
  sink->OnDataChange(&format, &medium);
  sink->OnDataChange(nullptr, nullptr);
  GlobalFree(block);
  deliver();
  EXPECT_TRUE(events.empty());
}

TEST_F(DA10StreamTest, GroupOffTheServer_OnlyBeeps) {
  ComPtr<IAdviseSink> kept(sink);  // a server that keeps calling
  server->SetActive(false);
  sendStream(kept.get(), true, 0, both(), {OleVariant(LONG(1)), OleVariant(LONG(2))}, {0xC0, 0xC0});
  EXPECT_EQ(capture->BeepCount(), 1);
  EXPECT_TRUE(a->Value().isEmpty());
  deliver();
  EXPECT_TRUE(events.empty());
}

// ---- reads and writes ----------------------------------------------------------------------

/// Answers a synchronous read: item i gets value 10 + i, quality 0xC0 and
/// stamp(i), or errors[i].
auto answerRead(std::vector<HRESULT> errors, std::vector<OPCDATASOURCE>* sources = nullptr) {
  return [=](OPCDATASOURCE source, DWORD count, OPCHANDLE*, OPCITEMSTATE** states, HRESULT** out) {
    if (sources) sources->push_back(source);
    OPCITEMSTATE* s = taskArray<OPCITEMSTATE>(count);
    for (DWORD i = 0; i < count; ++i) {
      s[i] = OPCITEMSTATE{};
      VariantInit(&s[i].vDataValue);
      const bool ok = i >= errors.size() || SUCCEEDED(errors[i]);
      if (ok) {
        s[i].vDataValue.vt = VT_BSTR;
        s[i].vDataValue.bstrVal = SysAllocString(i ? u"eleven" : u"ten");
        s[i].wQuality = OPC_QUALITY_GOOD;
        s[i].ftTimeStamp = stamp(int(i));
      }
    }
    *states = s;
    *out = taskErrors(count, errors);
    bool all = true;
    for (HRESULT e : errors) all = all && SUCCEEDED(e);
    return all ? S_OK : S_FALSE;
  };
}

TEST_F(DataPathMockTest, SyncRead_CacheOrDeviceAndAPartialFailure) {
  connectWithItems();
  std::vector<OPCDATASOURCE> sources;
  EXPECT_CALL(*group, Read(Matcher<OPCDATASOURCE>(_), 2, _, _, _))
      .WillOnce(Invoke(answerRead({}, &sources)))
      .WillOnce(Invoke(answerRead({S_OK, OPC_E_UNKNOWNITEMID}, &sources)));
  EXPECT_TRUE(g->SyncRead(nullptr, true));
  EXPECT_EQ(VarToStr(b->Value()), "eleven");
  b->SetWriteValue(OleVariant(LONG(1)));
  EXPECT_FALSE(g->SyncRead(nullptr, false));
  EXPECT_EQ(sources, (std::vector<OPCDATASOURCE>{OPC_DS_CACHE, OPC_DS_DEVICE}));
  EXPECT_EQ(VarToStr(a->Value()), "ten");
  EXPECT_EQ(a->Quality(), OPC_QUALITY_GOOD);
  EXPECT_EQ(a->TimeStamp(), FileTimeToDateTime(stamp(0)));
  EXPECT_EQ(a->LastError(), S_OK);
  EXPECT_EQ(b->Quality(), 0);
  EXPECT_EQ(b->LastError(), OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(VarToStr(b->Value()), "eleven") << "a failed item keeps its value";
  EXPECT_EQ(b->TimeStamp(), FileTimeToDateTime(stamp(1)));
}

TEST_F(DataPathMockTest, ListOperations_GuardsBeforeAnyCall) {
  g = groups().Add("g");
  TqOPCItem* local = g->OPCItems()->AddItem("Local");
  TqOPCItemList one(local);
  EXPECT_FALSE(g->SyncRead(&one, true)) << "not on the server: no interface";
  EXPECT_FALSE(g->SyncWrite(&one));
  EXPECT_FALSE(g->AsyncRead(&one));
  EXPECT_FALSE(g->AsyncWrite(&one));
  g->Refresh(true);
  g->CancelLastAsyncCall();
  expectAddGroup();
  EXPECT_CALL(*group, AddItems).WillOnce(Invoke(answerAddItems(nullptr, {.errors = {E_FAIL}})));
  connect();
  EXPECT_EQ(thrownMessage([&] { g->SyncRead(nullptr, true); }),
            "item Local not exists on OPCServer");
  EXPECT_EQ(thrownMessage([&] { g->AsyncWrite(&one); }), "item Local not exists on OPCServer");
  TqOPCItemList empty;
  EXPECT_FALSE(g->SyncWrite(&empty));
  EXPECT_EQ(g->TaskId(), 0u);
}

TEST_F(DataPathMockTest, SyncWrite_SendsWriteValuesAndLeavesValue) {
  connectWithItems();
  a->SetWriteValue(OleVariant(u"new"));
  b->SetWriteValue(OleVariant(2.5));
  std::vector<OleVariant> sent;
  EXPECT_CALL(*group, Write(2, _, _, _))
      .WillOnce(Invoke([&](DWORD count, OPCHANDLE* handles, VARIANT* values, HRESULT** errors) {
        EXPECT_EQ(handles[0], 100u);
        EXPECT_EQ(handles[1], 101u);
        for (DWORD i = 0; i < count; ++i) sent.emplace_back(values[i]);
        *errors = taskErrors(count, {OPC_S_CLAMP, OPC_E_BADRIGHTS});
        return S_FALSE;
      }));
  EXPECT_FALSE(g->SyncWrite(nullptr));
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_TRUE(sent[0] == OleVariant(u"new"));
  EXPECT_TRUE(a->Value().isEmpty()) << "the value changes only when the server reports it";
  EXPECT_EQ(a->LastError(), S_OK) << "a success code is a success here";
  EXPECT_EQ(b->LastError(), OPC_E_BADRIGHTS);
  EXPECT_EQ(b->Quality(), 0);
}

TEST_F(DataPathMockTest, ItemWrites_RaiseTheReportForAFailedItem) {
  connectWithItems();
  EXPECT_CALL(*group, Write(1, _, _, _))
      .WillOnce(Invoke([](DWORD count, OPCHANDLE*, VARIANT*, HRESULT** errors) {
        *errors = taskErrors(count, {S_OK});
        return S_OK;
      }))
      .WillOnce(Invoke([](DWORD count, OPCHANDLE*, VARIANT*, HRESULT** errors) {
        *errors = taskErrors(count, {OPC_E_BADRIGHTS});
        return S_FALSE;
      }));
  EXPECT_NO_THROW(a->WriteSync(OleVariant(LONG(5))));
  EXPECT_TRUE(a->WriteValue() == OleVariant(LONG(5)));
  const QString text = thrownMessage([&] { a->WriteSync(OleVariant(LONG(6))); });
  EXPECT_TRUE(text.startsWith("cannot write Items:\r\nA- ")) << text.toStdString();

  EXPECT_CALL(*group, Write(1, Matcher<OPCHANDLE*>(_), _, _, _, _))
      .WillOnce(
          Invoke([](DWORD count, OPCHANDLE*, VARIANT*, DWORD, DWORD* cancel, HRESULT** errors) {
            *cancel = 9;
            *errors = taskErrors(count, {E_FAIL});
            return S_FALSE;
          }));
  EXPECT_EQ(thrownMessage([&] { b->WriteAsync(OleVariant(LONG(1))); }),
            "cannot write Items:\r\nB- unknown error : -2147467259\r\n");
}

TEST_F(DataPathMockTest, ItemWrites_OffTheServerRaise) {
  g = groups().Add("g");
  TqOPCItem* local = g->OPCItems()->AddItem("Local");
  EXPECT_EQ(thrownMessage([&] { local->WriteSync(OleVariant(LONG(1))); }),
            "item Local not exists on OPCServer");
  EXPECT_EQ(thrownMessage([&] { local->WriteAsync(OleVariant(LONG(1))); }),
            "item Local not exists on OPCServer");
}

TEST_F(DataPathMockTest, Asynchronous_TransactionIdsAreConsecutiveAcrossGroups) {
  connectWithItems();
  expectAddGroup();  // the same mock group serves both
  TqOPCGroup* second = groups().Add("second");
  std::vector<DWORD> transactions;
  EXPECT_CALL(*group, Read(Matcher<DWORD>(_), _, _, _, _))
      .WillRepeatedly(
          Invoke([&](DWORD count, OPCHANDLE*, DWORD transaction, DWORD* cancel, HRESULT** errors) {
            transactions.push_back(transaction);
            *cancel = 500 + transaction;
            *errors = taskErrors(count, {});
            return S_OK;
          }));
  EXPECT_CALL(*group, Refresh2(OPC_DS_DEVICE, _, _))
      .WillRepeatedly(Invoke([&](OPCDATASOURCE, DWORD transaction, DWORD* cancel) {
        transactions.push_back(transaction);
        *cancel = 500 + transaction;
        return S_OK;
      }));
  TqOPCItemList list(a);
  EXPECT_TRUE(g->AsyncRead(&list));
  second->Refresh(false);
  EXPECT_TRUE(g->AsyncRead(&list));
  ASSERT_EQ(transactions.size(), 3u);
  EXPECT_EQ(transactions[1], transactions[0] + 1);
  EXPECT_EQ(transactions[2], transactions[0] + 2);
  EXPECT_EQ(g->TaskId(), 500 + transactions[2]) << "the cancel id the server returned";
  EXPECT_EQ(second->TaskId(), 500 + transactions[1]);

  // The completion carries the transaction id: the pending call is done.
  IOPCDataCallback* sink = g->DataCallback();  // both groups share the mock's point
  sink->OnReadComplete(transactions[2], g->ClientHandle(), S_OK, S_OK, 0, nullptr, nullptr, nullptr,
                       nullptr, nullptr);
  EXPECT_EQ(g->TaskId(), 0u);
  EXPECT_EQ(second->TaskId(), 500 + transactions[1]) << "another group's call stays";
  deliver();
}

TEST_F(DataPathMockTest, CancelLastAsyncCall_ClearsAndCancelsOnlyWhatIsPending) {
  connectWithItems();
  EXPECT_CALL(*group, Refresh2(OPC_DS_CACHE, _, _))
      .WillRepeatedly(DoAll(SetArgPointee<2>(DWORD(77)), Return(S_OK)));
  g->Refresh(true);
  EXPECT_EQ(g->TaskId(), 77u);
  // The server's cancel completion clears it: no Cancel2 afterwards.
  callback()->OnCancelComplete(77, g->ClientHandle());
  EXPECT_EQ(g->TaskId(), 0u);
  g->CancelLastAsyncCall();  // StrictMock: a Cancel2 call would fail the test

  g->Refresh(true);
  EXPECT_CALL(*group, Cancel2(77)).WillOnce(Return(E_FAIL));
  EXPECT_EQ(thrownMessage([&] { g->CancelLastAsyncCall(); }), "Unspecified error");
  EXPECT_EQ(g->TaskId(), 0u) << "cleared also when the cancel failed";
}

TEST_F(DataPathMockTest, CompletionInsideTheCall_LeavesNothingToCancel) {
  connectWithItems();
  // A server on the caller's thread that completes each call before it
  // returns the call's identifier.
  const auto complete = [&](DWORD transaction) {
    callback()->OnReadComplete(transaction, g->ClientHandle(), S_OK, S_OK, 0, nullptr, nullptr,
                               nullptr, nullptr, nullptr);
  };
  EXPECT_CALL(*group, Read(Matcher<DWORD>(_), _, _, _, _))
      .WillOnce(
          Invoke([&](DWORD count, OPCHANDLE*, DWORD transaction, DWORD* cancel, HRESULT** errors) {
            complete(transaction);
            *cancel = 900;
            *errors = taskErrors(count, {});
            return S_OK;
          }));
  EXPECT_CALL(*group, Refresh2(OPC_DS_CACHE, _, _))
      .WillOnce(Invoke([&](OPCDATASOURCE, DWORD transaction, DWORD* cancel) {
        complete(transaction);
        *cancel = 901;
        return S_OK;
      }));
  EXPECT_TRUE(g->AsyncRead(nullptr));
  EXPECT_EQ(g->TaskId(), 0u);
  g->CancelLastAsyncCall();  // StrictMock: a Cancel2 call would fail the test
  g->Refresh(true);
  EXPECT_EQ(g->TaskId(), 0u);
  g->CancelLastAsyncCall();
  deliver();
}

TEST_F(DataPathMockTest, DA10Asynchronous_UseTheAdviseConnection) {
  group->refuse(IID_IOPCAsyncIO2);
  group->refuse(IID_IConnectionPointContainer);
  connectWithItems();
  ASSERT_TRUE(g->AsyncIO());
  const DWORD cookie = g->AdviseSink()->Cookie();
  EXPECT_CALL(*group, Read(cookie, OPC_DS_DEVICE, 2, _, _, _))
      .WillOnce(Invoke(
          [](DWORD, OPCDATASOURCE, DWORD count, OPCHANDLE*, DWORD* transaction, HRESULT** errors) {
            *transaction = 31;
            *errors = taskErrors(count, {});
            return S_OK;
          }));
  EXPECT_CALL(*group, Refresh(cookie, OPC_DS_CACHE, _))
      .WillOnce(DoAll(SetArgPointee<2>(DWORD(32)), Return(S_OK)));
  EXPECT_CALL(*group, Cancel(32)).WillOnce(Return(S_OK));
  EXPECT_TRUE(g->AsyncRead(nullptr));
  EXPECT_EQ(g->TaskId(), 31u);
  g->Refresh(true);
  EXPECT_EQ(g->TaskId(), 32u);
  g->CancelLastAsyncCall();
  EXPECT_EQ(g->TaskId(), 0u);
}

TEST_F(DataPathMockTest, OldAsynchronousInterfaceWithTheDataCallback_FailsWithoutACall) {
  group->refuse(IID_IOPCAsyncIO2);
  connectWithItems();
  ASSERT_TRUE(g->AsyncIO());
  ASSERT_TRUE(g->DataCallback());
  QString className;
  EXPECT_FALSE(thrownMessage([&] { g->AsyncRead(nullptr); }, &className).isEmpty());
  EXPECT_EQ(className, "EOleSysError");
  EXPECT_FALSE(thrownMessage([&] { g->Refresh(true); }).isEmpty());
  EXPECT_EQ(g->TaskId(), 0u);
}

}  // namespace
