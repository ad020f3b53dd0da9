#include "datastreamreader.h"

#include <cstring>

#include "opc/datastream.h"

namespace {

template <class T>
T load(const char* at) {
  T value;
  std::memcpy(&value, at, sizeof(T));
  return value;
}

}  // namespace

TDataStreamReader::~TDataStreamReader() { Clear(); }

void TDataStreamReader::Clear() {
  for (std::size_t i = 0; i < count_; ++i) VariantClear(&entries_[i].value);
  count_ = 0;
}

TDataStreamReader::Result TDataStreamReader::Read(const void* block, std::size_t size,
                                                  bool withTime) {
  Clear();
  if (!block || size < sizeof(OPCGROUPHEADER)) return Result::Malformed;
  const char* base = static_cast<const char*>(block);
  const auto header = load<OPCGROUPHEADER>(base);
  const std::uint64_t headerSize = withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
  const std::uint64_t count = header.dwItemCount;
  if (count > (size - sizeof(OPCGROUPHEADER)) / headerSize) return Result::Malformed;
  header_ = header;
  if (FAILED(header.hrStatus)) return Result::Failed;

  if (entries_.size() < count) entries_.resize(std::size_t(count));
  opc::stream::Decoder decoder(base, size);
  for (std::size_t i = 0; i < count; ++i) {
    const char* at = base + sizeof(OPCGROUPHEADER) + i * headerSize;
    Entry& entry = entries_[i];
    entry.hClient = load<OPCHANDLE>(at);
    entry.wQuality = load<WORD>(at + 8);
    entry.ftTimeStamp = withTime ? load<FILETIME>(at + 12) : FILETIME{0, 0};
    // One value that does not decode costs only its own item.
    entry.decoded = decoder.value(load<DWORD>(at + 4), entry.value);
    count_ = i + 1;
  }
  return Result::Ok;
}
