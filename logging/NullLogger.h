#pragma once

#include "logging/Logger.h"

namespace Corvane {
namespace Logging {

/// A logger that discards everything. No configuration selects it; code
/// that must run without logging (tests, tools) constructs it directly.
/// Its threshold is error, so only error-level texts are even formatted.
class NullLogger : public Logger {
 public:
  explicit NullLogger(std::wstring name);

  void WriteMessage(LogLevel level, unsigned int id, int count, va_list inserts) override;
  void Write(LogLevel level, const std::wstring& text) override;
};

}  // namespace Logging
}  // namespace Corvane
