#include "platform/SyslogEventSink.h"

#include <syslog.h>

#include <mutex>

#include "platform/TextConversion.h"

namespace Corvane {
namespace Platform {

namespace {

int PriorityOf(EventType type) {
  switch (type) {
    case EventType::Warning:
      return LOG_WARNING;
    case EventType::Information:
      return LOG_INFO;
    case EventType::Error:
      break;
  }
  return LOG_ERR;
}

}  // namespace

std::string SyslogEventSink::RenderMessage(std::uint32_t eventId,
                                           const std::vector<std::wstring>& strings) {
  std::string message = "Event " + std::to_string(eventId) + ":";
  const char* separator = " ";
  for (const auto& text : strings) {
    message += separator;
    message += ToUtf8(text);
    separator = " | ";
  }
  return message;
}

void SyslogEventSink::Report(const std::wstring& source, EventType type, std::uint32_t eventId,
                             const std::vector<std::wstring>& strings) {
  try {
    const std::string identity = ToUtf8(source);
    const std::string message = RenderMessage(eventId, strings);
    std::lock_guard<std::mutex> lock(mutex_);
    // openlog keeps the identity pointer until closelog.
    ::openlog(identity.c_str(), LOG_PID, LOG_USER);
    ::syslog(PriorityOf(type), "%s", message.c_str());
    ::closelog();
  } catch (...) {
    // An event that cannot be built (out of memory) is dropped.
  }
}

}  // namespace Platform
}  // namespace Corvane
