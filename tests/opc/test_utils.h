// Shared helpers of the platform layer's tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/leakcheck.h"
#include "common/pump.h"
#include "common/sinks.h"
#include "opc/OPCCOMN.h"
#include "opc/OPCDA.h"
#include "opc/com.h"
#include "testmodule.h"

namespace opc::test {

using veze6::test::LeakCheck;
using veze6::test::LeakCheckedTest;
using veze6::test::pumpUntil;
using veze6::test::ShutdownSink;

inline std::u16string str(LPCWSTR s) { return s ? std::u16string(s) : std::u16string(); }

}  // namespace opc::test
