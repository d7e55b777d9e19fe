#pragma once

#include <memory>
#include <string>

#include "logging/Logger.h"
#include "logging/LoggerConfiguration.h"

namespace Corvane {
namespace Logging {

/// Reports each text as one event through the process's current event sink
/// (Platform::CurrentEventSink(), the system log unless a test installed
/// another), under the configured event source name: plain texts with the
/// configured default message id and the text as the one string, message
/// texts with their id and inserts. Debug and info give information events,
/// warning a warning event, error and unknown levels an error event.
/// Sink failures are ignored; nothing here throws out of Write or
/// WriteMessage. Thread-safety: any operation from any thread at once.
class EventLogger : public Logger {
 public:
  /// Keeps `configuration` (source name, default message id) for its lifetime.
  EventLogger(std::wstring name, LogLevel threshold,
              std::shared_ptr<const LoggerConfiguration> configuration);

  void WriteMessage(LogLevel level, unsigned int id, int count, va_list inserts) override;
  void Write(LogLevel level, const std::wstring& text) override;

 private:
  const std::shared_ptr<const LoggerConfiguration> configuration_;
};

}  // namespace Logging
}  // namespace Corvane
