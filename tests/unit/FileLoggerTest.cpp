#include "logging/FileLogger.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/LoggingTestSupport.h"
#include "platform/MessageFormatter.h"

namespace Corvane {
namespace Logging {
namespace {

using Platform::LocalTime;
using Testing::MakeTime;

class FileLoggerTest : public ::testing::Test {
 protected:
  // A file-logging configuration in the scratch directory, stamped with `time`.
  std::shared_ptr<LoggerConfiguration> Configure(const std::string& ini,
                                                 const LocalTime& time = MakeTime(2010, 3, 5, 14, 7, 9, 42, 300)) {
    scratch_.WriteFile("logger.ini", "[Log]\ntype=FILE\nname=Trace\n" + ini);
    auto configuration = std::make_shared<LoggerConfiguration>(scratch_.WidePath());
    configuration->SetClock(std::make_shared<Testing::FixedClock>(time));
    return configuration;
  }

  std::shared_ptr<Logger> Create(const std::wstring& name, const std::string& ini = "") {
    const auto configuration = Configure(ini);
    return std::make_shared<FileLogger>(name, configuration->ThresholdOf(name), configuration);
  }

  std::vector<std::string> Lines() const { return Testing::ReadLines(scratch_ / "Trace.log"); }

  // The text after the header of each line.
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& line : Lines()) texts.push_back(line.substr(line.find(" - ") + 3));
    return texts;
  }

  Testing::TempDir scratch_;
};

TEST_F(FileLoggerTest, LineHasTagTimeZoneNameAndText) {
  EXPECT_EQ(FileLogger::FormatLine(LogLevel::Info, MakeTime(2010, 3, 5, 14, 7, 9, 42, 300),
                                   L"Corvane::Client::Tarnlink", L"Stop - Stop completed."),
            "[INFO] 2010-03-05:14:07:09. 42-0500 Corvane::Client::Tarnlink - Stop - Stop completed.\n");
}

TEST_F(FileLoggerTest, ZoneIsWholeHoursOfMinusBias) {
  const auto header = [](int millisecond, int bias) {
    const std::string line =
        FileLogger::FormatLine(LogLevel::Error, MakeTime(2024, 12, 31, 23, 59, 58, millisecond, bias), L"N", L"");
    return line.substr(0, line.find(" N - "));
  };
  EXPECT_EQ(header(42, -60), "[ERROR] 2024-12-31:23:59:58. 4200100");
  EXPECT_EQ(header(42, 0), "[ERROR] 2024-12-31:23:59:58. 4200000");
  EXPECT_EQ(header(7, 0), "[ERROR] 2024-12-31:23:59:58.  700000");
  EXPECT_EQ(header(999, 300), "[ERROR] 2024-12-31:23:59:58.999-0500");
  // Half-hour zones lose their minutes, truncated toward zero.
  EXPECT_EQ(header(0, -330), "[ERROR] 2024-12-31:23:59:58.  000500");
  EXPECT_EQ(header(0, 210), "[ERROR] 2024-12-31:23:59:58.  0-0300");
}

TEST_F(FileLoggerTest, TagsPerLevelAndNoneOutsideTheRange) {
  const LocalTime time = MakeTime(2010, 1, 2, 3, 4, 5, 6, 0);
  EXPECT_EQ(FileLogger::FormatLine(LogLevel::Debug, time, L"N", L"t").substr(0, 8), "[DEBUG] ");
  EXPECT_EQ(FileLogger::FormatLine(LogLevel::Warning, time, L"N", L"t").substr(0, 7), "[WARN] ");
  EXPECT_EQ(FileLogger::FormatLine(static_cast<LogLevel>(7), time, L"N", L"t").substr(0, 6), " 2010-");
}

TEST_F(FileLoggerTest, NameAndTextAreWrittenAsUtf8) {
  EXPECT_EQ(FileLogger::FormatLine(LogLevel::Info, MakeTime(2010, 1, 2, 3, 4, 5, 6, 0), L"K\u00F6ln",
                                   L"\u20AC \U0001F600"),
            "[INFO] 2010-01-02:03:04:05.  600000 K\xC3\xB6ln - \xE2\x82\xAC \xF0\x9F\x98\x80\n");
}

TEST_F(FileLoggerTest, CreateLoggerAppendsLinesAtOrAboveTheThreshold) {
  Testing::ScopedLoggerConfiguration scope(Configure("defaultLogLevel=INFO\n"));
  const auto logger = CreateLogger(L"Corvane::Client::Tarnlink");
  ASSERT_NE(dynamic_cast<FileLogger*>(logger.get()), nullptr);
  logger->Log(LogLevel::Debug, L"not written %d", 1);
  logger->Log(LogLevel::Info, L"Stop - Stop completed.");
  logger->Log(LogLevel::Error, L"HandleRead: Read header: %ls", L"(104)  connection_reset.");
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "[INFO] 2010-03-05:14:07:09. 42-0500 Corvane::Client::Tarnlink - Stop - Stop completed.",
                         "[ERROR] 2010-03-05:14:07:09. 42-0500 Corvane::Client::Tarnlink - HandleRead: Read "
                         "header: (104)  connection_reset."}));
}

TEST_F(FileLoggerTest, LogMessageWritesBelowTheThreshold) {
  const auto logger = Create(L"Corvane::Client::Connection");
  ASSERT_EQ(logger->GetThreshold(), LogLevel::Error);
  logger->LogMessage(LogLevel::Debug, 1, 1, L"line one\r\nline two");
  logger->LogMessage(LogLevel::Info, 9, 0);
  const std::string fallback = "!!!MessageId: 9.  (" + std::to_string(ENOMSG) + ") " + std::strerror(ENOMSG) + "!!!";
  EXPECT_EQ(Texts(), (std::vector<std::string>{"line oneline two", fallback}));
  EXPECT_EQ(Lines().at(0).substr(0, 8), "[DEBUG] ");
}

TEST_F(FileLoggerTest, LogAndThrowWritesThePercentSignVerbatim) {
  const auto logger = Create(L"N");
  try {
    logger->LogAndThrow(L"Send failed: %ls at 100%%", L"50% sent");
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Send failed: 50% sent at 100%");
  }
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Send failed: 50% sent at 100%"}));
}

TEST_F(FileLoggerTest, LogMessageAndThrowCarriesTheFilledMessage) {
  const auto logger = Create(L"N");
  EXPECT_THROW(
      {
        try {
          logger->LogMessageAndThrow(1, 1, L"disk \u00FCber full");
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "disk \xC3\xBC" "ber full");
          throw;
        }
      },
      std::runtime_error);
  EXPECT_EQ(Lines().size(), 1u);
  EXPECT_EQ(Lines().at(0).substr(0, 8), "[ERROR] ");
}

TEST_F(FileLoggerTest, TextLongerThanTheFormatBufferIsCut) {
  const auto logger = Create(L"N");
  const std::wstring huge(40000, L'x');
  logger->Log(LogLevel::Error, L"%ls", huge.c_str());
  logger->Log(LogLevel::Error, L"%ls!", std::wstring(Logger::kFormatBufferSize - 2, L'y').c_str());
  const auto texts = Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], std::string(Logger::kFormatBufferSize - 1, 'x'));
  EXPECT_EQ(texts[1], std::string(Logger::kFormatBufferSize - 2, 'y') + "!");
}

TEST_F(FileLoggerTest, ConcurrentWritersLoseNoLineAndMixNone) {
  const auto logger = Create(L"N");
  constexpr int kThreads = 4;
  constexpr int kLines = 500;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&logger, t] {
      const std::wstring padding(200, static_cast<wchar_t>(L'a' + t));
      for (int i = 0; i < kLines; ++i) {
        logger->Log(LogLevel::Error, L"writer %d line %d %ls", t, i, padding.c_str());
      }
    });
  }
  for (auto& writer : writers) writer.join();

  const std::string prefix = "[ERROR] 2010-03-05:14:07:09. 42-0500 N - writer ";
  std::set<std::pair<int, int>> seen;
  for (const auto& line : Lines()) {
    ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
    int writer = -1;
    int index = -1;
    int consumed = 0;
    ASSERT_EQ(std::sscanf(line.c_str() + prefix.size(), "%d line %d %n", &writer, &index, &consumed), 2)
        << line;
    ASSERT_TRUE(writer >= 0 && writer < kThreads) << line;
    EXPECT_EQ(line.substr(prefix.size() + static_cast<std::size_t>(consumed)),
              std::string(200, static_cast<char>('a' + writer)));
    seen.emplace(writer, index);
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kLines));
  EXPECT_EQ(Lines().size(), static_cast<std::size_t>(kThreads * kLines));
}

TEST_F(FileLoggerTest, UnopenableLogFileDropsTheLineSilently) {
  const auto logger = Create(L"N", "path=" + (scratch_ / "missing" / "dir").string() + "\n");
  EXPECT_NO_THROW(logger->Log(LogLevel::Error, L"lost"));
  EXPECT_NO_THROW(logger->LogMessage(LogLevel::Error, 1, 1, L"lost"));
  EXPECT_FALSE(std::filesystem::exists(scratch_ / "missing"));

  // A directory where the file should be cannot be opened for writing either.
  std::filesystem::create_directory(scratch_ / "Trace.log");
  const auto blocked = Create(L"N");
  EXPECT_NO_THROW(blocked->Log(LogLevel::Error, L"lost"));
}

}  // namespace
}  // namespace Logging
}  // namespace Corvane
