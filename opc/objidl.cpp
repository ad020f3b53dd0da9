#include "objidl.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "asciitext_p.h"
#include "enumerator.h"
#include "taskmem.h"

// ---- Global memory blocks ---------------------------------------------------

namespace {

// The header sits before the data; the data pointer is the handle.
struct alignas(std::max_align_t) GlobalHeader {
  std::uint32_t magic;
  std::atomic<std::uint32_t> locks;
  std::size_t size;
};
constexpr std::uint32_t kGlobalMagic = 0x47424C4B;  // marks a live block

GlobalHeader* headerOf(HGLOBAL h) {
  if (!h) return nullptr;
  auto* hdr = reinterpret_cast<GlobalHeader*>(static_cast<char*>(h) - sizeof(GlobalHeader));
  return hdr->magic == kGlobalMagic ? hdr : nullptr;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT /*uFlags*/, std::size_t dwBytes) {
  if (dwBytes > std::size_t(-1) - sizeof(GlobalHeader)) return nullptr;
  // Always zeroed: a stream the server fills partly never shows stale bytes.
  void* raw = std::calloc(1, sizeof(GlobalHeader) + dwBytes);
  if (!raw) return nullptr;
  auto* hdr = new (raw) GlobalHeader;
  hdr->magic = kGlobalMagic;
  hdr->locks.store(0);
  hdr->size = dwBytes;
  opc::diag::globalAllocated();
  return reinterpret_cast<char*>(raw) + sizeof(GlobalHeader);
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
  if (!hMem) return nullptr;
  GlobalHeader* hdr = headerOf(hMem);
  if (!hdr) return hMem;  // not a block of ours: report failure as the platform does
  hdr->magic = 0;
  hdr->~GlobalHeader();
  std::free(hdr);
  opc::diag::globalFreed();
  return nullptr;
}

LPVOID GlobalLock(HGLOBAL hMem) {
  GlobalHeader* hdr = headerOf(hMem);
  if (!hdr) return nullptr;
  hdr->locks.fetch_add(1);
  return hMem;
}

BOOL GlobalUnlock(HGLOBAL hMem) {
  GlobalHeader* hdr = headerOf(hMem);
  if (!hdr) return FALSE;
  std::uint32_t n = hdr->locks.load();
  while (n > 0 && !hdr->locks.compare_exchange_weak(n, n - 1)) {
  }
  // TRUE while the block stays locked, as the platform reports it.
  return n > 1 ? TRUE : FALSE;
}

std::size_t GlobalSize(HGLOBAL hMem) {
  GlobalHeader* hdr = headerOf(hMem);
  return hdr ? hdr->size : 0;
}

void ReleaseStgMedium(STGMEDIUM* pmedium) {
  if (!pmedium) return;
  if (pmedium->pUnkForRelease) {
    // The provider keeps ownership of the contents and frees them itself.
    pmedium->pUnkForRelease->Release();
  } else if (pmedium->tymed == TYMED_HGLOBAL) {
    GlobalFree(pmedium->hGlobal);
  } else if (pmedium->tymed == TYMED_FILE) {
    // Only the name is ours to free; the file is left where it is.
    CoTaskMemFree(pmedium->lpszFileName);
  }
  pmedium->tymed = TYMED_NULL;
  pmedium->hGlobal = nullptr;
  pmedium->pUnkForRelease = nullptr;
}

// ---- Clipboard formats ----------------------------------------------------

namespace {

// The registered names, index i being format 0xC000 + i. Function-local so
// that registrations made during start-up of other translation units find
// the table constructed.
struct FormatTable {
  std::mutex mutex;
  std::vector<std::string> names;
};

FormatTable& formatTable() {
  static FormatTable table;
  return table;
}

}  // namespace

UINT RegisterClipboardFormat(const char* lpszFormat) {
  if (!lpszFormat || !*lpszFormat) return 0;
  const auto sameName = [&](const std::string& known) {
    return opc::detail::equalsNoCase(known, lpszFormat);
  };
  FormatTable& table = formatTable();
  std::lock_guard lock(table.mutex);
  auto& names = table.names;
  const auto it = std::find_if(names.begin(), names.end(), sameName);
  std::size_t index = std::size_t(it - names.begin());
  if (it == names.end()) {
    if (names.size() >= 0x4000) return 0;  // the id range 0xC000..0xFFFF is used up
    names.emplace_back(lpszFormat);
  }
  return UINT(0xC000 + index);
}

int GetClipboardFormatName(UINT format, char* lpszFormatName, int cchMaxCount) {
  if (!lpszFormatName || cchMaxCount <= 0) return 0;
  lpszFormatName[0] = '\0';
  FormatTable& table = formatTable();
  std::lock_guard lock(table.mutex);
  if (format < 0xC000 || format - 0xC000 >= table.names.size()) return 0;
  const std::string& name = table.names[format - 0xC000];
  const std::size_t n = std::min(name.size(), std::size_t(cchMaxCount - 1));
  std::memcpy(lpszFormatName, name.data(), n);
  lpszFormatName[n] = '\0';
  return int(n);
}

// ---- Enumerators over fixed lists -------------------------------------------

namespace opc {

namespace {

struct StringCopy {
  using Elem = LPOLESTR;
  static bool copy(const std::u16string& s, Elem* out) {
    *out = taskStringDup(s);
    return *out != nullptr;
  }
  static void drop(Elem* p) {
    CoTaskMemFree(*p);
    *p = nullptr;
  }
};

}  // namespace

ComPtr<IEnumString> makeEnumString(std::vector<std::u16string> items) {
  return makeEnumerator<IEnumString, StringCopy>(std::move(items));
}

ComPtr<IEnumGUID> makeEnumGUID(std::vector<GUID> items) {
  return makeEnumerator<IEnumGUID, ValueCopy<GUID>>(std::move(items));
}

ComPtr<IEnumUnknown> makeEnumUnknown(std::vector<ComPtr<IUnknown>> items) {
  return makeEnumerator<IEnumUnknown, InterfaceCopy<IUnknown>>(std::move(items));
}

}  // namespace opc
