// The stub fuzzer's saved inputs, replayed: each is answered or refused
// cleanly, and the host keeps nothing after the client has gone (the entry
// aborts otherwise).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "remotestubs_entry.h"

TEST(RemoteFuzzCorpus, EverySavedInputIsAnsweredAndLeavesNothingBehind) {
  int files = 0, answered = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VEZE6_REMOTE_FUZZ_CORPUS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    answered += veze6fuzz::RunRemoteStubs(bytes.data(), bytes.size());
    ++files;
  }
  EXPECT_GE(files, 4);
  // The seeds' well-formed calls (a group, properties, a browse and its
  // enumerator, a connection point) are answered.
  EXPECT_GE(answered, 8);
}
