#include "connection/XmlDataSendCommand.h"

#include <gtest/gtest.h>

#include <boost/asio/error.hpp>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

#include "support/LoggingTestSupport.h"
#include "engine/EngineErrors.h"
#include "engine/Quellor.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"
#include "support/HeldWriteSocket.h"

namespace Corvane {
namespace Client {
namespace {

using namespace std::chrono_literals;

// The command's wait steps are half a second: a wake-up that went missing
// shows as a Run that takes that long.
constexpr auto kWellWithinAStep = 400ms;

class XmlDataSendCommandTest : public ::testing::Test {
 protected:
  XmlDataSendCommandTest() = default;

  // Runs a command on its own thread; the future gives the failure code (0
  // for success) and how long Run took.
  std::future<std::pair<int, std::chrono::steady_clock::duration>> Start(int ackTimeout,
                                                                        int peerVersion) {
    command_ = std::make_shared<XmlDataSendCommand>(socket_, message_, ackTimeout, peerVersion);
    auto command = command_;
    return std::async(std::launch::async, [command] {
      const auto start = std::chrono::steady_clock::now();
      int code = 0;
      try {
        command->Run();
      } catch (const QuellorException& e) {
        code = e.GetCode();
      }
      return std::make_pair(code, std::chrono::steady_clock::now() - start);
    });
  }

  void Acknowledge() { command_->OnAckReceived(std::make_shared<XmlDataAckMessage>(*message_)); }

  Testing::LogCapture log_{"ERROR"};
  std::shared_ptr<Testing::HeldWriteSocket> socket_ = std::make_shared<Testing::HeldWriteSocket>();
  std::shared_ptr<XmlDataMessage> message_ = std::make_shared<XmlDataMessage>(u"<x/>");
  std::shared_ptr<XmlDataSendCommand> command_;
};

TEST_F(XmlDataSendCommandTest, AcknowledgementAfterTheWriteEndsRunAtOnce) {
  auto run = Start(60000, 1);
  socket_->Complete();
  Acknowledge();
  ASSERT_EQ(std::future_status::ready, run.wait_for(5s));
  const auto result = run.get();
  EXPECT_EQ(0, result.first);
  EXPECT_LT(result.second, kWellWithinAStep);
}

// The frame can reach the peer, and its XMLACK come back, before the write's
// completion handler has run.
TEST_F(XmlDataSendCommandTest, AcknowledgementBeforeTheWriteCompletionEndsRunAtOnce) {
  auto run = Start(60000, 1);
  socket_->WaitForWrite();
  Acknowledge();
  socket_->Complete();
  ASSERT_EQ(std::future_status::ready, run.wait_for(5s));
  const auto result = run.get();
  EXPECT_EQ(0, result.first);
  EXPECT_LT(result.second, kWellWithinAStep);
}

TEST_F(XmlDataSendCommandTest, MissingAcknowledgementFailsOneTimeoutAfterTheWrite) {
  auto run = Start(100, 1);
  socket_->Complete();
  ASSERT_EQ(std::future_status::ready, run.wait_for(5s));
  const auto result = run.get();
  EXPECT_EQ(kNotAcknowledged, result.first);
  EXPECT_GE(result.second, 100ms);
  EXPECT_LT(result.second, kWellWithinAStep);
}

TEST_F(XmlDataSendCommandTest, FailedWriteEndsRunAtOnce) {
  auto run = Start(60000, 1);
  socket_->Complete(boost::asio::error::connection_reset);
  ASSERT_EQ(std::future_status::ready, run.wait_for(5s));
  const auto result = run.get();
  EXPECT_EQ(kSendFailed, result.first);
  EXPECT_LT(result.second, kWellWithinAStep);
}

TEST_F(XmlDataSendCommandTest, VersionTwoPeerNeedsOnlyTheWrite) {
  auto run = Start(60000, 2);
  socket_->Complete();
  ASSERT_EQ(std::future_status::ready, run.wait_for(5s));
  const auto result = run.get();
  EXPECT_EQ(0, result.first);
  EXPECT_LT(result.second, kWellWithinAStep);
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
