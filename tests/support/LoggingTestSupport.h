#pragma once
// Helpers shared by the logging and platform tests: a scratch directory that
// cleans up after itself, a fixed clock, and scoped installation of the
// process logging configuration and event sink.

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "logging/LoggerConfiguration.h"
#include "support/CaptureEventSink.h"
#include "platform/LocalClock.h"
#include "platform/TextConversion.h"
#include "support/TempDir.h"

namespace Corvane {
namespace Testing {

/// The LF-terminated lines of a file (an unterminated tail counts as a line).
inline std::vector<std::string> ReadLines(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(file));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

/// A clock that always answers the same time.
class FixedClock : public Platform::LocalClock {
 public:
  explicit FixedClock(const Platform::LocalTime& time) : time_(time) {}
  Platform::LocalTime Now() const override { return time_; }

 private:
  Platform::LocalTime time_;
};

inline Platform::LocalTime MakeTime(int year, int month, int day, int hour, int minute,
                                    int second, int millisecond, int biasMinutes) {
  Platform::LocalTime time;
  time.year = year;
  time.month = month;
  time.day = day;
  time.hour = hour;
  time.minute = minute;
  time.second = second;
  time.millisecond = millisecond;
  time.biasMinutes = biasMinutes;
  return time;
}

/// Installs a process logging configuration for the scope of a test and puts
/// the previous one back.
class ScopedLoggerConfiguration {
 public:
  explicit ScopedLoggerConfiguration(std::shared_ptr<const Logging::LoggerConfiguration> configuration)
      : previous_(Logging::LoggerConfiguration::Install(std::move(configuration))) {}
  ~ScopedLoggerConfiguration() { Logging::LoggerConfiguration::Install(previous_); }
  ScopedLoggerConfiguration(const ScopedLoggerConfiguration&) = delete;
  ScopedLoggerConfiguration& operator=(const ScopedLoggerConfiguration&) = delete;

 private:
  std::shared_ptr<const Logging::LoggerConfiguration> previous_;
};

/// Sends the process's events to a capture sink for the scope of a test.
class ScopedCaptureEventSink {
 public:
  ScopedCaptureEventSink()
      : sink_(std::make_shared<Platform::CaptureEventSink>()),
        previous_(Platform::InstallEventSink(sink_)) {}
  ~ScopedCaptureEventSink() { Platform::InstallEventSink(previous_); }
  ScopedCaptureEventSink(const ScopedCaptureEventSink&) = delete;
  ScopedCaptureEventSink& operator=(const ScopedCaptureEventSink&) = delete;

  std::vector<Platform::CapturedEvent> Events() const { return sink_->Events(); }

 private:
  std::shared_ptr<Platform::CaptureEventSink> sink_;
  std::shared_ptr<Platform::EventSink> previous_;
};

/// Captures the log of the scope in memory: a logger.ini in a directory of
/// its own selects the event log at `level`, and the events go to a capture
/// sink. Loggers created meanwhile write here.
class LogCapture {
 public:
  explicit LogCapture(const std::string& level = "INFO")
      : configuration_(Configure(directory_, level)) {}

  /// How many logged texts contain `part`.
  int Count(const std::wstring& part) const {
    int count = 0;
    for (const auto& event : sink_.Events()) {
      for (const auto& text : event.strings) count += text.find(part) != std::wstring::npos;
    }
    return count;
  }
  /// How many logged texts are exactly `text`.
  int CountExactly(const std::wstring& text) const {
    int count = 0;
    for (const auto& event : sink_.Events()) {
      for (const auto& logged : event.strings) count += logged == text;
    }
    return count;
  }
  /// Waits until a logged text contains `part`; false after `timeout`.
  bool WaitFor(const std::wstring& part,
               std::chrono::milliseconds timeout = std::chrono::seconds(5)) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Count(part) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

 private:
  static std::shared_ptr<const Logging::LoggerConfiguration> Configure(const TempDir& directory,
                                                                       const std::string& level) {
    directory.WriteFile("logger.ini", "[Log]\ntype=EVENT\ndefaultLogLevel=" + level + "\n");
    return std::make_shared<Logging::LoggerConfiguration>(directory.WidePath());
  }

  TempDir directory_;
  ScopedCaptureEventSink sink_;
  ScopedLoggerConfiguration configuration_;
};

}  // namespace Testing
}  // namespace Corvane
