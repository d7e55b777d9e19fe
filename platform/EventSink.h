#pragma once
// Destination of event-log entries: the system log in a running process, an
// in-memory capture in tests.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Corvane {
namespace Platform {

/// Event types with the numbers of the Windows event log.
enum class EventType : std::uint16_t { Error = 1, Warning = 2, Information = 4 };

/// Receives one event per Report call. Implementations must be safe to call
/// from any thread at once and must not throw: a failure to record an event
/// is ignored.
class EventSink {
 public:
  EventSink() = default;
  virtual ~EventSink();
  EventSink(const EventSink&) = delete;
  EventSink& operator=(const EventSink&) = delete;

  /// Records one event from `source` with `eventId` and its insert strings.
  virtual void Report(const std::wstring& source, EventType type, std::uint32_t eventId,
                      const std::vector<std::wstring>& strings) = 0;
};

/// The process-wide sink, a SyslogEventSink until one is installed.
/// Thread-safe; the sink returned stays alive as long as it is held.
std::shared_ptr<EventSink> CurrentEventSink();

/// Makes `sink` the process-wide sink (null restores the system log) and
/// returns the one it replaces, so that a test can put it back.
/// Thread-safe; events already being reported finish on the old sink.
std::shared_ptr<EventSink> InstallEventSink(std::shared_ptr<EventSink> sink);

}  // namespace Platform
}  // namespace Corvane
