// The fixture of the tests that drive a server component against a strict
// mock server: the mock registered under its ProgID, a component set to it,
// and at the end no reference to the mock left and nothing leaked.
#pragma once

#include "opc_mocks.h"
#include "test_utils.h"

namespace core_test {

class ServerMockFixture : public LeakCheckedTest {
 protected:
  using Server = ::testing::StrictMock<MockOPCServer>;

  void SetUp() override {
    mock = opc::makeCom<Server>();
    registration = std::make_unique<ScopedTestClass>(CLSID_MockServer, kMockProgId,
                                                     ComPtr<IUnknown>(mock->unknown()));
    server = std::make_unique<TqOPCServer>();
    server->SetServer(QString::fromUtf16(kMockProgId));
  }

  void TearDown() override {
    server.reset();
    registration.reset();
    EXPECT_EQ(mock->refCount(), 1u) << "the component kept server references";
    mock.reset();
  }

  void connect() {
    ASSERT_NO_THROW(server->SetActive(true));
    ASSERT_TRUE(server->Active());
  }

  ComPtr<Server> mock;
  std::unique_ptr<ScopedTestClass> registration;
  std::unique_ptr<TqOPCServer> server;
};

}  // namespace core_test
