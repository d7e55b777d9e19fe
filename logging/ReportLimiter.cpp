#include "logging/ReportLimiter.h"

namespace Corvane {
namespace Logging {

namespace {

// Keys kept before closed windows with nothing held back are dropped.
constexpr std::size_t kKeysKept = 1024;

}  // namespace

ReportLimiter::ReportLimiter(int reportsPerWindow, Clock::duration window)
    : reports_per_window_(reportsPerWindow), window_(window) {}

ReportLimiter::Verdict ReportLimiter::Note(const std::string& key, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (windows_.size() > kKeysKept) {
    // A closed window goes once nothing it held back waits for its summary,
    // and in any case a window later (an owner that reports no summaries
    // never takes the count).
    for (auto it = windows_.begin(); it != windows_.end();) {
      const auto age = now - it->second.start;
      const bool gone = age >= 2 * window_ || (age >= window_ && it->second.suppressed == 0);
      it = gone ? windows_.erase(it) : ++it;
    }
  }
  auto [entry, added] = windows_.try_emplace(key, Window{now});
  Window& window = entry->second;
  if (!added && now - window.start >= window_) {
    // A new window; what the old one held back stays counted for its summary.
    window.start = now;
    window.reported = 0;
  }
  if (window.reported < reports_per_window_) {
    ++window.reported;
    return Verdict::kReport;
  }
  return window.suppressed++ == 0 ? Verdict::kSuppressFirst : Verdict::kSuppress;
}

int ReportLimiter::TakeSuppressed(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = windows_.find(key);
  if (found == windows_.end()) return 0;
  const int suppressed = found->second.suppressed;
  found->second.suppressed = 0;
  return suppressed;
}

}  // namespace Client
}  // namespace Corvane
