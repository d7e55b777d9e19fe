#include "logging/Logger.h"

#include <algorithm>
#include <cwchar>

#include <cerrno>
#include <cwchar>
#include <stdexcept>
#include <utility>
#include <vector>

#include "logging/LogInserts.h"
#include "platform/MessageFormatter.h"
#include "platform/MessageTable.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Logging {

namespace {

// Most lines fit here, so the large buffer is only touched for long texts.
constexpr std::size_t kShortBufferSize = 512;

// Appended when an argument cannot be formatted (an 8-bit %s argument that
// is not valid in the current locale): the text up to that argument is kept.
const wchar_t kFormatFailedMarker[] = L"<unformattable argument>";

}  // namespace

Logger::Logger(std::wstring name, LogLevel threshold) : name_(std::move(name)), threshold_(threshold) {}

Logger::~Logger() = default;

void Logger::LogMessage(LogLevel level, unsigned int id, int count, ...) {
  va_list inserts;
  va_start(inserts, count);
  try {
    WriteMessage(level, id, count, inserts);
  } catch (...) {
    // Logging never stops the caller.
  }
  va_end(inserts);
}

std::wstring Logger::EscapeControls(const std::wstring& text) {
  const auto isControl = [](wchar_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
  };
  if (std::none_of(text.begin(), text.end(), isControl)) return text;
  std::wstring escaped;
  escaped.reserve(text.size() + 16);
  for (const wchar_t c : text) {
    if (!isControl(c)) {
      escaped += c;
      continue;
    }
    wchar_t code[8];
    std::swprintf(code, 8, c > 0xFF ? L"\\u%04X" : L"\\x%02X", static_cast<unsigned>(c));
    escaped += code;
  }
  return escaped;
}

void Logger::Log(LogLevel level, const wchar_t* format, ...) {
  if (!IsEnabled(level)) return;
  va_list arguments;
  va_start(arguments, format);
  std::wstring text;
  bool formatted = true;
  try {
    text = Format(format, arguments);
  } catch (...) {
    formatted = false;
  }
  va_end(arguments);
  if (!formatted) return;
  try {
    Write(level, EscapeControls(text));
  } catch (...) {
    // Logging never stops the caller.
  }
}

void Logger::LogMessageAndThrow(unsigned int id, int count, ...) {
  va_list inserts;
  va_start(inserts, count);
  va_list copy;
  va_copy(copy, inserts);
  std::vector<std::wstring> strings;
  try {
    strings = TakeInserts(count, copy);
  } catch (...) {
    // Out of memory: the thrown text goes without inserts.
  }
  va_end(copy);
  try {
    WriteMessage(LogLevel::Error, id, count, inserts);
  } catch (...) {
    // A failed write does not keep the caller from the exception below.
  }
  va_end(inserts);
  throw std::runtime_error(Platform::ToUtf8(
      Platform::MessageFormatter::MessageText(Platform::MessageTable::Engine(), id, strings)));
}

void Logger::LogAndThrow(const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::wstring text;
  try {
    text = Format(format, arguments);
  } catch (...) {
    va_end(arguments);
    throw;
  }
  va_end(arguments);
  // Through "%ls" so that a '%' in the text is written as it stands.
  Log(LogLevel::Error, L"%ls", text.c_str());
  throw std::runtime_error(Platform::ToUtf8(text));
}

bool Logger::IsInfo() const { return threshold_ == LogLevel::Info; }

std::wstring Logger::Format(const wchar_t* format, va_list arguments) {
  if (!format) return std::wstring();

  va_list retry;
  va_copy(retry, arguments);
  wchar_t shortBuffer[kShortBufferSize];
  errno = 0;
  int written = std::vswprintf(shortBuffer, kShortBufferSize, format, arguments);
  if (written >= 0) {
    va_end(retry);
    return std::wstring(shortBuffer, static_cast<std::size_t>(written));
  }

  // Too long for the short buffer, or an argument failed to convert. glibc
  // returns -1 in both cases and leaves a cut text without a terminator, so
  // the buffer starts zeroed and its last character is kept zero.
  thread_local std::vector<wchar_t> buffer;
  buffer.assign(kFormatBufferSize, L'\0');
  errno = 0;
  written = std::vswprintf(buffer.data(), kFormatBufferSize, format, retry);
  const int error = errno;
  va_end(retry);
  if (written >= 0) return std::wstring(buffer.data(), static_cast<std::size_t>(written));

  buffer[kFormatBufferSize - 1] = L'\0';
  std::wstring text(buffer.data());
  // A full buffer means the text was cut to fit; anything shorter, or an
  // encoding error, means formatting stopped at a bad argument.
  if (error == EILSEQ || text.size() < kFormatBufferSize - 1) {
    const std::size_t room = kFormatBufferSize - 1 - std::wcslen(kFormatFailedMarker);
    if (text.size() > room) text.resize(room);
    text += kFormatFailedMarker;
  }
  return text;
}

}  // namespace Logging
}  // namespace Corvane
