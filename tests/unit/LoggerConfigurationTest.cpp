#include "logging/LoggerConfiguration.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/LoggingTestSupport.h"
#include "logging/LogLevelText.h"
#include "platform/ModuleDirectory.h"

namespace Corvane {
namespace Logging {
namespace {

class LoggerConfigurationTest : public ::testing::Test {
 protected:
  LoggerConfiguration Load(const std::string& ini) {
    scratch_.WriteFile("logger.ini", ini);
    return LoggerConfiguration(scratch_.WidePath());
  }

  Testing::TempDir scratch_;
};

TEST_F(LoggerConfigurationTest, EveryDefaultWithoutLoggerIni) {
  const LoggerConfiguration configuration(scratch_.WidePath());
  EXPECT_EQ(configuration.GetIniPath(), scratch_.WidePath() + L"/logger.ini");
  EXPECT_EQ(configuration.GetName(), L"Corvane");
  EXPECT_TRUE(configuration.UseEventLog());
  EXPECT_EQ(configuration.GetLogFilePath(), scratch_.WidePath() + L"/Corvane.log");
  EXPECT_EQ(configuration.GetMessageFiles(), L"");
  EXPECT_EQ(configuration.GetDefaultMessageId(), 0u);
  EXPECT_EQ(configuration.ThresholdOf(L"Corvane::Client::Connection"), LogLevel::Error);
}

TEST_F(LoggerConfigurationTest, OnlyExactFileTypeSelectsTheFile) {
  EXPECT_FALSE(Load("[Log]\ntype=FILE\n").UseEventLog());
  EXPECT_TRUE(Load("[Log]\ntype=file\n").UseEventLog());
  EXPECT_TRUE(Load("[Log]\ntype=EVENT\n").UseEventLog());
  // Key and section names are not case-sensitive.
  EXPECT_FALSE(Load("[LOG]\nTYPE=FILE\n").UseEventLog());
}

TEST_F(LoggerConfigurationTest, LogFileIsNamedAfterTheSourceInPathOrModuleDirectory) {
  EXPECT_EQ(Load("[Log]\nname=Trace\npath=\n").GetLogFilePath(), scratch_.WidePath() + L"/Trace.log");
  EXPECT_EQ(Load("[Log]\nname=Trace\npath=/var/log/x\n").GetLogFilePath(), L"/var/log/x/Trace.log");
  EXPECT_EQ(Load("[Log]\nname=Lab\n").GetName(), L"Lab");
}

TEST_F(LoggerConfigurationTest, BareMessageFileNamesResolveToTheModuleDirectory) {
  EXPECT_EQ(Load("[Log]\nmessageFiles=a.dll;/x/b.dll\n").GetMessageFiles(),
            scratch_.WidePath() + L"/a.dll;/x/b.dll");
  EXPECT_EQ(Load("[Log]\nmessageFiles=;a.so;;sub\\b.dll;\n").GetMessageFiles(),
            scratch_.WidePath() + L"/a.so;sub\\b.dll");
}

TEST_F(LoggerConfigurationTest, ReadsDefaultMessageId) {
  EXPECT_EQ(Load("[Log]\ndefaultMessageId=1\n").GetDefaultMessageId(), 1u);
  EXPECT_EQ(Load("[Log]\ndefaultMessageId=7x\n").GetDefaultMessageId(), 7u);
}

TEST_F(LoggerConfigurationTest, ThresholdIsTheLoggersKeyElseTheDefaultLevel) {
  const auto configuration =
      Load("[Log]\ndefaultLogLevel=INFO\nCorvane::Client::Connection=DEBUG\n"
           "Corvane::Client::Tarnlink=Info\nCorvane::Client::SocketServer=WARN\n");
  EXPECT_EQ(configuration.ThresholdOf(L"Corvane::Client::Connection"), LogLevel::Debug);
  EXPECT_EQ(configuration.ThresholdOf(L"Corvane::Client::XmlValidator"), LogLevel::Info);
  EXPECT_EQ(configuration.ThresholdOf(L"Corvane::Client::SocketServer"), LogLevel::Warning);
  // Level words are case-sensitive: anything but DEBUG, INFO, WARN is error.
  EXPECT_EQ(configuration.ThresholdOf(L"Corvane::Client::Tarnlink"), LogLevel::Error);
  EXPECT_EQ(LogLevelOfWord(L"ERROR"), LogLevel::Error);
  EXPECT_EQ(LogLevelOfWord(L"debug"), LogLevel::Error);
}

TEST_F(LoggerConfigurationTest, ThresholdFollowsAnEditedFile) {
  const auto configuration = Load("[Log]\ndefaultLogLevel=ERROR\n");
  // Asked twice: a name's threshold is kept for one reading of the file only.
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(configuration.ThresholdOf(L"Corvane::Client::Connection"), LogLevel::Error);
    EXPECT_EQ(configuration.ThresholdOf(L"Corvane::Client::Tarnlink"), LogLevel::Error);
  }
  scratch_.WriteFile("logger.ini", "[Log]\ndefaultLogLevel=WARN\nCorvane::Client::Connection=DEBUG\n");
  EXPECT_EQ(configuration.ThresholdOf(L"Corvane::Client::Connection"), LogLevel::Debug);
  EXPECT_EQ(configuration.ThresholdOf(L"Corvane::Client::Tarnlink"), LogLevel::Warning);
}

TEST_F(LoggerConfigurationTest, ExplicitIniPathIsReadInsteadOfTheModulesOwn) {
  scratch_.WriteFile("logger.ini", "[Log]\nname=Module\n");
  const auto other = scratch_.WriteFile("other.ini", "[Log]\nname=Other\n");
  const LoggerConfiguration configuration(scratch_.WidePath(), Platform::FromUtf8(other.string()));
  EXPECT_EQ(configuration.GetName(), L"Other");
  EXPECT_EQ(configuration.GetLogFilePath(), scratch_.WidePath() + L"/Other.log");
}

TEST_F(LoggerConfigurationTest, ProcessConfigurationLoadsFromTheEngineModuleDirectory) {
  auto installed = std::make_shared<const LoggerConfiguration>(scratch_.WidePath());
  Testing::ScopedLoggerConfiguration scope(installed);
  EXPECT_EQ(LoggerConfiguration::Current(), installed);
  EXPECT_EQ(LoggerConfiguration::Current(), installed);

  LoggerConfiguration::Install(nullptr);
  const auto loaded = LoggerConfiguration::Current();
  EXPECT_EQ(loaded->GetModuleDirectory(), Platform::EngineModuleDirectory());
  EXPECT_EQ(LoggerConfiguration::Current(), loaded);
}

}  // namespace
}  // namespace Logging
}  // namespace Corvane
