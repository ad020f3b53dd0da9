// TqOPCAdviseSink: the data sink of a group on an OPC DA 1.0 server (and the
// fallback on a DA 2.0 server whose group refuses the data callback),
// advised on the group's IDataObject. The server sends data streams in
// global memory; the sink checks each stream (TDataStreamReader), writes the
// values, qualities and time stamps into the group's items, lists them and
// posts the list to the server component's hidden window as
// CM_OPCDATACHANGE.
//
// Threads: as TqOPCDataCallback. A stream arriving on another thread is
// copied and handed to the component's thread before anything is read.
#pragma once

#include <QByteArray>
#include <memory>

#include "datastreamreader.h"
#include "opc/apartment.h"
#include "opc/objidl.h"

class TqOPCGroup;

class TqOPCAdviseSink final : public opc::ComObject<IAdviseSink> {
 public:
  /// A sink for group, advised on the group's IDataObject for
  /// "OPCSTMFORMATDATATIME" streams (prime first). A group without
  /// IOPCItemMgt or IDataObject leaves AdviseResult at E_FAIL. The reference
  /// returned is the caller's.
  static ComPtr<TqOPCAdviseSink> Create(TqOPCGroup* group);

  /// Not advised, serving nothing; use Create.
  TqOPCAdviseSink();

  /// The group served; null once the group has let go of the sink.
  TqOPCGroup* Group() const { return group_; }
  /// The advise connection, passed with the DA 1.0 asynchronous calls.
  DWORD Cookie() const { return cookie_; }
  HRESULT AdviseResult() const { return adviseResult_; }

  /// Ends the advise (DUnadvise through the group's IDataObject, its result
  /// ignored) when it is in place; afterwards AdviseResult is E_FAIL, so a
  /// second call does nothing.
  void UnAdvise();
  /// Forgets the group: later streams only sound the beep.
  void Detach() { group_ = nullptr; }

  // IAdviseSink
  /// Takes a data stream in either data format; every other format, a medium
  /// that is not global memory, a block that cannot be locked and a block
  /// that does not hold a well-formed stream are ignored whole. A stream
  /// with a failure status only clears the group's pending call when its
  /// transaction id names it. A stream without items posts nothing.
  void OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) override;
  void OnViewChange(DWORD, LONG) override {}
  void OnRename(struct IMoniker*) override {}
  void OnSave() override {}
  void OnClose() override {}

  /// Applies a stream given as bytes, as OnDataChange does with a locked
  /// block (withTime: "OPCSTMFORMATDATATIME"). On the owning thread only.
  void ApplyStream(const char* block, std::size_t size, bool withTime);

 private:
  ~TqOPCAdviseSink() override;
  bool onOwnThread() const { return !apartment_ || apartment_->isCurrentThread(); }

  TqOPCGroup* group_ = nullptr;  // touched on the owning thread only
  DWORD cookie_ = 0;
  HRESULT adviseResult_ = E_FAIL;
  std::shared_ptr<opc::Apartment> apartment_;
  TDataStreamReader reader_;  // its buffers serve every stream
};
