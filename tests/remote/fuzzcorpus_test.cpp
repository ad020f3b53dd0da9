// The stub fuzzer's saved inputs, replayed: each is answered or refused
// cleanly, and the host keeps nothing after the client has gone (the entry
// aborts otherwise).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "remotestubs_entry.h"

TEST(RemoteFuzzCorpus, EverySavedInputIsAnsweredAndLeavesNothingBehind) {
  // The starting inputs' well-formed calls (a group, properties, a browse
  // and its enumerator, a connection point) are answered.
  int answered = 0;
  for (const auto& seed : veze6fuzz::RemoteStubSeeds())
    answered += veze6fuzz::RunRemoteStubs(seed.data(), seed.size());
  EXPECT_GE(answered, 8);
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VEZE6_REMOTE_FUZZ_CORPUS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    veze6fuzz::RunRemoteStubs(bytes.data(), bytes.size());
    ++files;
  }
  EXPECT_GE(files, 1);
}
