// Waiting without sleeping: tests pump the Qt event loop until what they wait
// for holds.
#pragma once

#include <chrono>
#include <functional>

namespace veze6::test {

/// Pumps the event loop until condition holds or timeout passes; returns
/// whether it held.
bool pumpUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(5));

}  // namespace veze6::test

namespace opc {
class ManualApartment;
}

namespace veze6::test {

/// Runs the apartment's queue until condition holds or timeout passes, for
/// tests that stand in for a client thread without a Qt event loop.
bool pumpUntil(opc::ManualApartment& apartment, const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace veze6::test
