#pragma once
// The words, file tags and event types that belong to each log level.

#include <string>

#include "logging/LogLevel.h"
#include "platform/EventSink.h"

namespace Corvane {
namespace Logging {

/// The threshold a logger.ini level word selects. Compared case-sensitively:
/// "DEBUG", "INFO" and "WARN" select their level, every other word (including
/// "ERROR", "Info" and the empty word) selects error.
LogLevel LogLevelOfWord(const std::wstring& word);

/// "[DEBUG]", "[INFO]", "[WARN]", "[ERROR]"; "" for a value outside 0-3.
const char* FileTagOf(LogLevel level);

/// Information for debug and info, warning for warning, error for error and
/// for any value outside 0-3.
Platform::EventType EventTypeOf(LogLevel level);

}  // namespace Logging
}  // namespace Corvane
