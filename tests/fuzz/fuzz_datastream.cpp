// libFuzzer target of the DA 1.0 stream decoder (see datastream_entry.h).
#include <cstdio>
#include <cstdlib>

#include "datastream_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QString failure = veze6fuzz::RunDataStream(data, size);
  if (!failure.isEmpty()) {
    std::fprintf(stderr, "fuzz_datastream: %s\n", failure.toUtf8().constData());
    std::abort();
  }
  return 0;
}
