#include "logging/FileLogger.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <utility>

#include "logging/LogInserts.h"
#include "logging/LogLevelText.h"
#include "platform/MessageFormatter.h"
#include "platform/MessageTable.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Logging {

namespace {

// One lock for every log file of the process: lines are rare enough that
// serialising them costs nothing worth a lock per file.
std::mutex& LogFileMutex() {
  static std::mutex mutex;
  return mutex;
}

// Appends `line` to `path` in one write; a partial write (a full disk, a
// signal) is continued so that the line is not left cut when possible.
void AppendLine(const std::string& path, const std::string& line) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const char* data = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      break;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  ::close(fd);
}

}  // namespace

FileLogger::FileLogger(std::wstring name, LogLevel threshold,
                       std::shared_ptr<const LoggerConfiguration> configuration)
    : Logger(std::move(name), threshold),
      configuration_(std::move(configuration)),
      file_path_(Platform::ToUtf8(configuration_->GetLogFilePath())) {
  // Made before the first logger's owner is complete, the lock outlives every
  // owner: static objects go in the reverse order of their making.
  LogFileMutex();
}

void FileLogger::WriteMessage(LogLevel level, unsigned int id, int count, va_list inserts) {
  try {
    const std::vector<std::wstring> strings = TakeInserts(count, inserts);
    Write(level, Platform::MessageFormatter::MessageText(Platform::MessageTable::Engine(), id, strings));
  } catch (...) {
    // Logging never stops the caller.
  }
}

void FileLogger::Write(LogLevel level, const std::wstring& text) {
  try {
    const std::string name = Platform::ToUtf8(GetName());
    const std::string body = Platform::ToUtf8(text);
    std::lock_guard<std::mutex> lock(LogFileMutex());
    // The time is taken under the lock so that lines stay in time order.
    std::string line = FormatHeader(level, configuration_->GetClock()->Now(), name);
    line += body;
    line += '\n';
    AppendLine(file_path_, line);
  } catch (...) {
    // Logging never stops the caller.
  }
}

std::string FileLogger::FormatLine(LogLevel level, const Platform::LocalTime& time,
                                   const std::wstring& loggerName, const std::wstring& text) {
  return FormatHeader(level, time, Platform::ToUtf8(loggerName)) + Platform::ToUtf8(text) + "\n";
}

std::string FileLogger::FormatHeader(LogLevel level, const Platform::LocalTime& time,
                                     const std::string& loggerName) {
  static const char kHeader[] = "%s %4d-%02d-%02d:%02d:%02d:%02d.%3d%05d %s - ";
  const int zone = (-time.biasMinutes / 60) * 100;
  const int length = std::snprintf(nullptr, 0, kHeader, FileTagOf(level), time.year, time.month,
                                   time.day, time.hour, time.minute, time.second,
                                   time.millisecond, zone, loggerName.c_str());
  if (length < 0) return std::string();
  std::string header(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(&header[0], header.size(), kHeader, FileTagOf(level), time.year, time.month,
                time.day, time.hour, time.minute, time.second, time.millisecond, zone,
                loggerName.c_str());
  header.resize(static_cast<std::size_t>(length));
  return header;
}

}  // namespace Logging
}  // namespace Corvane
