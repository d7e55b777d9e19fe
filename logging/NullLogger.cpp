#include "logging/NullLogger.h"

#include <utility>

namespace Corvane {
namespace Logging {

NullLogger::NullLogger(std::wstring name) : Logger(std::move(name), LogLevel::Error) {}

void NullLogger::WriteMessage(LogLevel, unsigned int, int, va_list) {}

void NullLogger::Write(LogLevel, const std::wstring&) {}

}  // namespace Logging
}  // namespace Corvane
