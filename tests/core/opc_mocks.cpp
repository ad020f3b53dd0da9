#include "opc_mocks.h"

namespace core_test {

MockOPCServer::MockOPCServer() {
  // The connect sequence looks for a shutdown point: none, unless a test
  // gives the server one with an expectation of its own.
  EXPECT_CALL(*this, FindConnectionPoint(IID_IOPCShutdown, ::testing::_))
      .Times(::testing::AnyNumber())
      .WillRepeatedly(::testing::Return(CONNECT_E_NOCONNECTION));
}
MockOPCServer::~MockOPCServer() = default;

HRESULT MockOPCServer::QueryInterface(REFIID riid, void** ppv) {
  ++queries_[riid];
  return ComObject::QueryInterface(riid, ppv);
}

void MockOPCServer::presentAsDA10() {
  refuse(IID_IOPCCommon);
  refuse(IID_IConnectionPointContainer);
  refuse(IID_IOPCItemProperties);
}

int MockOPCServer::queryCount(const IID& iid) const {
  auto it = queries_.find(iid);
  return it == queries_.end() ? 0 : it->second;
}

MockEnumString::MockEnumString() = default;
MockEnumString::~MockEnumString() = default;

MockEnumGUID::MockEnumGUID() = default;
MockEnumGUID::~MockEnumGUID() = default;

MockOPCServerList::MockOPCServerList() = default;
MockOPCServerList::~MockOPCServerList() = default;

MockConnectionPoint::MockConnectionPoint() = default;
MockConnectionPoint::~MockConnectionPoint() = default;

HRESULT NullServerObject::QueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IOPCServer) {
    if (ppv) *ppv = nullptr;
    return S_OK;
  }
  return ComObject::QueryInterface(riid, ppv);
}

ScopedTestClass::ScopedTestClass(const CLSID& clsid, std::u16string progId, ComPtr<IUnknown> object)
    : clsid_(clsid),
      creations_(std::make_shared<int>(0)),
      replaced_(opc::ClassRegistry::instance().find(clsid)) {
  opc::ClassEntry entry;
  entry.clsid = clsid;
  entry.progId = std::move(progId);
  entry.userType = u"veze6 test server";
  entry.create = [object, creations = creations_](REFIID riid, void** ppv) {
    ++*creations;
    return object->QueryInterface(riid, ppv);
  };
  opc::ClassRegistry::instance().registerClass(std::move(entry));
}

ScopedTestClass::~ScopedTestClass() {
  // A class of the platform the test stood in for (the server list object)
  // comes back in its place.
  if (replaced_)
    opc::ClassRegistry::instance().registerClass(std::move(*replaced_));
  else
    opc::ClassRegistry::instance().unregisterClass(clsid_);
}

}  // namespace core_test
