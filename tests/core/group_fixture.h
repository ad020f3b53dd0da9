// The fixture of the group and item tests against mocks: a strict mock
// server whose AddGroup hands out a strict mock group, checked for leaks.
#pragma once

#include "group_mocks.h"
#include "opc_mocks.h"
#include "test_utils.h"

namespace core_test {

class GroupMockFixture : public LeakCheckedTest {
 protected:
  using Server = ::testing::StrictMock<MockOPCServer>;
  using Group = ::testing::StrictMock<MockGroup>;

  static constexpr OPCHANDLE kServerGroup = 7;

  void SetUp() override {
    mock = opc::makeCom<Server>();
    group = opc::makeCom<Group>();
    registration = std::make_unique<ScopedTestClass>(CLSID_MockServer, kMockProgId,
                                                     ComPtr<IUnknown>(mock->unknown()));
    server = std::make_unique<TqOPCServer>();
    server->SetServer(QString::fromUtf16(kMockProgId));
    // The server has no shutdown connection point; that is not an error.
    EXPECT_CALL(*mock, FindConnectionPoint)
        .Times(::testing::AnyNumber())
        .WillRepeatedly(::testing::DoAll(::testing::SetArgPointee<1>(nullptr),
                                         ::testing::Return(CONNECT_E_NOCONNECTION)));
    // Taking groups off the server is allowed throughout; tests that count
    // it say so.
    EXPECT_CALL(*mock, RemoveGroup(::testing::_, FALSE))
        .Times(::testing::AnyNumber())
        .WillRepeatedly(::testing::Return(S_OK));
  }

  void TearDown() override {
    server.reset();
    registration.reset();
    EXPECT_EQ(mock->refCount(), 1u) << "the component kept server references";
    EXPECT_EQ(group->refCount(), 1u) << "the component kept group references";
    mock.reset();
    group.reset();
  }

  /// AddGroup answered with the mock group, expected `times` times.
  void expectAddGroup(int times = 1, DWORD revisedRate = 1000) {
    EXPECT_CALL(*mock, AddGroup)
        .Times(times)
        .WillRepeatedly(
            ::testing::Invoke(answerAddGroup(group.get(), kServerGroup, revisedRate, &sentGroups)));
  }

  void connect() {
    ASSERT_NO_THROW(server->SetActive(true));
    ASSERT_TRUE(server->Active());
  }

  TqOPCGroups& groups() { return *server->OPCGroups(); }

  ComPtr<Server> mock;
  ComPtr<Group> group;
  std::unique_ptr<ScopedTestClass> registration;
  std::unique_ptr<TqOPCServer> server;
  std::vector<SentGroup> sentGroups;
  ItemCalls calls;
  SleepRecorder sleeps;
};

}  // namespace core_test
