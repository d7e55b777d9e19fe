#pragma once
// Helpers shared by the logging and platform tests: a scratch directory that
// cleans up after itself, a fixed clock, and scoped installation of the
// process logging configuration and event sink.

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "logging/LoggerConfiguration.h"
#include "platform/CaptureEventSink.h"
#include "platform/LocalClock.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Testing {

/// A fresh directory under the system's temporary directory, removed with
/// everything in it when the object goes.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvane-test-XXXXXX").string();
    if (::mkdtemp(&pattern[0])) path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::wstring Wide() const { return Platform::FromUtf8(path_.string()); }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  /// Writes `content` as the file `name` (bytes as given).
  std::filesystem::path Write(const std::string& name, const std::string& content) const {
    const auto file = path_ / name;
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
    return file;
  }

 private:
  std::filesystem::path path_;
};

inline std::string ReadText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

/// The LF-terminated lines of a file (an unterminated tail counts as a line).
inline std::vector<std::string> ReadLines(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::istringstream in(ReadText(file));
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

}  // namespace Testing
}  // namespace Corvane
