// GoogleMock mocks of the OPC server interfaces the client library drives.
// Each mock is a real reference-counted object; QueryInterface is the real
// one, with interfaces that can be refused and a count of the requests.
#pragma once

#include <gmock/gmock.h>

#include <map>
#include <optional>
#include <set>

#include "opc/OPCCOMN.h"
#include "opc/OPCDA.h"
#include "opc/classregistry.h"
#include "opc/com.h"

namespace core_test {

/// A server object: IOPCServer, IOPCCommon, IConnectionPointContainer,
/// IOPCItemProperties and IOPCBrowseServerAddressSpace (any of them can be
/// refused).
class MockOPCServer
    : public opc::ComObject<IOPCServer, IOPCCommon, IConnectionPointContainer, IOPCItemProperties,
                            IOPCBrowseServerAddressSpace> {
 public:
  MockOPCServer();
  ~MockOPCServer() override;

  // IOPCServer
  MOCK_METHOD(HRESULT, AddGroup,
              (LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD, OPCHANDLE*, DWORD*, REFIID,
               IUnknown**),
              (override));
  MOCK_METHOD(HRESULT, GetErrorString, (HRESULT, LCID, LPWSTR*), (override));
  MOCK_METHOD(HRESULT, GetGroupByName, (LPCWSTR, REFIID, IUnknown**), (override));
  MOCK_METHOD(HRESULT, GetStatus, (OPCSERVERSTATUS**), (override));
  MOCK_METHOD(HRESULT, RemoveGroup, (OPCHANDLE, BOOL), (override));
  MOCK_METHOD(HRESULT, CreateGroupEnumerator, (OPCENUMSCOPE, REFIID, IUnknown**), (override));

  // IOPCCommon
  MOCK_METHOD(HRESULT, SetLocaleID, (LCID), (override));
  MOCK_METHOD(HRESULT, GetLocaleID, (LCID*), (override));
  MOCK_METHOD(HRESULT, QueryAvailableLocaleIDs, (DWORD*, LCID**), (override));
  MOCK_METHOD(HRESULT, GetErrorString, (HRESULT, LPWSTR*), (override));
  MOCK_METHOD(HRESULT, SetClientName, (LPCWSTR), (override));

  // IConnectionPointContainer
  MOCK_METHOD(HRESULT, EnumConnectionPoints, (IEnumConnectionPoints**), (override));
  MOCK_METHOD(HRESULT, FindConnectionPoint, (REFIID, IConnectionPoint**), (override));

  // IOPCItemProperties
  MOCK_METHOD(HRESULT, QueryAvailableProperties, (LPWSTR, DWORD*, DWORD**, LPWSTR**, VARTYPE**),
              (override));
  MOCK_METHOD(HRESULT, GetItemProperties, (LPWSTR, DWORD, DWORD*, VARIANT**, HRESULT**),
              (override));
  MOCK_METHOD(HRESULT, LookupItemIDs, (LPWSTR, DWORD, DWORD*, LPWSTR**, HRESULT**), (override));

  // IOPCBrowseServerAddressSpace
  MOCK_METHOD(HRESULT, QueryOrganization, (OPCNAMESPACETYPE*), (override));
  MOCK_METHOD(HRESULT, ChangeBrowsePosition, (OPCBROWSEDIRECTION, LPCWSTR), (override));
  MOCK_METHOD(HRESULT, BrowseOPCItemIDs, (OPCBROWSETYPE, LPCWSTR, VARTYPE, DWORD, IEnumString**),
              (override));
  MOCK_METHOD(HRESULT, GetItemID, (LPWSTR, LPWSTR*), (override));
  MOCK_METHOD(HRESULT, BrowseAccessPaths, (LPCWSTR, IEnumString**), (override));

  HRESULT QueryInterface(REFIID riid, void** ppv) override;

  /// Makes QueryInterface refuse iid (E_NOINTERFACE).
  void refuse(const IID& iid) { refused_.insert(iid); }
  /// Presents the object as a DA 1.0 server: IOPCServer only.
  void presentAsDA10();
  /// How often QueryInterface was asked for iid.
  int queryCount(const IID& iid) const;

 protected:
  bool interfaceEnabled(REFIID riid) const override { return !refused_.count(riid); }

 private:
  std::set<IID> refused_;
  std::map<IID, int> queries_;
};

/// A connection point.
class MockConnectionPoint : public opc::ComObject<IConnectionPoint> {
 public:
  MockConnectionPoint();
  ~MockConnectionPoint() override;

  MOCK_METHOD(HRESULT, GetConnectionInterface, (IID*), (override));
  MOCK_METHOD(HRESULT, GetConnectionPointContainer, (IConnectionPointContainer**), (override));
  MOCK_METHOD(HRESULT, Advise, (IUnknown*, DWORD*), (override));
  MOCK_METHOD(HRESULT, Unadvise, (DWORD), (override));
  MOCK_METHOD(HRESULT, EnumConnections, (IEnumConnections**), (override));
};

/// A string enumerator.
class MockEnumString : public opc::ComObject<IEnumString> {
 public:
  MockEnumString();
  ~MockEnumString() override;

  MOCK_METHOD(HRESULT, Next, (ULONG, LPOLESTR*, ULONG*), (override));
  MOCK_METHOD(HRESULT, Skip, (ULONG), (override));
  MOCK_METHOD(HRESULT, Reset, (), (override));
  MOCK_METHOD(HRESULT, Clone, (IEnumString**), (override));
};

/// A class id enumerator.
class MockEnumGUID : public opc::ComObject<IEnumGUID> {
 public:
  MockEnumGUID();
  ~MockEnumGUID() override;

  MOCK_METHOD(HRESULT, Next, (ULONG, GUID*, ULONG*), (override));
  MOCK_METHOD(HRESULT, Skip, (ULONG), (override));
  MOCK_METHOD(HRESULT, Reset, (), (override));
  MOCK_METHOD(HRESULT, Clone, (IEnumGUID**), (override));
};

/// The OPC server list object of a computer.
class MockOPCServerList : public opc::ComObject<IOPCServerList> {
 public:
  MockOPCServerList();
  ~MockOPCServerList() override;

  MOCK_METHOD(HRESULT, EnumClassesOfCategories, (ULONG, CATID*, ULONG, CATID*, IEnumGUID**),
              (override));
  MOCK_METHOD(HRESULT, GetClassDetails, (REFCLSID, LPOLESTR*, LPOLESTR*), (override));
  MOCK_METHOD(HRESULT, CLSIDFromProgID, (LPCOLESTR, CLSID*), (override));
};

/// An object that claims to have IOPCServer but hands out none (S_OK and a
/// null pointer), as a broken server may.
class NullServerObject : public opc::ComObject<IUnknown> {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
};

/// Registers a test class in the process's class registry for its lifetime;
/// each creation hands out object (queried for the requested interface) and
/// is counted.
class ScopedTestClass {
 public:
  /// With an empty progId the class can be reached by class id only.
  ScopedTestClass(const CLSID& clsid, std::u16string progId, ComPtr<IUnknown> object);
  ~ScopedTestClass();
  ScopedTestClass(const ScopedTestClass&) = delete;
  ScopedTestClass& operator=(const ScopedTestClass&) = delete;

  int creations() const { return *creations_; }

 private:
  CLSID clsid_;
  std::shared_ptr<int> creations_;
  std::optional<opc::ClassEntry> replaced_;  // put back when the test ends
};

/// Class ids of the test classes.
inline constexpr CLSID CLSID_MockServer{
    0x1A2B3C4D, 0x0001, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
inline constexpr CLSID CLSID_MockServerNoProgId{
    0x1A2B3C4D, 0x0002, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02}};
inline constexpr CLSID CLSID_Unregistered{
    0x1A2B3C4D, 0x0003, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03}};
inline constexpr char16_t kMockProgId[] = u"Veze6.Test.MockServer.1";

}  // namespace core_test
