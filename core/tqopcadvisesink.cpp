#include "tqopcadvisesink.h"

#include "application.h"
#include "messages.h"
#include "opc/OPCDA.h"
#include "tqopcgroup.h"
#include "tqopcitemupdater_p.h"

namespace {

// The group's IDataObject; none for a group off the server or a refusal
// (an exception on the way counts as one).
ComPtr<IDataObject> dataObjectOf(TqOPCGroup* group) {
  IOPCItemMgt* itemMgt = group ? group->ItemMgt() : nullptr;
  if (!itemMgt) return {};
  ComPtr<IDataObject> data;
  try {
    if (FAILED(itemMgt->QueryInterface(IID_IDataObject, data.putVoid()))) data.reset();
  } catch (...) {
    data.reset();
  }
  return data;
}

}  // namespace

ComPtr<TqOPCAdviseSink> TqOPCAdviseSink::Create(TqOPCGroup* group) {
  ComPtr<TqOPCAdviseSink> sink = opc::makeCom<TqOPCAdviseSink>();
  sink->group_ = group;
  sink->adviseResult_ = E_FAIL;
  const ComPtr<IDataObject> data = dataObjectOf(group);
  if (!data) return sink;
  FORMATETC format{CLIPFORMAT(OPCSTMFORMATDATATIME), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  DWORD cookie = 0;
  sink->adviseResult_ = data->DAdvise(&format, ADVF_PRIMEFIRST, sink.get(), &cookie);
  sink->cookie_ = FAILED(sink->adviseResult_) ? 0 : cookie;
  return sink;
}

TqOPCAdviseSink::TqOPCAdviseSink() : apartment_(opc::Apartment::current()) {}

TqOPCAdviseSink::~TqOPCAdviseSink() = default;

void TqOPCAdviseSink::UnAdvise() {
  if (adviseResult_ == S_OK) {
    if (const ComPtr<IDataObject> data = dataObjectOf(group_)) data->DUnadvise(cookie_);
  }
  adviseResult_ = E_FAIL;
}

void TqOPCAdviseSink::OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) {
  if (!pFormatetc || !pStgmed) return;
  const CLIPFORMAT format = pFormatetc->cfFormat;
  if (format != CLIPFORMAT(OPCSTMFORMATDATA) && format != CLIPFORMAT(OPCSTMFORMATDATATIME)) return;
  const bool withTime = format == CLIPFORMAT(OPCSTMFORMATDATATIME);
  if (pStgmed->tymed != TYMED_HGLOBAL || !pStgmed->hGlobal) return;
  const HGLOBAL handle = pStgmed->hGlobal;
  const auto* block = static_cast<const char*>(GlobalLock(handle));
  if (!block) return;
  const std::size_t size = GlobalSize(handle);
  if (onOwnThread()) {
    ApplyStream(block, size, withTime);
  } else if (apartment_) {
    // The block is the server's and goes when this call returns: the
    // component's thread gets its own copy.
    QByteArray copy(block, qsizetype(size));
    ComPtr<TqOPCAdviseSink> self(this);
    apartment_->post([self, copy, withTime] {
      self->ApplyStream(copy.constData(), std::size_t(copy.size()), withTime);
    });
  }
  GlobalUnlock(handle);
}

void TqOPCAdviseSink::ApplyStream(const char* block, std::size_t size, bool withTime) {
  TqOPCGroup* group = group_;
  if (!group || !group->ItemMgt()) {
    Beep();  // data for a group that is no longer on the server
    return;
  }
  const TDataStreamReader::Result result = reader_.Read(block, size, withTime);
  if (result == TDataStreamReader::Result::Malformed) return;
  group->ClearTaskId(reader_.Header().dwTransactionID);
  if (result != TDataStreamReader::Result::Ok) return;

  const auto entries = reader_.Entries();
  TqOPCItemUpdater update(*group->OPCItems(), int(entries.size()));
  for (TDataStreamReader::Entry& entry : entries) {
    // A handle that names no live item of the group is dropped, and so is
    // an item whose value did not decode: it keeps its last value. DA 1.0
    // keeps only the quality class.
    if (entry.decoded)
      update.StreamChange(entry.hClient, entry.value, entry.wQuality,
                          withTime ? &entry.ftTimeStamp : nullptr);
  }
  reader_.Clear();
  if (update.Count() > 0)
    PostMessage(group->callbackWindow(), CM_OPCDATACHANGE, WPARAM(group->ClientHandle()),
                update.TakeList());
}
