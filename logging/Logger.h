#pragma once
// A named logger with a threshold fixed at construction. Every component
// creates its own with CreateLogger under its qualified class name.
//
// Format strings are wide printf formats: a wide string argument is written
// %ls and passed as const wchar_t* (c_str()).
//
// Failures: nothing throws out of Log, LogMessage, Write or WriteMessage (a
// line that cannot be written is dropped); only LogAndThrow and
// LogMessageAndThrow throw, by design. Thread-safety: a logger may be used
// from any number of threads at once.

#include <cstdarg>
#include <memory>
#include <string>

#include "logging/LogLevel.h"

namespace Corvane {
namespace Logging {

class Logger {
 public:
  /// Formatting buffer, in wide characters; longer texts are cut to fit.
  static constexpr std::size_t kFormatBufferSize = 32000;

  Logger(std::wstring name, LogLevel threshold);
  virtual ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  /// Writes message-table text `id` with `count` const wchar_t* inserts,
  /// whatever the threshold.
  virtual void LogMessage(LogLevel level, unsigned int id, int count, ...);
  /// Formats and writes when `level` is at or above the threshold; otherwise
  /// does nothing, not even the formatting.
  virtual void Log(LogLevel level, const wchar_t* format, ...);
  /// Writes message-table text `id` at error level, then throws
  /// std::runtime_error carrying that text.
  [[noreturn]] virtual void LogMessageAndThrow(unsigned int id, int count, ...);
  /// Formats, writes the text verbatim at error level, then throws
  /// std::runtime_error carrying it as UTF-8.
  [[noreturn]] virtual void LogAndThrow(const wchar_t* format, ...);
  /// True exactly when the threshold is info.
  virtual bool IsInfo() const;
  /// Writes the message-table text of `id`; no threshold test.
  virtual void WriteMessage(LogLevel level, unsigned int id, int count, va_list inserts) = 0;
  /// Writes one text; no threshold test.
  virtual void Write(LogLevel level, const std::wstring& text) = 0;

  /// `text` with every control character (C0, DEL, C1, line and paragraph
  /// separators) written as \xNN or \uNNNN: texts from peers reach the log,
  /// and must never start a line of their own or drive a terminal.
  static std::wstring EscapeControls(const std::wstring& text);

  const std::wstring& GetName() const { return name_; }
  LogLevel GetThreshold() const { return threshold_; }
  bool IsEnabled(LogLevel level) const { return level >= threshold_; }

  /// printf-style formatting into at most kFormatBufferSize - 1 characters;
  /// a longer text is cut. An argument that cannot be converted (an 8-bit
  /// %s text invalid in the current locale) ends the text with the marker
  /// "<unformattable argument>". Null `format` gives an empty text.
  static std::wstring Format(const wchar_t* format, va_list arguments);

 private:
  std::wstring name_;
  LogLevel threshold_;
};

/// Creates a new logger of the kind the process configuration selects, with
/// the threshold logger.ini gives `name`. Loads the configuration on first use.
std::shared_ptr<Logger> CreateLogger(const std::wstring& name);

}  // namespace Logging
}  // namespace Corvane
