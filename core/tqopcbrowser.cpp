#include "tqopcbrowser.h"

#include <QCoreApplication>

#include "opc/taskmem.h"
#include "qOPCErrors.h"
#include "qopcconversions.h"
#include "qopcenum_p.h"
#include "qopcstrings.h"

namespace {

QString noServerObjectText() {
  return QCoreApplication::translate("qOPC", "first define server object");
}

}  // namespace

TqOPCBrowser::TqOPCBrowser(QObject* owner) : TComponent(owner) {}

TqOPCBrowser::~TqOPCBrowser() {
  Destroying();
  QObject::disconnect(serverDestroyed_);
  browse_.reset();
}

void TqOPCBrowser::SetOPCServer(TqOPCServer* server) {
  QObject::disconnect(serverDestroyed_);
  server_ = server;
  // The owner of a form frees its components in any order; whoever goes
  // first, the browser must never be left pointing at a dead server.
  if (server)
    serverDestroyed_ = connect(server, &QObject::destroyed, this,
                               [this](QObject* component) { Notification(component); });
  forget();
}

void TqOPCBrowser::Notification(QObject* component) {
  // Only the address is compared: the object is already half destroyed.
  Q_UNUSED(component);
  SetOPCServer(nullptr);
}

void TqOPCBrowser::forget() {
  organization_ = -1;
  tags_.clear();
  levels_.clear();
  browse_.reset();
}

ComPtr<IOPCBrowseServerAddressSpace> TqOPCBrowser::GetBrowser() {
  if (!server_) throw EOPCException(noServerObjectText());
  if (browse_) return browse_;

  tags_.clear();
  levels_.clear();
  organization_ = -1;
  const ComPtr<IOPCServer> server = server_->GetOPCServer();
  if (!server) return {};
  if (FAILED(server.as(browse_)) || !browse_) {
    browse_.reset();
    server_->Fault(_STR_NOBROWSER());
  }
  return browse_;
}

bool TqOPCBrowser::Check(HRESULT result) {
  if (SUCCEEDED(result)) return true;
  if (server_) server_->NoteCallResult(result);
  // Check is only reached once GetBrowser found the server component; a
  // server component destroyed since then takes the library's text.
  QString text = server_ ? server_->GetErrorString(result) : QString();
  if (text.trimmed().isEmpty()) {
    try {
      OPCCheck(result);
    } catch (const Exception& e) {
      text = e.Message();
    }
  }
  text = QStringLiteral("Browser: ") + text;
  if (!server_) throw EOPCException(text);
  server_->Fault(text);
  return false;
}

int TqOPCBrowser::GetOrganization() {
  if (organization_ != -1) return organization_;
  const ComPtr<IOPCBrowseServerAddressSpace> browse = GetBrowser();
  if (!browse) return -1;
  OPCNAMESPACETYPE type{};
  if (!Check(browse->QueryOrganization(&type))) return -1;
  organization_ = int(type);
  return organization_;
}

bool TqOPCBrowser::move(OPCBROWSEDIRECTION direction, const QString& argument,
                        const std::function<void()>& onSuccess) {
  if (GetOrganization() == OPC_NS_FLAT) return false;
  try {
    const ComPtr<IOPCBrowseServerAddressSpace> browse = GetBrowser();
    if (!browse) return false;
    if (!Check(browse->ChangeBrowsePosition(direction, TextToWide(argument).get()))) return false;
  } catch (const std::exception&) {
    return false;  // a refused move is an answer, not an error
  }
  onSuccess();
  return true;
}

bool TqOPCBrowser::MoveDown(const QString& name) {
  return move(OPC_BROWSE_DOWN, name, [&] { levels_.append(name); });
}

bool TqOPCBrowser::Moveup() {
  return move(OPC_BROWSE_UP, QString(), [&] {
    if (!levels_.isEmpty()) levels_.removeLast();
  });
}

bool TqOPCBrowser::Moveto(const QString& path) {
  return move(OPC_BROWSE_TO, path, [&] {
    // The server is told the whole path; the browser only mirrors it. The
    // empty path is the root, where no level is left.
    levels_ = path.isEmpty() ? QStringList() : path.split(QLatin1Char('.'), Qt::KeepEmptyParts);
  });
}

bool TqOPCBrowser::MovetoRoot() {
  return move(OPC_BROWSE_TO, QString(), [&] { levels_.clear(); });
}

void TqOPCBrowser::GetOPCTags(int browseType) {
  tags_.clear();
  if (GetOrganization() == OPC_NS_FLAT && browseType == OPC_BRANCH) return;

  DWORD rights = 0;
  if (accessRights_.testFlag(opcReadable)) rights |= OPC_READABLE;
  if (accessRights_.testFlag(opcWritable)) rights |= OPC_WRITEABLE;
  const VARTYPE datatype = VARTYPE(datatype_);

  const ComPtr<IOPCBrowseServerAddressSpace> browse = GetBrowser();
  if (!browse) return;
  ComPtr<IEnumString> names;
  const HRESULT hr = browse->BrowseOPCItemIDs(OPCBROWSETYPE(browseType), TextToWide(filter_).get(),
                                              datatype, rights, names.put());
  if (!Check(hr)) return;
  veze6::core::detail::appendEnumStrings(names.get(), tags_);
}

void TqOPCBrowser::ShowLeafs(bool flat) {
  GetOPCTags(flat || GetOrganization() == OPC_NS_FLAT ? OPC_FLAT : OPC_LEAF);
}

QString TqOPCBrowser::GetItemId(const QString& name) {
  const ComPtr<IOPCBrowseServerAddressSpace> browse = GetBrowser();
  if (!browse) return {};
  opc::Bstr wide = TextToWide(name);
  opc::TaskString itemId;
  if (!Check(browse->GetItemID(wide.get(), itemId.put()))) return {};
  return WideToText(itemId.get());
}

void TqOPCBrowser::GetAccessPath(const QString& itemId, QStringList& target) {
  const ComPtr<IOPCBrowseServerAddressSpace> browse = GetBrowser();
  if (!browse) {
    target.clear();
    return;
  }
  ComPtr<IEnumString> paths;
  const bool ok = Check(browse->BrowseAccessPaths(TextToWide(itemId).get(), paths.put()));
  target.clear();
  if (ok) veze6::core::detail::appendEnumStrings(paths.get(), target);
}
