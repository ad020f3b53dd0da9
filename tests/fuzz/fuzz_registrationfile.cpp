// libFuzzer target of the registration file parser (see registrationfile_entry.h).
#include <cstdio>
#include <cstdlib>

#include "registrationfile_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = veze6fuzz::RunRegistrationFile(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "fuzz_registrationfile: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
