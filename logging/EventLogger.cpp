#include "logging/EventLogger.h"

#include <utility>

#include "logging/LogInserts.h"
#include "logging/LogLevelText.h"
#include "platform/EventSink.h"

namespace Corvane {
namespace Logging {

EventLogger::EventLogger(std::wstring name, LogLevel threshold,
                         std::shared_ptr<const LoggerConfiguration> configuration)
    : Logger(std::move(name), threshold), configuration_(std::move(configuration)) {
  // Made before the first logger's owner is complete, the sink outlives every
  // owner: static objects go in the reverse order of their making.
  Platform::CurrentEventSink();
}

void EventLogger::WriteMessage(LogLevel level, unsigned int id, int count, va_list inserts) {
  try {
    const std::vector<std::wstring> strings = TakeInserts(count, inserts);
    Platform::CurrentEventSink()->Report(configuration_->GetName(), EventTypeOf(level), id, strings);
  } catch (...) {
    // Logging never stops the caller.
  }
}

void EventLogger::Write(LogLevel level, const std::wstring& text) {
  try {
    Platform::CurrentEventSink()->Report(configuration_->GetName(), EventTypeOf(level),
                                         configuration_->GetDefaultMessageId(), {text});
  } catch (...) {
    // Logging never stops the caller.
  }
}

}  // namespace Logging
}  // namespace Corvane
