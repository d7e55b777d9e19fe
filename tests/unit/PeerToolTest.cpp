// corvane-peer, the vendor-application simulator, run as an integrator runs
// it against an engine: its output, its exit status, and each fault flag as
// the engine sees it.

#include <sys/wait.h>

#include <cstdlib>
#include <future>
#include <thread>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Tarnlink.h"
#include "platform/EngineError.h"
#include "platform/TextConversion.h"
#include "support/Eventually.h"
#include "support/FreePort.h"
#include "support/LoggingTestSupport.h"
#include "support/RecordingListener.h"
#include "support/TempDir.h"
#include "support/TestTiming.h"

namespace Corvane {
namespace Client {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::wstring kValidXml =
    L"<?xml version=\"1.0\"?><!DOCTYPE message SYSTEM \"corvane-message.dtd\">"
    L"<message id=\"m1\"><sender>client</sender><body>hello</body></message>";

struct PeerRun {
  int status = -1;
  std::string output;  // standard output and error together
  bool Has(const std::string& text) const { return output.find(text) != std::string::npos; }
};

class PeerToolTest : public ::testing::Test {
 protected:
  PeerToolTest() : engine_(module_.WidePath()) {
    fs::copy(fs::path(CORVANE_BIN_DIR) / "dtd", module_.Path() / "dtd",
             fs::copy_options::recursive);
    engine_.SetListener(&listener_);
    server_port_ = Testing::FreeTcpPort();
    file_port_ = Testing::FreeTcpPort();
    engine_.Start(L"client-id", L"Client", L"239.1.2.3", 45599, server_port_, 15000, false,
                  Testing::Scaled(1000), Testing::Scaled(200), file_port_, Files().wstring());
  }
  ~PeerToolTest() override {
    engine_.ClearListener();
    engine_.Stop();
  }

  fs::path Files() const { return module_.Path() / "files"; }

  // Runs a shell `command` to its end; its output and exit status.
  static PeerRun Capture(const std::string& command) {
    PeerRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }

  // The command line of corvane-peer connect to this engine.
  std::string PeerCommand(const std::string& arguments) const {
    return std::string(CORVANE_BIN_DIR) + "/corvane-peer connect --host 127.0.0.1 --port " +
           std::to_string(server_port_) + " " + arguments;
  }

  // corvane-peer connect to this engine with `arguments`, to its end.
  PeerRun Peer(const std::string& arguments) { return Capture(PeerCommand(arguments) + " 2>&1"); }

  bool Listed() { return !engine_.GetApplications()->empty(); }

  std::string WriteFile(const std::string& name, const std::string& content) {
    return module_.WriteFile("outbox/" + name, content).string();
  }

  Testing::LogCapture log_;
  Testing::TempDir module_;
  Testing::RecordingListener listener_;
  Tarnlink engine_;
  int server_port_ = 0;
  int file_port_ = 0;
};

TEST_F(PeerToolTest, SendsXmlAndAFileAndPrintsWhatHappened) {
  const std::string xml = WriteFile("m.xml", Platform::ToUtf8(kValidXml));
  const std::string file = WriteFile("report.bin", std::string(50000, 'r'));
  const PeerRun run = Peer("--id tool --json send-xml " + xml + " send-file " + file);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(run.Has("{\"event\":\"connected\"")) << run.output;
  EXPECT_TRUE(run.Has("{\"event\":\"xml_acknowledged\"")) << run.output;
  EXPECT_TRUE(run.Has("{\"event\":\"binack\",\"id\":")) << run.output;
  EXPECT_TRUE(run.Has("\"flag\":1")) << run.output;
  // Not a terminal: plain progress lines.
  EXPECT_TRUE(run.Has("report.bin: 100%")) << run.output;
  EXPECT_TRUE(listener_.WaitForMessages(1));
  EXPECT_EQ(Testing::ReadFile(Files() / "report.bin"), std::string(50000, 'r'));
}

TEST_F(PeerToolTest, AnswersTheEnginesXmlAndHealthChecks) {
  std::thread sender([&] {
    Testing::Eventually([&] { return Listed(); });
    try {
      engine_.SendData(kValidXml);
    } catch (const EngineError&) {
    }
  });
  const PeerRun run = Peer("--id answering --seconds " + std::to_string(Testing::Scaled(1)));
  sender.join();
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(run.Has("xml  id=")) << run.output;
  EXPECT_TRUE(run.Has("health_check  id=")) << run.output;
}

// Each fault flag, as the engine sees it.
TEST_F(PeerToolTest, FaultFlags) {
  const std::string file = WriteFile("f.bin", std::string(30000, 'f'));
  {
    SCOPED_TRACE("--bad-checksum");
    const PeerRun run = Peer("--json --bad-checksum send-file " + file);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(run.Has("Incorrect Checksum")) << run.output;
  }
  {
    SCOPED_TRACE("--reset-mid-file");
    const PeerRun run = Peer("--json --reset-mid-file send-file " + file);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(run.Has("file_reset")) << run.output;
  }
  {
    SCOPED_TRACE("--pieces");
    const std::string xml = WriteFile("p.xml", Platform::ToUtf8(kValidXml));
    const PeerRun run = Peer("--json --pieces 7 send-xml " + xml);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(run.Has("xml_acknowledged")) << run.output;
  }
  {
    SCOPED_TRACE("--no-health-ack: the engine closes the connection");
    const PeerRun run = Peer("--no-health-ack --seconds " + std::to_string(Testing::Scaled(5)));
    EXPECT_TRUE(run.Has("disconnected")) << run.output;
  }
  EXPECT_FALSE(fs::exists(Files() / "f.bin"));
}

// On a terminal the progress is one bar redrawn in place.
TEST_F(PeerToolTest, ShowsAProgressBarOnATerminal) {
  const std::string file = WriteFile("big.bin", std::string(4 * 1024 * 1024, 'b'));
  // script(1) runs it under a pseudo-terminal and copies what it drew.
  const PeerRun run = Capture("script -qefc '" + PeerCommand("send-file " + file) + "' /dev/null 2>&1");
  const std::string& output = run.output;
  EXPECT_EQ(run.status, 0) << output;
  EXPECT_NE(output.find("\rbig.bin ["), std::string::npos) << output;
  EXPECT_NE(output.find("##############################] 100%"), std::string::npos) << output;
  EXPECT_NE(output.find("s left"), std::string::npos) << output;
}

// The answering faults, as the engine's SendData sees them.
TEST_F(PeerToolTest, AnsweringFaultsAsTheEngineSeesThem) {
  const struct {
    const char* flags;
    int expected;  // SendData's outcome: 0 or the code it throws
  } cases[] = {
      {"--no-xml-ack", -111},
      {"--wrong-ack-id", -111},
      {"--ack-delay 200", 0},
      {"--stop-reading", -111},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    auto run = std::async(std::launch::async, [&] {
      return Peer(std::string("--id faulty ") + c.flags + " --seconds " +
                  std::to_string(Testing::Scaled(2)));
    });
    ASSERT_TRUE(Testing::Eventually([&] { return Listed(); }));
    int outcome = 0;
    try {
      engine_.SendData(kValidXml);
    } catch (const EngineError& e) {
      outcome = e.GetCode();
    }
    EXPECT_EQ(outcome, c.expected);
    run.get();
    EXPECT_TRUE(Testing::Eventually([&] { return !Listed(); }));
  }
}

TEST_F(PeerToolTest, UsageErrorsExitWithTwo) {
  EXPECT_EQ(Peer("--protocol-version").status, 2);
  EXPECT_EQ(Peer("--protocol-version x").status, 2);
  EXPECT_EQ(Peer("--no-such-flag").status, 2);
  const std::string command = std::string(CORVANE_BIN_DIR) + "/corvane-peer connect --host 127.0.0.1 --port 1 >/dev/null 2>&1";
  EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 2);  // nothing listens there
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
