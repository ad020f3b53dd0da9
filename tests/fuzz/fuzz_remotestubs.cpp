// libFuzzer target of the host's stubs (see remotestubs_entry.h). With
// VEZE6_FUZZ_WRITE_SEEDS=DIR it writes the starting inputs into DIR and ends.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "remotestubs_entry.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* dir = std::getenv("VEZE6_FUZZ_WRITE_SEEDS")) {
    int n = 0;
    for (const auto& seed : veze6fuzz::RemoteStubSeeds()) {
      const std::string path = std::string(dir) + "/seed-" + std::to_string(++n);
      if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(seed.data(), 1, seed.size(), f);
        std::fclose(f);
      }
    }
    std::exit(0);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  veze6fuzz::RunRemoteStubs(data, size);
  return 0;
}
