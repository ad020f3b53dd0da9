#include "common/leakcheck.h"

#include "common/pump.h"

namespace veze6::test {

void LeakCheck::expectBalanced(std::string_view what) const {
  // A server thread may still be freeing what it handed out in a call that
  // has just returned (a stream's global block, a completion's arrays): it
  // gets a moment, so only what stays allocated counts.
  if (!balanced()) pumpUntil([this] { return balanced(); }, std::chrono::seconds(2));
  const opc::diag::Counters end = opc::diag::snapshot();
  const auto expectSame = [&](std::int64_t now, std::int64_t then, const char* counter) {
    EXPECT_EQ(now, then) << counter << " leaked" << (what.empty() ? "" : " by ") << what;
  };
  expectSame(end.taskAllocations, start_.taskAllocations, "task memory");
  expectSame(end.bstrs, start_.bstrs, "BSTR");
  expectSame(end.globals, start_.globals, "global block");
  expectSame(end.safeArrays, start_.safeArrays, "safe array");
  expectSame(end.objects, start_.objects, "object");
}

}  // namespace veze6::test
