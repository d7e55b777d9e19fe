#include "connection/Connection.h"
#include "platform/WideError.h"

#include <fstream>
#include <future>
#include <string>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <gtest/gtest.h>

#include "support/LoggingTestSupport.h"
#include "connection/BoostSocket.h"
#include "connection/ConnectionListener.h"
#include "connection/FileWorkPool.h"
#include "connection/ListenerSlot.h"
#include "logging/LoggerConfiguration.h"
#include "platform/TextConversion.h"
#include "protocol/ConnectMessage.h"
#include "protocol/ConnectResponseMessage.h"
#include "protocol/DisconnectMessage.h"
#include "protocol/FieldCodec.h"
#include "protocol/HealthCheckAckMessage.h"
#include "protocol/HealthCheckMessage.h"
#include "protocol/VersionAckMessage.h"
#include "protocol/VersionMessage.h"
#include "protocol/WireFormat.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"
#include "support/CountingConnectionListener.h"
#include "support/RecordingListener.h"
#include "support/TestPeer.h"
#include "support/TestTiming.h"

namespace Corvane {
namespace Client {
namespace {

using namespace std::chrono_literals;
using boost::asio::ip::tcp;
using Testing::CountingConnectionListener;
using Testing::RecordingListener;
using Testing::TestPeer;


struct ConnectionOptions {
  int ackTimeout = 300;
  int healthCheckInterval = 60000;
  bool file = false;
};

// Connections on a real loopback stream, with one I/O thread as in the engine
// and log lines captured in memory.
class ConnectionTest : public ::testing::Test {
 protected:
  ConnectionTest()
      : io_(std::make_shared<boost::asio::io_context>(1)),
        guard_(io_->get_executor()),
        acceptor_(*io_, tcp::endpoint(boost::asio::ip::address_v4::loopback(), 0)) {
    listener_slot_->Set(&listener_);
    thread_ = std::thread([this] { io_->run(); });
  }

  ~ConnectionTest() override {
    for (auto& connection : connections_) connection->End(Farewell::kNone);
    connections_.clear();
    boost::asio::post(*io_, [this] { acceptor_.close(); });
    guard_.reset();
    thread_.join();
  }

  int Port() const { return acceptor_.local_endpoint().port(); }

  // Accepts the next peer into a new connection and starts its handshake;
  // `handshake` gets the failure text, or "" when the connection runs.
  std::shared_ptr<Connection> Accept(std::future<std::wstring>& handshake,
                                     ConnectionOptions options = {}) {
    ConnectionSettings settings{L"engine-id",
                                L"Engine",
                                L"en",
                                std::chrono::milliseconds(Testing::Scaled(options.ackTimeout)),
                                std::chrono::milliseconds(
                                    Testing::Scaled(options.healthCheckInterval)),
                                45501,
                                L"/tmp",
                                nullptr,
                                std::chrono::milliseconds(0)};
    auto stream = std::make_shared<tcp::socket>(*io_);
    auto connection = std::make_shared<Connection>(
        std::make_shared<BoostSocket>(stream), listener_slot_, &closed_, std::move(settings),
        options.file ? ConnectionKind::kFile : ConnectionKind::kStandard, file_threads_);
    auto promise = std::make_shared<std::promise<std::wstring>>();
    handshake = promise->get_future();
    boost::asio::post(*io_, [this, stream, connection, promise] {
      acceptor_.async_accept(*stream, [connection, promise](
                                                          const boost::system::error_code& error) {
        if (error) return promise->set_value(L"accept failed");
        connection->Start([promise](const std::shared_ptr<Connection>&,
                                    const std::exception_ptr& failure) {
          std::wstring text;
          try {
            if (failure) std::rethrow_exception(failure);
          } catch (const Platform::WideError& e) {
            text = e.GetMessage();
          }
          promise->set_value(text);
        });
      });
    });
    connections_.push_back(connection);
    return connection;
  }

  // A connection with a peer that has completed its handshake.
  std::shared_ptr<Connection> Connected(std::unique_ptr<TestPeer>& peer,
                                        ConnectionOptions options = {}) {
    std::future<std::wstring> handshake;
    auto connection = Accept(handshake, options);
    peer = std::make_unique<TestPeer>(Port());
    EXPECT_TRUE(peer->HandShake());
    EXPECT_EQ(handshake.get(), L"");
    return connection;
  }

  std::shared_ptr<boost::asio::io_context> io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard_;
  tcp::acceptor acceptor_;
  Testing::LogCapture log_;
  RecordingListener listener_;
  std::shared_ptr<ListenerSlot> listener_slot_ = std::make_shared<ListenerSlot>();
  std::shared_ptr<FileWorkPool> file_threads_ = std::make_shared<FileWorkPool>();
  CountingConnectionListener closed_;
  std::vector<std::shared_ptr<Connection>> connections_;
  std::thread thread_;
};

// --- Handshake ------------------------------------------------------------------

TEST_F(ConnectionTest, HandshakeAnswersWithConnectAck) {
  std::future<std::wstring> handshake;
  auto connection = Accept(handshake);
  TestPeer peer(Port());
  const std::u16string id = peer.SendConnect(u"vendor-7", u"Vendor Seven", u"10.1.2.3");
  const std::u16string frame = peer.ReadChars(140);
  ASSERT_EQ(frame.size(), 140u);
  EXPECT_EQ(frame.substr(0, 20), u"CVNPBDP001CONNECTACK");
  EXPECT_EQ(frame.substr(20, 36), id);
  EXPECT_EQ(frame.substr(124), u"00000008002" u"45501");
  EXPECT_EQ(handshake.get(), L"");
  EXPECT_EQ(connection->GetId(), L"vendor-7");
  EXPECT_EQ(connection->GetName(), L"Vendor Seven");
  EXPECT_EQ(connection->GetAddress(), L"10.1.2.3");
  EXPECT_EQ(connection->GetVersion(), 1);
}

TEST_F(ConnectionTest, ShortConnectFailsWithoutAnswer) {
  std::future<std::wstring> handshake;
  Accept(handshake);
  TestPeer peer(Port());
  peer.SendRaw(std::u16string(40, u'x'));
  peer.Close();
  EXPECT_EQ(handshake.get(), L"ConnectMessage: Expected 137 bytes, received 40. Error code (2).");
}

TEST_F(ConnectionTest, FirstFrameThatIsNotConnectFails) {
  std::future<std::wstring> handshake;
  Accept(handshake);
  TestPeer peer(Port(), 200ms);
  peer.SendRaw(HealthCheckMessage().ToString() + std::u16string(81, u' '));
  EXPECT_EQ(handshake.get(), L"Error occurred parsing a message");
  EXPECT_EQ(peer.ReadChars(1).size(), 0u);  // no CONNECTACK
}

// A CONNECTACK announces more than 137 characters hold: its cut variable part
// is read as far as it goes, and the handshake fails as for any other type.
TEST_F(ConnectionTest, ConnectAckAsFirstFrameFailsAsNotConnect) {
  std::future<std::wstring> handshake;
  Accept(handshake);
  TestPeer peer(Port(), 200ms);
  const ConnectMessage connect(u"vendor", u"Vendor", u"127.0.0.1");
  const std::u16string frame =
      ConnectResponseMessage(connect, u"engine", u"Engine", u"en", 45501).ToString();
  ASSERT_GT(frame.size(), Wire::kConnectFrameLength);
  peer.SendRaw(frame.substr(0, Wire::kConnectFrameLength));
  EXPECT_EQ(handshake.get(), L"Error occurred parsing a message");
  EXPECT_EQ(peer.ReadChars(1).size(), 0u);
}

TEST_F(ConnectionTest, BlankConnectIdGetsNoAnswerButRuns) {
  std::future<std::wstring> handshake;
  auto connection = Accept(handshake);
  TestPeer peer(Port());
  std::u16string connect = ConnectMessage(u"vendor", u"Vendor", u"127.0.0.1").ToString();
  connect.replace(20, 36, std::u16string(36, u' '));
  peer.SendRaw(connect);
  EXPECT_EQ(handshake.get(), L"");
  peer.StartReading();
  peer.Send(VersionMessage(2));
  EXPECT_TRUE(peer.WaitFor<VersionAckMessage>());  // reading runs
  EXPECT_EQ(peer.Count<ConnectResponseMessage>(), 0);
}

// A silent peer must not hold up another peer's handshake; it fails at its
// time limit like a short CONNECT.
TEST_F(ConnectionTest, SilentPeerDoesNotDelayOthers) {
  std::future<std::wstring> silentHandshake;
  Accept(silentHandshake, {/*ackTimeout=*/1500});
  TestPeer silent(Port());

  std::unique_ptr<TestPeer> prompt;
  const auto start = std::chrono::steady_clock::now();
  Connected(prompt, {/*ackTimeout=*/1500});
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
  EXPECT_EQ(silentHandshake.wait_for(0s), std::future_status::timeout);

  EXPECT_EQ(silentHandshake.get(),
            L"ConnectMessage: Expected 137 bytes, received 0. Error code (110).");
}

// --- Receiving --------------------------------------------------------------------

TEST_F(ConnectionTest, Version1XmlIsAcknowledgedThenDelivered) {
  std::unique_ptr<TestPeer> peer;
  Connected(peer);
  XmlDataMessage xml(u"<a/>");
  peer->Send(xml);
  auto ack = peer->WaitFor<XmlDataAckMessage>();
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->GetMessageId(), xml.GetMessageId());
  ASSERT_TRUE(listener_.WaitForMessages(1));
  EXPECT_EQ(listener_.Messages()[0], L"<a/>");
  EXPECT_TRUE(log_.WaitFor(L"Received message from Vendor: <a/>"));
}

TEST_F(ConnectionTest, VersionMessagesSetTheVersion) {
  std::unique_ptr<TestPeer> peer;
  auto connection = Connected(peer);
  for (auto [sent, expected] : {std::pair{3, 2}, std::pair{1, 1}, std::pair{2, 2}}) {
    VersionMessage version(sent);
    peer->Send(version);
    auto ack = peer->WaitFor<VersionAckMessage>();
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->GetMessageId(), version.GetMessageId());
    EXPECT_EQ(connection->GetVersion(), expected);
  }
}

TEST_F(ConnectionTest, Version2XmlIsDeliveredWithoutAcknowledgement) {
  std::unique_ptr<TestPeer> peer;
  Connected(peer);
  peer->Send(VersionMessage(2));
  ASSERT_TRUE(peer->WaitFor<VersionAckMessage>());
  peer->Send(XmlDataMessage(u"<b/>"));
  peer->Send(HealthCheckMessage());
  ASSERT_TRUE(listener_.WaitForMessages(1));
  EXPECT_EQ(listener_.Messages()[0], L"<b/>");
  // A VERSIONACK after them proves both were processed without a reply.
  peer->Send(VersionMessage(2));
  ASSERT_TRUE(peer->WaitFor<VersionAckMessage>());
  EXPECT_EQ(peer->Count<XmlDataAckMessage>(), 0);
  EXPECT_EQ(peer->Count<HealthCheckAckMessage>(), 0);
}

TEST_F(ConnectionTest, Version1HealthCheckIsAnswered) {
  std::unique_ptr<TestPeer> peer;
  Connected(peer);
  HealthCheckMessage check;
  peer->Send(check);
  auto ack = peer->WaitFor<HealthCheckAckMessage>();
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->GetMessageId(), check.GetMessageId());
}

TEST_F(ConnectionTest, UnknownTypeIsReportedAndReadingGoesOn) {
  std::unique_ptr<TestPeer> peer;
  Connected(peer);
  peer->SendRaw(u"CVNPBDP001NOSUCHTYPE");
  peer->Send(XmlDataMessage(u"<c/>"));
  ASSERT_TRUE(listener_.WaitForErrors(1));
  EXPECT_EQ(listener_.Errors()[0],
            std::make_pair(-113, std::wstring(L"Error on socket read.  Error message = "
                                              L"\"Invalid message type provided\"")));
  EXPECT_TRUE(listener_.WaitForMessages(1));
}

// Resident memory of this process in KiB.
long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// A peer that announces the longest XML allowed and then sends almost nothing
// costs what it sent, not what it announced, and only until the frame's
// deadline ends its connection.
TEST_F(ConnectionTest, AnnouncedLengthReservesNothingAndAStalledFrameEnds) {
  std::unique_ptr<TestPeer> peer;
  auto connection = Connected(peer, {/*ackTimeout=*/300});
  const long before = ResidentKiB();
  std::u16string frame = XmlDataMessage(u"<a/>").ToString();
  frame.replace(56, 10, Wire::FormatNumber(Wire::kMaxXmlDataLength, 10));
  peer->SendRaw(frame.substr(0, 66) + u"<a");
  ASSERT_TRUE(listener_.WaitForErrors(1));
  EXPECT_LT(ResidentKiB() - before, 16 * 1024) << "KiB grown for an announced 128 MiB";
  EXPECT_EQ(listener_.Errors()[0].first, -113);
  EXPECT_NE(listener_.Errors()[0].second.find(L"in the middle of a frame"), std::wstring::npos);
  EXPECT_TRUE(closed_.WaitFor(1));
  EXPECT_TRUE(peer->WaitForClose());
}

// The parts of a small frame that arrived with its header are read on at
// once; the part still missing is waited for only until the frame's deadline.
TEST_F(ConnectionTest, ASmallFrameCutShortEndsAtItsDeadline) {
  std::unique_ptr<TestPeer> peer;
  Connected(peer, {/*ackTimeout=*/300});
  const std::u16string frame = XmlDataMessage(u"<a/>").ToString();
  peer->SendRaw(frame.substr(0, frame.size() - 1));
  ASSERT_TRUE(listener_.WaitForErrors(1));
  EXPECT_EQ(listener_.Errors()[0].first, -113);
  EXPECT_NE(listener_.Errors()[0].second.find(L"in the middle of a frame"), std::wstring::npos);
  EXPECT_TRUE(closed_.WaitFor(1));
  EXPECT_TRUE(listener_.Messages().empty());
}

// Junk is read past frame by frame, but a stream of nothing else is closed
// after a bounded number of reports, and what the peer wrote reaches the log
// with its control characters escaped.
TEST_F(ConnectionTest, AJunkFloodIsReportedBoundedlyAndClosed) {
  std::unique_ptr<TestPeer> peer;
  Connected(peer);
  peer->SendRaw(u"CVNP\nFORGED LINE\x1b[2J");  // one bad header, 20 characters
  ASSERT_TRUE(listener_.WaitForErrors(1));
  EXPECT_TRUE(log_.WaitFor(L"CVNP\\x0AFORGED LINE\\x1B[2J"));
  EXPECT_EQ(log_.Count(L"FORGED LINE\x1b"), 0);
  std::u16string junk;
  for (int i = 0; i < Connection::kMaxBadFramesInRow; ++i) junk += u"junkjunkjunkjunkjunk";
  peer->SendRaw(junk);
  ASSERT_TRUE(closed_.WaitFor(1));
  EXPECT_TRUE(peer->WaitForClose());
  const auto errors = listener_.Errors();
  ASSERT_EQ(errors.size(), static_cast<std::size_t>(Connection::kReportedBadFramesInRow + 1));
  EXPECT_NE(errors.back().second.find(L"frames in a row could not be read"), std::wstring::npos);
}

// A long body that does arrive, in pieces, is read whole.
TEST_F(ConnectionTest, LongXmlArrivesWhole) {
  std::unique_ptr<TestPeer> peer;
  Connected(peer);
  const std::u16string text = u"<a>" + std::u16string(300 * 1024, u'x') + u"</a>";
  peer->Send(XmlDataMessage(text));
  ASSERT_TRUE(listener_.WaitForMessages(1));
  EXPECT_EQ(listener_.Messages()[0], Platform::FromUtf16(text));
}

TEST_F(ConnectionTest, OversizedXmlIsAParseFailure) {
  std::unique_ptr<TestPeer> peer;
  Connected(peer);
  std::u16string frame = XmlDataMessage(u"<a/>").ToString();
  frame.replace(56, 10, u"2147483647");
  peer->SendRaw(frame.substr(0, 66));
  ASSERT_TRUE(listener_.WaitForErrors(1));
  EXPECT_EQ(listener_.Errors()[0].first, -113);
  EXPECT_NE(listener_.Errors()[0].second.find(L"exceeds the limit"), std::wstring::npos);
}

TEST_F(ConnectionTest, DisconnectFromPeerClosesWithoutAnswer) {
  std::unique_ptr<TestPeer> peer;
  auto connection = Connected(peer);
  peer->Send(DisconnectMessage());
  ASSERT_TRUE(closed_.WaitFor(1));
  EXPECT_TRUE(peer->WaitForClose());
  EXPECT_EQ(peer->Count<DisconnectMessage>(), 0);
  EXPECT_TRUE(connection->IsClosed());
  connection->End(Farewell::kDisconnect);  // already ended: not reported again
  EXPECT_EQ(closed_.Count(), 1);
}

TEST_F(ConnectionTest, PeerClosingTellsTheEngineOnce) {
  std::unique_ptr<TestPeer> peer;
  Connected(peer);
  peer->Close();
  ASSERT_TRUE(closed_.WaitFor(1));
  EXPECT_EQ(closed_.Count(), 1);
}

TEST_F(ConnectionTest, TwoEndsSendOneDisconnectAndReportOnce) {
  std::unique_ptr<TestPeer> peer;
  auto connection = Connected(peer);
  connection->End(Farewell::kDisconnect);
  connection->End(Farewell::kDisconnect);
  EXPECT_TRUE(peer->WaitForClose());
  EXPECT_EQ(peer->Count<DisconnectMessage>(), 1);
  EXPECT_EQ(closed_.Count(), 1);
}

TEST_F(ConnectionTest, EndOnTheIoThreadWritesDisconnectWithoutWaiting) {
  std::unique_ptr<TestPeer> peer;
  auto connection = Connected(peer, {/*ackTimeout=*/5000});
  std::promise<std::chrono::steady_clock::duration> took;
  boost::asio::post(*io_, [&] {
    const auto start = std::chrono::steady_clock::now();
    connection->End(Farewell::kDisconnect);
    took.set_value(std::chrono::steady_clock::now() - start);
  });
  EXPECT_LT(took.get_future().get(), 1s);
  EXPECT_TRUE(peer->WaitFor<DisconnectMessage>());
  EXPECT_TRUE(peer->WaitForClose());
}

// --- Sending XML ------------------------------------------------------------------

TEST_F(ConnectionTest, SendDataSucceedsOnTheMatchingAck) {
  std::unique_ptr<TestPeer> peer;
  auto connection = Connected(peer);
  EXPECT_TRUE(connection->SendData(L"<x/>"));
  auto xml = peer->WaitFor<XmlDataMessage>();
  ASSERT_TRUE(xml);
  EXPECT_EQ(xml->GetData(), u"<x/>");
}

TEST_F(ConnectionTest, SendDataFailsWhenTheAckNeverComes) {
  std::unique_ptr<TestPeer> peer;
  auto connection = Connected(peer);
  peer->AnswerXml(false);
  EXPECT_FALSE(connection->SendData(L"<x/>"));
  EXPECT_TRUE(log_.WaitFor(L"Message was sent but not acknowledged"));
}

// A reset is a peer that went away, not a read error for the host; the send
// that waited for its XMLACK fails unacknowledged.
TEST_F(ConnectionTest, PeerResetWhileASendAwaitsItsAckFailsTheSend) {
  std::unique_ptr<TestPeer> peer;
  auto connection = Connected(peer);
  peer->AnswerXml(false);
  auto send = std::async(std::launch::async, [&] { return connection->SendData(L"<x/>"); });
  ASSERT_TRUE(peer->WaitFor<XmlDataMessage>());
  peer->Reset();
  ASSERT_TRUE(closed_.WaitFor(1));
  EXPECT_FALSE(send.get());
  EXPECT_EQ(1, log_.CountExactly(L"Message was sent but not acknowledged"));
  EXPECT_TRUE(listener_.Errors().empty());
  EXPECT_EQ(closed_.Count(), 1);
}

TEST_F(ConnectionTest, SendDataIgnoresAnAckForAnotherMessage) {
  std::unique_ptr<TestPeer> peer;
  auto connection = Connected(peer);
  peer->AnswerXml(false);
  std::thread answer([&] {
    if (peer->WaitFor<XmlDataMessage>()) peer->Send(XmlDataAckMessage(XmlDataMessage(u"other")));
  });
  EXPECT_FALSE(connection->SendData(L"<x/>"));
  answer.join();
}

TEST_F(ConnectionTest, SendDataToVersion2PeerDoesNotWait) {
  std::unique_ptr<TestPeer> peer;
  auto connection = Connected(peer, {/*ackTimeout=*/5000});
  peer->AnswerXml(false);
  peer->Send(VersionMessage(2));
  ASSERT_TRUE(peer->WaitFor<VersionAckMessage>());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(connection->SendData(L"<x/>"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(ConnectionTest, ConcurrentSendsTakeTurns) {
  std::unique_ptr<TestPeer> peer;
  auto connection = Connected(peer, {/*ackTimeout=*/5000});
  std::vector<std::thread> senders;
  std::atomic<int> delivered{0};
  for (int i = 0; i < 4; ++i) {
    senders.emplace_back([&] {
      for (int j = 0; j < 10; ++j) delivered += connection->SendData(L"<y/>");
    });
  }
  for (auto& sender : senders) sender.join();
  EXPECT_EQ(delivered, 40);
  EXPECT_EQ(peer->Count<XmlDataMessage>(), 40);
}

// The turn passes from transaction to transaction: one its sender dropped
// unfinished holds up nobody once its outcome is in.
TEST_F(ConnectionTest, ATransactionDroppedUnfinishedLetsTheNextOneBegin) {
  std::unique_ptr<TestPeer> peer;
  auto connection = Connected(peer, {/*ackTimeout=*/5000});
  connection->StartSend(std::make_shared<XmlDataMessage>(u"<first/>"));
  EXPECT_TRUE(connection->SendData(L"<second/>"));
  EXPECT_EQ(peer->Count<XmlDataMessage>(), 2);
}

TEST_F(ConnectionTest, SendOnAClosedConnectionFails) {
  std::unique_ptr<TestPeer> peer;
  auto connection = Connected(peer, {/*ackTimeout=*/5000});
  connection->End(Farewell::kNone);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(connection->SendData(L"<x/>"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

// --- Health checks ----------------------------------------------------------------

TEST_F(ConnectionTest, AnsweringPeerIsCheckedRepeatedly) {
  std::unique_ptr<TestPeer> peer;
  Connected(peer, {/*ackTimeout=*/50, /*healthCheckInterval=*/20});
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(peer->WaitFor<HealthCheckMessage>());
  EXPECT_EQ(closed_.Count(), 0);
}

TEST_F(ConnectionTest, SilentVersion1PeerIsClosed) {
  std::unique_ptr<TestPeer> peer;
  auto connection = Connected(peer, {/*ackTimeout=*/100, /*healthCheckInterval=*/20});
  peer->AnswerHealthChecks(false);
  ASSERT_TRUE(closed_.WaitFor(1));
  EXPECT_TRUE(peer->WaitFor<DisconnectMessage>());
  EXPECT_TRUE(peer->WaitForClose());
  EXPECT_TRUE(log_.WaitFor(L"Health check failed.  Closing Vendor"));
  EXPECT_EQ(closed_.Count(), 1);
}

TEST_F(ConnectionTest, LateHealthAckDoesNotSaveThePeer) {
  std::unique_ptr<TestPeer> peer;
  Connected(peer, {/*ackTimeout=*/100, /*healthCheckInterval=*/20});
  peer->AnswerHealthChecks(false);
  auto check = peer->WaitFor<HealthCheckMessage>();
  ASSERT_TRUE(check);
  ASSERT_TRUE(closed_.WaitFor(1));
  peer->Send(HealthCheckAckMessage(*check));
  EXPECT_TRUE(peer->WaitForClose());
}

TEST_F(ConnectionTest, Version2PeerNeverHasToAnswer) {
  std::unique_ptr<TestPeer> peer;
  Connected(peer, {/*ackTimeout=*/50, /*healthCheckInterval=*/20});
  peer->AnswerHealthChecks(false);
  peer->Send(VersionMessage(2));
  ASSERT_TRUE(peer->WaitFor<VersionAckMessage>());
  const int before = peer->Count<HealthCheckMessage>();
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(peer->WaitFor<HealthCheckMessage>());
  EXPECT_GE(peer->Count<HealthCheckMessage>(), before + 4);
  EXPECT_EQ(closed_.Count(), 0);
}

TEST_F(ConnectionTest, FileConnectionSendsNoHealthChecks) {
  std::unique_ptr<TestPeer> peer;
  auto connection = Connected(peer, {/*ackTimeout=*/50, /*healthCheckInterval=*/10, /*file=*/true});
  EXPECT_FALSE(connection->GetHealthCheckCommand());
  // Round trips on the same stream: any health check would have come first.
  for (int i = 0; i < 5; ++i) {
    peer->Send(VersionMessage(2));
    ASSERT_TRUE(peer->WaitFor<VersionAckMessage>());
    std::this_thread::sleep_for(10ms);  // several intervals pass
  }
  EXPECT_EQ(peer->Count<HealthCheckMessage>(), 0);
  EXPECT_EQ(log_.Count(L"Start: Starting file connection"), 0);  // debug lines are off
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
