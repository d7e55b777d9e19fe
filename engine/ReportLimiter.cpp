#include "engine/ReportLimiter.h"

namespace Corvane {
namespace Client {

namespace {

// Keys kept before closed windows with nothing held back are dropped.
constexpr std::size_t kKeysKept = 1024;

}  // namespace

ReportLimiter::ReportLimiter(int reportsPerWindow, Clock::duration window)
    : reports_per_window_(reportsPerWindow), window_(window) {}

ReportLimiter::Verdict ReportLimiter::Note(const std::string& key, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (windows_.size() > kKeysKept) {
    for (auto it = windows_.begin(); it != windows_.end();) {
      it = now - it->second.start >= window_ && it->second.suppressed == 0 ? windows_.erase(it)
                                                                           : ++it;
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
