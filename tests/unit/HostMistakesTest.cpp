// What a host may get wrong in its listener, and what the engine does about
// it: it goes on.

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Tarnlink.h"
#include "platform/EngineError.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"
#include "support/Eventually.h"
#include "support/FreePort.h"
#include "support/LoggingTestSupport.h"
#include "support/TempDir.h"
#include "support/TestPeer.h"

namespace Corvane {
namespace Client {
namespace {

using namespace std::chrono_literals;
using Testing::Eventually;

class HostMistakesTest : public ::testing::Test {
 protected:
  HostMistakesTest() : engine_(module_.WidePath()) {
    port_ = Testing::FreeTcpPort();
    engine_.Start(L"client-id", L"Client", L"239.1.2.3", 45599, port_, 15000, false, 30000, 60000,
                  Testing::FreeTcpPort(), (module_.Path() / "files").wstring());
  }
  ~HostMistakesTest() override {
    engine_.ClearListener();
    engine_.Stop();
  }

  Testing::LogCapture log_;
  Testing::TempDir module_;
  Tarnlink engine_;
  int port_ = 0;
};

// Throws from every callback: a standard exception first, then something
// that is none.
class ThrowingListener : public QuellorListener {
 public:
  void OnError(int, const std::wstring&) override { throw std::runtime_error("host bug"); }
  void OnMessageReceived(const std::wstring&) override {
    if (++messages % 2 == 1) throw std::runtime_error("host bug");
    throw 42;
  }
  void OnFileReceived(const std::wstring&) override { throw 42; }
  std::atomic<int> messages{0};
};

TEST_F(HostMistakesTest, AThrowingListenerNeitherStopsNorEndsTheEngine) {
  ThrowingListener listener;
  engine_.SetListener(&listener);
  Testing::TestPeer peer(port_);
  ASSERT_TRUE(peer.HandShake());
  for (int i = 0; i < 4; ++i) peer.Send(XmlDataMessage(u"<a/>"));
  ASSERT_TRUE(Eventually([&] { return listener.messages == 4; }));
  // Every message was acknowledged and delivered; the engine runs on.
  EXPECT_TRUE(Eventually([&] { return peer.Count<XmlDataAckMessage>() == 4; }));
  EXPECT_TRUE(engine_.IsStarted());
  EXPECT_EQ(engine_.GetApplications()->size(), 1u);
  // Each kind of exception is logged once.
  EXPECT_EQ(log_.Count(L"The host's listener threw from a callback"), 2);
}

// Replies from inside OnMessageReceived, as a host naturally would.
class ReplyingListener : public QuellorListener {
 public:
  explicit ReplyingListener(Quellor& engine) : engine_(engine) {}
  void OnError(int, const std::wstring&) override {}
  void OnMessageReceived(const std::wstring&) override {
    try {
      engine_.SendData(L"<reply/>");
    } catch (const EngineError& e) {
      std::lock_guard<std::mutex> lock(mutex_);
      codes_.push_back(e.GetCode());
      text_ = e.GetMessage();
    }
  }
  void OnFileReceived(const std::wstring&) override {}
  std::vector<int> Codes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return codes_;
  }

  std::wstring text_;

 private:
  Quellor& engine_;
  std::mutex mutex_;
  std::vector<int> codes_;
};

TEST_F(HostMistakesTest, SendDataFromACallbackFailsAtOnceAndDropsNobody) {
  ReplyingListener listener(engine_);
  engine_.SetListener(&listener);
  Testing::TestPeer peer(port_);
  ASSERT_TRUE(peer.HandShake());
  peer.Send(XmlDataMessage(u"<a/>"));
  ASSERT_TRUE(Eventually([&] { return !listener.Codes().empty(); }));
  EXPECT_EQ(listener.Codes(), std::vector<int>{-130});
  EXPECT_NE(listener.text_.find(L"listener callback"), std::wstring::npos);
  // Refused before anything was written: the peer got no XML and stays.
  EXPECT_EQ(peer.Count<XmlDataMessage>(), 0);
  EXPECT_EQ(engine_.GetApplications()->size(), 1u);
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
