#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

#include "itemmarshal_p.h"
#include "marshal_p.h"
#include "opc/asciitext_p.h"
#include "opc/taskmem.h"

namespace opc::remote {

namespace {

capnp::Data::Reader blobData(const BYTE* blob, DWORD size) {
  return blob && size ? capnp::Data::Reader(blob, size) : capnp::Data::Reader();
}

/// A blob into task memory (null for none).
HRESULT takeBlob(capnp::Data::Reader data, DWORD& size, BYTE*& blob) {
  size = 0;
  blob = nullptr;
  if (data.size() == 0) return S_OK;
  blob = static_cast<BYTE*>(CoTaskMemAlloc(data.size()));
  if (!blob) return E_OUTOFMEMORY;
  std::memcpy(blob, data.begin(), data.size());
  size = DWORD(data.size());
  return S_OK;
}

}  // namespace

// ---- item definitions ----------------------------------------------------------

void putItemDefs(capnp::List<wire::ItemDef>::Builder list, const OPCITEMDEF* defs) {
  for (unsigned i = 0; i < list.size(); ++i) {
    const OPCITEMDEF& d = defs[i];
    auto to = list[i];
    if (d.szAccessPath) to.setAccessPath(wideData(d.szAccessPath));
    if (d.szItemID) to.setItemId(wideData(d.szItemID));
    to.setActive(d.bActive != FALSE);
    to.setClientHandle(d.hClient);
    to.setBlob(blobData(d.pBlob, d.dwBlobSize));
    to.setRequestedDataType(d.vtRequestedDataType);
  }
}

HRESULT ItemDefs::read(capnp::List<wire::ItemDef>::Reader list) {
  // The texts and blobs of all items in two blocks, sized first: a stub
  // takes thousands of definitions in one call.
  struct Parts {
    capnp::Data::Reader path, id, blob;
  };
  std::vector<Parts> parts(list.size());
  std::size_t units = 0;
  std::size_t bytes = 0;
  for (unsigned i = 0; i < list.size(); ++i) {
    const auto from = list[i];
    Parts& p = parts[i];
    p.path = from.getAccessPath();
    p.id = from.getItemId();
    p.blob = from.getBlob();
    if (p.path.size() % 2 != 0 || p.id.size() % 2 != 0) return E_INVALIDARG;
    units += p.path.size() / 2 + p.id.size() / 2 + 2;  // each with its terminator
    bytes += p.blob.size();
  }
  defs_.assign(list.size(), OPCITEMDEF{});
  texts_.assign(units, u'\0');
  blobs_.assign(bytes, 0);
  char16_t* text = texts_.data();
  BYTE* blob = blobs_.data();
  const auto put = [&](capnp::Data::Reader from) {
    char16_t* at = text;
    if (from.size()) std::memcpy(at, from.begin(), from.size());
    text += from.size() / 2 + 1;
    return at;
  };
  for (unsigned i = 0; i < list.size(); ++i) {
    const auto from = list[i];
    const Parts& p = parts[i];
    OPCITEMDEF& d = defs_[i];
    // The server may keep nothing of these past the call; the stub owns them.
    LPWSTR path = put(p.path);
    LPWSTR id = put(p.id);
    d.szAccessPath = from.hasAccessPath() ? path : nullptr;
    d.szItemID = from.hasItemId() ? id : nullptr;
    d.bActive = from.getActive() ? TRUE : FALSE;
    d.hClient = from.getClientHandle();
    d.dwBlobSize = DWORD(p.blob.size());
    d.pBlob = p.blob.size() ? blob : nullptr;
    if (p.blob.size()) std::memcpy(blob, p.blob.begin(), p.blob.size());
    blob += p.blob.size();
    d.vtRequestedDataType = from.getRequestedDataType();
  }
  return S_OK;
}

capnp::MessageSize itemDefsSize(const OPCITEMDEF* defs, DWORD count) {
  std::uint64_t words = 16 + std::uint64_t(count) * 6;  // list tag, struct, three pointers
  const auto wordsOf = [](std::size_t bytes) { return (bytes + 7) / 8; };
  for (DWORD i = 0; i < count; ++i) {
    words += wordsOf(wideLength(defs[i].szAccessPath) * 2) +
             wordsOf(wideLength(defs[i].szItemID) * 2) +
             wordsOf(defs[i].pBlob ? defs[i].dwBlobSize : 0);
  }
  return capnp::MessageSize{words, 0};
}

capnp::MessageSize itemResultsSize(std::size_t count) {
  // Results (struct and blob pointer each) and the errors, without blobs.
  return capnp::MessageSize{16 + count * 4 + (count * 4 + 7) / 8, 0};
}

// ---- item results --------------------------------------------------------------

void putItemResults(capnp::List<wire::ItemResult>::Builder list, const OPCITEMRESULT* results) {
  for (unsigned i = 0; i < list.size(); ++i) {
    const OPCITEMRESULT& r = results[i];
    auto to = list[i];
    to.setServerHandle(r.hServer);
    to.setCanonicalDataType(r.vtCanonicalDataType);
    to.setAccessRights(r.dwAccessRights);
    to.setBlob(blobData(r.pBlob, r.dwBlobSize));
  }
}

void freeItemResults(OPCITEMRESULT* results, DWORD count) {
  if (!results) return;
  for (DWORD i = 0; i < count; ++i) CoTaskMemFree(results[i].pBlob);
  CoTaskMemFree(results);
}

HRESULT takeItemResults(capnp::List<wire::ItemResult>::Reader list, DWORD count,
                        OPCITEMRESULT** out) {
  *out = nullptr;
  if (list.size() != count) return RPC_E_INVALID_DATA;
  auto* results = static_cast<OPCITEMRESULT*>(CoTaskMemAlloc(sizeof(OPCITEMRESULT) * count));
  if (!results && count) return E_OUTOFMEMORY;
  for (DWORD i = 0; i < count; ++i) results[i] = OPCITEMRESULT{};
  for (DWORD i = 0; i < count; ++i) {
    const auto from = list[i];
    OPCITEMRESULT& r = results[i];
    r.hServer = from.getServerHandle();
    r.vtCanonicalDataType = from.getCanonicalDataType();
    r.dwAccessRights = from.getAccessRights();
    if (const HRESULT hr = takeBlob(from.getBlob(), r.dwBlobSize, r.pBlob); FAILED(hr)) {
      freeItemResults(results, count);
      return hr;
    }
  }
  *out = results;
  return S_OK;
}

// ---- item states ---------------------------------------------------------------

void putItemStates(capnp::List<wire::ItemState>::Builder list, const OPCITEMSTATE* states,
                   HRESULT* errors) {
  for (unsigned i = 0; i < list.size(); ++i) {
    const OPCITEMSTATE& s = states[i];
    auto to = list[i];
    to.setClientHandle(s.hClient);
    to.setTimeStamp(wireTime(s.ftTimeStamp));
    to.setQuality(s.wQuality);
    if (const HRESULT hr = setVariant(to.initValue(), s.vDataValue); FAILED(hr)) {
      to.initValue();  // a value the wire cannot carry arrives empty, with the reason
      if (errors && SUCCEEDED(errors[i])) errors[i] = hr;
    }
    to.setError(errors ? errors[i] : S_OK);
  }
}

void freeItemStates(OPCITEMSTATE* states, DWORD count) {
  if (!states) return;
  for (DWORD i = 0; i < count; ++i) VariantClear(&states[i].vDataValue);
  CoTaskMemFree(states);
}

HRESULT takeItemStates(capnp::List<wire::ItemState>::Reader list, DWORD count, OPCITEMSTATE** out) {
  *out = nullptr;
  if (list.size() != count) return RPC_E_INVALID_DATA;
  auto* states = static_cast<OPCITEMSTATE*>(CoTaskMemAlloc(sizeof(OPCITEMSTATE) * count));
  if (!states && count) return E_OUTOFMEMORY;
  for (DWORD i = 0; i < count; ++i) {
    states[i] = OPCITEMSTATE{};
    VariantInit(&states[i].vDataValue);
  }
  for (DWORD i = 0; i < count; ++i) {
    const auto from = list[i];
    OPCITEMSTATE& s = states[i];
    s.hClient = from.getClientHandle();
    s.ftTimeStamp = timeFrom(from.getTimeStamp());
    s.wQuality = from.getQuality();
    if (!readVariant(from.getValue(), &s.vDataValue)) {
      freeItemStates(states, count);
      return RPC_E_INVALID_DATA;
    }
  }
  *out = states;
  return S_OK;
}

HRESULT takeItemStates(wire::ItemStates::Reader in, DWORD count, OPCITEMSTATE** states,
                       HRESULT** errors) {
  *states = nullptr;
  *errors = nullptr;
  if (itemCount(in) != count) return RPC_E_INVALID_DATA;
  TaskOut<OPCITEMSTATE> out;
  TaskOut<HRESULT> codes;
  if (count) {
    *out.put() = static_cast<OPCITEMSTATE*>(CoTaskMemAlloc(sizeof(OPCITEMSTATE) * count));
    *codes.put() = static_cast<HRESULT*>(CoTaskMemAlloc(sizeof(HRESULT) * count));
    if (!out || !codes) return E_OUTOFMEMORY;
  }
  // Decoded side by side into one block first, then laid out as the caller
  // takes them.
  auto block = std::make_unique<std::byte[]>(
      std::size_t(count) * (sizeof(VARIANT) + sizeof(FILETIME) + sizeof(OPCHANDLE) + sizeof(WORD)));
  auto* values = reinterpret_cast<VARIANT*>(block.get());
  auto* times = reinterpret_cast<FILETIME*>(values + count);
  auto* handles = reinterpret_cast<OPCHANDLE*>(times + count);
  auto* qualities = reinterpret_cast<WORD*>(handles + count);
  const int bad =
      readItemStates(in, count, ItemArrays{handles, values, qualities, times, codes.get()});
  if (bad != 0) {
    for (DWORD i = 0; i < count; ++i) VariantClear(&values[i]);
    return RPC_E_INVALID_DATA;
  }
  for (DWORD i = 0; i < count; ++i) {
    OPCITEMSTATE& s = out[i];
    s = OPCITEMSTATE{};
    s.hClient = handles[i];
    s.ftTimeStamp = times[i];
    s.wQuality = qualities[i];
    s.vDataValue = values[i];  // taken over
  }
  *states = out.release();
  *errors = codes.release();
  return S_OK;
}

// ---- item attributes -------------------------------------------------------------

void putItemAttributes(wire::ItemAttributes::Builder to, const OPCITEMATTRIBUTES& a) {
  if (a.szAccessPath) to.setAccessPath(wideData(a.szAccessPath));
  if (a.szItemID) to.setItemId(wideData(a.szItemID));
  to.setActive(a.bActive != FALSE);
  to.setClientHandle(a.hClient);
  to.setServerHandle(a.hServer);
  to.setAccessRights(a.dwAccessRights);
  to.setBlob(blobData(a.pBlob, a.dwBlobSize));
  to.setRequestedDataType(a.vtRequestedDataType);
  to.setCanonicalDataType(a.vtCanonicalDataType);
  to.setEuType(a.dwEUType);
  if (FAILED(setVariant(to.initEuInfo(), a.vEUInfo))) to.initEuInfo();
}

void clearItemAttributes(OPCITEMATTRIBUTES& a) {
  CoTaskMemFree(a.szAccessPath);
  CoTaskMemFree(a.szItemID);
  CoTaskMemFree(a.pBlob);
  VariantClear(&a.vEUInfo);
  a = OPCITEMATTRIBUTES{};
  VariantInit(&a.vEUInfo);
}

HRESULT takeItemAttributes(wire::ItemAttributes::Reader from, OPCITEMATTRIBUTES& a) {
  a = OPCITEMATTRIBUTES{};
  VariantInit(&a.vEUInfo);
  const bool whole = taskWide(from.hasAccessPath(), from.getAccessPath(), &a.szAccessPath) &&
                     taskWide(from.hasItemId(), from.getItemId(), &a.szItemID) &&
                     SUCCEEDED(takeBlob(from.getBlob(), a.dwBlobSize, a.pBlob)) &&
                     readVariant(from.getEuInfo(), &a.vEUInfo);
  if (!whole) {
    clearItemAttributes(a);
    return RPC_E_INVALID_DATA;
  }
  a.bActive = from.getActive() ? TRUE : FALSE;
  a.hClient = from.getClientHandle();
  a.hServer = from.getServerHandle();
  a.dwAccessRights = from.getAccessRights();
  a.vtRequestedDataType = from.getRequestedDataType();
  a.vtCanonicalDataType = from.getCanonicalDataType();
  a.dwEUType = OPCEUTYPE(from.getEuType());
  return S_OK;
}

// ---- data objects ------------------------------------------------------------------

bool putFormat(wire::FormatEtc::Builder to, const FORMATETC& from) {
  char name[256];
  if (GetClipboardFormatName(from.cfFormat, name, sizeof name) == 0) return false;
  to.setFormat(name);
  to.setAspect(from.dwAspect);
  to.setIndex(from.lindex);
  to.setTymed(from.tymed);
  return true;
}

HRESULT readFormat(wire::FormatEtc::Reader from, FORMATETC& to) {
  to = FORMATETC{};
  const std::string_view wanted(from.getFormat().cStr(), from.getFormat().size());
  // Looked up among the registered names only.
  char name[256];
  for (UINT id = 0xC000; id <= 0xFFFF; ++id) {
    const int n = GetClipboardFormatName(id, name, sizeof name);
    if (n == 0) break;
    if (opc::detail::equalsNoCase(std::string_view(name, std::size_t(n)), wanted)) {
      to.cfFormat = CLIPFORMAT(id);
      break;
    }
  }
  if (to.cfFormat == 0) return DV_E_FORMATETC;
  to.ptd = nullptr;
  to.dwAspect = from.getAspect();
  to.lindex = from.getIndex();
  to.tymed = from.getTymed();
  return S_OK;
}

HGLOBAL globalFromData(capnp::Data::Reader data) {
  HGLOBAL h = GlobalAlloc(GMEM_FIXED, data.size());
  if (!h) return nullptr;
  if (data.size()) std::memcpy(GlobalLock(h), data.begin(), data.size());
  GlobalUnlock(h);
  return h;
}

}  // namespace opc::remote
