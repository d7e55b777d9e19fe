#include "support/CaptureEventSink.h"

namespace Corvane {
namespace Platform {

void CaptureEventSink::Report(const std::wstring& source, EventType type, std::uint32_t eventId,
                              const std::vector<std::wstring>& strings) {
  try {
    CapturedEvent event{source, type, eventId, strings};
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
  } catch (...) {
    // Out of memory: the event is not recorded.
  }
}

std::vector<CapturedEvent> CaptureEventSink::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

void CaptureEventSink::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.clear();
}

}  // namespace Platform
}  // namespace Corvane
