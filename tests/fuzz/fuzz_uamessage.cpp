// libFuzzer target of the OPC UA client's chunk and message decoder (see
// uamessage_entry.h).
#include <cstddef>
#include <cstdint>

#include "uamessage_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  veze6fuzz::RunUaMessageDecoder(data, size);
  return 0;
}
