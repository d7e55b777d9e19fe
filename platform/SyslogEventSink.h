#pragma once

#include <mutex>

#include "platform/EventSink.h"

namespace Corvane {
namespace Platform {

/// Writes each event to syslog(3) under the event source as identity:
/// error, warning and information map to LOG_ERR, LOG_WARNING and LOG_INFO,
/// and the message reads "Event <id>: " followed by the insert strings
/// separated by " | ", in UTF-8. Calls are serialised because the syslog
/// identity is process state (openlog, syslog, closelog per event); one sink
/// is installed per process. Never throws; syslog failures are ignored.
class SyslogEventSink : public EventSink {
 public:
  void Report(const std::wstring& source, EventType type, std::uint32_t eventId,
              const std::vector<std::wstring>& strings) override;

  /// The message text Report hands to syslog.
  static std::string RenderMessage(std::uint32_t eventId, const std::vector<std::wstring>& strings);

 private:
  std::mutex mutex_;
};

}  // namespace Platform
}  // namespace Corvane
