#include "tqopcserverbrowser.h"

#include "exceptions.h"
#include "opc/OPCDA.h"
#include "opc/classregistry.h"
#include "opc/taskmem.h"
#include "qopcconversions.h"
#include "qopclogging.h"

namespace {

[[noreturn]] void indexError(int index) {
  throw EListError(QStringLiteral("List index out of bounds (%1)").arg(index));
}

// The server list object of this computer (empty name) or of the named one.
ComPtr<IOPCServerList> createServerList(const QString& computer) {
  ComPtr<IUnknown> object;
  if (computer.isEmpty()) {
    OleCheck(CoCreateInstance(CLSID_OPCServerList, nullptr,
                              CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                              object.putVoid()));
  } else {
    opc::Bstr name = TextToWide(computer);
    COSERVERINFO info{0, name.get(), nullptr, 0};
    MULTI_QI request{&IID_IUnknown, nullptr, S_OK};
    const HRESULT hr =
        CoCreateInstanceEx(CLSID_OPCServerList, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                           &info, 1, &request);
    object = ComPtr<IUnknown>::attach(request.pItf);  // released on every path below
    OleCheck(hr);
    OleCheck(request.hr);
  }
  ComPtr<IOPCServerList> list;
  const HRESULT hr = object.as(list);
  if (FAILED(hr) || !list) OleError(FAILED(hr) && hr != E_POINTER ? hr : E_NOINTERFACE);
  return list;
}

}  // namespace

TqopcServerBrowser::TqopcServerBrowser(QObject* owner) : TComponent(owner) {}

TqopcServerBrowser::~TqopcServerBrowser() {
  Destroying();
  Clear();
}

void TqopcServerBrowser::Execute() {
  Clear();
  const ComPtr<IOPCServerList> list = createServerList(computerName_);
  // Not the declaration order of the set: DA 1.0 servers are listed first.
  if (servertype_.testFlag(svr_DA10)) GetServers(list.get(), CATID_OPCDAServer10, svr_DA10);
  if (servertype_.testFlag(svr_DA20)) GetServers(list.get(), CATID_OPCDAServer20, svr_DA20);
  if (servertype_.testFlag(svr_AE10)) GetServers(list.get(), CATID_OPCAEServer10, svr_AE10);
}

void TqopcServerBrowser::GetOPCServers(const QString& computer) {
  SetComputerName(computer);
  Execute();
}

TqopcServerItem* TqopcServerBrowser::GetItems(int index) const {
  if (index < 0 || index >= GetCount()) indexError(index);
  return items_[std::size_t(index)].get();
}

std::unique_ptr<TqopcServerItem> TqopcServerBrowser::SetItems(
    int index, std::unique_ptr<TqopcServerItem> item) {
  if (index < 0 || index >= GetCount()) indexError(index);
  if (!item) throw EListError(QStringLiteral("List entry missing"));
  std::swap(items_[std::size_t(index)], item);
  return item;
}

TqopcServerItem* TqopcServerBrowser::GetServer(const QString& clsId) const {
  for (const auto& item : items_)
    if (item->ClsId == clsId) return item.get();
  return nullptr;
}

void TqopcServerBrowser::Clear() {
  while (!items_.empty()) items_.pop_back();  // last first
}

void TqopcServerBrowser::GetServers(IOPCServerList* list, const CATID& category,
                                    tqopcServerType tag) {
  CATID implemented[1] = {category};
  ComPtr<IEnumGUID> classes;
  OleCheck(list->EnumClassesOfCategories(1, implemented, 0, nullptr, classes.put()));
  if (!classes) return;  // a server list that found nothing and said so badly
  for (;;) {
    GUID clsid{};
    ULONG fetched = 0;
    // Exactly one class per call: S_OK without a class would never end.
    if (classes->Next(1, &clsid, &fetched) != S_OK || fetched == 0) break;
    opc::TaskString progId, userType;
    OleCheck(list->GetClassDetails(clsid, progId.put(), userType.put()));
    opc::TaskString clsidText;
    const QString clsId = SUCCEEDED(StringFromCLSID(clsid, clsidText.put()))
                              ? WideToText(clsidText.get())
                              : QString();
    AddServer(WideToText(userType.get()), WideToText(progId.get()), clsId, tag);
  }
}

void TqopcServerBrowser::AddServer(const QString& userType, const QString& progId,
                                   const QString& clsId, tqopcServerType tag) {
  TqopcServerItem* item = GetServer(clsId);
  if (!item) {
    auto created = std::make_unique<TqopcServerItem>();
    created->ComputerName = computerName_;
    created->UserType = userType;
    created->ProgID = progId;
    created->ClsId = clsId;
    item = created.get();
    items_.push_back(std::move(created));
  }
  item->Categories |= tag;
}

void GetOPCServers(QStringList& list) {
  list.clear();
  for (const opc::ClassEntry& entry : opc::ClassRegistry::instance().entries()) {
    // The listing reads key names: a class without a ProgID has no key of its own.
    if (!entry.opcMarker || entry.progId.empty()) continue;
    list.append(QString::fromStdU16String(entry.progId));
  }
}
