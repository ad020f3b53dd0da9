// The message decoder's fuzz corpus, replayed on every build: each saved
// input must run through without a crash or a sanitizer report.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "uamessage_entry.h"

TEST(UaFuzzCorpus, EverySavedInputDecodesOrFailsCleanly) {
  int files = 0, decoded = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VEZE6_UA_FUZZ_CORPUS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    decoded += veze6fuzz::RunUaMessageDecoder(bytes.data(), bytes.size());
    ++files;
  }
  EXPECT_GE(files, 4);
  // The hand-made seeds decode: a read, a publish in two chunks, a fault.
  EXPECT_GE(decoded, 3);
}
