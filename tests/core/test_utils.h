// Shared helpers of the client library's tests.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QString>
#include <chrono>
#include <mutex>
#include <vector>

#include "common/leakcheck.h"
#include "common/pump.h"
#include "core/qOPC.h"
#include "opc/com.h"

namespace core_test {

using veze6::test::LeakCheck;
using veze6::test::LeakCheckedTest;
using veze6::test::pumpUntil;

/// Hexadecimal text of a result code, for failure messages.
inline std::string hr(HRESULT code) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(code));
  return buffer;
}

#define EXPECT_HR(expected, expr)                                                          \
  do {                                                                                     \
    const HRESULT actual_hr_ = (expr);                                                     \
    EXPECT_EQ(actual_hr_, (expected)) << #expr << " gave " << ::core_test::hr(actual_hr_); \
  } while (0)
#define EXPECT_HR_OK(expr) EXPECT_HR(S_OK, expr)

/// Stores interface p into out-parameter k with AddRef and returns S_OK.
ACTION_TEMPLATE(SetArgInterface, HAS_1_TEMPLATE_PARAMS(int, k), AND_1_VALUE_PARAMS(p)) {
  using Out = std::remove_pointer_t<std::decay_t<decltype(std::get<k>(args))>>;
  Out itf = p;
  if (itf) itf->AddRef();
  *std::get<k>(args) = itf;
  return S_OK;
}

/// Stores a task-memory copy of text into the LPWSTR* out-parameter k and
/// returns result (S_OK unless given).
ACTION_TEMPLATE(SetArgTaskString, HAS_1_TEMPLATE_PARAMS(int, k), AND_2_VALUE_PARAMS(text, result)) {
  *std::get<k>(args) = opc::taskStringDup(text);
  return result;
}

/// Matches a wide string argument (LPCWSTR) equal to text; null never matches.
MATCHER_P(WideEq, text,
          "is the wide string \"" + opc::utf16ToUtf8(std::u16string_view(text)) + "\"") {
  return arg != nullptr && std::u16string_view(arg) == std::u16string_view(text);
}

/// Records the ConnectDelay waits instead of sleeping, for its lifetime.
class SleepRecorder {
 public:
  SleepRecorder()
      : previous_(TqOPCServer::SetSleepFunction([this](std::chrono::milliseconds ms) {
          std::lock_guard lock(mutex_);
          delays_.push_back(ms);
        })) {}
  ~SleepRecorder() { TqOPCServer::SetSleepFunction(previous_); }
  SleepRecorder(const SleepRecorder&) = delete;
  SleepRecorder& operator=(const SleepRecorder&) = delete;

  std::vector<std::chrono::milliseconds> delays() const {
    std::lock_guard lock(mutex_);
    return delays_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::chrono::milliseconds> delays_;
  TqOPCServer::SleepFunction previous_;
};

/// Records the events of a server component, in order.
struct EventLog {
  std::vector<QString> entries;

  void attach(TqOPCServer& server) {
    server.OnConnect = [this](QObject*) { entries.push_back("connect"); };
    server.OnDisconnect = [this](QObject*) { entries.push_back("disconnect"); };
  }
};

/// The text of an exception thrown by f, or empty when none was thrown; the
/// class name goes into *className when given.
template <class F>
QString thrownMessage(F&& f, QString* className = nullptr) {
  try {
    f();
  } catch (const Exception& e) {
    if (className) *className = QString::fromLatin1(e.ClassName());
    return e.Message();
  }
  return {};
}

inline std::u16string u16(const QString& s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), std::size_t(s.size()));
}

/// The braced text form of a class id.
inline QString clsidText(const CLSID& clsid) {
  opc::TaskString text;
  StringFromCLSID(clsid, text.put());
  return WideToText(text.get());
}

}  // namespace core_test
