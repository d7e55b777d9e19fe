// What one peer, or many, may hold of the engine: queued replies, connections
// in all and per address, idle file connections, and descriptors.

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Tarnlink.h"
#include "platform/EngineError.h"
#include "protocol/HealthCheckMessage.h"
#include "protocol/XmlDataMessage.h"
#include "support/DescriptorLimit.h"
#include "support/Eventually.h"
#include "support/FreePort.h"
#include "support/LoggingTestSupport.h"
#include "support/TempDir.h"
#include "support/TestPeer.h"
#include "support/TestTiming.h"

namespace Corvane {
namespace Client {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Testing::Eventually;

class PeerLimitsTest : public ::testing::Test {
 protected:
  // An engine whose engine.ini holds `limits` ([Limits] keys).
  void Start(const std::string& limits, int ackTimeout = 5000) {
    module_.WriteFile("engine.ini", "[Limits]\n" + limits);
    fs::copy(fs::path(CORVANE_BIN_DIR) / "dtd", module_.Path() / "dtd",
             fs::copy_options::recursive);
    engine_ = std::make_unique<Tarnlink>(module_.WidePath());
    server_port_ = Testing::FreeTcpPort();
    file_port_ = Testing::FreeTcpPort();
    ack_timeout_ = ackTimeout;
    StartAgain();
  }
  // Starts the same engine on the same ports.
  void StartAgain() {
    engine_->Start(L"client-id", L"Client", L"239.1.2.3", 45599, server_port_, 15000, false,
                   Testing::Scaled(ack_timeout_), 60000, file_port_,
                   (module_.Path() / "files").wstring());
  }
  ~PeerLimitsTest() override {
    peers_.clear();
    if (engine_) engine_->Stop();
  }

  std::size_t Applications() { return engine_->GetApplications()->size(); }

  Testing::LogCapture log_;
  Testing::TempDir module_;
  std::unique_ptr<Tarnlink> engine_;
  int server_port_ = 0;
  int file_port_ = 0;
  int ack_timeout_ = 0;
  std::vector<std::unique_ptr<Testing::TestPeer>> peers_;
};

// A peer that sends health checks but never reads their answers is closed
// once the answers waiting for it pass the write limit, and the engine runs on.
TEST_F(PeerLimitsTest, APeerThatDoesNotReadIsClosedAtTheWriteLimit) {
  Start("MaxQueuedKiB=64\n", /*ackTimeout=*/1000);
  Testing::TestPeer stuck(server_port_);
  stuck.SendConnect(u"stuck");
  ASSERT_EQ(stuck.ReadChars(140).size(), 140u);  // and never reads again
  ASSERT_TRUE(Eventually([&] { return Applications() == 1; }));
  const std::u16string check = HealthCheckMessage().ToString();
  std::u16string batch;
  for (int i = 0; i < 1000; ++i) batch += check;
  // Bounded: far more answers than socket buffers and the limit hold.
  for (int i = 0; i < 200 && Applications() == 1; ++i) {
    if (!stuck.SendBytes(std::string(reinterpret_cast<const char*>(batch.data()),
                                     batch.size() * sizeof(char16_t)))) {
      break;
    }
  }
  EXPECT_TRUE(Eventually([&] { return Applications() == 0; }));
  EXPECT_TRUE(engine_->IsStarted());
  // By the write limit, or by the write timeout if the system's buffers
  // are slow to fill.
  EXPECT_GE(log_.Count(L"Closing a connection: "), 1);
}

TEST_F(PeerLimitsTest, ConnectionsAreCappedInAllAndPerAddress) {
  Start("MaxConnections=3\nMaxConnectionsPerAddress=2\n");
  for (const char16_t* id : {u"a", u"b"}) {
    peers_.push_back(std::make_unique<Testing::TestPeer>(server_port_));
    ASSERT_TRUE(peers_.back()->HandShake(id));
  }
  // A third from the same address is closed at once, without an answer.
  Testing::TestPeer third(server_port_);
  third.SendConnect(u"c");
  EXPECT_TRUE(third.WaitForClose());
  EXPECT_EQ(Applications(), 2u);
  Testing::TestPeer fourth(file_port_);
  EXPECT_TRUE(fourth.WaitForClose());
  EXPECT_EQ(log_.Count(L"Refused a connection from 127.0.0.1"), 1);  // once per interval

  // A place freed is a place taken again.
  peers_.pop_back();
  ASSERT_TRUE(Eventually([&] { return Applications() == 1; }));
  peers_.push_back(std::make_unique<Testing::TestPeer>(server_port_));
  EXPECT_TRUE(peers_.back()->HandShake(u"d"));
}

// The refusal line is logged once per address and interval, and a restart
// with the same interval does not start the interval again.
TEST_F(PeerLimitsTest, ARestartDoesNotLogTheSameRefusalAgain) {
  Start("MaxConnectionsPerAddress=1\n");
  for (int run = 0; run < 2; ++run) {
    if (run == 1) {
      peers_.clear();
      engine_->Stop();
      StartAgain();
      ASSERT_TRUE(engine_->IsStarted());
    }
    peers_.push_back(std::make_unique<Testing::TestPeer>(server_port_));
    ASSERT_TRUE(peers_.back()->HandShake(u"a"));
    Testing::TestPeer refused(server_port_);
    refused.SendConnect(u"b");
    EXPECT_TRUE(refused.WaitForClose());
    EXPECT_EQ(log_.Count(L"Refused a connection from 127.0.0.1"), 1) << "run " << run;
  }
}

// Frames being read share one memory budget: two peers each holding most of
// an unfinished XMLDATA fit, a third that would pass the budget is closed
// (-113) and the others go on; a frame finished gives its part back.
TEST_F(PeerLimitsTest, FramesBeingReadShareOneMemoryBudget) {
  Start("MaxBodyMemoryMiB=1\n");
  const std::u16string frame = XmlDataMessage(std::u16string(300 * 1024, u'x')).ToString();
  const auto sendPart = [](Testing::TestPeer& peer, const std::u16string& text) {
    return peer.SendBytes(
        std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t)));
  };
  // What the engine has read from the application `id`, and how many XMLDATA.
  const auto received = [&](const std::wstring& id, bool xml) -> std::uint64_t {
    for (const auto& health : engine_->GetApplicationHealth()) {
      if (health.application.id == id) return xml ? health.xmlReceived : health.bytesReceived;
    }
    return 0;
  };
  for (const char16_t* id : {u"a", u"b", u"c"}) {
    peers_.push_back(std::make_unique<Testing::TestPeer>(server_port_));
    ASSERT_TRUE(peers_.back()->HandShake(id));
  }
  // The engine reads a body in pieces of 64 Ki characters: 2 x 384 KiB held
  // of what each sent is within the budget.
  const std::size_t held = 200 * 1024;
  ASSERT_TRUE(sendPart(*peers_[0], frame.substr(0, held)));
  ASSERT_TRUE(sendPart(*peers_[1], frame.substr(0, held)));
  ASSERT_TRUE(Eventually([&] { return received(L"a", false) >= 384 * 1024 && received(L"b", false) >= 384 * 1024;
  }));
  // A third's third piece would pass 1 MiB.
  ASSERT_TRUE(sendPart(*peers_[2], frame.substr(0, frame.size() - 10)));
  EXPECT_TRUE(peers_[2]->WaitForClose());
  EXPECT_TRUE(Eventually([&] { return Applications() == 2; }));
  EXPECT_EQ(log_.Count(L"The memory for frames being read (1 MiB) is used up"), 1);

  // The first two finish their frames; the budget is whole again.
  ASSERT_TRUE(sendPart(*peers_[0], frame.substr(held)));
  ASSERT_TRUE(sendPart(*peers_[1], frame.substr(held)));
  EXPECT_TRUE(Eventually([&] { return received(L"a", true) == 1 && received(L"b", true) == 1; }));
  peers_.push_back(std::make_unique<Testing::TestPeer>(server_port_));
  ASSERT_TRUE(peers_.back()->HandShake(u"d"));
  ASSERT_TRUE(sendPart(*peers_.back(), frame));
  EXPECT_TRUE(Eventually([&] { return received(L"d", true) == 1; }));
  EXPECT_EQ(Applications(), 3u);
}

TEST_F(PeerLimitsTest, AnIdleFileConnectionIsClosed) {
  Start("FileIdleTimeout=200\n");
  Testing::TestPeer idle(file_port_);
  ASSERT_TRUE(idle.HandShake(u"files"));
  EXPECT_TRUE(idle.WaitForClose());
  EXPECT_GE(log_.Count(L"idle for 200 ms"), 1);
}

using Testing::DescriptorLimit;

// Out of descriptors, the engine keeps listening, refuses what it cannot take,
// and reports a send that cannot read its grammar as a send failure, not as
// invalid XML; once descriptors are free again, peers are served.
TEST_F(PeerLimitsTest, RunningOutOfDescriptorsNeitherEndsTheRunNorMisreports) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer runtimes need descriptors of their own";
#endif
  Start("");
  Testing::TestPeer listed(server_port_);
  ASSERT_TRUE(listed.HandShake(u"listed"));
  ASSERT_TRUE(Eventually([&] { return Applications() == 1; }));
  {
    DescriptorLimit limit;
    rlimit low{};
    ::getrlimit(RLIMIT_NOFILE, &low);
    low.rlim_cur = std::min<rlim_t>(low.rlim_cur, 4096);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    limit.LeaveOnly(0);
    try {
      engine_->SendData(
          L"<?xml version=\"1.0\"?><!DOCTYPE message SYSTEM \"corvane-message.dtd\">"
          L"<message id=\"m1\"><sender>client</sender><body>hello</body></message>");
      ADD_FAILURE() << "sent without descriptors";
    } catch (const EngineError& e) {
      EXPECT_EQ(e.GetCode(), -111);
      EXPECT_NE(e.GetMessage().find(L"no file descriptors"), std::wstring::npos);
    }
    limit.LeaveOnly(1);  // one for the peer's end; none for the engine's
    std::unique_ptr<Testing::TestPeer> refused;
    try {
      refused = std::make_unique<Testing::TestPeer>(server_port_, 2s);
    } catch (const std::exception&) {
    }
    if (refused) {
      EXPECT_TRUE(refused->WaitForClose());
    }
    EXPECT_TRUE(Eventually([&] { return log_.Count(L"Out of descriptors") >= 1; }));
    refused.reset();
    limit.Free();
  }
  EXPECT_TRUE(engine_->IsStarted());
  Testing::TestPeer later(server_port_);
  EXPECT_TRUE(later.HandShake(u"later"));

  // A grammar once read is kept: sending then needs no descriptor beyond
  // the peers' own. (Where a grammar file cannot be watched, one changed
  // within the last second is read at every use, so the copy made by Start
  // settles first.)
  const std::wstring xml =
      L"<?xml version=\"1.0\"?><!DOCTYPE message SYSTEM \"corvane-message.dtd\">"
      L"<message id=\"m2\"><sender>client</sender><body>hello</body></message>";
  ASSERT_TRUE(Eventually([&] { return Applications() == 2; }));
  const fs::path dtd = module_.Path() / "dtd" / "corvane-message.dtd";
  ASSERT_TRUE(Eventually(
      [&] {
        struct stat status {};
        return ::stat(dtd.c_str(), &status) == 0 && ::time(nullptr) - status.st_ctime >= 2;
      },
      5s));
  EXPECT_NO_THROW(engine_->SendData(xml));
  DescriptorLimit limit;
  limit.LeaveOnly(0);
  EXPECT_NO_THROW(engine_->SendData(xml));
  limit.Free();
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
