#pragma once
// Short intervals for tests that wait on timers, stretched where the build is
// much slower (ThreadSanitizer on a loaded two-core machine), so that a peer
// that answers at once is never taken for one that did not answer.

#include <chrono>

namespace Corvane {
namespace Testing {

#if defined(__SANITIZE_THREAD__)
constexpr int kTimeScale = 5;
#else
constexpr int kTimeScale = 1;
#endif

/// `milliseconds` stretched for the build, as the engine's settings take it.
constexpr int Scaled(int milliseconds) { return milliseconds * kTimeScale; }

}  // namespace Testing
}  // namespace Corvane
