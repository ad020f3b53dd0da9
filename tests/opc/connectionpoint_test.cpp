#include <chrono>
#include <thread>

#include "test_utils.h"

namespace opc::test {
namespace {

/// A container that hands out one shutdown connection point.
class Container final : public ComObject<IConnectionPointContainer> {
 public:
  Container() : point_(makeCom<ConnectionPoint>(this, IID_IOPCShutdown, 2)) {}
  ~Container() override { point_->detach(); }
  HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
    if (!ppCP) return E_POINTER;
    *ppCP = nullptr;
    if (riid != IID_IOPCShutdown) return CONNECT_E_NOCONNECTION;
    return ComPtr<IConnectionPoint>(point_).copyTo(ppCP);
  }
  ConnectionPoint& point() { return *point_; }

 private:
  ComPtr<ConnectionPoint> point_;
};

using ConnectionPoints = LeakCheckedTest;

TEST_F(ConnectionPoints, AdviseHandsOutIncreasingCookiesNeverReused) {
  ComPtr<Container> container = makeCom<Container>();
  ComPtr<ShutdownSink> a = makeCom<ShutdownSink>(), b = makeCom<ShutdownSink>();
  ConnectionPoint& cp = container->point();
  DWORD c1 = 0, c2 = 0, c3 = 0;
  ASSERT_EQ(cp.Advise(a->unknown(), &c1), S_OK);
  ASSERT_EQ(cp.Advise(b->unknown(), &c2), S_OK);
  EXPECT_EQ(c1, 1u);
  EXPECT_EQ(c2, 2u);
  EXPECT_EQ(a->refCount(), 2u);  // the point holds the sink
  EXPECT_EQ(cp.Unadvise(c1), S_OK);
  EXPECT_EQ(a->refCount(), 1u);
  ASSERT_EQ(cp.Advise(a->unknown(), &c3), S_OK);
  EXPECT_EQ(c3, 3u);
  EXPECT_EQ(cp.sinks().size(), 2u);
  cp.sinks().clear();
  EXPECT_EQ(cp.sinks().size(), 0u);
  EXPECT_EQ(a->refCount(), 1u);
  EXPECT_EQ(b->refCount(), 1u);
}

TEST_F(ConnectionPoints, RefusalsAndLimits) {
  ComPtr<Container> container = makeCom<Container>();
  ConnectionPoint& cp = container->point();
  ComPtr<CommonObject> wrongInterface = makeCom<CommonObject>();
  ComPtr<ConnectionPoint> plain = makeCom<ConnectionPoint>(nullptr, IID_IOPCDataCallback);
  DWORD cookie = 5;
  // A sink without the point's interface cannot connect.
  EXPECT_EQ(plain->Advise(wrongInterface->unknown(), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(cp.Advise(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(cp.Advise(wrongInterface->unknown(), nullptr), E_POINTER);

  ComPtr<ShutdownSink> s1 = makeCom<ShutdownSink>(), s2 = makeCom<ShutdownSink>(),
                       s3 = makeCom<ShutdownSink>();
  DWORD c1, c2, c3;
  EXPECT_EQ(cp.Advise(s1->unknown(), &c1), S_OK);
  EXPECT_EQ(cp.Advise(s2->unknown(), &c2), S_OK);
  EXPECT_EQ(cp.Advise(s3->unknown(), &c3), CONNECT_E_ADVISELIMIT);
  EXPECT_EQ(s3->refCount(), 1u);

  EXPECT_EQ(cp.Unadvise(0), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(cp.Unadvise(77), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(cp.Unadvise(c1), S_OK);
  EXPECT_EQ(cp.Unadvise(c1), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(cp.Unadvise(c2), S_OK);

  // A detached point lets its sinks go and takes no new ones.
  EXPECT_EQ(cp.Advise(s1->unknown(), &c1), S_OK);
  cp.detach();
  EXPECT_EQ(s1->refCount(), 1u);
  EXPECT_EQ(cp.Advise(s2->unknown(), &c2), E_UNEXPECTED);
  EXPECT_EQ(s2->refCount(), 1u);
}

TEST_F(ConnectionPoints, InterfaceAndContainer) {
  ComPtr<Container> container = makeCom<Container>();
  ComPtr<IConnectionPoint> cp;
  ASSERT_EQ(container->FindConnectionPoint(IID_IOPCShutdown, cp.put()), S_OK);
  IID iid{};
  EXPECT_EQ(cp->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, IID_IOPCShutdown);
  EXPECT_EQ(cp->GetConnectionInterface(nullptr), E_POINTER);
  ComPtr<IConnectionPointContainer> back;
  ASSERT_EQ(cp->GetConnectionPointContainer(back.put()), S_OK);
  EXPECT_EQ(back.get(), static_cast<IConnectionPointContainer*>(container.get()));
  EXPECT_EQ(cp->GetConnectionPointContainer(nullptr), E_POINTER);
  back.reset();
  container.reset();  // detaches the point; cp outlives its container
  IConnectionPointContainer* gone = reinterpret_cast<IConnectionPointContainer*>(1);
  EXPECT_EQ(cp->GetConnectionPointContainer(&gone), E_UNEXPECTED);
  EXPECT_EQ(gone, nullptr);
}

/// Runs `body` on a thread of its own and waits for it.
template <class F>
void onOtherThread(F body) {
  std::thread t(body);
  t.join();
}

TEST_F(ConnectionPoints, CallsReachTheAdvisingApartment) {
  ComPtr<Container> container = makeCom<Container>();
  ConnectionPoint& cp = container->point();
  auto apt = std::make_shared<ManualApartment>();
  Apartment::setCurrent(apt);
  ComPtr<ShutdownSink> a = makeCom<ShutdownSink>();
  DWORD cookie = 0;
  ASSERT_EQ(cp.Advise(a->unknown(), &cookie), S_OK);
  Apartment::setCurrent(nullptr);

  // Made on the advising thread: called at once.
  std::vector<std::thread::id> threads;
  const auto call = [&](IOPCShutdown* sink) {
    threads.push_back(std::this_thread::get_id());
    sink->ShutdownRequest(u"now");
  };
  EXPECT_EQ(cp.deliverToAll<IOPCShutdown>(call), 1u);
  EXPECT_EQ(a->reasons.size(), 1u);
  // Made elsewhere: queued for the advising thread, with the text copied.
  onOtherThread([&] {
    auto text = std::make_shared<std::u16string>(u"later");
    cp.deliverToAll<IOPCShutdown>(
        [text](IOPCShutdown* sink) { sink->ShutdownRequest(text->c_str()); });
  });
  EXPECT_EQ(a->reasons.size(), 1u);
  ASSERT_TRUE(pumpUntil(*apt, [&] { return a->reasons.size() == 2; }));
  EXPECT_EQ(a->reasons[1], u"later");
  EXPECT_EQ(threads, std::vector<std::thread::id>{std::this_thread::get_id()});

  // A call still queued when the sink is unadvised does nothing, and the
  // sink is let go at once.
  onOtherThread([&] { cp.deliverToAll<IOPCShutdown>(call); });
  EXPECT_EQ(cp.Unadvise(cookie), S_OK);
  EXPECT_EQ(a->refCount(), 1u);
  EXPECT_EQ(apt->runPending(), 1u);
  EXPECT_EQ(a->reasons.size(), 2u);
  EXPECT_EQ(threads.size(), 1u);
}

TEST_F(ConnectionPoints, EnumConnectionsListsCookiesWithReferences) {
  ComPtr<Container> container = makeCom<Container>();
  ConnectionPoint& cp = container->point();
  ComPtr<ShutdownSink> a = makeCom<ShutdownSink>(), b = makeCom<ShutdownSink>();
  DWORD ca, cb;
  cp.Advise(a->unknown(), &ca);
  cp.Advise(b->unknown(), &cb);
  ComPtr<IEnumConnections> e;
  ASSERT_EQ(cp.EnumConnections(e.put()), S_OK);
  cp.sinks().clear();  // the enumerator still holds both
  CONNECTDATA data[3]{};
  ULONG fetched = 0;
  EXPECT_EQ(e->Next(3, data, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(data[0].dwCookie, ca);
  EXPECT_EQ(data[1].dwCookie, cb);
  ComPtr<IOPCShutdown> first;
  ASSERT_EQ(data[0].pUnk->QueryInterface(IID_IOPCShutdown, first.putVoid()), S_OK);
  EXPECT_EQ(first.get(), static_cast<IOPCShutdown*>(a.get()));
  for (ULONG i = 0; i < fetched; ++i) data[i].pUnk->Release();
  EXPECT_EQ(cp.EnumConnections(nullptr), E_POINTER);
}

}  // namespace
}  // namespace opc::test
