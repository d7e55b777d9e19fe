#include "connection/XmlDataSendCommand.h"
#include "platform/EngineError.h"

#include <gtest/gtest.h>

#include <boost/asio/error.hpp>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <vector>

#include "support/LoggingTestSupport.h"
#include "support/TestTiming.h"
#include "connection/XmlDataAckSendCommand.h"
#include "connection/ListenerSlot.h"
#include "connection/SendGroup.h"
#include "logging/Logger.h"
#include "interface/Quellor.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"
#include "support/HeldWriteSocket.h"
#include "support/RecordingListener.h"

namespace Corvane {
namespace Client {
namespace {

using namespace std::chrono_literals;

// Every wait ends on a wake-up or its deadline: a wake-up that went missing
// shows as a Run that takes longer than this.
constexpr auto kWellWithinAStep = 400ms;

// How a Run ended: whether it threw, the exception's code and text, and how
// long it took.
struct Outcome {
  bool failed = false;
  int code = 0;
  std::wstring text;
  std::chrono::steady_clock::duration took{};
};

class XmlDataSendCommandTest : public ::testing::Test {
 protected:
  XmlDataSendCommandTest() = default;

  // Runs a command on its own thread.
  std::future<Outcome> Start(int ackTimeout, int peerVersion) {
    command_ = std::make_shared<XmlDataSendCommand>(
        socket_, message_, std::chrono::milliseconds(Testing::Scaled(ackTimeout)), peerVersion,
        Logging::CreateLogger(L"Corvane::Client::XmlDataSendCommand"));
    auto command = command_;
    return std::async(std::launch::async, [command] {
      const auto start = std::chrono::steady_clock::now();
      Outcome outcome;
      try {
        command->Run();
      } catch (const EngineError& e) {
        outcome = {true, e.GetCode(), e.GetMessage()};
      }
      outcome.took = std::chrono::steady_clock::now() - start;
      return outcome;
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
  EXPECT_FALSE(result.failed) << result.code;
  EXPECT_LT(result.took, kWellWithinAStep);
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
  EXPECT_FALSE(result.failed) << result.code;
  EXPECT_LT(result.took, kWellWithinAStep);
}

TEST_F(XmlDataSendCommandTest, MissingAcknowledgementFailsOneTimeoutAfterTheWrite) {
  auto run = Start(100, 1);
  socket_->Complete();
  ASSERT_EQ(std::future_status::ready, run.wait_for(5s));
  const auto result = run.get();
  EXPECT_EQ(Platform::ToInt(Errc::kNotAcknowledged), result.code);
  EXPECT_EQ(L"Message was sent but not acknowledged", result.text);
  const std::chrono::milliseconds timeout(Testing::Scaled(100));
  EXPECT_GE(result.took, timeout);
  EXPECT_LT(result.took, timeout + kWellWithinAStep);
}

// The frame is 70 characters, 140 bytes. The text names the shortfall, then
// the socket's error, each after two blanks.
TEST_F(XmlDataSendCommandTest, FailedOrShortWriteEndsRunAtOnceWithItsDescription) {
  const struct {
    boost::system::error_code error;
    std::size_t sent;
    std::wstring text;
  } writes[] = {
      {boost::asio::error::connection_reset, 0,
       L"Failed to send the XML data message.  Expected to send 140 bytes but only sent 0.  "
       L"(104)  connection_reset."},
      {{}, 10, L"Failed to send the XML data message.  Expected to send 140 bytes but only sent 10."},
      {boost::asio::error::connection_reset, 140,
       L"Failed to send the XML data message.  (104)  connection_reset."},
  };
  for (const auto& write : writes) {
    auto run = Start(60000, 1);
    socket_->Complete(write.error, write.sent);
    ASSERT_EQ(std::future_status::ready, run.wait_for(5s));
    const auto result = run.get();
    EXPECT_EQ(Platform::ToInt(Errc::kSendFailed), result.code);
    EXPECT_EQ(write.text, result.text);
    EXPECT_LT(result.took, kWellWithinAStep);
  }
}

// A peer's reset makes the connection close the socket; a write whose
// completion has not come by then ends the wait with no text and code 0.
// The connection ending (its socket closed) while the write is under way
// wakes the waiting caller at once, before the write's aborted completion.
TEST_F(XmlDataSendCommandTest, ConnectionEndedDuringTheWriteEndsRunWithoutADescription) {
  auto run = Start(60000, 1);
  socket_->WaitForWrite();
  socket_->SetOpen(false);
  command_->OnConnectionEnded();
  ASSERT_EQ(std::future_status::ready, run.wait_for(5s));
  const auto result = run.get();
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(0, result.code);
  EXPECT_EQ(L"", result.text);
  EXPECT_EQ(1, log_.CountExactly(L"Send still did not finish after wait loop"));
  // As on a real socket, the closed socket's write ends aborted at last; its
  // handler holds the command, which holds the socket.
  socket_->Complete(boost::asio::error::operation_aborted);
}

TEST_F(XmlDataSendCommandTest, VersionTwoPeerNeedsOnlyTheWrite) {
  auto run = Start(60000, 2);
  socket_->Complete();
  ASSERT_EQ(std::future_status::ready, run.wait_for(5s));
  const auto result = run.get();
  EXPECT_FALSE(result.failed) << result.code;
  EXPECT_LT(result.took, kWellWithinAStep);
}

// A fan-out's group hears once from each command, when Finish could decide
// without waiting, and not before.
TEST(XmlDataSendCommandGroupTest, EachCommandSettlesItsGroupOnceWhenItsOutcomeIsKnown) {
  const auto logger = Logging::CreateLogger(L"Corvane::Client::XmlDataSendCommand");
  const auto soon = [] { return std::chrono::steady_clock::now() + 20ms; };
  std::vector<std::shared_ptr<Testing::HeldWriteSocket>> sockets;
  std::vector<std::shared_ptr<XmlDataMessage>> messages;
  std::vector<std::shared_ptr<XmlDataSendCommand>> commands;
  const auto group = std::make_shared<SendGroup>(4);
  const int versions[] = {1, 1, 2, 1};
  for (int version : versions) {
    sockets.push_back(std::make_shared<Testing::HeldWriteSocket>());
    messages.push_back(std::make_shared<XmlDataMessage>(u"<x/>"));
    commands.push_back(std::make_shared<XmlDataSendCommand>(sockets.back(), messages.back(), std::chrono::milliseconds(60000),
                                                            version, logger, group));
    commands.back()->Start();
  }
  // 0: written and acknowledged, in either order, and acknowledged twice.
  commands[0]->OnAckReceived(std::make_shared<XmlDataAckMessage>(*messages[0]));
  EXPECT_FALSE(group->WaitUntil(soon()));
  sockets[0]->Complete();
  commands[0]->OnAckReceived(std::make_shared<XmlDataAckMessage>(*messages[0]));
  // 1: a failed write settles at once; 2: a version-2 peer needs only the write.
  sockets[1]->Complete(boost::asio::error::connection_reset);
  sockets[2]->Complete();
  // 3: written, then its connection ends before any XMLACK.
  sockets[3]->Complete();
  EXPECT_FALSE(group->WaitUntil(soon()));
  commands[3]->OnConnectionEnded();
  commands[3]->OnConnectionEnded();
  EXPECT_TRUE(group->WaitUntil(soon()));

  // Finish then decides at once, as Run would have.
  const int expected[] = {0, -111, 0, -109};
  for (std::size_t i = 0; i < commands.size(); ++i) {
    int code = 0;
    const auto start = std::chrono::steady_clock::now();
    try {
      commands[i]->Finish();
    } catch (const EngineError& e) {
      code = e.GetCode();
    }
    EXPECT_EQ(expected[i], code) << i;
    EXPECT_LT(std::chrono::steady_clock::now() - start, kWellWithinAStep) << i;
  }
}

// The XMLACK written for a received XMLDATA: the text reaches the host only
// once the whole frame (56 characters, 112 bytes) has been written.
class XmlDataAckSendCommandTest : public ::testing::Test {
 protected:
  XmlDataAckSendCommandTest() { slot_->Set(&listener_); }

  void Run() {
    std::make_shared<XmlDataAckSendCommand>(socket_, received_, slot_, L"Vendor")->Run();
  }

  Testing::LogCapture log_{"DEBUG"};
  Testing::RecordingListener listener_;
  std::shared_ptr<ListenerSlot> slot_ = std::make_shared<ListenerSlot>();
  std::shared_ptr<Testing::HeldWriteSocket> socket_ =
      std::make_shared<Testing::HeldWriteSocket>(/*ioThread=*/true);
  std::shared_ptr<XmlDataMessage> received_ = std::make_shared<XmlDataMessage>(u"<x/>");
};

TEST_F(XmlDataAckSendCommandTest, CompleteWriteDeliversTheXml) {
  Run();
  EXPECT_EQ(socket_->Written(), u"CVNPBDP001XMLACK    " + received_->GetMessageId());
  EXPECT_TRUE(listener_.Messages().empty());
  socket_->Complete();
  EXPECT_EQ(listener_.Messages(), std::vector<std::wstring>{L"<x/>"});
  EXPECT_EQ(1, log_.CountExactly(L"Did not send all: false"));
  EXPECT_EQ(1, log_.CountExactly(L"Received message from Vendor: <x/>"));
}

TEST_F(XmlDataAckSendCommandTest, ShortOrFailedWriteWithholdsTheXml) {
  const struct {
    boost::system::error_code error;
    std::size_t sent;
    std::wstring text;
  } writes[] = {
      {{}, 10, L"Failed to send XMLDATA acknowledgement.  Expected to send 112 bytes but only sent 10."},
      {boost::asio::error::connection_reset, 0,
       L"Failed to send XMLDATA acknowledgement.  Expected to send 112 bytes but only sent 0.  "
       L"(104)  connection_reset."},
  };
  for (const auto& write : writes) {
    Run();
    socket_->Complete(write.error, write.sent);
    EXPECT_EQ(1, log_.CountExactly(write.text));
  }
  EXPECT_EQ(2, log_.CountExactly(L"Did not send all: true"));
  EXPECT_TRUE(listener_.Messages().empty());
  EXPECT_EQ(0, log_.Count(L"Received message from"));
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
