// libFuzzer target of the text conversion of values (see varianttext_entry.h).
#include <cstdio>
#include <cstdlib>

#include "varianttext_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = veze6fuzz::RunVariantText(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "fuzz_varianttext: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
