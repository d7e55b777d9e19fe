// The engine library as a host sees it: loaded at run time, reached only
// through GetConnector and the get_<Method>_method exports.

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <regex>

#include "QuellorHost.h"
#include "support/FreePort.h"
#include "support/TempDir.h"

namespace Corvane {
namespace Testing {
namespace {

namespace Methods = Client::QuellorMethods;
using Client::Quellor;
using Client::QuellorException;

class QuellorHostTest : public ::testing::Test {
 protected:
  void Load() {
    host_ = std::make_unique<QuellorHost>(module_.Path());
    engine_ = host_->GetConnector();
    ASSERT_NE(engine_, nullptr);
  }

  void Start(int groupPort = 45599) {
    host_->Get<Methods::Start>("Start")(engine_, L"client-id", L"Client", L"239.1.2.3", groupPort,
                                        FreeTcpPort(), 15000, false, 30000, 60000, FreeTcpPort(),
                                        (module_.Path() / "files").wstring());
  }

  TempDir module_;
  std::unique_ptr<QuellorHost> host_;
  Quellor* engine_ = nullptr;
};

TEST_F(QuellorHostTest, EveryEntryPointIsExported) {
  Load();
  for (const char* name : {"GetConnectorType", "Start", "Stop", "IsStarted", "SetListener",
                           "ClearListener", "IsHailing", "Register", "Unregister", "SendData",
                           "GetApplications"}) {
    EXPECT_NO_THROW(host_->Symbol(std::string("get_") + name + "_method")) << name;
  }
  EXPECT_EQ(host_->GetConnector(), engine_);
}

TEST_F(QuellorHostTest, EachExportReachesItsOperation) {
  Load();
  EXPECT_EQ(host_->Get<Methods::GetConnectorType>("GetConnectorType")(engine_), L"Tarnlink");

  const std::wstring id = host_->Get<Methods::Register>("Register")(engine_);
  EXPECT_TRUE(std::regex_match(
      id, std::wregex(L"[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")));
  host_->Get<Methods::Unregister>("Unregister")(engine_, id);

  struct Listener : Client::QuellorListener {
    void OnError(int, const std::wstring&) override {}
    void OnMessageReceived(const std::wstring&) override {}
    void OnFileReceived(const std::wstring&) override {}
  } listener;
  host_->Get<Methods::SetListener>("SetListener")(engine_, &listener);

  auto isStarted = host_->Get<Methods::IsStarted>("IsStarted");
  EXPECT_FALSE(isStarted(engine_));
  Start();
  EXPECT_TRUE(isStarted(engine_));
  EXPECT_FALSE(host_->Get<Methods::IsHailing>("IsHailing")(engine_));
  EXPECT_TRUE(host_->Get<Methods::GetApplications>("GetApplications")(engine_)->empty());
  try {
    host_->Get<Methods::SendData>("SendData")(engine_, L"<a/>");
    ADD_FAILURE() << "SendData without applications succeeded";
  } catch (const QuellorException& e) {
    EXPECT_EQ(e.GetCode(), -110);
  }
  host_->Get<Methods::Stop>("Stop")(engine_);
  EXPECT_FALSE(isStarted(engine_));
  host_->Get<Methods::ClearListener>("ClearListener")(engine_);
}

TEST_F(QuellorHostTest, FailedChecksAreCaughtByReference) {
  Load();
  try {
    Start(0);
    FAIL() << "Start accepted group port 0";
  } catch (const QuellorException& e) {
    EXPECT_EQ(e.GetCode(), -119);
    EXPECT_EQ(e.GetMessage(), L"Group port must be between 1 and 65535");
    EXPECT_STREQ(e.what(), "Group port must be between 1 and 65535");
  }
  // Caught as the standard exception too.
  try {
    Start(70000);
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Group port must be between 1 and 65535");
  }
  EXPECT_FALSE(host_->Get<Methods::IsStarted>("IsStarted")(engine_));
}

// A host that calls the members on the engine pointer, not through the
// exported addresses, catches the same QuellorException.
TEST_F(QuellorHostTest, MembersCalledOnThePointerThrowTheHostsException) {
  Load();
  try {
    engine_->Start(L"id", L"name", L"239.255.42.99", 45000, 0, 1000, false, 1000, 1000, 45001,
                   L"");
    FAIL() << "Start accepted server port 0";
  } catch (const QuellorException& e) {
    EXPECT_EQ(e.GetCode(), -120);
    EXPECT_EQ(e.GetMessage(), L"Server port must be between 1 and 65535");
  }
  try {
    engine_->SendData(L"<a/>");
    FAIL() << "SendData without applications succeeded";
  } catch (const QuellorException& e) {
    EXPECT_EQ(e.GetCode(), -110);
    EXPECT_EQ(e.GetMessage(), L"No applications currently connected");
  }
}

TEST_F(QuellorHostTest, UnloadingAStartedEngineStopsIt) {
  Load();
  Start();
  host_.reset();  // dlclose deletes the engine, which stops it
  Load();
  EXPECT_FALSE(host_->Get<Methods::IsStarted>("IsStarted")(engine_));
}

TEST_F(QuellorHostTest, LoadingAndUnloadingAgainLeavesNoDescriptorOpen) {
  // Grammars and logger.ini are watched while the library is loaded; the
  // watches, like everything else, go with it.
  module_.WriteFile("logger.ini", "[Log]\ntype=FILE\nname=Engine\n");
  auto open = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
  };
  const auto before = open();
  for (int round = 0; round < 3; ++round) {
    Load();
    Start();
    try {
      host_->Get<Methods::SendData>("SendData")(
          engine_, L"<?xml version=\"1.0\"?><!DOCTYPE message SYSTEM \"corvane-message.dtd\">"
                   L"<message id=\"m\"><sender>s</sender><body>b</body></message>");
    } catch (const QuellorException&) {
      // No application is connected: validated, then refused.
    }
    host_.reset();
  }
  EXPECT_EQ(before, open());
}

TEST_F(QuellorHostTest, LogFileBesideTheLibraryShowsStartAndStop) {
  module_.WriteFile("logger.ini", "[Log]\ntype=FILE\nname=Engine\ndefaultLogLevel=DEBUG\n");
  Load();
  Start();
  host_->Get<Methods::Stop>("Stop")(engine_);
  const std::string log = ReadFile(module_.Path() / "Engine.log");
  const std::regex line(
      R"(\[(DEBUG|INFO)\] \d{4}-\d{2}-\d{2}:\d{2}:\d{2}:\d{2}\.[ \d]{3}[-\d]\d{4} Corvane::Client::\w+ - )");
  for (const char* text :
       {"Tarnlink::Start clearing the temp directory", "Tarnlink::Start starting service thread",
        "Tarnlink::Start finished starting service thread", "Start - starting io_service",
        "Stop - service_thread is not null", "Stop - Waiting for service_thread shutdown",
        "Stop - Cleaning up", "Stop - Stop completed."}) {
    EXPECT_NE(log.find(std::string(" - ") + text + "\n"), std::string::npos) << text << "\n" << log;
  }
  std::istringstream lines(log);
  for (std::string l; std::getline(lines, l);) {
    EXPECT_TRUE(std::regex_search(l, line)) << l;
  }
}

}  // namespace
}  // namespace Testing
}  // namespace Corvane
