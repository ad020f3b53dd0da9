#include "common/pump.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <thread>

#include "opc/apartment.h"

namespace veze6::test {

bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  QDeadlineTimer deadline(timeout);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

bool pumpUntil(opc::ManualApartment& apartment, const std::function<bool()>& condition,
               std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    apartment.runPending();
    if (condition()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
}

}  // namespace veze6::test
