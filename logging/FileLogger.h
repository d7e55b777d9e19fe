#pragma once

#include <memory>
#include <string>

#include "logging/Logger.h"
#include "logging/LoggerConfiguration.h"
#include "platform/LocalClock.h"

namespace Corvane {
namespace Logging {

/// Appends one line per text to the configured log file, in UTF-8:
///   <tag> <yyyy>-<mm>-<dd>:<hh>:<mm>:<ss>.<mmm><zone> <logger name> - <text>LF
/// where the milliseconds are space-padded to three places and the zone is
/// (-bias / 60, truncated) * 100 in five places with its sign, e.g.
///   "[INFO] 2010-03-05:14:07:09. 42-0500 Corvane::Client::Tarnlink - Stop - Stop completed."
///
/// Every line is opened (O_APPEND | O_CREAT), written with one write() and
/// closed under one process-wide lock: no handle is kept between lines, no
/// line is lost because another thread is writing, and lines never mix.
/// A file that cannot be opened (missing directory, no permission) drops the
/// line silently. Nothing here throws out of Write or WriteMessage.
/// Thread-safety: any operation from any thread at once.
class FileLogger : public Logger {
 public:
  /// Keeps `configuration` (log file path and clock) for its lifetime.
  FileLogger(std::wstring name, LogLevel threshold,
             std::shared_ptr<const LoggerConfiguration> configuration);

  /// Writes the engine message table's text of `id` with `count` inserts.
  void WriteMessage(LogLevel level, unsigned int id, int count, va_list inserts) override;
  void Write(LogLevel level, const std::wstring& text) override;

  /// The complete line Write appends, LF included.
  static std::string FormatLine(LogLevel level, const Platform::LocalTime& time,
                                const std::wstring& loggerName, const std::wstring& text);

 private:
  /// Everything of the line before the text; `loggerName` in UTF-8.
  static std::string FormatHeader(LogLevel level, const Platform::LocalTime& time,
                                  const std::string& loggerName);

  const std::shared_ptr<const LoggerConfiguration> configuration_;
  const std::string file_path_;
};

}  // namespace Logging
}  // namespace Corvane
