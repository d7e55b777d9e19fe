// The engine end to end: loaded as a host loads it, hailing inside the test's
// private network namespace, and vendor applications played by test peers on
// loopback.

#include <gtest/gtest.h>

#include <future>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

#include "HostedEngineTest.h"
#include "platform/TextConversion.h"
#include "protocol/DisconnectMessage.h"
#include "protocol/HealthCheckAckMessage.h"
#include "protocol/HealthCheckMessage.h"
#include "protocol/VersionAckMessage.h"
#include "protocol/VersionMessage.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"
#include "support/FreePort.h"
#include "support/RecordingListener.h"
#include "support/TempDir.h"
#include "support/TestPeer.h"
#include "support/TestTiming.h"

namespace Corvane {
namespace Testing {
namespace {

namespace Methods = Client::QuellorMethods;
using Client::QuellorException;
using namespace std::chrono_literals;

// Receives the HAIL datagrams sent to a group on the loopback interface.
class HailReceiver {
 public:
  HailReceiver(const std::string& group, int port) : socket_(io_) {
    using namespace boost::asio::ip;
    socket_.open(udp::v4());
    socket_.set_option(udp::socket::reuse_address(true));
    socket_.bind(udp::endpoint(address_v4::any(), static_cast<unsigned short>(port)));
    socket_.set_option(multicast::join_group(make_address_v4(group), address_v4::loopback()));
  }

  /// The next datagram's bytes; empty after `timeout`.
  std::string Receive(std::chrono::milliseconds timeout = 3s) {
    std::string datagram(2048, '\0');
    std::size_t size = 0;
    bool done = false;
    socket_.async_receive(boost::asio::buffer(datagram),
                          [&](const boost::system::error_code& error, std::size_t n) {
                            if (!error) size = n;
                            done = true;
                          });
    io_.restart();
    io_.run_for(timeout);
    if (!done) {
      socket_.cancel();
      io_.restart();
      io_.run();
    }
    datagram.resize(size);
    return datagram;
  }

 private:
  boost::asio::io_context io_;
  boost::asio::ip::udp::socket socket_;
};

class EngineEndToEndTest : public HostedEngineTest {
 protected:
  // A vendor application that hand-shakes as `id` and then never reads.
  TestPeer& ConnectStuck(const std::u16string& id) {
    peers_.push_back(std::make_unique<TestPeer>(server_port_));
    TestPeer& stuck = *peers_.back();
    stuck.SendConnect(id);
    EXPECT_EQ(stuck.ReadChars(140).size(), 140u);
    return stuck;
  }

  // Valid XML larger than the loopback buffers hold.
  static std::wstring HugeXml() {
    std::wstring xml = kValidXml;
    xml.insert(xml.find(L"hello"), std::wstring(12 * 1024 * 1024, L'x'));
    return xml;
  }

  // The failure's code and text, or {0, ""} when `operation` did not throw.
  template <typename F>
  std::pair<int, std::wstring> Failure(F&& operation) {
    try {
      operation();
    } catch (const QuellorException& e) {
      return {e.GetCode(), e.GetMessage()};
    }
    return {0, L""};
  }
};

TEST_F(EngineEndToEndTest, HailsAtOnceAndThenAtTheInterval) {
  const int groupPort = FreeUdpPort();
  HailReceiver hails("239.255.1.2", groupPort);
  server_port_ = FreeTcpPort();
  host_->Get<Methods::Start>("Start")(engine_, L"client-app-id", L"Client App", L"239.255.1.2",
                                      groupPort, server_port_, 150, true, 1000, 60000,
                                      FreeTcpPort(), (module_.Path() / "files").wstring());
  const auto start = std::chrono::steady_clock::now();
  const std::string first = hails.Receive();
  ASSERT_EQ(first.size(), 152u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  std::u16string text(reinterpret_cast<const char16_t*>(first.data()), 76);
  EXPECT_EQ(text.substr(0, 20), u"CVNPBDP001HAIL      ");
  EXPECT_EQ(text.substr(35, 5), Platform::ToUtf16(std::to_wstring(100000 + server_port_)).substr(1));
  EXPECT_EQ(text.substr(40), u"client-app-id                       ");
  EXPECT_TRUE(host_->Get<Methods::IsHailing>("IsHailing")(engine_));

  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(hails.Receive(), first);
  EXPECT_EQ(hails.Receive(), first);
  EXPECT_GE(std::chrono::steady_clock::now() - before, 250ms);  // two intervals
  Stop();
  EXPECT_FALSE(host_->Get<Methods::IsHailing>("IsHailing")(engine_));
}

// A group written with leading zeros is decimal ("239.001.02.3" is
// 239.1.2.3), and the id and name are cut in UTF-16 units: an id of
// characters outside the basic plane keeps the HAIL at 152 bytes and the
// CONNECTACK at 140 units with every field in place.
TEST_F(EngineEndToEndTest, LeadingZerosAndWideCharactersKeepTheFramesInShape) {
  const int groupPort = FreeUdpPort();
  HailReceiver hails("239.1.2.3", groupPort);
  server_port_ = FreeTcpPort();
  const int filePort = FreeTcpPort();
  const std::wstring clef(40, L'\U0001D11E');  // 40 characters, 80 UTF-16 units
  host_->Get<Methods::Start>("Start")(engine_, clef, clef, L"239.001.02.3", groupPort,
                                      server_port_, 1000, true, 1000, 60000, filePort,
                                      (module_.Path() / "files").wstring());
  EXPECT_TRUE(IsStarted());
  const std::string hail = hails.Receive();
  ASSERT_EQ(hail.size(), 152u);
  const std::u16string text(reinterpret_cast<const char16_t*>(hail.data()), 76);
  EXPECT_EQ(text.substr(40), Platform::ToUtf16(std::wstring(18, L'\U0001D11E')));

  auto peer = std::make_unique<TestPeer>(server_port_);
  peer->SendConnect();
  const std::u16string ack = peer->ReadChars(140);
  ASSERT_EQ(ack.size(), 140u);
  EXPECT_EQ(ack.substr(56, 36), Platform::ToUtf16(std::wstring(18, L'\U0001D11E')));
  EXPECT_EQ(ack.substr(92, 30), Platform::ToUtf16(std::wstring(15, L'\U0001D11E')));
  EXPECT_EQ(ack.substr(124),
            u"00000008002" + Platform::ToUtf16(std::to_wstring(100000 + filePort).substr(1)));
  EXPECT_EQ(peer->PendingBytes(), 0u);
}

TEST_F(EngineEndToEndTest, ApplicationConnectsAndIsListed) {
  Start();
  TestPeer& peer = Connect(u"vendor-1", u"Vendor One");
  ASSERT_TRUE(WaitForApplications({L"vendor-1"}));
  auto applications = Applications();
  auto application = applications->front();
  EXPECT_EQ(application->GetName(), L"Vendor One");
  EXPECT_EQ(application->GetAddress(), L"127.0.0.1");
  EXPECT_EQ(application->GetVersion(), 1);
  EXPECT_TRUE(WaitForLog("Application Vendor One has connected."));

  // The list is a snapshot that outlives the application.
  peer.Close();
  ASSERT_TRUE(WaitForApplications({}));
  EXPECT_TRUE(WaitForLog("Application Vendor One has disconnected."));
  EXPECT_EQ(application->GetId(), L"vendor-1");
}

TEST_F(EngineEndToEndTest, XmlGoesBothWays) {
  Start();
  TestPeer& peer = Connect(u"vendor-1");
  ASSERT_TRUE(WaitForApplications({L"vendor-1"}));
  SendData(kValidXml);
  auto xml = peer.WaitFor<Client::XmlDataMessage>();
  ASSERT_TRUE(xml);
  EXPECT_EQ(xml->GetData(), Platform::ToUtf16(kValidXml));

  Client::XmlDataMessage incoming(u"<from-vendor/>");
  peer.Send(incoming);
  auto ack = peer.WaitFor<Client::XmlDataAckMessage>();
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->GetMessageId(), incoming.GetMessageId());
  ASSERT_TRUE(listener_.WaitForMessages(1));
  EXPECT_EQ(listener_.Messages()[0], L"<from-vendor/>");
}

// A VERSION below 2 is kept as announced, even 0 or negative, and such a peer
// is answered as one that acknowledges.
TEST_F(EngineEndToEndTest, VersionBelowOneIsKeptAndThePeerStillAcknowledged) {
  Start();
  TestPeer& peer = Connect(u"vendor-1");
  ASSERT_TRUE(WaitForApplications({L"vendor-1"}));
  std::size_t delivered = 0;
  for (const auto& [field, version] : {std::pair<std::u16string, int>{u"000", 0}, {u"-01", -1}}) {
    SCOPED_TRACE(version);
    Client::VersionMessage announcement;
    std::u16string frame = announcement.ToString();
    frame.replace(56, 3, field);
    peer.SendRaw(frame);
    auto versionAck = peer.WaitFor<Client::VersionAckMessage>();
    ASSERT_TRUE(versionAck);
    EXPECT_EQ(versionAck->GetMessageId(), announcement.GetMessageId());
    EXPECT_EQ(Applications()->front()->GetVersion(), version);

    Client::HealthCheckMessage check;
    peer.Send(check);
    auto checkAck = peer.WaitFor<Client::HealthCheckAckMessage>();
    ASSERT_TRUE(checkAck);
    EXPECT_EQ(checkAck->GetMessageId(), check.GetMessageId());

    Client::XmlDataMessage xml(u"<v/>");
    peer.Send(xml);
    auto xmlAck = peer.WaitFor<Client::XmlDataAckMessage>();
    ASSERT_TRUE(xmlAck);
    EXPECT_EQ(xmlAck->GetMessageId(), xml.GetMessageId());
    EXPECT_TRUE(listener_.WaitForMessages(++delivered));
  }
}

// An XMLDATA with a blank id (and no data) is reported, neither acknowledged
// nor delivered, and the frame after it is read in step.
TEST_F(EngineEndToEndTest, XmlWithABlankIdIsReportedAndTheNextOneDelivered) {
  Start();
  TestPeer& peer = Connect(u"vendor-1");
  ASSERT_TRUE(WaitForApplications({L"vendor-1"}));
  peer.SendRaw(u"CVNPBDP001XMLDATA   " + std::u16string(36, u' ') + u"0000000000");
  Client::XmlDataMessage next(u"<next/>");
  peer.Send(next);
  auto ack = peer.WaitFor<Client::XmlDataAckMessage>();
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->GetMessageId(), next.GetMessageId());
  ASSERT_TRUE(listener_.WaitForMessages(1));
  EXPECT_EQ(listener_.Messages(), std::vector<std::wstring>{L"<next/>"});
  EXPECT_EQ(listener_.Errors(),
            (std::vector<std::pair<int, std::wstring>>{
                {-113, L"Error on socket read.  Error message = \"XMLDATA message id is blank\""}}));
  EXPECT_EQ(peer.Count<Client::XmlDataAckMessage>(), 1);
}

TEST_F(EngineEndToEndTest, SameIdReplacesTheOlderConnection) {
  Start();
  TestPeer& first = Connect(u"vendor-1");
  Connect(u"vendor-2");
  ASSERT_TRUE(WaitForApplications({L"vendor-1", L"vendor-2"}));
  Connect(u"vendor-1");
  ASSERT_TRUE(WaitForApplications({L"vendor-2", L"vendor-1"}));
  EXPECT_TRUE(first.WaitFor<Client::DisconnectMessage>());
  EXPECT_TRUE(first.WaitForClose());
}

TEST_F(EngineEndToEndTest, SilentApplicationIsDroppedAndTheOtherServed) {
  Start({/*hailing=*/false, 100, /*ackTimeout=*/300});
  TestPeer& silent = Connect(u"silent");
  TestPeer& answering = Connect(u"answering");
  ASSERT_TRUE(WaitForApplications({L"silent", L"answering"}));
  silent.AnswerXml(false);
  SendData(kValidXml);
  EXPECT_TRUE(answering.WaitFor<Client::XmlDataMessage>());
  EXPECT_EQ(ApplicationIds(), std::vector<std::wstring>{L"answering"});
  EXPECT_TRUE(silent.WaitFor<Client::DisconnectMessage>());
  EXPECT_TRUE(WaitForLog("Application Vendor has disconnected."));
}

// The peers of a fan-out are written to first and waited for together: three
// silent ones cost the call one timeout, not three, and each is dropped with
// its DISCONNECT while the answering ones stay.
TEST_F(EngineEndToEndTest, SilentApplicationsCostAFanOutOneTimeoutTogether) {
  const int ackTimeout = 300;
  Start({/*hailing=*/false, 100, ackTimeout});
  std::vector<TestPeer*> silent;
  for (const char16_t* id : {u"silent-1", u"silent-2", u"silent-3"}) {
    silent.push_back(&Connect(id));
    silent.back()->AnswerXml(false);
  }
  TestPeer& first = Connect(u"answering-1");
  TestPeer& second = Connect(u"answering-2");
  ASSERT_TRUE(WaitForApplications(
      {L"silent-1", L"silent-2", L"silent-3", L"answering-1", L"answering-2"}));

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Failure([&] { SendData(kValidXml); }).first, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(Scaled(ackTimeout) * 2));
  EXPECT_EQ(ApplicationIds(), (std::vector<std::wstring>{L"answering-1", L"answering-2"}));
  for (TestPeer* peer : silent) EXPECT_TRUE(peer->WaitFor<Client::DisconnectMessage>());
  EXPECT_EQ(first.Count<Client::XmlDataMessage>(), 1);
  EXPECT_EQ(second.Count<Client::XmlDataMessage>(), 1);

  // All of them silent: every one is tried, dropped, and the call fails.
  first.AnswerXml(false);
  second.AnswerXml(false);
  EXPECT_EQ(Failure([&] { SendData(kValidXml); }),
            std::make_pair(-111, std::wstring(L"Failed to send message")));
  EXPECT_TRUE(ApplicationIds().empty());
  EXPECT_EQ(first.Count<Client::XmlDataMessage>(), 2);
  EXPECT_EQ(second.Count<Client::XmlDataMessage>(), 2);
}

TEST_F(EngineEndToEndTest, SendDataFailures) {
  Start({/*hailing=*/false, 100, /*ackTimeout=*/200});
  EXPECT_EQ(Failure([&] { SendData(kValidXml); }),
            std::make_pair(-110, std::wstring(L"No applications currently connected")));

  // A file connection does not count as an application.
  Connect(u"file-sender", u"Files", file_port_);
  EXPECT_EQ(Failure([&] { SendData(kValidXml); }).first, -110);

  TestPeer& peer = Connect(u"vendor-1");
  ASSERT_TRUE(WaitForApplications({L"vendor-1"}));
  EXPECT_EQ(Failure([&] { SendData(L"<message/>"); }),
            std::make_pair(-200, std::wstring(L"XML is not valid: parse error")));
  EXPECT_EQ(peer.Count<Client::XmlDataMessage>(), 0);

  peer.AnswerXml(false);
  EXPECT_EQ(Failure([&] { SendData(kValidXml); }),
            std::make_pair(-111, std::wstring(L"Failed to send message")));
  EXPECT_TRUE(ApplicationIds().empty());
  EXPECT_TRUE(WaitForLog("Send message failed."));
}

// Registrations and removals on the service thread go on while a SendData
// waits for an acknowledgement, and do not make that send fail.
TEST_F(EngineEndToEndTest, RegistryChangesDuringASendDoNotFailIt) {
  Start({/*hailing=*/false, 100, /*ackTimeout=*/5000});
  TestPeer& slow = Connect(u"slow");
  TestPeer& leaving = Connect(u"leaving");
  ASSERT_TRUE(WaitForApplications({L"slow", L"leaving"}));
  slow.AnswerXml(false);
  leaving.AnswerXml(false);

  auto send = std::async(std::launch::async, [&] { return Failure([&] { SendData(kValidXml); }); });
  auto xml = slow.WaitFor<Client::XmlDataMessage>();
  ASSERT_TRUE(xml);
  // While the send waits for "slow": one application registers, one leaves.
  Connect(u"joining");
  leaving.Close();
  ASSERT_TRUE(WaitForApplications({L"slow", L"joining"}));
  slow.Send(Client::XmlDataAckMessage(*xml));
  EXPECT_EQ(send.get().first, 0);
  EXPECT_EQ(ApplicationIds(), (std::vector<std::wstring>{L"slow", L"joining"}));
}

TEST_F(EngineEndToEndTest, PortInUseReportsServiceFailure) {
  boost::asio::io_context io;
  const int port = FreeTcpPort();
  boost::asio::ip::tcp::acceptor holder(io, {boost::asio::ip::tcp::v4(), static_cast<unsigned short>(port)});
  host_->Get<Methods::Start>("Start")(engine_, L"id", L"name", L"239.255.1.2", FreeUdpPort(),
                                      FreeTcpPort(), 100, false, 1000, 60000, port,
                                      (module_.Path() / "files").wstring());
  ASSERT_TRUE(listener_.WaitForErrors(1));
  EXPECT_EQ(listener_.Errors()[0].first, -107);
  // The text keeps the socket's reason and names the port it concerns.
  EXPECT_NE(listener_.Errors()[0].second.find(L"Address already in use (file port " +
                                              std::to_wstring(port) + L")"),
            std::wstring::npos)
      << Platform::ToUtf8(listener_.Errors()[0].second);
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (IsStarted() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(2ms);
  EXPECT_FALSE(IsStarted());
}

TEST_F(EngineEndToEndTest, StopClosesThePortsAndStartListensAgain) {
  for (int round = 0; round < 3; ++round) {
    Start();
    Connect(u"vendor");
    const int serverPort = server_port_;
    const int filePort = file_port_;
    Stop();
    EXPECT_TRUE(peers_.back()->WaitFor<Client::DisconnectMessage>());
    peers_.clear();
    EXPECT_THROW(TestPeer(serverPort, 100ms), std::runtime_error);
    EXPECT_THROW(TestPeer(filePort, 100ms), std::runtime_error);
  }
}

// A peer that stopped reading costs a fan-out one acknowledgement timeout
// (its write's), not one more for its DISCONNECT, which is queued and never
// waited for; the same application reconnecting is then served at once.
TEST_F(EngineEndToEndTest, AStuckPeerCostsOneTimeoutAndItsReconnectIsServed) {
  // Long enough that validating the large text on a busy machine stays well
  // inside the half timeout of slack.
  const int ackTimeout = 2000;
  Start({/*hailing=*/false, 100, ackTimeout});
  ConnectStuck(u"vendor");
  ASSERT_TRUE(WaitForApplications({L"vendor"}));

  const std::wstring xml = HugeXml();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Failure([&] { SendData(xml); }).first, -111);
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(Scaled(ackTimeout) * 3 / 2));
  ASSERT_TRUE(WaitForApplications({}));

  TestPeer& back = Connect(u"vendor");
  ASSERT_TRUE(WaitForApplications({L"vendor"}));
  SendData(kValidXml);
  EXPECT_TRUE(back.WaitFor<Client::XmlDataMessage>());
}

// A peer that stopped reading, with a large frame stuck on its way to it,
// does not hold up Stop: its stream closes behind it later.
TEST_F(EngineEndToEndTest, StopIsNotHeldUpByAPeerThatStoppedReading) {
  Start({/*hailing=*/false, 100, /*ackTimeout=*/4000});
  TestPeer& stuck = ConnectStuck(u"stuck");
  ASSERT_TRUE(WaitForApplications({L"stuck"}));

  const std::wstring xml = HugeXml();
  auto send = std::async(std::launch::async, [&] { return Failure([&] { SendData(xml); }); });
  // Wait until the frame has gone as far as it can.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (stuck.PendingBytes() < 64 * 1024 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_GE(stuck.PendingBytes(), 64u * 1024u);

  const auto start = std::chrono::steady_clock::now();
  Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(send.get().first, -111);
}

TEST_F(EngineEndToEndTest, QuickStartStopWithHailingLeavesNothingBehind) {
  for (int i = 0; i < 20; ++i) {
    Start({/*hailing=*/true, /*hailingInterval=*/10});
    Stop();
    EXPECT_FALSE(IsStarted());
    EXPECT_FALSE(host_->Get<Methods::IsHailing>("IsHailing")(engine_));
  }
}

}  // namespace
}  // namespace Testing
}  // namespace Corvane
