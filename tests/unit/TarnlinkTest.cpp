#include "engine/Tarnlink.h"
#include "platform/EngineError.h"

#include <filesystem>
#include <regex>

#include <gtest/gtest.h>

#include "platform/TextConversion.h"
#include "support/FreePort.h"
#include "support/LoggingTestSupport.h"
#include "support/TempDir.h"
#include "platform/FileLock.h"

#include <set>

namespace Corvane {
namespace Client {
namespace {

using Testing::TempDir;

std::size_t ThreadCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    ++count;
  }
  return count;
}

class TarnlinkTest : public ::testing::Test {
 protected:
  TarnlinkTest() : engine_(module_.WidePath()) {}

  void StartEngine(int groupPort = 45599) {
    engine_.Start(L"client-id", L"Client", L"239.1.2.3", groupPort, Testing::FreeTcpPort(), 15000,
                  false, 30000, 60000, Testing::FreeTcpPort(), (module_.Path() / "files").wstring());
  }

  TempDir module_;
  Tarnlink engine_;
};

TEST_F(TarnlinkTest, ConnectorTypeIsFixed) {
  EXPECT_EQ(engine_.GetConnectorType(), L"Tarnlink");
  StartEngine();
  EXPECT_EQ(engine_.GetConnectorType(), L"Tarnlink");
}

TEST_F(TarnlinkTest, RegisterHandsOutFreshVersion4Uuids) {
  const std::wregex pattern(L"[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  const std::wstring first = engine_.Register();
  const std::wstring second = engine_.Register();
  EXPECT_TRUE(std::regex_match(first, pattern)) << Platform::ToUtf8(first);
  EXPECT_TRUE(std::regex_match(second, pattern)) << Platform::ToUtf8(second);
  EXPECT_NE(first, second);
  engine_.Unregister(first);
  engine_.Unregister(L"anything at all");
}

TEST_F(TarnlinkTest, DefaultFileDirectoryIsBesideTheModule) {
  EXPECT_EQ(engine_.GetSettings().FileDirectory, module_.WidePath() + L"/files");
  EXPECT_EQ(engine_.GetTempDirectory(), module_.WidePath() + L"/temp");
}

TEST_F(TarnlinkTest, StartAndStop) {
  EXPECT_FALSE(engine_.IsStarted());
  StartEngine();
  EXPECT_TRUE(engine_.IsStarted());
  EXPECT_FALSE(engine_.IsHailing());
  engine_.Stop();
  EXPECT_FALSE(engine_.IsStarted());
  engine_.Stop();
  EXPECT_FALSE(engine_.IsStarted());
}

TEST_F(TarnlinkTest, StartWhileStartedIgnoresItsArguments) {
  StartEngine(1111);
  StartEngine(2222);
  EXPECT_TRUE(engine_.IsStarted());
  EXPECT_EQ(engine_.GetSettings().GroupPort, 1111);
}

TEST_F(TarnlinkTest, FailedStartLeavesTheEngineIdle) {
  EXPECT_THROW(engine_.Start(L"id", L"name", L"239.1.2.3", 2000, 45500, 15000, false, 0, 60000,
                             45501, module_.WidePath()),
               EngineError);
  EXPECT_FALSE(engine_.IsStarted());
  EXPECT_EQ(engine_.GetSettings().GroupPort, 2000);
}

// Without its own directory the engine would clear temp/ wherever it runs.
TEST(TarnlinkModuleDirectoryTest, AnEngineThatDoesNotKnowItsDirectoryDoesNotStart) {
  for (const std::wstring& directory : {std::wstring(L"."), std::wstring(L"relative/dir")}) {
    Tarnlink engine(directory);
    try {
      engine.Start(L"id", L"name", L"239.1.2.3", 45599, Testing::FreeTcpPort(), 15000, false,
                   30000, 60000, Testing::FreeTcpPort(), L"/tmp/corvane-unused");
      ADD_FAILURE() << "started in " << Platform::ToUtf8(directory);
    } catch (const EngineError& e) {
      EXPECT_EQ(e.GetCode(), -131);
    }
    EXPECT_FALSE(engine.IsStarted());
  }
}

// Start clears what no running engine owns: loose leftovers and the
// directories of engines that are gone. Another process's engine, whose
// lock is held, keeps its files under way.
TEST_F(TarnlinkTest, StartClearsTheTempDirectoryButNotAnotherRunningEngines) {
  namespace fs = std::filesystem;
  const auto temp = module_.Path() / "temp";
  module_.WriteFile("temp/one.bin", "1");
  module_.WriteFile("temp/sub/two.bin", "2");
  module_.WriteFile("temp/run-1-gone/old.bin", "3");
  module_.WriteFile("temp/run-1-gone.lock", "");
  module_.WriteFile("temp/run-2-alive/busy.bin", "4");
  const auto alive = Platform::FileLock::TryLock((temp / "run-2-alive.lock").string());
  ASSERT_TRUE(alive);
  StartEngine();
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(temp)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("run-2-", 0) == 0 || name.rfind("run-1-", 0) == 0 || name.rfind("run-", 0) != 0) {
      left.insert(name);
    }
  }
  EXPECT_EQ(left, (std::set<std::string>{"run-2-alive", "run-2-alive.lock"}));
  EXPECT_TRUE(fs::exists(temp / "run-2-alive" / "busy.bin"));
  // And this engine holds a directory of its own, with its lock.
  int own = 0;
  for (const auto& entry : fs::directory_iterator(temp)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("run-", 0) == 0 && left.count(name) == 0) ++own;
  }
  EXPECT_EQ(own, 2);
}

// Here the temp path cannot be resolved (the module directory is a link to
// itself): permissions cannot make a removal fail for a privileged test run.
TEST_F(TarnlinkTest, TempDirectoryThatCannotBeClearedIsLoggedAndStartGoesOn) {
  const auto loop = module_.Path() / "loop";
  std::filesystem::create_directory_symlink("loop", loop);
  Testing::LogCapture log;
  Tarnlink engine(loop.wstring());
  engine.Start(L"client-id", L"Client", L"239.1.2.3", 45599, Testing::FreeTcpPort(), 15000, false,
               30000, 60000, Testing::FreeTcpPort(), (module_.Path() / "files").wstring());
  EXPECT_TRUE(engine.IsStarted());
  EXPECT_EQ(1, log.Count(L"Start could not claim a temporary directory: "));
  EXPECT_EQ(0, log.Count(L"Start failed."));
}

TEST_F(TarnlinkTest, StartWithoutTempDirectoryWorks) {
  StartEngine();
  EXPECT_TRUE(engine_.IsStarted());
}

TEST_F(TarnlinkTest, SendDataWithoutApplicationsFails) {
  try {
    engine_.SendData(L"<a/>");
    FAIL() << "no exception";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.GetCode(), -110);
    EXPECT_EQ(e.GetMessage(), L"No applications currently connected");
  }
  EXPECT_TRUE(engine_.GetApplications()->empty());
}

// A host that starts and stops in quick succession must leave no thread
// behind, and each Start must work.
TEST_F(TarnlinkTest, QuickStartStopCyclesLeaveNothingRunning) {
  StartEngine();
  engine_.Stop();
  const std::size_t threadsBefore = ThreadCount();
  for (int i = 0; i < 50; ++i) {
    StartEngine();
    ASSERT_TRUE(engine_.IsStarted());
    engine_.Stop();
    ASSERT_FALSE(engine_.IsStarted());
  }
  // Threads that outlived their Stop's bounded wait are joined by the next
  // Start or Stop; one more cycle reaps them all.
  StartEngine();
  engine_.Stop();
  EXPECT_LE(ThreadCount(), threadsBefore + 1);
}

TEST_F(TarnlinkTest, DestroyingAStartedEngineStopsIt) {
  StartEngine();  // threads a sanitizer runtime starts at the first thread
  engine_.Stop();
  const std::size_t threadsBefore = ThreadCount();
  {
    Tarnlink engine(module_.WidePath());
    engine.Start(L"id", L"name", L"239.1.2.3", 45599, Testing::FreeTcpPort(), 15000, false, 30000,
                 60000, Testing::FreeTcpPort(), module_.WidePath());
    EXPECT_TRUE(engine.IsStarted());
  }
  EXPECT_EQ(ThreadCount(), threadsBefore);
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
