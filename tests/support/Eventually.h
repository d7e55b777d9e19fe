#pragma once
// Waiting in tests for a condition another thread brings about.

#include <chrono>
#include <thread>

namespace Corvane {
namespace Testing {

/// Waits until `condition()` holds, checking every millisecond; false when it
/// still does not after `timeout`.
template <typename Condition>
bool Eventually(Condition&& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace Testing
}  // namespace Corvane
