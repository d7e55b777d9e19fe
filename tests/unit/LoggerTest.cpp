#include "logging/Logger.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/LoggingTestSupport.h"
#include "logging/EventLogger.h"
#include "logging/FileLogger.h"
#include "logging/LogInserts.h"

namespace Corvane {
namespace Logging {
namespace {

// Keeps what reaches the two write operations.
class RecordingLogger : public Logger {
 public:
  explicit RecordingLogger(LogLevel threshold) : Logger(L"Recording", threshold) {}

  void WriteMessage(LogLevel level, unsigned int id, int count, va_list inserts) override {
    std::wstring text = L"#" + std::to_wstring(id);
    for (const auto& insert : TakeInserts(count, inserts)) text += L" " + insert;
    written.emplace_back(level, text);
  }
  void Write(LogLevel level, const std::wstring& text) override { written.emplace_back(level, text); }

  std::vector<std::pair<LogLevel, std::wstring>> written;
};

std::wstring FormatOf(const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::wstring text = Logger::Format(format, arguments);
  va_end(arguments);
  return text;
}

TEST(LoggerTest, LogsAtOrAboveTheThresholdOnly) {
  RecordingLogger logger(LogLevel::Warning);
  logger.Log(LogLevel::Debug, L"debug");
  logger.Log(LogLevel::Info, L"info");
  logger.Log(LogLevel::Warning, L"warn %d", 2);
  logger.Log(LogLevel::Error, L"error %ls", L"text");
  logger.Log(static_cast<LogLevel>(9), L"beyond");
  EXPECT_EQ(logger.written, (std::vector<std::pair<LogLevel, std::wstring>>{
                                {LogLevel::Warning, L"warn 2"},
                                {LogLevel::Error, L"error text"},
                                {static_cast<LogLevel>(9), L"beyond"}}));
}

TEST(LoggerTest, LogMessageIgnoresTheThresholdAndPassesInserts) {
  RecordingLogger logger(LogLevel::Error);
  logger.LogMessage(LogLevel::Debug, 12, 2, L"a", L"b");
  logger.LogMessage(LogLevel::Info, 3, 1, static_cast<const wchar_t*>(nullptr));
  EXPECT_EQ(logger.written, (std::vector<std::pair<LogLevel, std::wstring>>{
                                {LogLevel::Debug, L"#12 a b"}, {LogLevel::Info, L"#3 "}}));
}

TEST(LoggerTest, IsInfoOnlyForTheInfoThreshold) {
  EXPECT_FALSE(RecordingLogger(LogLevel::Debug).IsInfo());
  EXPECT_TRUE(RecordingLogger(LogLevel::Info).IsInfo());
  EXPECT_FALSE(RecordingLogger(LogLevel::Warning).IsInfo());
  EXPECT_FALSE(RecordingLogger(LogLevel::Error).IsInfo());
}

TEST(LoggerTest, FormatCutsAtTheBufferAndMarksBadArguments) {
  EXPECT_EQ(FormatOf(L"%d-%ls", 7, L"x"), L"7-x");
  EXPECT_EQ(FormatOf(nullptr), L"");
  EXPECT_EQ(FormatOf(L"%ls", std::wstring(Logger::kFormatBufferSize - 1, L'a').c_str()),
            std::wstring(Logger::kFormatBufferSize - 1, L'a'));
  EXPECT_EQ(FormatOf(L"%ls", std::wstring(Logger::kFormatBufferSize, L'a').c_str()),
            std::wstring(Logger::kFormatBufferSize - 1, L'a'));
  // An 8-bit argument that the "C" locale cannot convert.
  EXPECT_EQ(FormatOf(L"ab %s cd", "\xC3\xA9"), L"ab <unformattable argument>");
}

TEST(LoggerTest, CreateLoggerMakesTheConfiguredKindEachTime) {
  Testing::TempDir scratch;
  const auto configure = [&](const std::string& ini) {
    scratch.WriteFile("logger.ini", ini);
    return std::make_shared<const LoggerConfiguration>(scratch.WidePath());
  };

  {
    Testing::ScopedLoggerConfiguration scope(configure("[Log]\ntype=FILE\nCorvane::Client::Tarnlink=INFO\n"));
    const auto first = CreateLogger(L"Corvane::Client::Tarnlink");
    const auto second = CreateLogger(L"Corvane::Client::Tarnlink");
    EXPECT_NE(first, second);
    EXPECT_NE(dynamic_cast<FileLogger*>(first.get()), nullptr);
    EXPECT_EQ(first->GetName(), L"Corvane::Client::Tarnlink");
    EXPECT_TRUE(first->IsInfo());
    EXPECT_EQ(CreateLogger(L"Other")->GetThreshold(), LogLevel::Error);
  }
  {
    Testing::ScopedLoggerConfiguration scope(configure("[Log]\ntype=file\n"));
    EXPECT_NE(dynamic_cast<EventLogger*>(CreateLogger(L"X").get()), nullptr);
  }
}

}  // namespace
}  // namespace Logging
}  // namespace Corvane
