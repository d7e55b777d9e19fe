#pragma once
// Keeps a flood of like events from becoming a flood of reports (host
// callbacks, log lines): at most a few reports per key (a peer's address) and
// window; the rest are counted, and their owner may report the count once the
// window has closed. With one report per window it is "once per interval".
//
// Thread-safety: every member may be called from any thread.

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace Corvane {
namespace Logging {

class ReportLimiter {
 public:
  using Clock = std::chrono::steady_clock;

  enum class Verdict {
    kReport,         // report this one
    kSuppressFirst,  // the first one held back in this window: arrange the summary
    kSuppress,       // held back and counted
  };

  ReportLimiter(int reportsPerWindow, Clock::duration window);

  /// One event for `key` at `now`.
  Verdict Note(const std::string& key, Clock::time_point now = Clock::now());
  /// How many events of `key` were held back since the last call; resets
  /// the count. Take it within a window of the window's close: a key is
  /// forgotten after that once many keys are kept.
  int TakeSuppressed(const std::string& key);

  Clock::duration GetWindow() const { return window_; }

 private:
  struct Window {
    Clock::time_point start;
    int reported = 0;
    int suppressed = 0;
  };
  const int reports_per_window_;
  const Clock::duration window_;
  std::mutex mutex_;
  std::unordered_map<std::string, Window> windows_;
};

}  // namespace Client
}  // namespace Corvane
