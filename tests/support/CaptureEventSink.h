#pragma once
// Records the events the loggers report, in memory, for tests.

#include <mutex>

#include "platform/EventSink.h"

namespace Corvane {
namespace Platform {

/// One event as a CaptureEventSink recorded it.
struct CapturedEvent {
  std::wstring source;
  EventType type = EventType::Error;
  std::uint32_t eventId = 0;
  std::vector<std::wstring> strings;
};

/// Keeps every reported event in memory, in order, for tests to inspect.
/// Thread-safe.
class CaptureEventSink : public EventSink {
 public:
  void Report(const std::wstring& source, EventType type, std::uint32_t eventId,
              const std::vector<std::wstring>& strings) override;

  /// A copy of the events recorded so far.
  std::vector<CapturedEvent> Events() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<CapturedEvent> events_;
};

}  // namespace Platform
}  // namespace Corvane
