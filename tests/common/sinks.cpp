#include "common/sinks.h"

#include <cstring>

#include "opc/datastream.h"

namespace veze6::test {

namespace {

/// Reads a stream's group header into h and its ids into call; false (and
/// the error noted) when the block is too short for it.
template <class Header>
bool readGroupHeader(const BYTE* p, std::size_t size, Header& h, SinkCall& call) {
  if (size < sizeof h) {
    call.streamError = "group header outside the block";
    return false;
  }
  std::memcpy(&h, p, sizeof h);
  call.transactionId = h.dwTransactionID;
  call.group = h.hClientGroup;
  return true;
}

}  // namespace

void decodeDataStream(const BYTE* p, std::size_t size, bool withTime, SinkCall& call) {
  OPCGROUPHEADER h{};
  if (!readGroupHeader(p, size, h, call)) return;
  call.masterQuality = h.hrStatus;
  if (h.dwSize != size) call.streamError = "dwSize is not the block's size";
  const std::size_t headerSize = withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
  if (h.dwItemCount > (size - sizeof h) / headerSize) {
    call.streamError = "item count beyond the block";
    return;
  }
  opc::stream::Decoder decoder(p, size);
  std::uint64_t next = sizeof h + std::size_t(h.dwItemCount) * headerSize;
  for (DWORD i = 0; i < h.dwItemCount; ++i) {
    ItemUpdate u;
    OPCITEMHEADER1 ih{};
    std::memcpy(&ih, p + sizeof h + i * headerSize, headerSize);
    u.client = ih.hClient;
    u.quality = ih.wQuality;
    if (withTime) u.timeStamp = ih.ftTimeStampItem;
    if (ih.dwValueOffset != next) {
      if (call.streamError.empty()) call.streamError = "value does not follow the one before";
      break;
    }
    if (!decoder.value(ih.dwValueOffset, *u.value.ptr(), &next)) {
      if (call.streamError.empty()) call.streamError = "value outside the block";
      break;
    }
    call.items.push_back(std::move(u));
  }
  if (call.streamError.empty() && next != size) call.streamError = "bytes past the last value";
}

void decodeWriteStream(const BYTE* p, std::size_t size, SinkCall& call) {
  OPCGROUPHEADERWRITE h{};
  if (!readGroupHeader(p, size, h, call)) return;
  call.masterError = h.hrStatus;
  if (size != sizeof h + std::size_t(h.dwItemCount) * sizeof(OPCITEMHEADERWRITE)) {
    call.streamError = "size does not match the item count";
    return;
  }
  for (DWORD i = 0; i < h.dwItemCount; ++i) {
    OPCITEMHEADERWRITE ih{};
    std::memcpy(&ih, p + sizeof h + i * sizeof ih, sizeof ih);
    ItemUpdate u;
    u.client = ih.hClient;
    u.error = ih.dwError;
    call.items.push_back(std::move(u));
  }
}

}  // namespace veze6::test
