#include "engine/EngineSettings.h"
#include "platform/EngineError.h"

#include <gtest/gtest.h>

#include "interface/Quellor.h"
#include "support/TempDir.h"

namespace Corvane {
namespace Client {
namespace {

using Testing::TempDir;

// The arguments of one Start call, valid unless a test changes them.
struct StartArguments {
  std::wstring applicationId = L"client-id";
  std::wstring applicationName = L"Client";
  std::wstring groupAddress = L"228.11.11.11";
  int groupPort = 45599;
  int serverPort = 45500;
  int hailingInterval = 15000;
  bool usingHailingServer = true;
  int ackTimeout = 30000;
  int healthCheckInterval = 60000;
  int filePort = 45501;
  std::wstring fileDirectory;
};

class EngineSettingsTest : public ::testing::Test {
 protected:
  EngineSettingsTest() { arguments_.fileDirectory = directory_.WidePath(); }

  void Apply() {
    const auto& a = arguments_;
    settings_.Apply(a.applicationId, a.applicationName, a.groupAddress, a.groupPort,
                    a.serverPort, a.hailingInterval, a.usingHailingServer, a.ackTimeout,
                    a.healthCheckInterval, a.filePort, a.fileDirectory);
  }

  // Applies the arguments and returns the failure's code and text.
  std::pair<int, std::wstring> Failure() {
    try {
      Apply();
    } catch (const EngineError& e) {
      return {e.GetCode(), e.GetMessage()};
    }
    ADD_FAILURE() << "Apply did not throw";
    return {0, L""};
  }

  TempDir directory_;
  StartArguments arguments_;
  EngineSettings settings_;
};

TEST_F(EngineSettingsTest, InitialValuesAreTheDefaults) {
  EXPECT_EQ(settings_.ApplicationId, L"");
  EXPECT_EQ(settings_.ApplicationName, L"<undefined>");
  EXPECT_EQ(settings_.GroupAddress, L"228.11.11.11");
  EXPECT_EQ(settings_.GroupPort, 45599);
  EXPECT_EQ(settings_.ServerPort, 45500);
  EXPECT_EQ(settings_.HailingInterval, std::chrono::milliseconds(15000));
  EXPECT_TRUE(settings_.UsingHailingServer);
  EXPECT_EQ(settings_.AckTimeout, std::chrono::milliseconds(30000));
  EXPECT_EQ(settings_.HealthCheckInterval, std::chrono::milliseconds(60000));
  EXPECT_EQ(settings_.FilePort, 45501);
}

TEST_F(EngineSettingsTest, ValidArgumentsAreAllStored) {
  arguments_ = {L"id", L"name", L"239.1.2.3", 1, 2, 3, false, 4, 5, 6, directory_.WidePath()};
  Apply();
  EXPECT_EQ(settings_.ApplicationId, L"id");
  EXPECT_EQ(settings_.ApplicationName, L"name");
  EXPECT_EQ(settings_.GroupAddress, L"239.1.2.3");
  EXPECT_EQ(settings_.GroupPort, 1);
  EXPECT_EQ(settings_.ServerPort, 2);
  EXPECT_EQ(settings_.HailingInterval, std::chrono::milliseconds(3));
  EXPECT_FALSE(settings_.UsingHailingServer);
  EXPECT_EQ(settings_.AckTimeout, std::chrono::milliseconds(4));
  EXPECT_EQ(settings_.HealthCheckInterval, std::chrono::milliseconds(5));
  EXPECT_EQ(settings_.FilePort, 6);
  EXPECT_EQ(settings_.FileDirectory, directory_.WidePath());
}

TEST_F(EngineSettingsTest, EveryCheckHasItsCodeAndText) {
  struct Case {
    void (*breakIt)(StartArguments&);
    int code;
    std::wstring text;
  };
  const Case cases[] = {
      {[](StartArguments& a) { a.applicationId = L""; }, -114,
       L"Application ID must be provided to start"},
      {[](StartArguments& a) { a.applicationName = L""; }, -115,
       L"Application Name must be provided to start"},
      {[](StartArguments& a) { a.groupAddress = L"240.0.0.1"; }, -122, L"Group address is not valid"},
      {[](StartArguments& a) { a.groupPort = 0; }, -119, L"Group port must be between 1 and 65535"},
      {[](StartArguments& a) { a.groupPort = 65536; }, -119,
       L"Group port must be between 1 and 65535"},
      {[](StartArguments& a) { a.serverPort = -1; }, -120,
       L"Server port must be between 1 and 65535"},
      {[](StartArguments& a) { a.hailingInterval = 0; }, -121,
       L"Hailing interval must be greater than zero"},
      {[](StartArguments& a) { a.ackTimeout = 0; }, -116, L"Attempted to set ACK Timeout less than 1"},
      {[](StartArguments& a) { a.healthCheckInterval = -5; }, -117,
       L"Attempted to set Health Check Interval less than 1"},
      {[](StartArguments& a) { a.filePort = 0; }, -125, L"File port must be between 1 and 65535"},
      {[](StartArguments& a) { a.filePort = a.serverPort; }, -125,
       L"The file port cannot be the same as the server port"},
  };
  for (const auto& c : cases) {
    StartArguments saved = arguments_;
    c.breakIt(arguments_);
    auto [code, text] = Failure();
    EXPECT_EQ(code, c.code) << std::string(text.begin(), text.end());
    EXPECT_EQ(text, c.text);
    arguments_ = saved;
  }
}

TEST_F(EngineSettingsTest, ChecksRunInOrderAndKeepEarlierValues) {
  arguments_.groupPort = 1234;
  arguments_.ackTimeout = 0;
  arguments_.healthCheckInterval = 0;
  EXPECT_EQ(Failure().first, -116);
  EXPECT_EQ(settings_.GroupPort, 1234);
  EXPECT_EQ(settings_.HailingInterval, std::chrono::milliseconds(15000));
  EXPECT_EQ(settings_.HealthCheckInterval, std::chrono::milliseconds(60000));

  // Two bad values: the earlier check reports.
  arguments_.applicationName = L"";
  arguments_.serverPort = 0;
  EXPECT_EQ(Failure().first, -115);
}

TEST_F(EngineSettingsTest, FilePortRangeIsCheckedBeforeTheComparison) {
  arguments_.serverPort = 45500;
  arguments_.filePort = 45500;
  EXPECT_EQ(Failure().second, L"The file port cannot be the same as the server port");
  arguments_.filePort = 0;
  EXPECT_EQ(Failure().second, L"File port must be between 1 and 65535");
}

TEST_F(EngineSettingsTest, IdAndNameAreCutNotTrimmed) {
  arguments_.applicationId = std::wstring(40, L'i');
  arguments_.applicationName = std::wstring(31, L'n');
  Apply();
  EXPECT_EQ(settings_.ApplicationId, std::wstring(36, L'i'));
  EXPECT_EQ(settings_.ApplicationName, std::wstring(30, L'n'));

  arguments_.applicationId = std::wstring(40, L' ');
  Apply();
  EXPECT_EQ(settings_.ApplicationId, std::wstring(36, L' '));

  // Widths are UTF-16 units, and a surrogate pair is never split.
  const std::wstring clef(1, L'\U0001D11E');
  arguments_.applicationId = std::wstring(35, L'i') + clef;
  arguments_.applicationName = std::wstring(14, clef[0]) + L"nn" + clef;
  Apply();
  EXPECT_EQ(settings_.ApplicationId, std::wstring(35, L'i'));
  EXPECT_EQ(settings_.ApplicationName, std::wstring(14, clef[0]) + L"nn");
}

TEST_F(EngineSettingsTest, GroupAddressRule) {
  for (const wchar_t* good : {L"224.0.0.1", L"239.255.255.255", L"239.001.02.3", L"224.00.0.0"}) {
    arguments_.groupAddress = good;
    EXPECT_NO_THROW(Apply()) << good;
    EXPECT_EQ(settings_.GroupAddress, good);
  }
  // Octets are decimal where a socket reads the address.
  EXPECT_EQ(EngineSettings::DecimalGroupAddress(L"239.001.02.3"), "239.1.2.3");
  EXPECT_EQ(EngineSettings::DecimalGroupAddress(L"224.00.0.010"), "224.0.0.10");
  for (const wchar_t* bad : {L"240.0.0.1", L"224.0.0.0", L"223.255.255.255", L"239.1.2",
                             L"239.1.2.256", L"239.1.2.3.4", L"239.1.2.0003", L"", L"abc"}) {
    arguments_.groupAddress = bad;
    EXPECT_EQ(Failure().first, -122) << std::string(bad, bad + wcslen(bad));
  }
}

TEST_F(EngineSettingsTest, GroupAddressIsStoredTrimmed) {
  arguments_.groupAddress = L" 239.1.2.3 ";
  Apply();
  EXPECT_EQ(settings_.GroupAddress, L"239.1.2.3");
  arguments_.groupAddress = L"\t239.1.2.4\n";
  Apply();
  EXPECT_EQ(settings_.GroupAddress, L"239.1.2.4");
}

TEST_F(EngineSettingsTest, MissingFileDirectoryIsCreatedButNotItsParents) {
  const auto child = directory_.Path() / "files";
  arguments_.fileDirectory = child.wstring();
  Apply();
  EXPECT_TRUE(std::filesystem::is_directory(child));
  EXPECT_EQ(settings_.FileDirectory, child.wstring());

  const auto deep = directory_.Path() / "a" / "b";
  arguments_.fileDirectory = deep.wstring();
  auto [code, text] = Failure();
  EXPECT_EQ(code, -126);
  EXPECT_EQ(text.rfind(L"The FileDirectory is not valid.  " + deep.wstring() + L" ", 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(deep));
}

TEST_F(EngineSettingsTest, FileDirectoryThatIsAFileIsRefused) {
  const auto file = directory_.WriteFile("plain", "x");
  arguments_.fileDirectory = file.wstring();
  auto [code, text] = Failure();
  EXPECT_EQ(code, -126);
  EXPECT_EQ(text, L"The FileDirectory is not valid.  " + file.wstring());
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
