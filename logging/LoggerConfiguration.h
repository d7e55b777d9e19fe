#pragma once
// The process-wide logging configuration, read from logger.ini beside the
// module: where output goes (system log or a text file), the event source
// name, and the threshold of each logger.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "logging/LogLevel.h"
#include "platform/LocalClock.h"
#include "platform/ProfileFile.h"

namespace Corvane {
namespace Logging {

/// Settings of section "Log" of logger.ini. Keys and defaults:
///   name             "Corvane"  event source name; base name of the log file
///   type             "EVENT"    exactly "FILE" selects the file logger
///   path             ""         log file directory; empty = module directory
///   messageFiles     ""         ';'-separated message files; a name without
///                               '/' or '\' is taken in the module directory
///   defaultMessageId 0          event id of plain text events
///   defaultLogLevel  "ERROR"    threshold of loggers without a key of their own
///   <logger name>               threshold of that logger
/// A missing or unreadable file gives every default.
///
/// Everything but the thresholds is read once, at construction. Thresholds
/// are read from the file each time ThresholdOf is asked (the parsed file is
/// cached and re-read only when it changes, and each logger name's threshold
/// is looked up once per reading), so an edited level key applies to loggers
/// created afterwards.
///
/// Thread-safety: const operations may be called from any thread at once;
/// SetClock only before the object is shared (installed).
class LoggerConfiguration {
 public:
  /// Reads `iniPath`, or `moduleDirectory`/logger.ini when it is empty.
  /// Never fails.
  explicit LoggerConfiguration(std::wstring moduleDirectory, std::wstring iniPath = std::wstring());

  const std::wstring& GetModuleDirectory() const { return module_directory_; }
  const std::wstring& GetIniPath() const { return ini_path_; }
  /// Event source name and base name of the log file.
  const std::wstring& GetName() const { return name_; }
  bool UseEventLog() const { return use_event_log_; }
  const std::wstring& GetLogFilePath() const { return log_file_path_; }
  /// ';'-separated full paths of the message files.
  const std::wstring& GetMessageFiles() const { return message_files_; }
  std::uint32_t GetDefaultMessageId() const { return default_message_id_; }

  /// The threshold of logger `loggerName`: its own key, else "defaultLogLevel",
  /// else error; read from the file as it is now.
  LogLevel ThresholdOf(const std::wstring& loggerName) const;

  /// The clock file loggers stamp their lines with; the system's unless set.
  const std::shared_ptr<const Platform::LocalClock>& GetClock() const { return clock_; }
  /// Replaces the clock (tests fix the time this way). Null restores the
  /// system clock.
  void SetClock(std::shared_ptr<const Platform::LocalClock> clock);

  /// The process configuration. The first call loads it from the engine's
  /// module directory (Platform::EngineModuleDirectory()); later calls return
  /// the same object until another is installed. Thread-safe.
  static std::shared_ptr<const LoggerConfiguration> Current();

  /// Makes `configuration` the process configuration and returns the one it
  /// replaces (null if none was loaded yet); null makes the next Current()
  /// load from the module directory again. Meant for tests, and for a module
  /// that must read its configuration from elsewhere while it is being
  /// loaded; loggers already created keep the configuration they were made
  /// with. Thread-safe.
  static std::shared_ptr<const LoggerConfiguration> Install(
      std::shared_ptr<const LoggerConfiguration> configuration);

 private:
  std::wstring module_directory_;
  std::wstring ini_path_;
  std::shared_ptr<const Platform::ProfileFile> profile_;
  std::wstring name_;
  bool use_event_log_ = true;
  std::wstring log_file_path_;
  std::wstring message_files_;
  std::uint32_t default_message_id_ = 0;
  std::shared_ptr<const Platform::LocalClock> clock_;
  // Thresholds already looked up in one reading of the file: a logger is
  // made for every connection, and the lookup folds and compares names.
  mutable std::mutex thresholds_mutex_;
  mutable std::shared_ptr<const Platform::ProfileFile::Contents> thresholds_reading_;
  mutable std::unordered_map<std::wstring, LogLevel> thresholds_;
};

}  // namespace Logging
}  // namespace Corvane
