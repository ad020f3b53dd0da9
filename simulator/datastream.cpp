#include "datastream.h"

#include <cstring>
#include <limits>

#include "opc/datastream.h"
#include "opc/taskmem.h"

namespace veze6::sim {

namespace {

template <class T>
void put(char* block, std::size_t at, const T& value) {
  std::memcpy(block + at, &value, sizeof(T));
}

}  // namespace

HGLOBAL buildDataStream(bool withTime, OPCHANDLE clientGroup, DWORD transactionId,
                        std::size_t count, const OPCHANDLE* clientHandles, const VARIANT* values,
                        const WORD* qualities, const FILETIME* timeStamps) {
  const std::size_t headerSize = withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
  const std::size_t valuesAt = sizeof(OPCGROUPHEADER) + count * headerSize;
  std::size_t size = valuesAt;
  for (std::size_t i = 0; i < count; ++i) {
    size += opc::stream::valueSize(values[i]);
    if (size > std::numeric_limits<DWORD>::max()) return nullptr;  // offsets are 32-bit
  }

  HGLOBAL block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size);
  if (!block) return nullptr;
  char* base = static_cast<char*>(GlobalLock(block));
  bool allGood = true;
  std::size_t at = valuesAt;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t h = sizeof(OPCGROUPHEADER) + i * headerSize;
    allGood = allGood && (qualities[i] & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD;
    if (withTime) {
      put(base, h, OPCITEMHEADER1{clientHandles[i], DWORD(at), qualities[i], 0, timeStamps[i]});
    } else {
      put(base, h, OPCITEMHEADER2{clientHandles[i], DWORD(at), qualities[i], 0});
    }
    at += opc::stream::writeValue(base + at, values[i]);
  }
  put(base, 0,
      OPCGROUPHEADER{DWORD(size), DWORD(count), clientGroup, transactionId,
                     allGood ? S_OK : S_FALSE});
  GlobalUnlock(block);
  return block;
}

HGLOBAL buildWriteCompleteStream(OPCHANDLE clientGroup, DWORD transactionId, std::size_t count,
                                 const OPCHANDLE* clientHandles, const HRESULT* errors) {
  const std::size_t size = sizeof(OPCGROUPHEADERWRITE) + count * sizeof(OPCITEMHEADERWRITE);
  if (size > std::numeric_limits<DWORD>::max()) return nullptr;
  HGLOBAL block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size);
  if (!block) return nullptr;
  char* base = static_cast<char*>(GlobalLock(block));
  bool allSucceeded = true;
  for (std::size_t i = 0; i < count; ++i) {
    allSucceeded = allSucceeded && errors[i] == S_OK;
    put(base, sizeof(OPCGROUPHEADERWRITE) + i * sizeof(OPCITEMHEADERWRITE),
        OPCITEMHEADERWRITE{clientHandles[i], errors[i]});
  }
  put(base, 0,
      OPCGROUPHEADERWRITE{DWORD(count), clientGroup, transactionId, allSucceeded ? S_OK : S_FALSE});
  GlobalUnlock(block);
  return block;
}

}  // namespace veze6::sim
