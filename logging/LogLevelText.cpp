#include "logging/LogLevelText.h"

namespace Corvane {
namespace Logging {

LogLevel LogLevelOfWord(const std::wstring& word) {
  if (word == L"DEBUG") return LogLevel::Debug;
  if (word == L"INFO") return LogLevel::Info;
  if (word == L"WARN") return LogLevel::Warning;
  return LogLevel::Error;
}

const char* FileTagOf(LogLevel level) {
  switch (level) {
    case LogLevel::Debug:
      return "[DEBUG]";
    case LogLevel::Info:
      return "[INFO]";
    case LogLevel::Warning:
      return "[WARN]";
    case LogLevel::Error:
      return "[ERROR]";
  }
  return "";
}

Platform::EventType EventTypeOf(LogLevel level) {
  switch (level) {
    case LogLevel::Debug:
    case LogLevel::Info:
      return Platform::EventType::Information;
    case LogLevel::Warning:
      return Platform::EventType::Warning;
    case LogLevel::Error:
      break;
  }
  return Platform::EventType::Error;
}

}  // namespace Logging
}  // namespace Corvane
