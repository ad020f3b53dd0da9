// The host's callback queue for a slow client: every item ends with its
// latest value, nothing older overtakes anything newer, completions always
// arrive, and what waits stays bounded by the items, not by the updates.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/leakcheck.h"
#include "opc/OPCDA.h"
#include "opc/datastream.h"
#include "opc/remote/callbackqueue_p.h"

using opc::remote::CallbackQueue;
using opc::remote::QueuedCallback;
using Kind = QueuedCallback::Kind;

namespace {

/// Items as a server hands them over, value = LONG.
struct Batch {
  Batch(std::initializer_list<std::pair<OPCHANDLE, LONG>> items, WORD quality = OPC_QUALITY_GOOD) {
    for (const auto& [h, v] : items) {
      handles.push_back(h);
      values.emplace_back(v);
      qualities.push_back(quality);
      times.push_back(FILETIME{DWORD(v), 0});
      errors.push_back(S_OK);
    }
  }
  std::vector<VARIANT> raw() const {
    std::vector<VARIANT> r;
    for (const auto& v : values) r.push_back(v.get());
    return r;
  }
  void change(CallbackQueue& q, DWORD transid = 0, OPCHANDLE group = 1) const {
    const auto r = raw();
    q.dataChange(transid, group, S_OK, S_OK, DWORD(size()), handles.data(), r.data(),
                 qualities.data(), times.data(), errors.data());
  }
  void read(CallbackQueue& q, DWORD transid, OPCHANDLE group = 1) const {
    const auto r = raw();
    q.readComplete(transid, group, S_OK, S_OK, DWORD(size()), handles.data(), r.data(),
                   qualities.data(), times.data(), errors.data());
  }
  std::vector<char> stream(DWORD transid = 0, OPCHANDLE group = 1) const {
    const auto r = raw();
    HGLOBAL h = opc::stream::buildDataStream(true, group, transid, size(), handles.data(), r.data(),
                                             qualities.data(), times.data());
    std::vector<char> block(GlobalSize(h));
    std::memcpy(block.data(), GlobalLock(h), block.size());
    GlobalUnlock(h);
    GlobalFree(h);
    return block;
  }
  std::size_t size() const { return handles.size(); }

  std::vector<OPCHANDLE> handles;
  std::vector<OleVariant> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> times;
  std::vector<HRESULT> errors;
};

/// (handle, value) pairs of a taken callback.
std::vector<std::pair<OPCHANDLE, LONG>> itemsOf(const QueuedCallback& c) {
  std::vector<std::pair<OPCHANDLE, LONG>> out;
  for (std::size_t i = 0; i < c.values.size(); ++i)
    out.emplace_back(c.handles[i], c.values[i].get().lVal);
  return out;
}

using Items = std::vector<std::pair<OPCHANDLE, LONG>>;

class CallbackQueueTest : public veze6::test::LeakCheckedTest {};

TEST_F(CallbackQueueTest, UpdatesCoalescePerItemInFirstArrivalOrderAndStayBounded) {
  CallbackQueue q;
  for (LONG round = 0; round < 1000; ++round) {
    Batch({{3, round}, {1, round}}).change(q);
    Batch({{2, round}}, round == 999 ? OPC_QUALITY_BAD : OPC_QUALITY_GOOD).change(q);
  }
  EXPECT_EQ(q.size(), 1u);
  EXPECT_EQ(q.pendingItems(), 3u);
  const auto c = q.take();
  ASSERT_TRUE(c);
  EXPECT_EQ(c->kind, Kind::DataChange);
  EXPECT_EQ(itemsOf(*c), (Items{{3, 999}, {1, 999}, {2, 999}}));
  EXPECT_EQ(c->timeStamps[2].dwLowDateTime, 999u);
  EXPECT_EQ(c->masterQuality, S_FALSE) << "recomputed from the merged items";
  EXPECT_TRUE(q.empty());
  EXPECT_EQ(q.pendingItems(), 0u);

  // Another group's items are its own.
  Batch({{1, 5}}).change(q, 0, 1);
  Batch({{1, 6}}).change(q, 0, 2);
  EXPECT_EQ(q.size(), 2u);
}

TEST_F(CallbackQueueTest, CompletionsAreKeptInOrderAndNothingOlderOvertakesThem) {
  CallbackQueue q;
  Batch({{1, 1}, {2, 1}}).change(q);
  Batch({{1, 2}}).read(q, 77);
  Batch({{1, 3}}).change(q);
  q.writeComplete(78, 1, S_OK, 1, std::vector<OPCHANDLE>{2}.data(),
                  std::vector<HRESULT>{OPC_S_CLAMP}.data());
  Batch({{1, 4}}).change(q);
  Batch({{1, 5}, {2, 5}}).change(q);
  Batch({{9, 9}}).change(q, 79);  // a refresh's answer is a completion too
  q.cancelComplete(80, 1);

  std::vector<Kind> kinds;
  std::vector<Items> items;
  while (auto c = q.take()) {
    kinds.push_back(c->kind);
    items.push_back(itemsOf(*c));
    if (c->kind == Kind::WriteComplete) {
      EXPECT_EQ(c->errors, std::vector<HRESULT>{OPC_S_CLAMP});
    }
  }
  EXPECT_EQ(kinds, (std::vector<Kind>{Kind::DataChange, Kind::ReadComplete, Kind::DataChange,
                                      Kind::WriteComplete, Kind::DataChange, Kind::DataChange,
                                      Kind::CancelComplete}));
  EXPECT_EQ(items[0], (Items{{1, 1}, {2, 1}}));
  EXPECT_EQ(items[2], (Items{{1, 3}}));
  EXPECT_EQ(items[4], (Items{{1, 5}, {2, 5}}));
  EXPECT_EQ(items[5], (Items{{9, 9}}));
}

TEST_F(CallbackQueueTest, AnUpdateAlreadyTakenIsNeverChangedAfterwards) {
  CallbackQueue q;
  Batch({{1, 1}, {2, 1}}).change(q);
  Batch({{3, 1}}).change(q, 0, 2);
  const auto first = q.take();  // in flight now
  Batch({{1, 2}}).change(q);
  Batch({{3, 2}}).change(q, 0, 2);
  EXPECT_EQ(itemsOf(*first), (Items{{1, 1}, {2, 1}}));
  EXPECT_EQ(itemsOf(*q.take()), (Items{{3, 2}})) << "the pending one takes the newer value";
  EXPECT_EQ(itemsOf(*q.take()), (Items{{1, 2}}));
  EXPECT_FALSE(q.take());
}

TEST_F(CallbackQueueTest, StreamUpdatesCoalesceAndEverythingElseTravelsAsItCame) {
  CallbackQueue q;
  const auto a = Batch({{1, 1}, {2, 1}}).stream();
  const auto b = Batch({{2, 7}, {3, 7}}).stream();
  q.stream(CLIPFORMAT(OPCSTMFORMATDATATIME), a.data(), a.size());
  q.stream(CLIPFORMAT(OPCSTMFORMATDATATIME), b.data(), b.size());
  const auto answer = Batch({{1, 8}}).stream(55);
  q.stream(CLIPFORMAT(OPCSTMFORMATDATATIME), answer.data(), answer.size());
  std::vector<char> bent = b;
  bent.resize(bent.size() - 3);  // a value cut short: not taken apart, passed on
  q.stream(CLIPFORMAT(OPCSTMFORMATDATATIME), bent.data(), bent.size());
  const char write[16] = {};
  q.stream(CLIPFORMAT(OPCSTMFORMATWRITECOMPLETE), write, sizeof write);
  ASSERT_EQ(q.size(), 4u);

  const auto merged = q.take()->buildStream();
  EXPECT_EQ(merged, Batch({{1, 1}, {2, 7}, {3, 7}}).stream());
  EXPECT_EQ(q.take()->buildStream(), answer);
  EXPECT_EQ(q.take()->buildStream(), bent);
  const auto w = q.take();
  EXPECT_EQ(w->format, CLIPFORMAT(OPCSTMFORMATWRITECOMPLETE));
  EXPECT_EQ(w->buildStream().size(), sizeof write);
}

}  // namespace
