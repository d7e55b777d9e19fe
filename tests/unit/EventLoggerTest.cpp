#include "logging/EventLogger.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/LoggingTestSupport.h"

namespace Corvane {
namespace Logging {
namespace {

using Platform::EventType;

class EventLoggerTest : public ::testing::Test {
 protected:
  void Configure(const std::string& ini) {
    if (!ini.empty()) scratch_.WriteFile("logger.ini", ini);
    scope_ = std::make_unique<Testing::ScopedLoggerConfiguration>(
        std::make_shared<const LoggerConfiguration>(scratch_.WidePath()));
  }

  Testing::TempDir scratch_;
  Testing::ScopedCaptureEventSink sink_;
  std::unique_ptr<Testing::ScopedLoggerConfiguration> scope_;
};

TEST_F(EventLoggerTest, WithoutLoggerIniOnlyErrorsGoOutWithIdZero) {
  Configure("");
  const auto logger = CreateLogger(L"Corvane::Client::Connection");
  ASSERT_NE(dynamic_cast<EventLogger*>(logger.get()), nullptr);
  logger->Log(LogLevel::Info, L"quiet");
  logger->Log(LogLevel::Warning, L"quiet");
  logger->Log(LogLevel::Error, L"HandleRead: Read header: %ls", L"(104)  connection_reset.");

  const auto events = sink_.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].source, L"Corvane");
  EXPECT_EQ(events[0].type, EventType::Error);
  EXPECT_EQ(events[0].eventId, 0u);
  EXPECT_EQ(events[0].strings, std::vector<std::wstring>{L"HandleRead: Read header: (104)  connection_reset."});
}

TEST_F(EventLoggerTest, LevelsMapToEventTypes) {
  Configure("[Log]\nname=Lab\ndefaultMessageId=1\ndefaultLogLevel=DEBUG\n");
  const auto logger = CreateLogger(L"X");
  logger->Log(LogLevel::Debug, L"d");
  logger->Log(LogLevel::Info, L"i");
  logger->Log(LogLevel::Warning, L"w");
  logger->Log(LogLevel::Error, L"e");
  logger->Log(static_cast<LogLevel>(5), L"u");

  const std::vector<EventType> expected{EventType::Information, EventType::Information, EventType::Warning,
                                        EventType::Error, EventType::Error};
  const auto events = sink_.Events();
  ASSERT_EQ(events.size(), expected.size());
  for (std::size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].type, expected[i]) << i;
    EXPECT_EQ(events[i].source, L"Lab");
    EXPECT_EQ(events[i].eventId, 1u);
  }
}

TEST_F(EventLoggerTest, MessagesCarryTheirIdAndInsertsWhateverTheThreshold) {
  Configure("");
  const auto logger = CreateLogger(L"X");
  logger->LogMessage(LogLevel::Info, 1, 2, L"first", L"second");
  EXPECT_THROW(logger->LogMessageAndThrow(1, 1, L"fatal"), std::runtime_error);

  const auto events = sink_.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].type, EventType::Information);
  EXPECT_EQ(events[0].eventId, 1u);
  EXPECT_EQ(events[0].strings, (std::vector<std::wstring>{L"first", L"second"}));
  EXPECT_EQ(events[1].type, EventType::Error);
  EXPECT_EQ(events[1].strings, std::vector<std::wstring>{L"fatal"});
}

}  // namespace
}  // namespace Logging
}  // namespace Corvane
