// The observer beside the listener, as a host reaches it through the
// extension exports: applications added and removed with the reason, file
// progress, refusals and link health.

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "HostedEngineTest.h"
#include "interface/QuellorObserver.h"
#include "protocol/BinaryDataAckMessage.h"
#include "protocol/DisconnectMessage.h"
#include "protocol/XmlDataMessage.h"
#include "support/Eventually.h"
#include "support/FreePort.h"
#include "support/RecordingListener.h"
#include "support/TempDir.h"
#include "support/TestPeer.h"
#include "support/TestTiming.h"

namespace Corvane {
namespace Testing {
namespace {

namespace Methods = Client::QuellorMethods;
namespace Extension = Client::QuellorExtensionMethods;
using Client::DepartureReason;
using namespace std::chrono_literals;

// Keeps every observer callback as a line of text, and the file reports.
class RecordingObserver : public Client::QuellorObserver {
 public:
  void OnApplicationAdded(const Client::ApplicationInfo& application) override {
    Record(L"added " + application.id);
  }
  void OnApplicationRemoved(const Client::ApplicationInfo& application,
                            DepartureReason reason) override {
    Record(L"removed " + application.id + L": " + Client::DepartureReasonText(reason));
  }
  void OnFileProgress(const Client::FileProgress& progress) override {
    std::lock_guard<std::mutex> lock(mutex_);
    files_.push_back(progress);
  }
  void OnConnectionRefused(const std::wstring& address, const std::wstring& reason,
                           std::uint64_t refusedSoFar) override {
    Record(L"refused " + address + L": " + reason + L" #" + std::to_wstring(refusedSoFar));
  }

  std::vector<std::wstring> Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  bool WaitFor(const std::wstring& event) {
    return Eventually([&] {
      const auto events = Events();
      return std::find(events.begin(), events.end(), event) != events.end();
    });
  }
  std::vector<Client::FileProgress> Files() {
    std::lock_guard<std::mutex> lock(mutex_);
    return files_;
  }

 private:
  void Record(std::wstring event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
  }

  std::mutex mutex_;
  std::vector<std::wstring> events_;
  std::vector<Client::FileProgress> files_;
};

class ObserverTest : public HostedEngineTest {
 protected:
  ObserverTest() { host_->Get<Extension::SetObserver>("SetObserver")(engine_, &observer_); }
  ~ObserverTest() override {
    peers_.clear();
    Stop();
    host_->Get<Extension::ClearObserver>("ClearObserver")(engine_);
  }

  void Start(int ackTimeout = 1000, int healthCheckInterval = 60000) {
    EngineOptions options;
    options.ackTimeout = ackTimeout;
    options.healthCheckInterval = healthCheckInterval;
    HostedEngineTest::Start(options);
  }
  std::vector<Client::ApplicationHealth> Health() {
    return host_->Get<Extension::GetApplicationHealth>("GetApplicationHealth")(engine_);
  }

  RecordingObserver observer_;
};

// Every way an application goes is told with its own reason, once, and the
// events keep the order of the registry: a host that adds and removes by
// them holds what GetApplications lists.
TEST_F(ObserverTest, ApplicationsComeAndGoWithTheirReasons) {
  Start(/*ackTimeout=*/300);
  Connect(u"replaced");
  ASSERT_TRUE(observer_.WaitFor(L"added replaced"));
  Connect(u"replaced");
  EXPECT_TRUE(observer_.WaitFor(L"removed replaced: replaced"));

  Connect(u"leaving").Send(Client::DisconnectMessage());
  EXPECT_TRUE(observer_.WaitFor(L"removed leaving: disconnected"));
  Connect(u"reset").Reset();
  EXPECT_TRUE(observer_.WaitFor(L"removed reset: connection lost"));

  TestPeer& silent = Connect(u"silent");
  silent.AnswerXml(false);
  ASSERT_TRUE(observer_.WaitFor(L"added silent"));
  SendData(kValidXml);
  EXPECT_TRUE(observer_.WaitFor(L"removed silent: acknowledgement timeout"));

  Stop();
  EXPECT_TRUE(observer_.WaitFor(L"removed replaced: engine stopped"));
  const std::vector<std::wstring> expected = {
      L"added replaced",
      L"removed replaced: replaced",
      L"added replaced",
      L"added leaving",
      L"removed leaving: disconnected",
      L"added reset",
      L"removed reset: connection lost",
      L"added silent",
      L"removed silent: acknowledgement timeout",
      L"removed replaced: engine stopped",
  };
  EXPECT_EQ(observer_.Events(), expected);
}

TEST_F(ObserverTest, AnUnansweredHealthCheckIsToldAsSuchAndCounted) {
  Start(/*ackTimeout=*/200, /*healthCheckInterval=*/100);
  TestPeer& answering = Connect(u"answering");
  TestPeer& silent = Connect(u"silent");
  silent.AnswerHealthChecks(false);
  EXPECT_TRUE(observer_.WaitFor(L"removed silent: health check unanswered"));

  // The answering peer's link shows its health checks' round trip and an XML
  // exchanged each way.
  answering.Send(Client::XmlDataMessage(u"<a/>"));
  ASSERT_TRUE(listener_.WaitForMessages(1));
  SendData(kValidXml);
  ASSERT_TRUE(Eventually([&] {
    const auto health = Health();
    return health.size() == 1 && health[0].healthCheckRoundTrip.count() >= 0;
  }));
  const Client::ApplicationHealth health = Health().at(0);
  EXPECT_EQ(health.application.id, L"answering");
  EXPECT_EQ(health.xmlSent, 1u);
  EXPECT_EQ(health.xmlReceived, 1u);
  EXPECT_GE(health.xmlRoundTrip.count(), 0);
  EXPECT_EQ(health.acknowledgementsMissed, 0u);
  EXPECT_GT(health.bytesReceived, 140u * 2);  // the CONNECT and more
  EXPECT_LE(health.connectedSince, health.lastFrameReceived);
}

// A large file reports its progress a bounded number of times, rising, and
// ends with one report at its size once it is stored; the application's link
// counts the file and its bytes.
TEST_F(ObserverTest, FileProgressIsBoundedAndEndsAtTheFileSize) {
  Start();
  Connect(u"sender");
  TestPeer& files = Connect(u"sender", u"Vendor", file_port_);
  constexpr std::size_t kSize = 64u << 20;
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(files.SendPatternFile(u"file-1", u"large.bin", kSize));
  const auto ack = files.WaitFor<Client::BinaryDataAckMessage>(60s);
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->GetSuccessFlag(), 1);
  ASSERT_TRUE(Eventually([&] {
    const auto reports = observer_.Files();
    return !reports.empty() && reports.back().finished;
  }));
  const auto elapsed = std::chrono::steady_clock::now() - started;

  const auto reports = observer_.Files();
  const auto allowed = 2 + 10 * std::chrono::duration_cast<std::chrono::seconds>(elapsed).count() + 10;
  EXPECT_LE(static_cast<long long>(reports.size()), allowed);
  for (std::size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].applicationId, L"sender");
    EXPECT_EQ(reports[i].fileName, L"large.bin");
    EXPECT_EQ(reports[i].bytesAnnounced, static_cast<std::int64_t>(kSize));
    EXPECT_EQ(reports[i].finished, i + 1 == reports.size());
    if (i > 0) {
      EXPECT_GE(reports[i].bytesReceived, reports[i - 1].bytesReceived);
    }
  }
  EXPECT_EQ(reports.back().bytesReceived, static_cast<std::int64_t>(kSize));
  EXPECT_TRUE(reports.back().stored);
  EXPECT_TRUE(reports.back().text.empty());

  const auto health = Health();
  ASSERT_EQ(health.size(), 1u);
  EXPECT_EQ(health[0].filesReceived, 1u);
  EXPECT_GT(health[0].bytesReceived, kSize);
}

// A refused file ends its progress with the BINACK's text.
TEST_F(ObserverTest, ARefusedFileEndsWithTheAcknowledgementText) {
  Start();
  TestPeer& files = Connect(u"sender", u"Vendor", file_port_);
  files.SendBinaryData(u"../escape.bin", "data");
  ASSERT_TRUE(files.WaitFor<Client::BinaryDataAckMessage>());
  ASSERT_TRUE(Eventually([&] { return !observer_.Files().empty(); }));
  const auto last = observer_.Files().back();
  EXPECT_TRUE(last.finished);
  EXPECT_FALSE(last.stored);
  EXPECT_NE(last.text.find(L"Invalid file name"), std::wstring::npos);
}

// A fan-out to a good, a silent and a reset peer gives an outcome for each,
// in the order they registered; an invalid document goes to nobody and
// each outcome says where it failed.
TEST_F(ObserverTest, SendDataEachGivesAnOutcomePerApplication) {
  Start(/*ackTimeout=*/300);
  TestPeer& good = Connect(u"good");
  Connect(u"silent").AnswerXml(false);
  TestPeer& reset = Connect(u"reset");
  ASSERT_TRUE(Eventually([&] { return ApplicationIds().size() == 3; }));
  const auto sendEach = host_->Get<Extension::SendDataEach>("SendDataEach");

  const auto invalid = sendEach(engine_, L"<?xml version=\"1.0\"?><!DOCTYPE message SYSTEM "
                                         L"\"corvane-message.dtd\"><message/>");
  ASSERT_EQ(invalid.size(), 3u);
  for (const auto& outcome : invalid) {
    EXPECT_EQ(outcome.status, -200);
    EXPECT_EQ(outcome.message.rfind(L"XML is not valid: parse error (line 1, column ", 0), 0u);
  }
  EXPECT_EQ(good.Count<Client::XmlDataMessage>(), 0);

  // The reset peer may be gone before the send lists it, or fail in it.
  reset.Reset();
  const auto outcomes = sendEach(engine_, kValidXml);
  ASSERT_GE(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[0].applicationId, L"good");
  EXPECT_EQ(outcomes[0].status, 0);
  EXPECT_TRUE(outcomes[0].message.empty());
  EXPECT_EQ(outcomes[1].applicationId, L"silent");
  EXPECT_EQ(outcomes[1].status, -109);
  EXPECT_FALSE(outcomes[1].message.empty());
  if (outcomes.size() == 3) {
    EXPECT_EQ(outcomes[2].applicationId, L"reset");
    EXPECT_NE(outcomes[2].status, 0);
  }
  EXPECT_TRUE(observer_.WaitFor(L"removed silent: acknowledgement timeout"));
  EXPECT_TRUE(Eventually([&] { return ApplicationIds() == std::vector<std::wstring>{L"good"}; }));
}

// A document that fails its grammar keeps the specified text, and the log
// says where it failed.
TEST_F(ObserverTest, AnInvalidDocumentsErrorsAreLoggedWithLineAndColumn) {
  Start();
  Connect(u"vendor");
  ASSERT_TRUE(observer_.WaitFor(L"added vendor"));
  const std::wstring invalid =
      L"<?xml version=\"1.0\"?><!DOCTYPE message SYSTEM \"corvane-message.dtd\">\n"
      L"<message id=\"m1\"><unknown/></message>";
  try {
    SendData(invalid);
    FAIL() << "an invalid document was sent";
  } catch (const Client::QuellorException& e) {
    EXPECT_EQ(e.GetCode(), -200);
    EXPECT_EQ(e.GetMessage(), L"XML is not valid: parse error");
  }
  EXPECT_TRUE(Eventually([&] {
    return ReadFile(module_.Path() / "Engine.log").find("XML validity error at line 2, column") !=
           std::string::npos;
  }));
}

}  // namespace
}  // namespace Testing
}  // namespace Corvane
