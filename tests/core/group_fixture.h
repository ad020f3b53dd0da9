// The fixture of the group and item tests against mocks: a strict mock
// server whose AddGroup hands out a strict mock group, checked for leaks.
#pragma once

#include "group_mocks.h"
#include "server_fixture.h"

namespace core_test {

class GroupMockFixture : public ServerMockFixture {
 protected:
  using Group = ::testing::StrictMock<MockGroup>;

  static constexpr OPCHANDLE kServerGroup = 7;

  void SetUp() override {
    ServerMockFixture::SetUp();
    group = opc::makeCom<Group>();
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
    ServerMockFixture::TearDown();
    EXPECT_EQ(group->refCount(), 1u) << "the component kept group references";
    group.reset();
  }

  /// AddGroup answered with the mock group, expected `times` times.
  void expectAddGroup(int times = 1, DWORD revisedRate = 1000) {
    EXPECT_CALL(*mock, AddGroup)
        .Times(times)
        .WillRepeatedly(
            ::testing::Invoke(answerAddGroup(group.get(), kServerGroup, revisedRate, &sentGroups)));
  }

  TqOPCGroups& groups() { return *server->OPCGroups(); }

  ComPtr<Group> group;
  std::vector<SentGroup> sentGroups;
  ItemCalls calls;
  SleepRecorder sleeps;
};

}  // namespace core_test
