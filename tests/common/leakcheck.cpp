#include "common/leakcheck.h"

namespace veze6::test {

void LeakCheck::expectBalanced(std::string_view what) const {
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
